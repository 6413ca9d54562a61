#!/usr/bin/env bash
# Shows the agent at work under Wine on a virtual display, against the portal
# simulator and the simulated dongle:
#   1. the first hello; the portal answers with three radio frames and asks
#      for the next hello a few seconds later,
#   2. the dongle broadcasts the frames,
#   3. the second hello; the portal answers with a page to open, and the
#      browser is asked to open it,
# then prints what the portal received, what the dongle broadcast, what the
# browser was asked to open and the agent's log view, photographs the agent's
# face (its log window, the tray icon with its tooltip when all is well, the
# tray menu, the About dialog, then with the dongle unplugged the tray icon
# with its tooltip and Open Portal's message box), ends the agent with its
# Exit command and cleans up. Exits non-zero, saying what is missing, when a
# step does not happen in time; a picture that cannot be taken is reported
# and skipped.
#
# QUORVEL_DEMO_BUILD (default build/) is the folder that holds the builds;
# only what the demo runs is built, and nothing when it is up to date.
# QUORVEL_DEMO_SCREENSHOTS (default demo-screenshots/ in that folder) is where
# the pictures go; docs/screenshots refreshes the ones the README shows.

# The helper functions below run through wait_for and the traps.
# shellcheck disable=SC2317
set -euo pipefail

