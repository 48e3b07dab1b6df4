#!/usr/bin/env bash
# Runs one build step with its whole output appended to a log file, and shows
# only the step's name, its progress ([done/total] when the tool prints it)
# and how long it took. On failure it shows the end of the output and where
# the rest is.
#
#   scripts/quiet-step.sh LOG "what is done" COMMAND [ARG...]
set -uo pipefail

if [ $# -lt 3 ]; then
  echo "usage: $0 LOG WHAT COMMAND [ARG...]" >&2
  exit 2
fi
log=$1 what=$2
shift 2
mkdir -p "$(dirname "$log")"
echo "=== $(date -u +%H:%M:%S) $what: $*" >>"$log"
start=$(date +%s)
# On a terminal the step's line shows its progress in place; elsewhere only the result.
progress=/dev/null
[ -t 1 ] && progress=/dev/stdout
printf '%s' "$what" >"$progress"
"$@" 2>&1 | tee -a "$log" | awk -v what="$what" '
  /^\[[0-9]+\/[0-9]+\]/ { printf "\r%s %s", what, $1; fflush() }' >"$progress"
status=${PIPESTATUS[0]}
[ -t 1 ] && printf '\r\033[K'
if [ "$status" -eq 0 ]; then
  printf '%s: done in %d s\n' "$what" $(($(date +%s) - start))
  exit 0
fi
printf '%s: FAILED (exit status %d); the last lines:\n' "$what" "$status"
tail -n 25 "$log" | sed 's/^/  | /'
echo "the whole output is in $log"
exit "$status"
