#!/usr/bin/env bash
# The job, page and open-dispatch tests under ThreadSanitizer: configures BUILD_DIR with
# -DTANDOR_TSAN=ON, builds only those tests (and the engines they load), runs them. Qt itself is not instrumented: what that
# hides from the sanitizer is listed in scripts/tsan.supp.
#   scripts/tsan-tests.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-tsan}
tests=(ops_tests pages_common_tests create_page_tests unzip_page_tests batch_page_tests app_dispatch_tests app_open_tests)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDOR_TSAN=ON >/dev/null
cmake --build "$build" -j2 --target "${tests[@]}" zipeng unzeng unrar sfxstub tandorfile  # the program for the hand-over tests
pattern="^($(IFS='|'; echo "${tests[*]}"))\$"
cd "$build"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_interceptors_accesses=1 suppressions=$root/scripts/tsan.supp ${TSAN_OPTIONS:-}" ctest --output-on-failure -R "$pattern"
