#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, a tree of their own) and runs each
# for a given time, starting from its corpus in fuzz/corpus/<harness>/.
#
#   fuzz/run.sh [--seconds N] [--seed N] [--build-dir DIR] [--no-build] [--keep DIR] [HARNESS...]
#
#   --seconds N    fuzzing time per harness (default 60); every corpus input
#                  is run first, so a regression input that crashes again fails
#   --seed N       the same inputs on every run (default: new ones each time)
#   --build-dir D  the fuzz tree (default: $BUILD_DIR/fuzz, else build/fuzz)
#   --no-build     use the harnesses already built there
#   --keep DIR     keep the inputs each run found in DIR/<harness>/ (new
#                  corpus candidates; the repository's corpus is never written)
#   HARNESS        e.g. openvpnconfig (default: all of them)
#
# Prints one line per harness with its executions; exits non-zero when a
# harness crashed, leaked or failed a check (its input is kept beside the
# log in the work directory, which is printed).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=60
build_dir=
build=1
keep=
seed=
harnesses=()
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --build-dir) build_dir=$2; shift 2 ;;
    --no-build) build=0; shift ;;
    --keep) keep=$2; shift 2 ;;
    -h|--help) sed -n '2,19p' "${BASH_SOURCE[0]}"; exit 0 ;;
    -*) echo "fuzz/run.sh: unknown option $1" >&2; exit 2 ;;
    *) harnesses+=("$1"); shift ;;
  esac
done
build_dir=${build_dir:-${BUILD_DIR:-$here/build}/fuzz}
if [ ${#harnesses[@]} -eq 0 ]; then
  for source in "$here"/fuzz/fuzz_*.cpp; do
    name=$(basename "$source" .cpp)
    harnesses+=("${name#fuzz_}")
  done
fi

if [ $build -eq 1 ]; then
  clang=$(command -v clang++ || command -v clang++-14 || true)
  if [ -z "$clang" ]; then
    echo "fuzz/run.sh: clang++ is missing (tools/install-deps.sh installs it)" >&2
    exit 2
  fi
  launcher=()
  if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
  cmake -S "$here" -B "$build_dir" -DCMAKE_CXX_COMPILER="$clang" -DVARNEL_FUZZERS=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
  cmake --build "$build_dir" --target varnel-fuzzers --parallel "$(nproc)"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/varnel-fuzz.XXXXXX")
failed=0
total=0
printf '%-14s %12s %9s  %s\n' harness executions seconds result
for name in "${harnesses[@]}"; do
  binary=$build_dir/fuzz/fuzz_$name
  if [ ! -x "$binary" ]; then
    echo "fuzz/run.sh: no harness $binary" >&2
    exit 2
  fi
  corpus=$here/fuzz/corpus/$name
  found=$work/$name
  mkdir -p "$found"
  options=(-max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=3072
           -artifact_prefix="$work/$name-")
  [ -f "$here/fuzz/dict/$name.dict" ] && options+=(-dict="$here/fuzz/dict/$name.dict")
  [ -n "$seed" ] && options+=(-seed="$seed")
  # New inputs go to the first directory (ours), the corpus is read only.
  set +e
  "$binary" "${options[@]}" "$found" "$corpus" >"$work/$name.log" 2>&1
  status=$?
  set -e
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log" | tail -1)
  executions=${executions:-0}
  total=$((total + executions))
  if [ $status -eq 0 ]; then
    result=ok
  else
    result="FAILED (exit $status; see $work/$name.log)"
    failed=1
  fi
  printf '%-14s %12s %9s  %s\n' "$name" "$executions" "$seconds" "$result"
  if [ -n "$keep" ]; then
    mkdir -p "$keep/$name"
    cp -n "$found"/* "$keep/$name/" 2>/dev/null || true
  fi
done
printf '%-14s %12s\n' total "$total"
if [ $failed -eq 0 ]; then
  rm -rf "$work"
else
  echo "fuzz/run.sh: logs and crashing inputs in $work" >&2
fi
exit $failed
