#!/bin/sh
# Builds the Windows Installer package from the files the setup program packs:
#   msi.sh VERSION OUT WXS AGENT_EXE CHECK_EXE ACTIONS_DLL INI ICON RESOURCES_DIR [SIGN_COMMAND...]
# wixl (msitools) reads its sources by relative name only, so they are staged
# under the names installer/quorvel.wxs uses. SIGN_COMMAND, when given, is
# run with the package's path after it (cmake/sign.sh).
set -eu

if [ $# -lt 9 ]; then
    echo "usage: msi.sh VERSION OUT WXS AGENT_EXE CHECK_EXE ACTIONS_DLL INI ICON RESOURCES_DIR [SIGN_COMMAND...]" >&2
    exit 2
fi
version=$1 out=$2 wxs=$3 agent=$4 check=$5 actions=$6 ini=$7 icon=$8 resources=$9
shift 9

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/resources"
cp "$agent" "$stage/quorvel.exe"
cp "$check" "$stage/quorvel-check.exe"
cp "$actions" "$stage/quorvel-msi.dll"
cp "$ini" "$stage/quorvel.ini"
cp "$icon" "$stage/quorvel.ico"
for language in de en es fr it; do
    cp "$resources/$language.txt" "$stage/resources/"
done
cp "$wxs" "$stage/quorvel.wxs"

# wixl warns where it leaves out what it does not know; the package is
# checked under Wine, so its warnings are shown, not fatal.
(cd "$stage" && wixl -a x64 -D VERSION="$version" -o package.msi quorvel.wxs)

# On Windows only the properties named here pass from an interactive
# install's user side to the installer service; wixl fills the list for
# MajorUpgrade and fails when the source names its own.
msibuild "$stage/package.msi" -q "UPDATE \`Property\` SET \`Value\` = \
'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;PORTAL_HOST;PORTAL_PORT;PORTAL_PATH;PROXY;PARTNER;LOGGING' \
WHERE \`Property\` = 'SecureCustomProperties'"
# The downgrade is refused by CheckSettings, which logs why; Wine's msiexec
# ends at a launch condition without a word.
msibuild "$stage/package.msi" -q \
    "DELETE FROM \`LaunchCondition\` WHERE \`Condition\` = 'NOT WIX_DOWNGRADE_DETECTED'"

if [ $# -gt 0 ]; then
    "$@" "$stage/package.msi"
fi
mv -f "$stage/package.msi" "$out"
