#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a normal build and a
# build with AddressSanitizer and UndefinedBehaviorSanitizer; then fuzzes every file reader
# for 25 s each (anything a fuzzer finds fails the run).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

run_suite() {
  local dir=$1
  shift
  echo "== building $dir"
  "$root/scripts/build.sh" "$dir" "$@"
  echo "== testing $dir"
  (cd "$dir" && ctest --output-on-failure --parallel "$(nproc)")
}

run_suite "$root/build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DSONARELLE_SANITIZE=ON -DSONARELLE_BENCH=OFF
"$root/scripts/fuzz.sh" 25
