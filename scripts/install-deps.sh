#!/usr/bin/env bash
# Installs what the builds and every test tier need on Debian 12. Run as
# root. Quick when everything is there already: apt is only asked when a
# package is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ googletest        # native builds and unit tests
    g++-mingw-w64-x86-64-posix mingw-w64-tools  # the Windows cross-build
    nsis                                    # the setup program (makensis)
    wixl msitools                           # the MSI package (wixl, msibuild)
    osslsigncode openssl                    # Authenticode signing, the tests' certificate
    wine wine64 xvfb                        # the Wine test tier
    xdotool imagemagick                     # pointing at and photographing the tray
    python3                                 # the release-file check, the bench report
    socat                                   # the portal over TLS (certificates: openssl above)
    libbenchmark-dev                        # scripts/bench.sh: agent CPU per frame
    clang libclang-rt-dev                   # the fuzz targets (libFuzzer, sanitizers)
)

missing=()
for p in "${packages[@]}"; do
    if [[ $(dpkg-query -W -f='${Status}' "$p" 2>/dev/null) != "install ok installed" ]]; then
        missing+=("$p")
    fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
    echo "install-deps: all ${#packages[@]} packages present"
    exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
    echo "install-deps: missing ${missing[*]}; run this script as root" >&2
    exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
# With recommends, as the test tier was proven with: Wine loads many of its
# recommended libraries (X extensions, fonts) at run time, not at link time.
apt-get install -y -q "${missing[@]}" </dev/null
