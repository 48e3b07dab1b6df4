#!/usr/bin/env bash
# Links the driver image a second time from the same objects (link-time code
# generation included) and fails unless both links give identical bytes.
set -euo pipefail
build_dir=${1:?usage: check-reproducible-image.sh IMAGE_BUILD_DIR}
image=$build_dir/notice.efi
[ -f "$image" ] || { echo "check-reproducible-image: $image: no such file; build it with 'make image'" >&2; exit 2; }

first=$(mktemp)
trap 'rm -f "$first"' EXIT
cp "$image" "$first"
rm "$image"
cmake --build "$build_dir" --target notice >/dev/null
if ! cmp -s "$first" "$image"; then
  echo "check-reproducible-image: two links of $image differ ($(cmp "$first" "$image" | head -1));" \
    "look for a time stamp or path in the link" >&2
  exit 1
fi
echo "check-reproducible-image: $image: two links give identical bytes ($(sha256sum "$image" | cut -c1-16))"
