#!/usr/bin/env bash
# Check helpers of the lab's script tests (selftest.sh, tests/e2e/demo): one
# "ok   - ..." or "FAIL - ..." line per check, failures counted in $failures.
# Sourced, not run.

failures=0

ok() { echo "ok   - $1"; }
not_ok() { echo "FAIL - $1"; failures=$((failures + 1)); }
# check DESCRIPTION COMMAND...: the command must succeed.
check() { local what=$1; shift; if "$@" >/dev/null 2>&1; then ok "$what"; else not_ok "$what"; fi; }
# refute DESCRIPTION COMMAND...: the command must fail.
refute() { local what=$1; shift; if "$@" >/dev/null 2>&1; then not_ok "$what"; else ok "$what"; fi; }

# Polls COMMAND every tenth of a second, at most $1 tenths.
poll() {
  local tenths=$1
  shift
  until "$@" >/dev/null 2>&1; do
    [ "$tenths" -le 0 ] && return 1
    tenths=$((tenths - 1))
    sleep 0.1
  done
}

# The client's scrambling of stored credentials: XOR with "K4TQW", then Base64.
scramble() {
  local text=$1 key=K4TQW i c k escaped=
  for ((i = 0; i < ${#text}; i++)); do
    printf -v c '%d' "'${text:i:1}"
    printf -v k '%d' "'${key:i%5:1}"
    printf -v escaped '%s\\x%02x' "$escaped" $((c ^ k))
  done
  # shellcheck disable=SC2059 # the escapes are the point
  printf "$escaped" | base64 -w0
}
