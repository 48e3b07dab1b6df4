#!/usr/bin/env bash
# Runs make targets one after another as named stages: prints each stage's
# name and wall time, and stops at the first that fails, naming it.
set -uo pipefail
make_cmd=${MAKE:-make}
start_all=$SECONDS
for stage in "$@"; do
  echo "=== stage $stage"
  start=$SECONDS
  if ! "$make_cmd" --no-print-directory "$stage"; then
    echo "=== stage $stage FAILED after $((SECONDS - start)) s" >&2
    exit 1
  fi
  echo "=== stage $stage passed in $((SECONDS - start)) s"
done
echo "=== all stages passed in $((SECONDS - start_all)) s: $*"
