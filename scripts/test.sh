#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, then builds the normal build and the sanitizer build
# (AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test of both: headless, and
# inside a private network namespace where the machine allows it.
# TAVENA_TEST_JOBS sets how many tests run at once (default 2).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD

bash scripts/deps.sh

export QT_QPA_PLATFORM=offscreen
unset TAVENA_PRIVATE_NET # set only inside the private network namespace
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
if [[ -f scripts/lsan.supp ]]; then
    export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp:print_suppressions=0
fi
jobs=${TAVENA_TEST_JOBS:-2}

if bash scripts/private-net.sh --check; then
    net=(bash scripts/private-net.sh)
else
    net=()
    echo "test.sh: note: no private network namespace here; tests use the host's loopback and the broadcast tests are skipped"
fi

results=()
status=0
passed=0
failed=0
for preset in default sanitize; do
    echo "==== $preset: configure and build"
    start=$SECONDS
    if ! cmake --preset "$preset" >/dev/null; then
        results+=("$preset: configure FAILED")
        status=1
        continue
    fi
    if ! cmake --build --preset "$preset"; then
        results+=("$preset: build FAILED")
        status=1
        continue
    fi
    built=$((SECONDS - start))

    echo "==== $preset: tests"
    start=$SECONDS
    # Tests never see the engineer's own settings.
    log=$root/build/$preset/ctest.log
    if XDG_CONFIG_HOME=$root/build/$preset/test-config \
        "${net[@]}" ctest --preset "$preset" --output-on-failure --no-tests=error -j "$jobs" |
        tee "$log"; then
        outcome=passed
    else
        outcome=FAILED
        status=1
    fi
    # "100% tests passed, 0 tests failed out of 14"
    if summary=$(grep -Eo '[0-9]+ tests failed out of [0-9]+' "$log"); then
        read -r f _ _ _ _ total <<<"$summary"
        failed=$((failed + f))
        passed=$((passed + total - f))
    fi
    results+=("$preset: tests $outcome (build ${built} s, tests $((SECONDS - start)) s)")
done

echo "===="
printf 'test.sh: %s\n' "${results[@]}"
echo "tests: $passed passed, $failed failed"
exit $status
