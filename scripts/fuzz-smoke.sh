#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build briefly over its seed corpus.
# New inputs go to a scratch folder, so the repository's corpus is read only.
set -euo pipefail
build=${1:?usage: fuzz-smoke.sh BUILD_DIR SECONDS}
seconds=${2:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

shopt -s nullglob
targets=("$build"/fuzz_*)
[ ${#targets[@]} -gt 0 ] || { echo "fuzz-smoke: no fuzz targets in $build" >&2; exit 1; }

for target in "${targets[@]}"; do
  [ -x "$target" ] || continue
  name=${target##*/fuzz_}
  mkdir -p "$scratch/$name"
  seeds=()
  [ -d "$root/fuzz/corpus/$name" ] && seeds=("$root/fuzz/corpus/$name")
  echo "fuzz-smoke: $name for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    "$scratch/$name" "${seeds[@]}" 2>"$scratch/$name.log" || { tail -50 "$scratch/$name.log"; exit 1; }
  grep -E '^stat::number_of_executed_units' "$scratch/$name.log" || true
done
