#!/usr/bin/env python3
"""Cross-checks the firmware artefacts of make_images.py with UEFIExtract, a
firmware parser that shares no code with notice-pack or notice-insert.

What it checks:

- notice.fv parses as an FFS2 volume with valid checksums, holding exactly the
  driver (DXE driver, named NoticeDxe) and the six pictures; each section it
  extracts equals, byte for byte, the notice.efi or BMP that went in;
- each patched OVMF image lists the same files in its DXE volume (next to
  DxeCore), keeps every file of the original image, draws no complaint from
  the parser that the original does not, and the sections the parser pulls
  out through its own LZMA decoder equal the inputs;
- so does the plain image after notice-insert --replace of the driver file.

    check_image.py --dir OUT --driver IMAGE_BUILD/notice.efi

Exit status 0 when every check passed.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_images  # noqa: E402

DRIVER_GUID = "1E16495C-074B-42D0-884C-5729229B3EEB"
PICTURE_GUIDS = {
    1: "2F1FF10D-A01F-48D8-AEFA-A5DF027BFBF6",
    2: "D667348E-1827-4DF0-8D56-847211257F85",
    3: "8CCA080A-4A46-4E16-9AA7-57D6853071BB",
    4: "E98CCA77-61E4-474C-8660-5B10B8A0F128",
    5: "C6E37D95-A12F-4321-AB6C-A0EB9708100A",
    6: "748A836A-D16D-43DC-997C-98B3220A096B",
}
# What UEFIExtract says of any volume that is not a whole flash image.
NOT_A_FLASH_IMAGE = "not a single Volume Top File is found"


class Checks:
    def __init__(self):
        self.failures = []
        self.passed = 0

    def check(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failures.append(what)
            print("FAIL: %s" % what)


class Entry:
    """One line of a UEFIExtract report."""

    def __init__(self, line):
        fields = [f.strip() for f in line.split("|")]
        self.kind, self.subtype = fields[0], fields[1]
        self.size = int(fields[3], 16)
        name = fields[5]
        self.depth = len(name) - len(name.lstrip("-"))
        self.name = name.lstrip("-").strip()
        self.text = fields[6] if len(fields) > 6 else ""
        self.volume = None  # name of the innermost enclosing volume


def parse_report(path):
    entries = []
    volumes = {}  # depth -> volume name
    with open(path, encoding="utf-8", errors="replace") as f:
        lines = f.read().splitlines()[1:]
    for line in lines:
        if line.count("|") < 5:
            continue
        entry = Entry(line)
        enclosing = [d for d in volumes if d < entry.depth]
        entry.volume = volumes[max(enclosing)] if enclosing else None
        if entry.kind == "Volume":
            volumes = {d: v for d, v in volumes.items() if d < entry.depth}
            volumes[entry.depth] = entry.name
        entries.append(entry)
    return entries


def run_uefiextract(uefiextract, image, workdir, *args):
    """Runs the parser on a private copy (it writes next to its input) and
    returns (copy path, messages it printed)."""
    copy = os.path.join(workdir, os.path.basename(image))
    if not os.path.exists(copy):
        shutil.copyfile(image, copy)
    result = subprocess.run([uefiextract, copy, *args], capture_output=True, text=True, timeout=120)
    messages = {line.strip() for line in result.stdout.splitlines() + result.stderr.splitlines() if line.strip()}
    return copy, result.returncode, messages


def extract_sections(uefiextract, image, workdir, wanted):
    """wanted: list of (file GUID, section type). Returns {(guid, type): bytes or None}."""
    outs = [os.path.join(workdir, "x%d" % i) for i in range(len(wanted))]
    args = (
        [g for g, _ in wanted]
        + ["-o"]
        + outs
        + ["-m"]
        + ["body"] * len(wanted)
        + ["-t"]
        + ["%02X" % t for _, t in wanted]
    )
    run_uefiextract(uefiextract, image, workdir, *args)
    found = {}
    for (guid, section_type), out in zip(wanted, outs):
        path = os.path.join(out, "body.bin")
        found[(guid, section_type)] = open(path, "rb").read() if os.path.exists(path) else None
    return found


def expected_inputs(args):
    inputs = {
        (DRIVER_GUID, 0x10): open(args.driver, "rb").read(),
        (DRIVER_GUID, 0x15): (make_images.DRIVER_NAME + "\0").encode("utf-16-le"),
    }
    for mode, guid in PICTURE_GUIDS.items():
        with open(os.path.join(args.dir, "pictures", "notice%d.bmp" % mode), "rb") as f:
            inputs[(guid, 0x19)] = f.read()
    return inputs


def check_sections(checks, uefiextract, image, workdir, inputs, label):
    found = extract_sections(uefiextract, image, workdir, list(inputs))
    for key, want in inputs.items():
        got = found[key]
        checks.check(
            got == want,
            "%s: section type 0x%02X of %s: extracted %s bytes, want %d equal bytes"
            % (label, key[1], key[0], "no" if got is None else len(got), len(want)),
        )


def check_our_files(checks, entries, label, volume=None):
    files = {e.name: e for e in entries if e.kind == "File"}
    driver = files.get(DRIVER_GUID)
    checks.check(
        driver is not None and driver.subtype == "DXE driver" and driver.text == make_images.DRIVER_NAME,
        "%s: %s listed as DXE driver %s" % (label, DRIVER_GUID, make_images.DRIVER_NAME),
    )
    ours = [driver] + [files.get(g) for g in PICTURE_GUIDS.values()]
    for mode, guid in PICTURE_GUIDS.items():
        entry = files.get(guid)
        checks.check(
            entry is not None and entry.subtype == "Freeform",
            "%s: picture %d %s listed as Freeform" % (label, mode, guid),
        )
    if volume is not None:
        checks.check(
            all(e is not None and e.volume == volume for e in ours),
            "%s: every notice file sits in volume %s" % (label, volume),
        )
    return files


def check_volume(checks, args, uefiextract, workdir):
    label = "notice.fv"
    image = os.path.join(args.dir, "notice.fv")
    copy, status, messages = run_uefiextract(uefiextract, image, workdir)
    checks.check(status == 0, "%s: UEFIExtract status %d" % (label, status))
    checks.check(all(NOT_A_FLASH_IMAGE in m for m in messages), "%s: parser complaints %s" % (label, sorted(messages)))
    entries = parse_report(copy + ".report.txt")
    files = check_our_files(checks, entries, label)
    checks.check(len(files) == 1 + len(PICTURE_GUIDS), "%s: holds %d files, want 7" % (label, len(files)))
    infos = []
    for root, _, names in os.walk(copy + ".dump"):
        if "info.txt" in names:
            with open(os.path.join(root, "info.txt"), encoding="utf-8", errors="replace") as f:
                infos.append((root, f.read()))
    for root, info in infos:
        checks.check("invalid" not in info, "%s: %s reports something invalid" % (label, root))
        if "Type: File" in info:
            checks.check(
                "State: F8h" in info and "Data checksum: AAh, valid" in info and "Header checksum:" in info,
                "%s: %s header state/checksums" % (label, root),
            )
        if "Type: Volume" in info:
            checksum_line = next((line for line in info.splitlines() if line.startswith("Checksum:")), "")
            checks.check(
                "Erase polarity: 1" in info and checksum_line.endswith(", valid"),
                "%s: volume erase polarity and header checksum" % label,
            )
    check_sections(checks, uefiextract, image, workdir, expected_inputs(args), label)


def check_patched(checks, args, uefiextract, workdir, name, base, image=None):
    label = name
    image = image or os.path.join(args.dir, name)
    checks.check(os.path.getsize(image) == os.path.getsize(base), "%s: same size as %s" % (label, base))
    base_copy, _, base_messages = run_uefiextract(uefiextract, base, os.path.join(workdir, "base"), "report")
    copy, status, messages = run_uefiextract(uefiextract, image, workdir, "report")
    checks.check(status == 0, "%s: UEFIExtract status %d" % (label, status))
    checks.check(messages <= base_messages, "%s: new parser complaints %s" % (label, sorted(messages - base_messages)))
    base_entries = parse_report(base_copy + ".report.txt")
    entries = parse_report(copy + ".report.txt")
    dxe_core = [e for e in entries if e.kind == "File" and e.text == "DxeCore"]
    checks.check(len(dxe_core) == 1, "%s: one DxeCore file listed" % label)
    dxe_volume = dxe_core[0].volume if dxe_core else None
    check_our_files(checks, entries, label, dxe_volume)
    base_files = sorted(e.name for e in base_entries if e.kind == "File")
    ours = {DRIVER_GUID, *PICTURE_GUIDS.values()}
    kept = sorted(e.name for e in entries if e.kind == "File" and e.name not in ours)
    checks.check(kept == base_files, "%s: the original %d files are all still there" % (label, len(base_files)))
    check_sections(checks, uefiextract, image, workdir, expected_inputs(args), label)


def check_replaced(checks, args, uefiextract, workdir):
    """notice-insert --replace of the driver file in the plain image: the driver
    moves behind the pictures and the parser still finds everything intact."""
    os.makedirs(os.path.join(workdir, "base"))
    name, base = next(iter(make_images.base_images(args.firmware).items()))
    replaced = os.path.join(workdir, "replaced-" + name)
    driver_ffs = os.path.join(args.dir, "ffs", DRIVER_GUID + ".ffs")
    status = make_images.notice_insert.main(
        ["--base", os.path.join(args.dir, name), "--out", replaced, "--replace", driver_ffs]
    )
    checks.check(status == 0, "notice-insert --replace %s: status %d" % (driver_ffs, status))
    if status == 0:
        check_patched(checks, args, uefiextract, workdir, "replaced-" + name, base, replaced)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--dir", required=True, help="output directory of make_images.py")
    parser.add_argument("--driver", required=True, help="the notice.efi that was packed")
    parser.add_argument("--uefiextract", default="UEFIExtract")
    parser.add_argument(
        "--firmware", default=make_images.firmwares.DEFAULT, help="the firmware the images are based on"
    )
    args = parser.parse_args(argv)
    args.firmware = make_images.firmwares.by_name(args.firmware)
    if shutil.which(args.uefiextract) is None:
        print("check_image: %s not found" % args.uefiextract, file=sys.stderr)
        return 2

    started = time.monotonic()
    checks = Checks()
    with tempfile.TemporaryDirectory(prefix="check_image.") as workdir:
        for sub in ("fv", "plain", "secure"):
            os.makedirs(os.path.join(workdir, sub))
        check_volume(checks, args, args.uefiextract, os.path.join(workdir, "fv"))
        for (name, base), sub in zip(make_images.base_images(args.firmware).items(), ("plain", "secure")):
            os.makedirs(os.path.join(workdir, sub, "base"))
            check_patched(checks, args, args.uefiextract, os.path.join(workdir, sub), name, base)
        check_replaced(checks, args, args.uefiextract, os.path.join(workdir, "replaced"))
    print(
        "check_image: %d checks passed, %d failed (%.1f s)"
        % (checks.passed, len(checks.failures), time.monotonic() - started)
    )
    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
