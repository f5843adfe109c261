#!/usr/bin/env bash
# Fuzzes the update control file reader with libFuzzer for the given number of seconds
# (default 60), starting from the seed corpus in tests/update/fuzz-corpus. Fails when the
# fuzzer finds a crash, a leak, undefined behaviour or a hang; the input it found is kept in
# build-fuzz/ for replay (build-fuzz/control-file-fuzz FILE).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
out=$root/build-fuzz
mkdir -p "$out/corpus"

# Only what the reader needs: the update rules and the few platform files under them.
sources=(
  tests/update/ControlFileFuzz.cpp
  src/platform/IniSnapshot.cpp
  src/update/UpdateRules.cpp
  src/platform/IniText.cpp
  src/platform/FileVersion.cpp
  src/platform/ProgramFolder.cpp
)
read -r -a qt_flags <<<"$(pkg-config --cflags --libs Qt6Core)"
echo "== building the control file fuzzer"
clang++-14 -std=c++20 -g -O1 -fPIC -Wall -Wextra -Werror \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -fno-omit-frame-pointer -I"$root/src" \
  "${sources[@]/#/$root/}" "${qt_flags[@]}" -o "$out/control-file-fuzz"

echo "== fuzzing the control file reader for $seconds s"
# New inputs go to a corpus of the build's own; the seeds in the tree stay as they are. The
# random seed is fixed (FUZZ_SEED=N changes it), so that the test command's run repeats itself;
# a longer run with other seeds explores further.
cd "$out"
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ./control-file-fuzz -seed="${FUZZ_SEED:-1}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=16384 -dict="$root/tests/update/fuzz.dict" -print_final_stats=1 corpus "$root/tests/update/fuzz-corpus"
