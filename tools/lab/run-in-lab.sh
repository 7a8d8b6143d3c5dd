#!/usr/bin/env bash
# Runs a command inside the client namespace of a fresh VPN lab, with the
# lab's VARNEL_LAB_* variables in its environment, and tears the lab down
# afterwards whatever happens.
#
#   run-in-lab.sh [--user] COMMAND [ARGS...]
#
# --user runs the command as the lab user (no capability, a home of its own)
# beside the VarnelVPN service of the lab (VARNEL_LAB_SERVICE names the
# program), as the client runs on a desktop; the lab's agent then does for it
# what needs root (stopping servers, looking at the firewall).
#
# Exit status: the command's; 77 when the lab cannot run on this machine
# (not root, no network namespaces, servers not installed). When
# VARNEL_LAB_COMMAND_TIMEOUT is set (seconds), a command that runs longer is
# terminated so that the teardown still happens before an outer time-out.

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lab.sh
. "$here/lab.sh"

as_user=
if [ "${1:-}" = --user ]; then
  as_user=1
  shift
fi
if [ $# -eq 0 ]; then
  echo "usage: run-in-lab.sh [--user] COMMAND [ARGS...]" >&2
  exit 2
fi

agent=
trap '[ -z "$agent" ] || kill "$agent" 2>/dev/null; [ -z "$LAB_CREATED" ] || lab_teardown "$LAB_CREATED"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

[ -z "$as_user" ] || [ -n "$LAB_SERVICE_BIN" ] || lab_die "--user needs the service program in VARNEL_LAB_SERVICE"

lab_up $$

if [ -n "$as_user" ]; then
  # The user must reach the command and what it starts.
  case $1 in
    */*) setpriv --reuid="$LAB_UID" --regid="$LAB_UID" --clear-groups test -x "$1" ||
      lab_die "$1 cannot be run by another user than root (keep the build tree where other users may read it)" ;;
  esac
  lab_agent &
  agent=$!
  lab_exec_user_argv
else
  lab_exec_argv
fi
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
