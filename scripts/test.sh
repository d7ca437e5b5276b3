#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs the whole test suite in a private desktop session.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
build="$root/build-tests"
"$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=Debug -DVOCALITH_SANITIZE=ON

export ASAN_OPTIONS="detect_leaks=1:fast_unwind_on_malloc=0:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
exec "$root/scripts/test-session.sh" ctest --test-dir "$build" --output-on-failure -j2 "$@"
