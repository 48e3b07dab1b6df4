#!/usr/bin/env bash
# The tree's one layout: C++ by .clang-format, Python by black (pyproject.toml)
# and flake8 (.flake8). `style.sh` checks every tracked file and names the ones
# out of layout; `style.sh --fix` rewrites them.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t cpp < <(git ls-files '*.cpp' '*.h')
mapfile -t py < <(git ls-files '*.py')

if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${cpp[@]}"
  black -q "${py[@]}"
  echo "style: ${#cpp[@]} C++ and ${#py[@]} Python files laid out"
  exit 0
fi

failed=0
off_cpp=$(clang-format --dry-run "${cpp[@]}" 2>&1 | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: warning: code should be clang-formatted.*/\1/p' | sort -u)
if [ -n "$off_cpp" ]; then
  echo "style: these C++ files are not laid out as .clang-format says:" $off_cpp >&2
  failed=1
fi
if ! black_out=$(black --check "${py[@]}" 2>&1); then
  echo "style: black would re-lay these Python files:" $(sed -n 's/^would reformat //p' <<<"$black_out") >&2
  grep '^error:' <<<"$black_out" >&2 || true
  failed=1
fi
if ! flake8 "${py[@]}" >&2; then
  echo "style: flake8 found the problems above" >&2
  failed=1
fi
if [ $failed -ne 0 ]; then
  echo "style: run 'make format' to lay the files out, fix what flake8 names, then 'make style' again" >&2
  exit 1
fi
echo "style: ${#cpp[@]} C++ and ${#py[@]} Python files in layout"
