#!/usr/bin/env bash
# Installs what is missing, builds zvcc and runs every test:
#  1. unit and end-to-end tests under AddressSanitizer and UndefinedBehaviorSanitizer (g++);
#  2. the threaded tests, and the fault injection against the real program, again
#     under ThreadSanitizer;
#  3. warning-free optimised builds with clang and g++;
#  4. every fuzz target (clang, libFuzzer), each run briefly.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

echo "== Build and test with AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_SANITIZE=ON >/dev/null
cmake --build build-test -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-test && ctest --output-on-failure -j "$jobs")

echo "== Threaded tests with ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_TSAN=ON >/dev/null
tsan_targets=()
for t in platform_tests support_tests link_tests tools_tests; do
  if cmake --build build-tsan --target help | grep -q "^$t:"; then tsan_targets+=("$t"); fi
done
cmake --build build-tsan -j "$jobs" --target "${tsan_targets[@]}" zvcc zvsim
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
tsan_tests=("${tsan_targets[@]}" e2e_test_faults)
(cd build-tsan && ctest --output-on-failure -j "$jobs" -R "^($(IFS='|'; echo "${tsan_tests[*]}"))\$")

echo "== Warning-free builds with clang and g++"
CC=clang CXX=clang++ cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS=-Werror >/dev/null
cmake --build build-clang -j "$jobs"
CC=gcc CXX=g++ cmake -S . -B build-gcc -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS=-Werror >/dev/null
cmake --build build-gcc -j "$jobs"

echo "== Fuzz targets"
# Each target over its seed corpus (regression inputs included) and a few
# seconds of mutation; scripts/fuzz.sh builds them and prints the table.
scripts/fuzz.sh 3

echo "All tests passed."
