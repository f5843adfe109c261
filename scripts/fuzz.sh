#!/usr/bin/env bash
# Builds and fuzzes every file reader with libFuzzer (clang-14, address and undefined-behaviour
# sanitizers): usage scripts/fuzz.sh [SECONDS] [NAME...], SECONDS (default 60) for each target.
# A target is a folder tests/<subsystem>/fuzz/<name>/ holding <Name>Fuzz.cpp, sources.txt (the
# project sources it links, one a line), its seeds in corpus/, and maybe fuzz.dict and
# options.txt (one line of extra libFuzzer flags). Every target found is run unless names are
# given. Fails when any target finds a crash, a leak, undefined behaviour, a hang or runaway
# memory; build-fuzz/<name>/ then holds the input (replay: build-fuzz/<name>/<name>-fuzz FILE)
# and the log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
[[ $# -gt 0 ]] && shift
out=$root/build-fuzz
jobs=${FUZZ_JOBS:-$(nproc)}

declare -A folder_of=()
while IFS= read -r dir; do
  name=$(basename "$dir")
  if [[ -n ${folder_of[$name]:-} ]]; then
    echo "fuzz.sh: two targets named $name: ${folder_of[$name]} and $dir" >&2
    exit 1
  fi
  folder_of[$name]=$dir
done < <(cd "$root" && find tests -mindepth 3 -type d -path 'tests/*/fuzz/*' \
  -exec test -f '{}/sources.txt' ';' -print | sort)

names=("$@")
if [[ ${#names[@]} -eq 0 ]]; then
  mapfile -t names < <(printf '%s\n' "${!folder_of[@]}" | sort)
fi
for name in "${names[@]}"; do
  if [[ -z ${folder_of[$name]:-} ]]; then
    echo "fuzz.sh: no fuzz target named $name" >&2
    exit 1
  fi
done

compiler=(clang++-14)
command -v ccache >/dev/null && compiler=(ccache clang++-14)
# Qt6Gui for the colours of the theme file.
read -r -a qt_flags <<<"$(pkg-config --cflags Qt6Core Qt6Gui)"
read -r -a qt_libs <<<"$(pkg-config --libs Qt6Core Qt6Gui)"
flags=(-std=c++20 -g -O1 -fPIC -Wall -Wextra -Werror
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
  -fno-omit-frame-pointer -I"$root/src" -I"$root/tests")

# Each source once, however many targets link it; the harnesses are sources too.
sources_of() {
  local dir=${folder_of[$1]}
  grep -v -e '^[[:space:]]*$' -e '^#' "$root/$dir/sources.txt"
  (cd "$root" && ls "$dir"/*Fuzz.cpp)
}
object_of() { echo "$out/obj/${1%.cpp}.o"; }
mapfile -t all_sources < <(for name in "${names[@]}"; do sources_of "$name"; done | sort -u)
echo "== building ${#names[@]} fuzz targets (${#all_sources[@]} sources)"
compile() {
  local object
  object=$(object_of "$1")
  mkdir -p "$(dirname "$object")"
  # -fsanitize=fuzzer at compile time instruments without bringing in libFuzzer's main.
  "${compiler[@]}" "${flags[@]}" "${qt_flags[@]}" -c "$root/$1" -o "$object"
}
export -f compile object_of
export root out
export compiler_line="${compiler[*]}" flags_line="${flags[*]}" qt_line="${qt_flags[*]}"
printf '%s\n' "${all_sources[@]}" | xargs -P "$jobs" -I{} bash -c '
  read -r -a compiler <<<"$compiler_line"; read -r -a flags <<<"$flags_line"
  read -r -a qt_flags <<<"$qt_line"; compile "$1"' _ {}
for name in "${names[@]}"; do
  mkdir -p "$out/$name/corpus"
  objects=()
  while IFS= read -r source; do objects+=("$(object_of "$source")"); done < <(sources_of "$name")
  clang++-14 "${flags[@]}" "${objects[@]}" "${qt_libs[@]}" -o "$out/$name/$name-fuzz"
done

# New inputs go to a corpus of the build's own; the seeds in the tree stay as they are. The
# random seed is fixed (FUZZ_SEED=N changes it), so that the test command's run repeats itself;
# a longer run with other seeds explores further.
run() {
  local name=$1 dir=$root/${folder_of[$1]}
  local extra=()
  [[ -f $dir/fuzz.dict ]] && extra+=(-dict="$dir/fuzz.dict")
  [[ -f $dir/options.txt ]] && read -r -a options <"$dir/options.txt" && extra+=("${options[@]}")
  cd "$out/$name"
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "./$name-fuzz" -seed="${FUZZ_SEED:-1}" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 "${extra[@]}" corpus "$dir/corpus" \
    >"$out/$name/fuzz.log" 2>&1
}

echo "== fuzzing each target for $seconds s, $jobs at a time"
failed=()
declare -A running=()
# Waits for the next target to end and tells how it went.
collect() {
  local pid status=0 stats
  wait -n -p pid "${!running[@]}" || status=$?
  local name=${running[$pid]}
  unset "running[$pid]"
  stats=$(grep -E '^#[0-9]+.*(DONE|INITED)' "$out/$name/fuzz.log" | tail -n 1 || true)
  if [[ $status -eq 0 ]]; then
    echo "$name: ok  $stats"
  else
    echo "$name: FAILED (exit $status), the end of build-fuzz/$name/fuzz.log:"
    tail -n 40 "$out/$name/fuzz.log"
    failed+=("$name")
  fi
}
for name in "${names[@]}"; do
  while [[ ${#running[@]} -ge $jobs ]]; do collect; done
  run "$name" &
  running[$!]=$name
done
while [[ ${#running[@]} -gt 0 ]]; do collect; done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "== fuzzing found faults in: ${failed[*]}"
  exit 1
fi
echo "== fuzzing found nothing in ${#names[@]} targets"
