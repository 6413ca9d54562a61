#!/usr/bin/env bash
# The soak run, outside the test command: the real agent under Wine for
# CYCLES hello cycles (each also a transmission), its handle count, GDI and
# USER objects and private bytes sampled every SAMPLE_EVERY cycles.
#   scripts/soak.sh [CYCLES] [SAMPLE_EVERY]     defaults 10000 and 1000
# Prints the samples and the slope of each per 1,000 cycles, and keeps them
# in build/soak-report.csv. Needs build/windows and build/e2e (scripts/test.sh
# builds both); other build folders through QUORVEL_WINDOWS_BUILD and
# QUORVEL_E2E_BUILD.
set -euo pipefail

cd "$(dirname "$0")/.." || exit 1
root=$(pwd)
windows=${QUORVEL_WINDOWS_BUILD:-$root/build/windows}
e2e=${QUORVEL_E2E_BUILD:-$root/build/e2e}

cmake --preset e2e -B "$e2e" -DQUORVEL_WINDOWS_BUILD_DIR="$windows" >/dev/null
cmake --build "$windows" --parallel 2 --target quorvel qvdriver donglesim standin_setupapi standin_hid
cmake --build "$e2e" --parallel 2 --target quorvel_soak

state=$e2e/tests/e2e/wine
env_script=$root/tests/e2e/wine-env.sh
"$env_script" start "$state"
trap '"$env_script" stop "$state"' EXIT

QUORVEL_SOAK_CYCLES=${1:-10000} QUORVEL_SOAK_SAMPLE_EVERY=${2:-1000} \
    QUORVEL_SOAK_REPORT=${QUORVEL_SOAK_REPORT:-$root/build/soak-report.csv} \
    "$e2e/tests/e2e/quorvel_soak" --gtest_color=no
