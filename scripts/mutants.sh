#!/usr/bin/env bash
# Plants each slip of scripts/mutants.txt in the product, one at a time,
# builds what its tier needs, runs that tier's tests and records which fail:
#
#   scripts/mutants.sh              every slip; rewrites docs/mutants.md
#   scripts/mutants.sh ID [ID...]   those slips; updates their rows only
#   scripts/mutants.sh --check      each slip's text found exactly once
#
# Not part of the test command. Tiers: native (build/native, ctest) and wine
# (build/windows's unit-test program under Wine, for the Windows adapters).
# The planted file is put back on exit, Ctrl-C or failure; its new time
# stamp makes the next build compile it again.
set -uo pipefail

cd "$(dirname "$0")/.." || exit 1
root=$(pwd)
list=scripts/mutants.txt
doc=docs/mutants.md
work=$root/build/mutants
jobs=${MUTANTS_JOBS:-2}
mkdir -p "$work/results"

# The list's reader, the planter and the table's writer.
read -r -d '' PY <<'EOF'
import os, re, sys

def slips(path):
    out, cur, key = [], None, None
    for raw in open(path, encoding="utf-8"):
        line = raw.rstrip("\n")
        m = re.match(r"^\s*\|(?: (.*))?$", line)
        if m and cur is not None and key:
            if key in ("from", "to"):
                cur["pairs"][-1][key] += "\n" + (m.group(1) or "")
            else:
                cur[key] += "\n" + (m.group(1) or "")
            continue
        m = re.match(r"^(\w+):\s*(.*?)\s*$", line)
        if not m:
            key = None
            continue
        key, value = m.groups()
        if key == "id":
            cur = {"id": value, "pairs": [], "tests": "", "tier": "native"}
            out.append(cur)
        elif key == "from":
            cur["pairs"].append({"from": value, "to": ""})
        elif key == "to":
            cur["pairs"][-1]["to"] = value
        else:
            cur[key] = value
    return out

def planted(slip, text):
    for pair in slip["pairs"]:
        n = text.count(pair["from"])
        if n != 1:
            raise SystemExit("%s: text found %d times in %s: %r"
                             % (slip["id"], n, slip["file"], pair["from"]))
        text = text.replace(pair["from"], pair["to"])
    return text

def doc(path, all_slips, results, total):
    rows = {}
    if os.path.exists(path):
        for line in open(path, encoding="utf-8"):
            cells = [c.strip() for c in line.split("|")[1:-1]]
            if len(cells) == 5 and cells[0].startswith("`"):
                rows[cells[0].strip("`")] = cells[4]
    for ident in os.listdir(results):
        rows[ident] = open(os.path.join(results, ident), encoding="utf-8").read().strip()
    caught = sum(1 for s in all_slips if rows.get(s["id"], "").startswith("caught"))
    missed = sum(1 for s in all_slips if rows.get(s["id"], "") == "MISSED")
    with open(path, "w", encoding="utf-8") as f:
        f.write("# Planted slips and the tests that catch them\n\n"
                "Written by `scripts/mutants.sh` from `scripts/mutants.txt`: each slip\n"
                "planted alone, its tier built and its tests run. \"caught\" names the\n"
                "failing tests (the first six, and how many in all).\n\n")
        f.write("%d slips: %d caught, %d missed, %d not run or not built.%s\n\n"
                % (len(all_slips), caught, missed, len(all_slips) - caught - missed,
                   " Whole list: %s." % total if total else ""))
        f.write("| Slip | Where | Fault | Tier | Caught by |\n|---|---|---|---|---|\n")
        for s in all_slips:
            f.write("| `%s` | %s | %s | %s | %s |\n" % (
                s["id"], s["file"], s["what"], s["tier"], rows.get(s["id"], "not run")))

cmd, args = sys.argv[1], sys.argv[2:]
all_slips = slips("scripts/mutants.txt")
by_id = {s["id"]: s for s in all_slips}
if cmd == "list":
    for s in all_slips:
        print("\t".join([s["id"], s["file"], s["tier"], s["tests"] or "-"]))
elif cmd == "check":
    for s in all_slips:
        planted(s, open(s["file"], encoding="utf-8").read())
    print("%d slips, each text found once" % len(all_slips))
elif cmd == "plant":
    s = by_id[args[0]]
    text = planted(s, open(s["file"], encoding="utf-8").read())
    open(s["file"], "w", encoding="utf-8").write(text)
elif cmd == "doc":
    doc("docs/mutants.md", all_slips, args[0], args[1] if len(args) > 1 else "")
