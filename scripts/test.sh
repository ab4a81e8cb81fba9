#!/usr/bin/env bash
# Installs the packages, builds Quillo and runs every test: the unit and
# end-to-end tests, the concurrency tests under ThreadSanitizer, all of them
# again under AddressSanitizer and UndefinedBehaviorSanitizer, and bounded
# fuzzing runs of the state reader and the settings read path. Also prints the
# benchmark figures. Warnings in Quillo's own sources fail the build.
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
jobs="$(nproc)"
passed=0
logs="$(mktemp -d)"
trap 'rm -rf "$logs"' EXIT

# Runs ctest in a build folder and adds its test count to the total.
run_ctest() {
    local folder="$1"; shift
    (cd "$folder" && ctest "$@") | tee "$logs/ctest.log"
    local count
    count="$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$logs/ctest.log")"
    passed=$((passed + ${count:-0}))
}

scripts/install-deps.sh

echo "== Release build, unit and end-to-end tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLO_WERROR=ON
cmake --build build -j "$jobs"
run_ctest build -j "$jobs" --output-on-failure --timeout 600

echo "== Benchmarks (figures only)"
# The editor's paints touch JUCE's desktop, which wants an X server of its own here.
for bench in build/bench/quillo_*_bench; do
    env -u DISPLAY xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" "$bench" --benchmark_min_time=0.05
done

echo "== ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLO_SANITIZER=thread -DQUILLO_WERROR=ON \
      -DQUILLO_BUILD_APP=OFF -DQUILLO_BUILD_BENCH=OFF
cmake --build build-tsan -j "$jobs" --target quillo_tsan_tests
run_ctest build-tsan -L tsan --output-on-failure --timeout 900

echo "== AddressSanitizer and UndefinedBehaviorSanitizer: unit, editor, app and end-to-end tests"
# One clang build serves these tests and the fuzzers below. The coverage
# instrumentation that libFuzzer needs changes nothing the tests see, and
# sharing the build saves compiling the framework once more.
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DQUILLO_BUILD_FUZZ=ON -DQUILLO_SANITIZER=address -DQUILLO_BUILD_BENCH=OFF -DQUILLO_WERROR=ON
cmake --build build-fuzz -j "$jobs"
UBSAN_OPTIONS=print_stacktrace=1 run_ctest build-fuzz -j "$jobs" --output-on-failure --timeout 900

echo "== Fuzzing the state reader for ${FUZZ_SECONDS} s"
cmake --build build-fuzz -j "$jobs" --target quillo_state_fuzzer quillo_make_seeds quillo_settings_fuzzer
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
