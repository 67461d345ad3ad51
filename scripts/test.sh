#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds every tree and runs every test:
#   1. the release tree: all tests;
#   2. clang with AddressSanitizer and UndefinedBehaviorSanitizer: all tests, then the fuzzers
#      for a bounded time;
#   3. clang with ThreadSanitizer: only the test programs of the threaded parts, and their tests;
#   4. the Windows cross tree (i686 MinGW): built, and its tests run under Wine, with the command
#      line's rows run from the release tree;
#   5. static checks: the Windows adapter branch for 32-bit Windows, clang-format, cppcheck and
#      clang-tidy (on the sanitizer tree's compile commands);
#   6. the Debian package: built from a Release tree without tests, then checked (lintian,
#      desktop entry, AppStream metainfo, manual pages, the programs run from the unpacked
#      package, bash completion).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup-debian.sh --windows

jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1

# Each step says how long the one before it took, so that slow steps show in every log.
last=$SECONDS
step() {
  printf '\n=== %s (previous step %ds, %ds in all)\n' "$*" $((SECONDS - last)) "$SECONDS"
  last=$SECONDS
}

step "release build and tests"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELT_WERROR=ON -DQUELT_BUILD_BENCH=ON >/dev/null
cmake --build build/release -j "$jobs"
ctest --test-dir build/release -j "$jobs" --timeout 600

step "AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DQUELT_SANITIZE=address,undefined -DQUELT_BUILD_FUZZ=ON -DQUELT_WERROR=ON >/dev/null
cmake --build build/asan -j "$jobs"
# The soak and kill tests run their full figures in the release tree; here a few cycles are
# enough to put the emulator's and the link's memory use under the sanitizers.
QUELT_SOAK_CYCLES=8 QUELT_KILL_ROUNDS=3 ctest --test-dir build/asan -j "$jobs" --timeout 900

step "fuzzers (bounded time)"
scripts/run-fuzzers.sh build/asan

step "ThreadSanitizer build and tests of the threaded parts"
export TSAN_OPTIONS="suppressions=$root/tests/sanitizers/tsan.supp:halt_on_error=1:second_deadlock_stack=1"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DQUELT_SANITIZE=thread -DQUELT_WERROR=ON >/dev/null
cmake --build build/tsan -j "$jobs" --target quelt_threaded_tests
ctest --test-dir build/tsan -j "$jobs" --timeout 900 -L threads

step "Windows cross tree under Wine"
cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUELT_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake \
  -DQUELT_HOST_TREE="$root/build/release" >/dev/null
cmake --build build/win -j "$jobs"
# The tree's wineserver outlives each test run on purpose; it goes when the tests are over.
trap 'build/win/wine-run --stop' EXIT
ctest --test-dir build/win -j "$jobs" --timeout 600
build/win/wine-run --stop
trap - EXIT

step "static checks"
scripts/check-static.sh build/asan

step "package"
scripts/package.sh build/package
scripts/check-package.sh build/package/quelt-flasher_*.deb

step "done"
echo "All trees built and all tests passed."
