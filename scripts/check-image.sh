#!/usr/bin/env bash
# Checks the driver image: PE32+ headers, general-purpose registers only,
# sections ready for page protection, size within budget. Reports the raw size
# and the LZMA-compressed size (what the image adds to a compressed firmware
# volume).
set -euo pipefail
usage="usage: check-image.sh IMAGE.efi (checks the driver image: headers, registers, page protection, size)"
case "${1:-}" in
  -h | --help) echo "$usage"; exit 0 ;;
  "" | -*) echo "check-image: ${1:-no image given}: $usage" >&2; exit 2 ;;
esac
[ $# -eq 1 ] || { echo "check-image: one image at a time; $usage" >&2; exit 2; }
image=$1
[ -f "$image" ] || { echo "check-image: $image: no such file; build it with 'make image'" >&2; exit 2; }

readonly SIZE_BUDGET=8192
readonly PAGE_SIZE=4096

headers=$(llvm-readobj --file-headers "$image")
sections=$(llvm-readobj --sections "$image")
fail() { echo "check-image: $image: $*" >&2; exit 1; }

grep -q 'Machine: IMAGE_FILE_MACHINE_AMD64' <<<"$headers" || fail "machine is not AMD64"
grep -q 'Magic: 0x20B' <<<"$headers" || fail "not a PE32+ image"
grep -q 'Subsystem: IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER (0xB)' <<<"$headers" || fail "subsystem is not 11"
grep -q 'IMAGE_FILE_RELOCS_STRIPPED' <<<"$headers" && fail "relocations are stripped"

# General-purpose registers only: firmware may leave SSE disabled, where any
# instruction on an XMM, YMM or ZMM register faults.
disassembly=$(llvm-objdump -d --no-show-raw-insn "$image") || fail "llvm-objdump cannot disassemble the image"
vector=$(grep -E '%[xyz]mm[0-9]' <<<"$disassembly" || true)
[ -z "$vector" ] || fail "instructions use vector registers (SSE/AVX); the image must be built with -mgeneral-regs-only:
$(head -5 <<<"$vector")"

# Page protection: every section starts on its own page, none is both writable
# and executable, and read-only data has a section of its own, not code's.
section_alignment=$(sed -n 's/^ *SectionAlignment: //p' <<<"$headers")
file_alignment=$(sed -n 's/^ *FileAlignment: //p' <<<"$headers")
[ "$section_alignment" = "$PAGE_SIZE" ] || fail "section alignment is $section_alignment, not $PAGE_SIZE (page protection needs whole pages)"
[ "$file_alignment" -le 512 ] || fail "file alignment $file_alignment wastes file size; use 512 or less"
SECTIONS=$sections python3 - "$image" <<'PY' || exit 1
import os
import re, sys
image = sys.argv[1]
text = os.environ["SECTIONS"]
faults = []
names = []
for block in text.split("Section {")[1:]:
    name = re.search(r"Name: (\S+)", block).group(1)
    address = int(re.search(r"VirtualAddress: (0x[0-9A-F]+)", block).group(1), 16)
    flags = set(re.findall(r"IMAGE_SCN_\w+", block))
    names.append(name)
    if address % 4096:
        faults.append(f"section {name} starts at 0x{address:X}, not on a page boundary")
    if "IMAGE_SCN_MEM_WRITE" in flags and "IMAGE_SCN_MEM_EXECUTE" in flags:
        faults.append(f"section {name} is both writable and executable")
    if name == ".rdata" and "IMAGE_SCN_MEM_EXECUTE" in flags:
        faults.append("read-only data is executable")
if ".rdata" not in names:
    faults.append("no separate read-only data section (is .rdata merged into code?)")
for fault in faults:
    print(f"check-image: {image}: {fault}", file=sys.stderr)
sys.exit(1 if faults else 0)
PY

size=$(stat -c %s "$image")
compressed=$(python3 -c 'import lzma, sys; print(len(lzma.compress(open(sys.argv[1], "rb").read(), format=lzma.FORMAT_ALONE)))' "$image")
[ "$size" -le "$SIZE_BUDGET" ] || fail "$size bytes ($compressed LZMA-compressed) is above the $SIZE_BUDGET-byte budget;" \
  "find the bytes with llvm-objdump -d and a link map (lld-link /lldmap) before adding code"
echo "check-image: $image: AMD64 PE32+, EFI boot-service driver, relocatable, no vector instructions," \
  "page-aligned W^X sections; $size bytes, $compressed LZMA-compressed"
