#!/usr/bin/env bash
# Runs a command inside the client namespace of a fresh VPN lab, with the
# lab's VARNEL_LAB_* variables in its environment, and tears the lab down
# afterwards whatever happens.
#
#   run-in-lab.sh COMMAND [ARGS...]
#
# Exit status: the command's; 77 when the lab cannot run on this machine
# (not root, no network namespaces, servers not installed). When
# VARNEL_LAB_COMMAND_TIMEOUT is set (seconds), a command that runs longer is
# terminated so that the teardown still happens before an outer time-out.

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lab.sh
. "$here/lab.sh"

if [ $# -eq 0 ]; then
  echo "usage: run-in-lab.sh COMMAND [ARGS...]" >&2
  exit 2
fi

trap '[ -z "$LAB_CREATED" ] || lab_teardown "$LAB_CREATED"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

lab_up $$

lab_exec_argv
runner=("${LAB_EXEC[@]}")
if [ -n "${VARNEL_LAB_COMMAND_TIMEOUT:-}" ]; then
  runner=(timeout --kill-after=5 "$VARNEL_LAB_COMMAND_TIMEOUT" "${runner[@]}")
fi

# In the background so that a signal to this script is handled at once (the
# teardown ends the command, which lives in the client namespace); stdin is
# handed on explicitly because background jobs would get /dev/null.
"${runner[@]}" "$@" <&0 &
status=0
wait $! || status=$?
if [ -n "${VARNEL_LAB_COMMAND_TIMEOUT:-}" ] && [ $status -eq 124 ]; then
  lab_say "command timed out after ${VARNEL_LAB_COMMAND_TIMEOUT}s"
fi
exit $status
