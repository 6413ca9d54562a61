#!/usr/bin/env bash
# One X display and one Wine prefix for a whole test run.
#
#   wine-env.sh start STATE_DIR   start Xvfb on a free display, create a fresh
#                                 prefix in STATE_DIR/prefix, keep its wineserver
#                                 running, write STATE_DIR/env
#   wine-env.sh stop STATE_DIR    end the wineserver and Xvfb started above
#   wine-env.sh run STATE_DIR PROGRAM [ARGS...]
#                                 run a Windows program in that environment and
#                                 exit with its exit code
#
# STATE_DIR/env holds KEY=value lines: DISPLAY, WINEPREFIX, XVFB_PID.
set -euo pipefail

usage() {
    sed -n '2,12p' "$0" >&2
    exit 2
}

[[ $# -ge 2 ]] || usage
action=$1
state=$(mkdir -p "$2" && cd "$2" && pwd)
shift 2

export WINEDEBUG=-all
# No prompts to install .NET or the HTML engine into the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="

load_env() {
    [[ -f $state/env ]] || {
        echo "wine-env: no environment in $state (run '$0 start $state' first)" >&2
        exit 1
    }
    # shellcheck disable=SC1091
    source "$state/env"
    export DISPLAY WINEPREFIX
}

# Ends only what this script started, by the ids it recorded.
stop_env() {
    [[ -f $state/env ]] || return 0
    local DISPLAY='' WINEPREFIX='' XVFB_PID=''
    # shellcheck disable=SC1091
    source "$state/env"
    if [[ -n $WINEPREFIX && -d $WINEPREFIX ]]; then
        WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
        WINEPREFIX=$WINEPREFIX timeout 20 wineserver -w 2>/dev/null || true
    fi
    if [[ -n $XVFB_PID ]] && kill -0 "$XVFB_PID" 2>/dev/null &&
        grep -q Xvfb "/proc/$XVFB_PID/cmdline" 2>/dev/null; then
        kill "$XVFB_PID"
        for _ in $(seq 50); do
            kill -0 "$XVFB_PID" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$XVFB_PID" 2>/dev/null || true
    fi
    rm -f "$state/env"
}

start_env() {
    # A run that was interrupted may have left its display and server behind.
    stop_env

    local t0=$SECONDS
    rm -f "$state/display"
    # -displayfd lets Xvfb pick a free display itself, which is race-free
    # where several runs share the machine. Its output goes to a file so that
    # ctest, which waits for the pipes of this script to close, is not held.
    setsid Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp \
        5>"$state/display" </dev/null >"$state/xvfb.log" 2>&1 &
    local xvfb_pid=$!
    for _ in $(seq 100); do
        [[ -s $state/display ]] && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [[ ! -s $state/display ]]; then
        echo "wine-env: Xvfb did not start:" >&2
        cat "$state/xvfb.log" >&2
        kill "$xvfb_pid" 2>/dev/null || true
        exit 1
    fi
    DISPLAY=":$(tr -d "[:space:]" <"$state/display")"
    export DISPLAY
    export WINEPREFIX=$state/prefix
    printf 'DISPLAY=%s\nWINEPREFIX=%s\nXVFB_PID=%s\n' "$DISPLAY" "$WINEPREFIX" "$xvfb_pid" \
        >"$state/env"

    rm -rf "$WINEPREFIX"
    if ! wineboot -i >"$state/wineboot.log" 2>&1 </dev/null; then
        echo "wine-env: wineboot failed:" >&2
        cat "$state/wineboot.log" >&2
        stop_env
        exit 1
    fi
    # Let the first boot finish its background work, then keep one server
    # alive for the whole run so each Wine process starts in a fraction of a
    # second instead of booting the prefix again.
    timeout 120 wineserver -w
    wineserver -p </dev/null >>"$state/wineboot.log" 2>&1
    # The first program in a prefix also starts Wine's background services,
    # which keep that program's output open; started here, they hold a log
    # file instead of the pipes of a later test.
    wine cmd.exe /c exit 0 </dev/null >>"$state/wineboot.log" 2>&1
    echo "wine-env: DISPLAY=$DISPLAY WINEPREFIX=$WINEPREFIX ready in $((SECONDS - t0)) s"
}

case $action in
    start) start_env ;;
    stop) stop_env && echo "wine-env: stopped" ;;
    run)
        [[ $# -ge 1 ]] || usage
        load_env
        [[ -f $1 ]] || {
            echo "wine-env: $1 does not exist" >&2
            exit 1
        }
        # Output goes through a file: should the program start Wine's
        # background services afresh, they inherit its output, and a pipe
        # they hold open would keep ctest waiting after the program ended.
        out=$(mktemp "$state/run.XXXXXX")
        rc=0
        wine "$@" </dev/null >"$out" 2>&1 || rc=$?
        cat "$out"
        rm -f "$out"
        exit "$rc"
        ;;
    *) usage ;;
esac
