#!/usr/bin/env bash
# Checks the driver image's PE32+ headers and reports its size.
set -euo pipefail
image=${1:?usage: check-image.sh notice.efi}

headers=$(llvm-readobj --file-headers "$image")
fail() { echo "check-image: $image: $*" >&2; exit 1; }

grep -q 'Machine: IMAGE_FILE_MACHINE_AMD64' <<<"$headers" || fail "machine is not AMD64"
grep -q 'Magic: 0x20B' <<<"$headers" || fail "not a PE32+ image"
grep -q 'Subsystem: IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER (0xB)' <<<"$headers" || fail "subsystem is not 11"
grep -q 'IMAGE_FILE_RELOCS_STRIPPED' <<<"$headers" && fail "relocations are stripped"

size=$(stat -c %s "$image")
echo "check-image: $image: AMD64 PE32+, EFI boot-service driver, relocatable, $size bytes"
if [ "$size" -gt 8192 ]; then
  echo "check-image: warning: $size bytes is above the 8 KiB budget" >&2
fi
