#!/bin/sh
# Builds the Windows Installer package from the files the setup program packs:
#   msi.sh VERSION OUT WXS AGENT_EXE CHECK_EXE INI ICON RESOURCES_DIR [SIGN_COMMAND...]
# wixl (msitools) reads its sources by relative name only, so they are staged
# under the names installer/quorvel.wxs uses. SIGN_COMMAND, when given, is
# run with the package's path after it (cmake/sign.sh).
set -eu

if [ $# -lt 8 ]; then
    echo "usage: msi.sh VERSION OUT WXS AGENT_EXE CHECK_EXE INI ICON RESOURCES_DIR [SIGN_COMMAND...]" >&2
    exit 2
fi
version=$1 out=$2 wxs=$3 agent=$4 check=$5 ini=$6 icon=$7 resources=$8
shift 8

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/resources"
cp "$agent" "$stage/quorvel.exe"
cp "$check" "$stage/quorvel-check.exe"
cp "$ini" "$stage/quorvel.ini"
cp "$icon" "$stage/quorvel.ico"
for language in de en es fr it; do
    cp "$resources/$language.txt" "$stage/resources/"
done
cp "$wxs" "$stage/quorvel.wxs"

# wixl warns where it leaves out what it does not know; the package is
# checked under Wine, so its warnings are shown, not fatal.
(cd "$stage" && wixl -a x64 -D VERSION="$version" -o package.msi quorvel.wxs)

# wixl writes no program-from-the-Binary-table action (type 2): the two
# quorvel-check steps that run before this version is installed are written
# as DLL actions (type 1) and become programs here, their command line kept.
for action in CheckSettings SetConfigurationAside; do
    msibuild "$stage/package.msi" -q \
        "UPDATE \`CustomAction\` SET \`Type\` = 2 WHERE \`Action\` = '$action'"
done
# On Windows only the properties named here pass from an interactive
# install's user side to the installer service; wixl fills the list for
# MajorUpgrade and fails when the source names its own.
msibuild "$stage/package.msi" -q "UPDATE \`Property\` SET \`Value\` = \
'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;PORTAL_HOST;PORTAL_PORT;PORTAL_PATH;PROXY;PARTNER;LOGGING' \
WHERE \`Property\` = 'SecureCustomProperties'"
if ! msiinfo export "$stage/package.msi" CustomAction |
    awk -F'\t' '($1 == "CheckSettings" || $1 == "SetConfigurationAside") && $2 == 2 { n++ } END { exit n != 2 }'; then
    echo "msi.sh: the quorvel-check steps are not programs from the Binary table" >&2
    exit 1
fi

if [ $# -gt 0 ]; then
    "$@" "$stage/package.msi"
fi
mv -f "$stage/package.msi" "$out"
