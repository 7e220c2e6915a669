#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the whole test suite; then builds
# the suite again with AddressSanitizer and UndefinedBehaviorSanitizer (in
# build-asan, or $VKR_ASAN_BUILD_DIR) and runs it there too.
#
# The sanitizer run leaves out the private-cupsd tests (cups.*): they install
# the filter into a cupsd of their own and print through it, which tests CUPS
# plumbing rather than memory use, and they are the slowest tests of all. The
# same filter code runs under the sanitizers in every other filter test.
# VKR_SKIP_SANITIZE=1 skips the sanitizer run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$here/scripts/setup.sh"
(cd "$here/build" && ctest --output-on-failure -j"$jobs" --timeout 600)

[[ ${VKR_SKIP_SANITIZE:-0} == 1 ]] && exit 0
asan=${VKR_ASAN_BUILD_DIR:-$here/build-asan}
# -O1: the sanitized build compiles in about half the time of -O2 and still
# runs the suite quickly; the floating-point flags stay those of vkr_flags.
cmake -S "$here" -B "$asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVKR_SANITIZE=ON \
  -DVKR_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" >/dev/null
cmake --build "$asan" -j"$jobs"
cd "$asan"
ASAN_OPTIONS=${ASAN_OPTIONS:-strict_string_checks=1} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
  ctest --output-on-failure -j"$jobs" --timeout 600 -E '^cups\.'
