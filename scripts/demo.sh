#!/usr/bin/env bash
# Shows the agent at work under Wine on a virtual display, against the portal
# simulator and the simulated dongle:
#   1. the first hello; the portal answers with three radio frames and asks
#      for the next hello a few seconds later,
#   2. the dongle broadcasts the frames,
#   3. the second hello; the portal answers with a page to open, and the
#      browser is asked to open it,
# then prints what the portal received, what the dongle broadcast, what the
# browser was asked to open and the agent's log view, ends the agent with
# its Exit command and cleans up. Exits non-zero, saying what is missing,
# when a step does not happen in time.
#
# QUORVEL_DEMO_BUILD (default build/) is the folder that holds the builds;
# only what the demo runs is built, and nothing when it is up to date.

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
wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /t REG_SZ /d "$work/browser" /f \
    </dev/null >"$work/reg.log" 2>&1 || {
    cat "$work/reg.log" >&2
    echo "demo: cannot set Wine's browser" >&2
    exit 1
}
echo "demo: Wine's browser is $work/browser, which records each address it is given"

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

section "Ending the agent"
echo "demo: sending Exit (32773) to the agent"
driver send 32773 0 >/dev/null
for _ in $(seq 150); do
    agent_running || break
    sleep 0.1
done
agent_running && fail "the agent did not end within 15 s of Exit"
rc=0
wait "$agent_pid" || rc=$?
agent_pid=''
echo "demo: the agent ended with exit code $rc"
echo "demo: done in $((SECONDS - t0)) s"
exit "$rc"
