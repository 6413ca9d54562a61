#!/usr/bin/env bash
# Builds what the measurements need in folders of their own, runs them and
# writes docs/performance.md. Every figure is a ratio of two things measured
# in this one run, so a busy machine moves both sides alike. Not a test:
# nothing here passes or fails on a timing figure.
#
#   bash scripts/bench.sh
#
# Build folders: build/bench-native (Release, Google Benchmark),
# build/bench-windows (mingw-w64), build/bench-e2e (the Wine programs). One
# Xvfb and one Wine prefix of its own, ended at the end.
set -uo pipefail

cd "$(dirname "$0")/.." || exit 1
root=$(pwd)
jobs=2
out=$root/build/bench-results
mkdir -p "$out"
state=$root/build/bench-e2e/tests/e2e/wine

if [[ $(id -u) -eq 0 ]]; then scripts/install-deps.sh || exit 1; fi

cmake -S . -B build/bench-native -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null &&
    cmake --build build/bench-native --parallel $jobs --target quorvel_frame_bench quorvel_answer_bench &&
    cmake -S . -B build/bench-windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DQUORVEL_UNIT_TESTS=ON >/dev/null &&
    cmake --build build/bench-windows --parallel $jobs --target quorvel qvdriver dongleprobe \
        donglesim standin_setupapi standin_hid hidfloor logviewbench startfloor stepfloor \
        quorvel_answer_bench &&
    cmake -S . -B build/bench-e2e -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_UNIT_TESTS=OFF \
        -DQUORVEL_WINDOWS_BUILD_DIR="$root/build/bench-windows" >/dev/null &&
    cmake --build build/bench-e2e --parallel $jobs --target quorvel_agent_benchmark || exit 1

# Agent CPU per frame, natively.
build/bench-native/tests/bench/quorvel_frame_bench --benchmark_min_time=1 \
    --benchmark_format=console | tee "$out/native.txt"

# A hello with the longest answer, natively and under Wine.
build/bench-native/tests/bench/quorvel_answer_bench | sed 's/^/bench.answer.native_/' >"$out/answer.txt"

# The Wine figures.
tests/e2e/wine-env.sh start "$state" || exit 1
trap 'tests/e2e/wine-env.sh stop "$state" >/dev/null' EXIT
tests/e2e/wine-env.sh run "$state" build/bench-windows/tests/bench/quorvel_answer_bench.exe |
    tr -d '\r' | sed 's/^/bench.answer.wine_/' >>"$out/answer.txt"
(cd build/bench-e2e && tests/e2e/quorvel_agent_benchmark) 2>&1 | tee "$out/wine.txt"
cat "$out/answer.txt" | tee -a "$out/wine.txt"

python3 scripts/bench-report.py "$out/native.txt" "$out/wine.txt" \
    "$(stat -c %s build/bench-windows/quorvel.exe)" scripts/bench-findings.md >docs/performance.md
echo "bench: wrote docs/performance.md"