cd "$(dirname "$0")/.."
root=$(pwd)
build_root=${QUORVEL_DEMO_BUILD:-build}
[[ $build_root == /* ]] || build_root=$root/$build_root
win=$build_root/windows
tools=$build_root/demo-tools
envscript=$root/tests/e2e/wine-env.sh
shots_dir=${QUORVEL_DEMO_SCREENSHOTS:-$build_root/demo-screenshots}
[[ $shots_dir == /* ]] || shots_dir=$root/$shots_dir
# Big enough for the tray, the log window and the dialogs, small enough for
# the pictures to stay small.
desktop_size=1024x768

# What the simulated portal answers: first three frames and the next hello
# in four seconds, then a portal page to open and a next hello far beyond
# the end of the demo, so that exactly two hellos are seen.
frames=(S0B44A511223344556677 S0E44A51122334455667788990A S08449A0102030405)
first_answer="$(printf '%s\\n' "${frames[@]}")I4000"
portal_page='localhost,8080,/portal/welcome'
second_answer="B$portal_page\\nI600000"
# The identity of the simulated dongle: vendor and product the agent looks
# for, serial number, radio address, firmware version.
dongle_identity='5e91 2d4a QVDEMO0001 0aff 258'

section() {
    echo
    echo "=== $*"
}

t0=$SECONDS
work=$(mktemp -d /tmp/quorvel-demo.XXXXXX)
agent_pid=''
portal_pid=''
dongle_pid=''
dongle_fd=''
wine_started=''

# Ends everything this run started, by the ids it recorded, on every path.
cleanup() {
    set +e
    if [[ -n $dongle_fd ]]; then
        { printf 'quit\n' >&"$dongle_fd"; } 2>/dev/null
        exec {dongle_fd}>&-
        dongle_fd=''
    fi
    local pid
    for pid in "$portal_pid" "$agent_pid" "$dongle_pid"; do
        [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null && kill "$pid" 2>/dev/null
    done
    if [[ -n $wine_started ]]; then
        "$envscript" stop "$work/wine" >/dev/null 2>&1
    fi
    for pid in "$portal_pid" "$agent_pid" "$dongle_pid"; do
        [[ -n $pid ]] && wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# --- Build ------------------------------------------------------------------

# Output goes to a file and is shown only on failure, so the demo stays
# readable.
quietly() {
    local log=$work/build.log
    if ! "$@" </dev/null >"$log" 2>&1; then
        tail -n 40 "$log" >&2
        echo "demo: failed: $*" >&2
        exit 1
    fi
}

section "Preparing"
bash scripts/install-deps.sh
echo "demo: building quorvel.exe, qvdriver.exe, donglesim.exe and the dongle stand-ins in $win"
# Configured once; later builds re-run cmake by themselves when a CMake file
# changed.
if [[ ! -f $win/build.ninja ]]; then
    quietly cmake --preset windows -B "$win"
fi
quietly cmake --build "$win" --parallel 2 \
    --target quorvel qvdriver donglesim standin_setupapi standin_hid
# The portal simulator is a Linux program; a small native build without the
# unit tests holds it.
echo "demo: building the portal simulator in $tools"
if [[ ! -f $tools/build.ninja ]]; then
    quietly cmake -S . -B "$tools" -G Ninja -DQUORVEL_UNIT_TESTS=OFF
fi
quietly cmake --build "$tools" --parallel 2 --target portalsim
echo "demo: builds ready after $((SECONDS - t0)) s"

# --- Environment --------------------------------------------------------------

wine_started=yes
"$envscript" start "$work/wine"
# shellcheck disable=SC1091
source "$work/wine/env"
export DISPLAY WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

driver() { "$envscript" run "$work/wine" "$win/tools/qvdriver/qvdriver.exe" "$@"; }
# A window command's number, as the agent's resources define it.
command_id() { awk -v name="$1" '$1 == "#define" && $2 == name { print $3 }' "$root/resources/resource.h"; }

agent_running() { [[ -n $agent_pid ]] && kill -0 "$agent_pid" 2>/dev/null; }

request_count() { grep -c '^portalsim: request [0-9]*:' "$work/portal.log" || true; }

# Sends one command to the dongle simulator; its answer is left in $reply.
reply=''
dongle() {
    printf '%s\n' "$1" >&"$dongle_fd" || return 1
    IFS= read -r -t 20 -u "$dongle_fd" reply || return 1
    reply=${reply%$'\r'}
}

broadcast_count() {
    dongle 'broadcast dongle' || return 1
    local words
    read -r -a words <<<"$reply"
    [[ ${words[0]:-} == ok ]] || return 1
    echo "${words[1]}"
}

# What was seen so far, to tell why a step did not happen.
diagnose() {
    echo "--- requests the portal received so far:" >&2
    grep -v '^portalsim: listening' "$work/portal.log" >&2 || true
    if agent_running; then
        echo "--- the agent's log view:" >&2
        driver text 2>&1 | tr -d '\r' >&2 || true
        echo >&2
    else
        echo "--- the agent is not running; its output:" >&2
        cat "$work/agent.log" >&2 || true
    fi
}

fail() {
    echo >&2
    echo "demo: FAILED: $*" >&2
    diagnose
    exit 1
}

# wait_for WHAT SECONDS COMMAND...: polls COMMAND until it succeeds; fails
# the demo when the deadline passes or the agent ends first.
wait_for() {
    local what=$1 limit=$2
    shift 2
    local deadline=$((SECONDS + limit))
    until "$@"; do
        agent_running || fail "the agent ended before $what"
        ((SECONDS < deadline)) || fail "no $what within $limit s"
        sleep 0.2
    done
    echo "demo: $what after $((SECONDS - started)) s"
}

# Wine hands every web address to the commands listed under this key, the
# address as the last argument; this one only writes it down.
cat >"$work/browser" <<EOF
#!/bin/sh
printf '%s\n' "\$1" >>'$work/browser.log'
EOF
chmod +x "$work/browser"

# set_registry WHAT KEY NAME DATA: one string value of the prefix's registry.
set_registry() {
    wine reg add "$2" /v "$3" /t REG_SZ /d "$4" /f </dev/null >"$work/reg.log" 2>&1 || {
        cat "$work/reg.log" >&2
        echo "demo: cannot set $1" >&2
        exit 1
    }
}
set_registry "Wine's browser" 'HKCU\Software\Wine\WineBrowser' Browsers "$work/browser"
echo "demo: Wine's browser is $work/browser, which records each address it is given"

# Every Wine program of this run opens its windows on one virtual desktop with
# a taskbar and a notification area, the one that
# `wine explorer /desktop=shell,1024x768 PROGRAM` opens. Made the prefix's
# default desktop, it takes the agent, the driver and the simulator as they
# are started, and the agent's exit code and the driver's output stay theirs
# instead of the explorer's.
set_registry "the virtual desktop" 'HKCU\Software\Wine\Explorer' Desktop shell
set_registry "the virtual desktop's size" 'HKCU\Software\Wine\Explorer\Desktops' shell \
    "$desktop_size"
# Debian's Wine 8 does not load the fonts it ships; without Marlett the
# caption buttons of every window show as the letters 0, 1 and r.
marlett=/usr/share/wine/fonts/marlett.ttf
if [[ -f $marlett ]]; then
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/"
fi
echo "demo: Wine programs open their windows on a virtual desktop of $desktop_size"

# --- Portal simulator -----------------------------------------------------------

"$tools/tools/portalsim/portalsim" --port 0 --reply "$first_answer" --reply "$second_answer" \
    >"$work/portal.log" 2>&1 </dev/null &
portal_pid=$!
portal_port=''
for _ in $(seq 50); do
    portal_port=$(sed -n 's/^portalsim: listening on 127.0.0.1:\([0-9]*\)$/\1/p' "$work/portal.log")
    [[ -n $portal_port ]] && break
    sleep 0.1
done
[[ -n $portal_port ]] || {
    cat "$work/portal.log" >&2
    echo "demo: the portal simulator did not start" >&2
    exit 1
}
echo "demo: portal simulator on 127.0.0.1:$portal_port"

# --- Dongle simulator -------------------------------------------------------------

mkdir -p "$work/dongle"
cp "$win/tools/donglesim/donglesim.exe" "$work/dongle/"
(cd "$work/dongle" && exec wine donglesim.exe </dev/null >"$work/dongle/donglesim.log" 2>&1) &
dongle_pid=$!
dongle_port=''
for _ in $(seq 300); do
    dongle_port=$(sed -n 's/^port=\([0-9]*\)\r\{0,1\}$/\1/p' "$work/dongle/donglesim.log")
    [[ -n $dongle_port ]] && break
    kill -0 "$dongle_pid" 2>/dev/null || break
    sleep 0.1
done
[[ -n $dongle_port ]] || {
    cat "$work/dongle/donglesim.log" >&2
    echo "demo: the dongle simulator did not start within 30 s" >&2
    exit 1
}
if ! exec {dongle_fd}<>"/dev/tcp/127.0.0.1/$dongle_port"; then
    dongle_fd=''
    echo "demo: cannot reach the dongle simulator on 127.0.0.1:$dongle_port" >&2
    exit 1
fi
if ! dongle "add dongle $dongle_identity" || [[ $reply != ok* ]]; then
    echo "demo: the dongle simulator did not take the dongle: $reply" >&2
    exit 1
fi
echo "demo: dongle simulator on 127.0.0.1:$dongle_port, dongle $dongle_identity plugged in"

# --- Agent -------------------------------------------------------------------------

folder=$work/program
mkdir -p "$folder/resources"
cp "$win/quorvel.exe" "$folder/"
sed "s/^PORTAL_SERVER_PORT=.*/PORTAL_SERVER_PORT=$portal_port/" demo/quorvel.ini >"$folder/quorvel.ini"
cp resources/*.txt "$folder/resources/"
# The stand-ins lead the agent's own SetupAPI and HID calls to the simulator.
cp "$win/tools/donglesim/setupapi.dll" "$win/tools/donglesim/hid.dll" "$folder/"
repeat=$(sed -n 's/^SEND_FRAMES_REPEAT=\([0-9]*\).*/\1/p' "$folder/quorvel.ini")
expected_broadcasts=$((${#frames[@]} * ${repeat:-1}))

section "Running the agent in $folder"
started=$SECONDS
(cd "$folder" && WINEDLLOVERRIDES="mscoree,mshtml=;setupapi,hid=n,b" \
    exec wine quorvel.exe </dev/null >"$work/agent.log" 2>&1) &
agent_pid=$!

has_requests() { (($(request_count) >= $1)); }
has_broadcasts() {
    local n
    n=$(broadcast_count) || return 1
    ((n >= expected_broadcasts))
}
browser_opened() { [[ -s $work/browser.log ]]; }

wait_for "first hello" 60 has_requests 1
wait_for "broadcast of $expected_broadcasts frame reports" 30 has_broadcasts
wait_for "second hello" 40 has_requests 2
wait_for "browser opening" 20 browser_opened
# The log view a moment later also holds what followed the last step.
sleep 1

section "Requests the portal received"
sed -n '/^portalsim: request/,$p' "$work/portal.log" | sed 's/^portalsim: //'

section "The portal's answers"
echo "to hello 1:"
printf '%b\n' "$first_answer" | sed 's/^/  /'
echo "to hello 2:"
printf '%b\n' "$second_answer" | sed 's/^/  /'

section "Frames the dongle broadcast"
echo "${#frames[@]} frames, SEND_FRAMES_REPEAT=$repeat times; telegram bytes D0 D2 D3 ... (D1 is not"
echo "sent; D4 carries the transmit flag and counter):"
dongle 'broadcast dongle'
read -r -a words <<<"$reply"
printf '%s\n' "${words[@]:2}" | sed 's/../& /g; s/ $//' | awk '{ printf "%2d  %s\n", NR, $0 }'

section "What the browser was asked to open"
cat "$work/browser.log"

section "The agent's log view"
driver text | tr -d '\r'
echo

# --- Screenshots ---------------------------------------------------------------

# xdotool moves the pointer, clicks, presses keys and finds windows by title
# on the X side; ImageMagick photographs and compares. Nothing here ends the
# demo: a picture that cannot be taken is named at the end and skipped.
shots_taken=()
shots_missing=()
desktop=''
desktop_w=0
desktop_h=0
icon=()
rest=()
corner=''

missed() {
    shots_missing+=("$1 ($2)")
    echo "demo: no $1: $2"
}

# grab FILE WINDOW [GEOMETRY]: a picture of the window or of a part of it,
# without the creation times that would make every run's file differ.
grab() {
    local crop=()
    [[ -n ${3:-} ]] && crop=(-crop "$3" +repage)
    import -window "$2" "${crop[@]}" -strip -define png:exclude-chunks=date,time "$1" \
        2>>"$work/shots.log"
}

keep() {
    if ! { mkdir -p "$shots_dir" && cp "$1" "$shots_dir/$2"; }; then
        missed "$2" "cannot write $shots_dir/$2"
        return 1
    fi
    shots_taken+=("$2")
    echo "demo: $2 ($(identify -format '%wx%h' "$1" 2>/dev/null), $(stat -c %s "$1") bytes)"
}

# differ A B: whether two pictures of one region differ in more than a few
# pixels (a blinking caret is not a change).
differ() {
    local count
    count=$(compare -metric AE "$1" "$2" null: 2>&1) || true
    count=${count%% *}
    [[ $count =~ ^[0-9]+$ ]] || return 0
    ((count > 100))
}

# settle FILE BASE SECONDS WINDOW [GEOMETRY]: photographs until the picture
# differs from BASE (unless that is empty) and has stopped changing, so that
# a window or tooltip is caught whole, not half drawn.
settle() {
    local out=$1 base=$2 deadline=$((SECONDS + $3)) window=$4 geometry=${5:-}
    local last=$work/last.png
    rm -f "$last"
    while ((SECONDS < deadline)) && agent_running; do
        if grab "$out" "$window" "$geometry"; then
            if [[ -f $last ]] && ! differ "$out" "$last" &&
                { [[ -z $base ]] || differ "$out" "$base"; }; then
                return 0
            fi
            cp "$out" "$last"
        fi
        sleep 0.25
    done
    return 1
}

# The X windows with a title: the desktop and each window shown on it.
titled_windows() {
    { xdotool search --onlyvisible --name . 2>/dev/null || true; } | sort
}

# new_window BEFORE SECONDS: the first titled window missing from the list
# in the file BEFORE.
new_window() {
    local deadline=$((SECONDS + $2)) list id
    while ((SECONDS < deadline)) && agent_running; do
        list=$(titled_windows)
        id=$(comm -13 "$1" <(printf '%s\n' "$list") | sed -n 1p)
        if [[ -n $id ]]; then
            echo "$id"
            return 0
        fi
        sleep 0.2
    done
    return 1
}

window_gone() {
    local deadline=$((SECONDS + $2)) list
    while ((SECONDS < deadline)); do
        list=$(titled_windows)
        grep -qx "$1" <<<"$list" || return 0
        sleep 0.2
    done
    return 1
}

# A dialog is closed through its OK button, as a user would.
close_dialog() {
    driver msgbox-ok >/dev/null 2>&1
    window_gone "$1" 5 || echo "demo: the $2 did not close"
}

# The icon is the only one in the notification area, at the right end of
# the taskbar along the desktop's lower edge; the pointer rests on the
# empty taskbar left of it, where nothing shows a tooltip.
find_desktop() {
    local geometry
    desktop=$({ xdotool search --onlyvisible --name '^shell - Wine desktop$' 2>/dev/null ||
        true; } | sed -n 1p)
    [[ -n $desktop ]] || return 1
    geometry=$(xdotool getwindowgeometry --shell "$desktop" 2>/dev/null) || return 1
    desktop_w=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
    desktop_h=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
    [[ $desktop_w =~ ^[0-9]+$ && $desktop_h =~ ^[0-9]+$ ]] || return 1
    icon=("$((desktop_w - 10))" "$((desktop_h - 10))")
    rest=("$((desktop_w - 150))" "$((desktop_h - 10))")
    # Room for a tooltip of four lines and for the tray menu.
    corner="360x140+$((desktop_w - 360))+$((desktop_h - 140))"
}

# shoot_tray NAME [XDOTOOL...]: the lower right corner once the pointer on
# the icon (and the xdotool commands given, such as a click) have changed it:
# a tooltip, the menu.
shoot_tray() {
    local name=$1
    shift
    xdotool mousemove "${rest[@]}"
    # Long enough for a tooltip shown before to go away.
    sleep 0.6
    grab "$work/base.png" "$desktop" "$corner" || {
        missed "$name" "the desktop cannot be photographed"
        return 1
    }
    xdotool mousemove "${icon[@]}" "$@"
    if settle "$work/$name" "$work/base.png" 8 "$desktop" "$corner"; then
        keep "$work/$name" "$name"
    else
        missed "$name" "nothing showed at the icon within 8 s"
        return 1
    fi
}

# open_dialog OPEN...: runs OPEN and leaves the X window of the dialog it
# shows in $dialog.
dialog=''
open_dialog() {
    dialog=''
    titled_windows >"$work/before.txt"
    "$@" >/dev/null 2>&1
    dialog=$(new_window "$work/before.txt" 10) || dialog=''
    [[ -n $dialog ]]
}

photograph_dialog() {
    # After a click on the taskbar Wine shows the next dialog inactive; given
    # the focus it looks as it does to the user who asked for it.
    xdotool windowfocus "$dialog" 2>/dev/null
    if settle "$work/$1" '' 5 "$dialog"; then
        keep "$work/$1" "$1"
    else
        missed "$1" "the $2 did not settle"
    fi
}

logger_window() {
    { xdotool search --onlyvisible --name '^Quorvel Logger Window$' 2>/dev/null || true; } |
        sed -n 1p
}

take_screenshots() {
    local tools_missing='' tool name
    for tool in xdotool import compare identify; do
        command -v "$tool" >/dev/null || tools_missing+=" $tool"
    done
    local all=(logger-window.png tray-good.png tray-menu.png about.png tray-fault.png
        open-portal-box.png)
    local why=''
    if [[ -n $tools_missing ]]; then
        why="missing:$tools_missing (scripts/install-deps.sh installs them)"
    elif ! find_desktop; then
        why="no virtual desktop found on $DISPLAY"
    fi
    if [[ -n $why ]]; then
        for name in "${all[@]}"; do missed "$name" "$why"; done
        return
    fi

    local logger
    logger=$(logger_window)
    if [[ -z $logger ]]; then
        # demo/quorvel.ini asks for the log window, so its absence is the
        # agent's fault and worth telling; the picture is still taken.
        echo "demo: the log window is not shown although ENABLE_LOGGING=true;" \
            "asking the agent to show it (window command ID_SHOW_LOGGER)"
        driver send "$(command_id ID_SHOW_LOGGER)" 0 >/dev/null 2>&1
        driver wait-window 5000 visible >/dev/null 2>&1
        logger=$(logger_window)
    fi
    if [[ -z $logger ]]; then
        missed logger-window.png "the log window is not shown"
    elif grab "$work/logger.png" "$logger"; then
        keep "$work/logger.png" logger-window.png
    else
        missed logger-window.png "the log window cannot be photographed"
    fi

    shoot_tray tray-good.png
    local opened=''
    # The pointer leaves the icon once the menu is up, or the icon's tooltip
    # would come up over the menu.
    if shoot_tray tray-menu.png click 3 sleep 0.3 mousemove "${rest[@]}"; then
        # The menu's second item.
        open_dialog xdotool key Down Down Return && opened=yes
    fi
    if [[ -z $opened ]]; then
        # Without the menu the About dialog is still asked for, by its
        # command.
        xdotool key Escape
        open_dialog driver post "$(command_id ID_ABOUT)" 0 && opened=yes
    fi
    if [[ -n $opened ]]; then
        photograph_dialog about.png "About dialog"
        close_dialog "$dialog" "About dialog"
    else
        missed about.png "no About dialog within 10 s"
    fi

    # A hello that fails for want of the dongle shows the fault: Open Portal
    # says hello at once, and the first time no fault is known yet, so no
    # message box comes before it.
    if dongle 'unplug dongle' && [[ $reply == ok* ]] &&
        driver post "$(command_id ID_OPEN_PORTAL)" 0 >/dev/null &&
        driver wait-text 15000 'cannot read serial number from device' >/dev/null; then
        echo "demo: dongle unplugged, and the hello Open Portal asked for failed"
        shoot_tray tray-fault.png
        if open_dialog driver post "$(command_id ID_OPEN_PORTAL)" 0; then
            photograph_dialog open-portal-box.png "message box"
            close_dialog "$dialog" "message box"
        else
            missed open-portal-box.png "no message box within 10 s of Open Portal"
        fi
    else
        missed tray-fault.png "no failed hello after unplugging the dongle"
        missed open-portal-box.png "no failed hello after unplugging the dongle"
    fi
    xdotool mousemove "${rest[@]}"
}

section "Screenshots"
take_screenshots || true
agent_running || fail "the agent ended while the screenshots were taken"

section "Ending the agent"
echo "demo: sending Exit to the agent"
driver send "$(command_id ID_EXIT)" 0 >/dev/null
for _ in $(seq 150); do
    agent_running || break
    sleep 0.1
done
agent_running && fail "the agent did not end within 15 s of Exit"
rc=0
wait "$agent_pid" || rc=$?
agent_pid=''
echo "demo: the agent ended with exit code $rc"
echo "demo: ${#shots_taken[@]} screenshots in $shots_dir: ${shots_taken[*]}"
for missing in "${shots_missing[@]}"; do
    echo "demo: not taken: $missing"
done
echo "demo: done in $((SECONDS - t0)) s"
exit "$rc"