EOF
py() { python3 -c "$PY" "$@"; }

planted_file=""
wine_state=""
restore() {
    if [[ -n $planted_file ]]; then
        cp "$work/original" "$root/$planted_file" && echo "mutants: $planted_file put back"
        planted_file=""
    fi
}
finish() {
    restore
    if [[ -n $wine_state ]]; then
        tests/e2e/wine-env.sh stop "$wine_state" >/dev/null 2>&1
        wine_state=""
    fi
}
trap finish EXIT
trap 'exit 130' INT TERM

# Failing test names on stdout, one per line; exit code 2 when the build failed.
run_native() {
    local filter=$1 log=$work/native.log
    [[ -f build/native/build.ninja ]] || cmake --preset native >/dev/null || return 2
    cmake --build build/native --target quorvel_unit_tests --parallel $jobs >"$log" 2>&1 || return 2
    local args=(--test-dir build/native -j $jobs --timeout 60)
    [[ $filter != - ]] && args+=(-R "$filter")
    ctest "${args[@]}" >"$log" 2>&1
    sed -n '/The following tests FAILED/,$p' "$log" |
        sed -nE 's/^\s*[0-9]+ - (.*) \((.*)\)$/\1 (\2)/p' | sed 's/ (Failed)$//'
}

run_wine() {
    local filter=$1 log=$work/wine.log exe=build/windows/tests/unit/quorvel_unit_tests.exe
    [[ -f build/windows/build.ninja ]] || cmake --preset windows >/dev/null || return 2
    cmake --build build/windows --target quorvel_unit_tests --parallel $jobs >"$log" 2>&1 || return 2
    [[ -n $wine_state ]] || return 2
    local args=(--gtest_color=no)
    [[ $filter != - ]] && args+=("--gtest_filter=$filter")
    timeout 120 tests/e2e/wine-env.sh run "$wine_state" "$exe" "${args[@]}" >"$log" 2>&1
    local rc=$?
    [[ $rc -eq 124 ]] && echo "the Windows unit tests (timeout)"
    # Wine's console output ends lines with CR: without it, gtest's two
    # FAILED lines per test give one name.
    tr -d '\r' <"$log" | grep -E '^\[  FAILED  \] [A-Za-z_]' |
        sed -E 's/^\[  FAILED  \] ([^ ,]+).*/\1/' | sort -u
    [[ $rc -ne 0 && $rc -ne 124 ]] && ! grep -q '^\[  FAILED  \]' "$log" && echo "the Windows unit tests (exit $rc)"
    return 0
}

run_slip() {
    local id=$1 file=$2 tier=$3 filter=$4 t0=$SECONDS failing rc
    cp "$root/$file" "$work/original"
    planted_file=$file
    if ! py plant "$id"; then
        restore
        echo "did not apply" >"$work/results/$id"
        return
    fi
    # Started here, not in the subshell below, so that the exit trap sees it.
    if [[ $tier == wine && -z $wine_state ]]; then
        wine_state=$work/wine
        tests/e2e/wine-env.sh start "$wine_state" >/dev/null || wine_state=""
    fi
    failing=$(run_"$tier" "$filter")
    rc=$?
    restore
    local count
    count=$(grep -c . <<<"$failing")
    if [[ $rc -eq 2 ]]; then
        echo "did not build" >"$work/results/$id"
    elif [[ $count -eq 0 ]]; then
        echo "MISSED" >"$work/results/$id"
    else
        local names
        names=$(head -6 <<<"$failing" | paste -sd, | sed 's/,/, /g')
        [[ $count -gt 6 ]] && names+=" (+$((count - 6)) more)"
        echo "caught ($count): $names" >"$work/results/$id"
    fi
    printf '%-38s %4d s  %s\n' "$id" $((SECONDS - t0)) "$(cat "$work/results/$id")"
}

if [[ ${1:-} == --check ]]; then
    py check
    exit
fi
py check >/dev/null || exit 1
rm -f "$work/results/"*
started=$SECONDS
while IFS=$'\t' read -r id file tier filter; do
    if [[ $# -eq 0 ]] || [[ " $* " == *" $id "* ]]; then
        run_slip "$id" "$file" "$tier" "$filter"
    fi
done < <(py list)
total="$((SECONDS - started)) s"
[[ $# -eq 0 ]] && py doc "$work/results" "$total" || py doc "$work/results"
echo "mutants: $(sed -n 7p $doc)"
echo "mutants: run time $total; table in $doc"
