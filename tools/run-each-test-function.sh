#!/usr/bin/env bash
# Runs every test function of every Qt Test executable alone (one function
# per process), with the command, environment and skip code that ctest gives
# the test, and reports the functions that fail. With --reverse each
# executable also runs once with all its functions in reverse order.
#
#   tools/run-each-test-function.sh [--build DIR] [--reverse] [CTEST FILTERS...]
#
# CTEST FILTERS select tests as for ctest, e.g. -L unit, -R tst_common,
# -LE e2e. Logs of failed runs are kept in DIR/each-function-logs/<pid>.
# Exit status: 0 when nothing failed, 1 otherwise.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$here/build"
reverse=0
filters=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$(cd "$2" && pwd)"; shift 2 ;;
    --reverse) reverse=1; shift ;;
    *) filters+=("$1"); shift ;;
  esac
done

# A folder per run: runs side by side do not touch each other's logs.
logs="$build/each-function-logs/$$"
mkdir -p "$logs"

passed=0
failed=0
skipped=0
failures=()

# One line per test: name, timeout, skip code, working dir, environment and
# command (both as JSON arrays).
tests_json="$(cd "$build" && ctest --show-only=json-v1 "${filters[@]}")" || exit 1
mapfile -t tests < <(jq -c '.tests[] | select(.command != null) | {
    name,
    command,
    timeout: ((.properties // []) | map(select(.name == "TIMEOUT")) | .[0].value // 300),
    skip: ((.properties // []) | map(select(.name == "SKIP_RETURN_CODE")) | .[0].value // -1),
    dir: ((.properties // []) | map(select(.name == "WORKING_DIRECTORY")) | .[0].value // "."),
    env: ((.properties // []) | map(select(.name == "ENVIRONMENT")) | .[0].value // [])
  }' <<<"$tests_json")

# run NAME LABEL ARGS...: runs the test's command with ARGS appended.
run() {
  local label="$1"
  shift
  local log="$logs/${label//[^A-Za-z0-9_.-]/_}.log"
  local status=0
  (cd "$dir" && env "${env[@]}" timeout --kill-after=10 "$timeout" "${command[@]}" "$@") >"$log" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    passed=$((passed + 1))
    rm -f "$log"
  elif [ "$status" -eq "$skip" ]; then
    skipped=$((skipped + 1))
    rm -f "$log"
  else
    failed=$((failed + 1))
    failures+=("$label (exit $status, log $log)")
    echo "FAIL $label (exit $status)"
  fi
}

for t in "${tests[@]}"; do
  name="$(jq -r .name <<<"$t")"
  timeout="$(jq -r .timeout <<<"$t")"
  skip="$(jq -r .skip <<<"$t")"
  dir="$(jq -r .dir <<<"$t")"
  mapfile -t command < <(jq -r '.command[]' <<<"$t")
  mapfile -t env < <(jq -r '.env[]' <<<"$t")

  # The functions are listed by the Qt Test executable itself (the last
  # argument of a wrapper such as the lab's run-in-lab.sh), without the lab.
  binary="${command[${#command[@]} - 1]}"
  functions=()
  if [ -x "$binary" ]; then
    mapfile -t functions < <(cd "$dir" && env "${env[@]}" timeout 30 "$binary" -functions 2>/dev/null \
      | sed -n 's/^\([A-Za-z_][A-Za-z0-9_]*\)()$/\1/p')
  fi
  if [ ${#functions[@]} -eq 0 ]; then
    # Not a Qt Test executable: run it whole.
    run "$name"
    continue
  fi
  echo "$name: ${#functions[@]} functions"
  for f in "${functions[@]}"; do
    run "$name.$f" "$f"
  done
  if [ "$reverse" -eq 1 ] && [ ${#functions[@]} -gt 1 ]; then
    reversed=()
    for ((i = ${#functions[@]} - 1; i >= 0; i--)); do
      reversed+=("${functions[$i]}")
    done
    run "$name.reverse-order" "${reversed[@]}"
  fi
done

if [ ${#failures[@]} -gt 0 ]; then
  echo "Failed:"
  printf '  %s\n' "${failures[@]}"
fi
echo "$passed passed, $failed failed, $skipped skipped"
rmdir "$logs" 2>/dev/null
[ "$failed" -eq 0 ]
