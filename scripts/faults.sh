#!/usr/bin/env bash
# The long fault runs, outside the test command: the fault matrix, then the
# kill test with 200 kills (the test command runs 10).
#   scripts/faults.sh [KILLS]      default 200
# Needs build/windows and build/e2e (scripts/test.sh builds both); other
# build folders through QUORVEL_WINDOWS_BUILD and QUORVEL_E2E_BUILD.
set -euo pipefail

cd "$(dirname "$0")/.." || exit 1
root=$(pwd)
kills=${1:-200}
windows=${QUORVEL_WINDOWS_BUILD:-$root/build/windows}
e2e=${QUORVEL_E2E_BUILD:-$root/build/e2e}

cmake --preset e2e -B "$e2e" -DQUORVEL_WINDOWS_BUILD_DIR="$windows" >/dev/null
cmake --build "$windows" --parallel 2 --target quorvel qvdriver donglesim standin_setupapi standin_hid
cmake --build "$e2e" --parallel 2 --target quorvel_fault_e2e_tests quorvel_fault_matrix

state=$e2e/tests/e2e/wine
env_script=$root/tests/e2e/wine-env.sh
"$env_script" start "$state"
trap '"$env_script" stop "$state"' EXIT

"$e2e/tests/e2e/quorvel_fault_matrix" --gtest_color=no
QUORVEL_FAULT_KILLS=$kills "$e2e/tests/e2e/quorvel_fault_e2e_tests" \
    --gtest_filter='KilledAgent.*' --gtest_color=no
