#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for SECONDS each over its seed corpus
# and prints, per target, the inputs executed, their rate and the coverage
# reached.
#
#   fuzz-smoke.sh BUILD_DIR SECONDS          the short run CI makes: new inputs
#                                            go to a scratch folder, so the
#                                            repository's corpus is read only
#   fuzz-smoke.sh --long BUILD_DIR SECONDS   a long run (make fuzz-long): new
#                                            inputs are kept in
#                                            BUILD_DIR/fuzz-corpus/TARGET, so
#                                            the next long run starts from them
set -euo pipefail
long=0
if [ "${1:-}" = --long ]; then
  long=1
  shift
fi
usage="usage: fuzz-smoke.sh [--long] BUILD_DIR SECONDS"
build=${1:?$usage}
seconds=${2:-30}
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "fuzz-smoke: SECONDS must be a whole number, not '$seconds'" >&2; echo "$usage" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

shopt -s nullglob
targets=("$build"/fuzz_*)
[ ${#targets[@]} -gt 0 ] || { echo "fuzz-smoke: no fuzz targets in $build (build with -DNOTICE_FUZZ=ON)" >&2; exit 1; }

# The seed folder a target starts from: the ShowNotice and whole-boot targets
# take the decoder's pictures (fuzz/corpus/README.md says which folders are
# generated and which are hand-made).
seed_folder() {
  case "$1" in
    show_notice | whole_boot) echo bmp_decode ;;
    *) echo "$1" ;;
  esac
}

# The memory a target may use. The artwork target reads files a user hands
# notice-pack: no picture within the tools' limits needs one allocation above
# 128 MB (a 3840x2160 16-bit PNG takes 64 MiB of samples), so a small input
# that asks for more is a finding, as is a process growing past 1 GB.
memory_limits() {
  case "$1" in
    artwork_convert) echo "-rss_limit_mb=1024 -malloc_limit_mb=128" ;;
    *) echo "-rss_limit_mb=2048" ;;
  esac
}

summary=()
for target in "${targets[@]}"; do
  [ -x "$target" ] || continue
  name=${target##*/fuzz_}
  work="$scratch/$name"
  [ "$long" = 1 ] && work="$build/fuzz-corpus/$name"
  mkdir -p "$work"
  seeds=()
  seed_dir="$root/fuzz/corpus/$(seed_folder "$name")"
  [ -d "$seed_dir" ] && seeds=("$seed_dir")
  log="$scratch/$name.log"
  echo "fuzz-smoke: $name for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$target" -max_total_time="$seconds" $(memory_limits "$name") -timeout=10 -print_final_stats=1 \
    "$work" "${seeds[@]}" 2>"$log" || { tail -50 "$log"; echo "fuzz-smoke: $name found a failure (log above)" >&2; exit 1; }
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1 || true)
  summary+=("$(printf '%-14s %12s inputs  %8s/s  %s' "$name" "${runs:-?}" "${rate:-?}" "${cov:-cov: ?}")")
done

echo "fuzz-smoke: ${seconds}s a target, 0 findings"
printf '  %s\n' "${summary[@]}"
