#!/usr/bin/env bash
# Installs the packages, builds Quillo and runs every test: the unit and
# end-to-end tests, the concurrency tests under ThreadSanitizer, all of them
# again under AddressSanitizer and UndefinedBehaviorSanitizer, and bounded
# fuzzing runs of the state reader and the settings read path. Also prints the
# benchmark figures. Warnings in Quillo's own sources fail the build. The
# configurations are CMakePresets.json's: release, tsan and asan-fuzz. Every
# test that needs X starts a server of its own, whatever DISPLAY says.
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
jobs="$(nproc)"
passed=0
logs="$(mktemp -d)"
trap 'rm -rf "$logs"' EXIT

# Runs ctest with a test preset and adds its test count to the total.
run_ctest() {
    ctest --preset "$@" | tee "$logs/ctest.log"
    local count
    count="$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$logs/ctest.log")"
    passed=$((passed + ${count:-0}))
}

scripts/install-deps.sh

echo "== Release build, unit and end-to-end tests"
cmake --preset release
cmake --build --preset release -j "$jobs"
run_ctest release -j "$jobs"

echo "== Benchmarks (figures only)"
# The editor's paints touch JUCE's desktop: an X server of the benchmark's own,
# so that nothing of it reaches the display this script was started from.
for bench in build/bench/quillo_*_bench; do
    tests/support/private_display.py "$bench" --benchmark_min_time=0.05
done

echo "== ThreadSanitizer"
cmake --preset tsan
cmake --build --preset tsan -j "$jobs"
run_ctest tsan

echo "== AddressSanitizer and UndefinedBehaviorSanitizer: unit, editor, app and end-to-end tests"
# One clang build serves these tests and the fuzzers below. The coverage
# instrumentation that libFuzzer needs changes nothing the tests see, and
# sharing the build saves compiling the framework once more.
cmake --preset asan-fuzz
cmake --build --preset asan-fuzz -j "$jobs"
run_ctest asan-fuzz -j "$jobs"

echo "== Fuzzing the state reader for ${FUZZ_SECONDS} s"
cmake --build --preset asan-fuzz -j "$jobs" --target quillo_state_fuzzer quillo_make_seeds quillo_settings_fuzzer
corpus="$logs/corpus"
build-fuzz/tests/fuzz/quillo_make_seeds "$corpus"
build-fuzz/tests/fuzz/quillo_state_fuzzer -max_total_time="$FUZZ_SECONDS" -max_len=70000 \
      -dict=tests/fuzz/state.dict \
      -print_final_stats=1 "$corpus"
passed=$((passed + 1))

echo "== Fuzzing the settings read path for ${FUZZ_SECONDS} s"
mkdir -p "$logs/settings-corpus"
build-fuzz/tests/fuzz/quillo_settings_fuzzer -max_total_time="$FUZZ_SECONDS" -max_len=16384 \
      -dict=tests/fuzz/settings.dict -print_final_stats=1 "$logs/settings-corpus" tests/settings-corpus
passed=$((passed + 1))

echo "tests: ${passed} passed, 0 failed"
