#!/usr/bin/env bash
# The one command that builds everything and runs every test tier:
#   1. dependencies        scripts/install-deps.sh
#   2. native              Linux build, unit tests
#   3. native-asan         the same under AddressSanitizer and UBSan
#   4. windows             mingw-w64 cross-build of the agent and its tools,
#                          signed with a throw-away test certificate
#   5. e2e                 the Windows build under Wine: unit tests and agent,
#                          the release files' headers and signatures
#   6. fuzz                clang build of the fuzz targets, each run briefly
#                          (the long run is scripts/fuzz.sh)
# Every tier runs even when an earlier one failed (e2e needs windows); the
# exit code is non-zero when anything failed.
set -uo pipefail

cd "$(dirname "$0")/.." || exit 1
root=$(pwd)
logs=$root/build/test-logs
mkdir -p "$logs"

# Two cores, shared: never more than two compile jobs.
jobs=2
started=$SECONDS
declare -a summary
failed_steps=0
tests_passed=0
tests_failed=0

step() {
    local name=$1
    shift
    local t0=$SECONDS
    echo
    echo "=== $name"
    if "$@"; then
        summary+=("$(printf '%-28s ok      %4d s' "$name" $((SECONDS - t0)))")
        return 0
    fi
    summary+=("$(printf '%-28s FAILED  %4d s' "$name" $((SECONDS - t0)))")
    failed_steps=$((failed_steps + 1))
    return 1
}

# Runs ctest for a preset and adds its counts to the totals.
run_ctest() {
    local preset=$1 log=$logs/ctest-$1.log rc=0
    # A hung test must not eat the time budget: five minutes for any test
    # that does not set its own limit.
    ctest --preset "$preset" --timeout 300 </dev/null 2>&1 | tee "$log" || rc=$?
    local line
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
    if [[ -n $line ]]; then
        local failed total
        failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
        total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
        tests_failed=$((tests_failed + failed))
        tests_passed=$((tests_passed + total - failed))
    elif [[ $rc -eq 0 ]]; then
        echo "test.sh: ctest --preset $preset ran no test" >&2
        rc=1
    fi
    return "$rc"
}

# tier PRESET yes|no [CMAKE-ARGS...]
tier() {
    local preset=$1 with_tests=$2
    shift 2
    cmake --preset "$preset" "$@" </dev/null &&
        cmake --build --preset "$preset" --parallel "$jobs" </dev/null &&
        if [[ $with_tests == yes ]]; then run_ctest "$preset"; fi
}

# A throw-away code-signing certificate and the root it chains to, so that
# the windows build is signed as a release is and e2e verifies every
# signature. Only in build/, never in any trust store; made again when it
# is about to run out.
signing=$root/build/test-signing
test_certificate() {
    if [[ -f $signing/sign.key ]] &&
        openssl x509 -checkend 86400 -noout -in "$signing/sign.pem" >/dev/null 2>&1; then
        return 0
    fi
    rm -rf "$signing" && mkdir -p "$signing" && (
        cd "$signing" && umask 077 &&
            openssl req -x509 -newkey rsa:2048 -nodes -days 30 -keyout ca.key -out ca.pem \
                -subj "/CN=Quorvel test root (throw-away)" \
                -addext "basicConstraints=critical,CA:TRUE" \
                -addext "keyUsage=critical,keyCertSign" &&
            openssl req -newkey rsa:2048 -nodes -keyout sign.key -out sign.csr \
                -subj "/CN=Quorvel test signer (throw-away)" &&
            printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
                "extendedKeyUsage=codeSigning" >sign.ext &&
            openssl x509 -req -in sign.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
                -days 30 -extfile sign.ext -out sign.pem &&
            rm -f ca.key ca.srl sign.csr sign.ext
    ) >"$logs/test-certificate.log" 2>&1 || {
        cat "$logs/test-certificate.log"
        return 1
    }
}

signed_windows_tier() {
    test_certificate &&
        tier windows no -DQUORVEL_SIGN_CERT="$signing/sign.pem" -DQUORVEL_SIGN_KEY="$signing/sign.key"
}

# Each fuzz target from its seeds for a few seconds; a target counts as one
# test. New inputs go to a scratch folder, never into the seeds.
fuzz_tier() {
    cmake --preset fuzz </dev/null >/dev/null &&
        cmake --build --preset fuzz --parallel "$jobs" </dev/null || return 1
    local t rc=0 scratch=$root/build/fuzz/short
    for t in portal_answer configuration language_file runtime_data frame_report dongle_reports; do
        rm -rf "${scratch:?}/$t" && mkdir -p "$scratch/$t"
        local dict=()
        [[ -f tests/fuzz/$t.dict ]] && dict=(-dict="tests/fuzz/$t.dict")
        if nice -n 19 "build/fuzz/tests/fuzz/fuzz_$t" "${dict[@]}" -max_total_time=5 \
            -runs=200000 -timeout=10 -artifact_prefix="$scratch/$t/" \
            "$scratch/$t" "tests/fuzz/corpus/$t" >"$logs/fuzz-$t.log" 2>&1; then
            echo "fuzz_$t: $(grep -E '^Done [0-9]+ runs' "$logs/fuzz-$t.log")"
            tests_passed=$((tests_passed + 1))
        else
            echo "fuzz_$t: FAILED, see $logs/fuzz-$t.log"
            grep -m3 -E 'ERROR|invariant broken|SUMMARY' "$logs/fuzz-$t.log"
            tests_failed=$((tests_failed + 1))
            rc=1
        fi
    done
    return "$rc"
}

if [[ $(id -u) -eq 0 ]]; then
    step "dependencies" scripts/install-deps.sh
else
    step "dependencies (check)" scripts/install-deps.sh
fi

step "native: build + tests" tier native yes
step "native-asan: build + tests" tier native-asan yes
if step "windows: cross-build" signed_windows_tier; then
    step "e2e: build + Wine tests" tier e2e yes -DQUORVEL_SIGN_CAFILE="$signing/ca.pem"
else
    summary+=("$(printf '%-28s skipped (needs the windows build)' 'e2e: build + Wine tests')")
    failed_steps=$((failed_steps + 1))
fi
step "fuzz: build + short runs" fuzz_tier

# The share of the C++ lines that are tests, counted over the files git
# tracks (the clean clone CI runs in has nothing else).
test_share() {
    local all tests
    all=$(git ls-files -z '*.cpp' '*.h' '*.c' | xargs -0 cat | wc -l)
    tests=$(git ls-files -z 'tests/*.cpp' 'tests/*.h' 'tests/*.c' | xargs -0 cat | wc -l)
    [[ $all -gt 0 ]] || return 0
    printf 'Test code: %d of %d C++ lines (%d %%, goal at most 35 %%)\n' \
        "$tests" "$all" $((100 * tests / all))
}

echo
echo "=== summary ($((SECONDS - started)) s, goal at most 480 s)"
printf '  %s\n' "${summary[@]}"
test_share
echo "ctest logs: $logs"
echo "Tests: $tests_passed passed, $tests_failed failed"
if [[ $failed_steps -ne 0 ]]; then
    echo "test.sh: $failed_steps step(s) failed" >&2
    exit 1
fi
