#!/usr/bin/python3
"""Property test of notice-insert over real OVMF images, with Hypothesis.

Each example takes one of the images and damages it: bytes and fields of
its volume, file and section headers (sometimes with the checksum mended,
so that the checks behind it are reached), the LZMA header and data, the
headers inside the compressed DXE content (compressed again, quickly), or
cuts it short; and gives FFS files that may be damaged too, lie about their
size, or not be FFS files at all. notice-insert then runs as a user runs it,
in a child with 512 MiB of address space. The property:

- exit status 0 only when the output reads back with every file given
  intact, read by UEFIExtract (which shares no code with notice-insert),
  and UEFIExtract says nothing about it that it did not say about the
  images given;
- otherwise exit status 1, one line on standard error starting with the
  tool's name, and every file it was given or told to write as it was;
- never a traceback, an internal error or a kill.

    /usr/bin/python3 tools/notice-insert/fuzz_notice_insert.py --seconds 60 [--database DIR]

Hypothesis is Debian's python3-hypothesis, which only the system's Python
sees; hence /usr/bin/python3. --database keeps failing examples (and
replays them first) in DIR. Prints examples per minute, what was refused
and written, and the slowest and largest runs.
"""

import argparse
import collections
import lzma
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
try:
    import hypothesis
    from hypothesis import strategies as st
    from hypothesis.database import DirectoryBasedExampleDatabase
except ImportError:
    print(
        "fuzz_notice_insert: needs Hypothesis (Debian's python3-hypothesis, seen by /usr/bin/python3; "
        "scripts/install-deps.sh installs it)",
        file=sys.stderr,
    )
    sys.exit(2)

import dxe_volume  # noqa: E402
import firmware_volume as fv  # noqa: E402
import patching  # noqa: E402
import synthetic_images as si  # noqa: E402
import tool_run  # noqa: E402

IMAGES = ("/usr/share/OVMF/OVMF_CODE_4M.fd", "/usr/share/OVMF/OVMF_CODE.fd")
UEFIEXTRACT = "UEFIExtract"
PICTURE_NAMES = (
    "2F1FF10D-A01F-48D8-AEFA-A5DF027BFBF6",
    "D667348E-1827-4DF0-8D56-847211257F85",
    "8CCA080A-4A46-4E16-9AA7-57D6853071BB",
)
CHILD_TIMEOUT = 600
# UEFIExtract's readers of section bodies notice-insert does not interpret: a damaged body
# inside sound sections (a DEPEX one byte longer, into its alignment padding) is carried
# through as it came, and is no fault when UEFIExtract says the same of the image given.
SECTION_BODY_READERS = ("parseDepexSectionBody", "parsePeImageSectionBody", "parseTeImageSectionBody")


def picture_file(name, body):
    return si.ffs_file(uuid.UUID(name), 0x02, [si.section(fv.SECTION_RAW, body)])


def stripes(length):
    """Picture-like bytes: compressible, but not to nothing."""
    row = bytes((i * 7) & 0xFF for i in range(997))
    return (row * (length // len(row) + 1))[:length]


# The FFS files an example may give: small and larger pictures, and one that
# cannot fit once compressed (incompressible, larger than OVMF_CODE.fd's room).
FFS_FILES = {
    "small": picture_file(PICTURE_NAMES[0], b"BM" + bytes(200)),
    "stripes": picture_file(PICTURE_NAMES[1], stripes(60000)),
    "noise": picture_file(PICTURE_NAMES[2], random.Random(20).randbytes(400000)),
}


class Landmarks:
    """Where the structures of an image are: byte ranges worth damaging, and fields worth lying in."""

    def __init__(self, image):
        self.image = image
        self.ranges = []
        self.fields = []  # (label, offset, width in bytes, what to mend afterwards)
        self.checksums = []  # (label, offset, width, None): fields only a checksum check catches
        for volume in dxe_volume.top_level_volumes(bytearray(image)):
            self.add_volume(image, volume, self.ranges, self.fields, self.checksums)
        dxe = dxe_volume.find_dxe_volume(bytearray(image))
        self.dxe = dxe
        lzma_at = dxe.section.offset + dxe.guided.data_offset
        self.ranges += [
            ("LZMA header", lzma_at, lzma_at + 13),
            ("LZMA data start", lzma_at + 13, lzma_at + 77),
            ("LZMA data end", dxe.section.end - 64, dxe.section.end),
        ]
        self.fields += [
            ("LZMA properties", lzma_at, 1, None),
            ("LZMA dictionary", lzma_at + 1, 4, None),
            ("LZMA size", lzma_at + 5, 8, None),
            ("guided data offset", dxe.guided.section.body_offset + 16, 2, ("file", dxe.outer_file.offset)),
        ]
        self.ranges.append(("anywhere", 0, len(image)))
        self.content = bytes(dxe.buffer)
        self.inner_ranges = []
        self.inner_fields = []
        for inner in dxe_volume.inner_volumes(dxe.buffer, 0, len(dxe.buffer)):
            self.add_volume(dxe.buffer, inner, self.inner_ranges, self.inner_fields, self.inner_fields, files_wanted=12)
        self.cuts = sorted({end for _, _, end in self.ranges} | {start for _, start, _ in self.ranges})

    @staticmethod
    def add_volume(buf, volume, ranges, fields, checksums, files_wanted=None):
        at = volume.offset
        ranges.append(("volume header", at, at + volume.header_length))
        checksums += [("volume checksum", at + 50, 2, None), ("volume zero vector", at, 1, None)]
        fields += [
            ("volume length", at + 32, 8, ("volume", at)),
            ("volume header length", at + 48, 2, ("volume", at)),
            ("volume ext header offset", at + 52, 2, ("volume", at)),
            ("volume revision", at + 55, 1, ("volume", at)),
            ("block count", at + 56, 4, ("volume", at)),
            ("block length", at + 60, 4, ("volume", at)),
        ]
        files, free = fv.read_files(buf, volume)
        if free < volume.end:
            ranges.append(("free space", free, min(free + 64, volume.end)))
        step = max(1, len(files) // files_wanted) if files_wanted else 1
        for f in files[::step]:
            ranges.append(("file header", f.offset, f.offset + 24))
            checksums += [("file header checksum", f.offset + 16, 1, None), ("file checksum", f.offset + 17, 1, None)]
            fields += [
                ("file size", f.offset + 20, 3, ("file", f.offset)),
                ("file attributes", f.offset + 19, 1, ("file", f.offset)),
                ("file state", f.offset + 23, 1, None),
            ]
            if f.type in fv.SECTIONED_FILE_TYPES:
                for s in fv.file_sections(buf, f)[:3]:
                    ranges.append(("section header", s.offset, s.offset + 4))
                    fields.append(("section size", s.offset, 3, ("file", f.offset)))


def mend(buf, what):
    """Recomputes the checksum a field edit broke, so that the checks behind it are reached."""
    kind, at = what
    if kind == "volume":
        si.reseal_volume_header(buf, at)
    else:
        si.reseal_file_header(buf, at)


def interesting_values(width, original):
    top = (1 << (8 * width)) - 1
    values = [0, 1, top, top >> 1, original + 1, original - 1, original + 8, original * 2, original // 2]
    return st.one_of(st.sampled_from([v & top for v in values]), st.integers(0, top))


@st.composite
def byte_edit(draw, ranges):
    """A byte changed (by a mask of 1 to 0xff) somewhere in one of `ranges`,
    each kind of range (volume header, file header, ...) as likely as another."""
    labels = sorted({label for label, _, _ in ranges})
    label = draw(st.sampled_from(labels))
    label, start, end = draw(st.sampled_from([r for r in ranges if r[0] == label]))
    offset = draw(st.integers(start, max(start, end - 1)))
    return ("byte", label, offset, draw(st.integers(1, 255)))


@st.composite
def field_edit(draw, fields, buf):
    label, offset, width, mended = draw(st.sampled_from(fields))
    original = int.from_bytes(buf[offset : offset + width], "little")
    value = draw(interesting_values(width, original).filter(lambda v: v != original))
    return ("field", label, offset, width, value, mended if draw(st.booleans()) else None)


def apply_edits(buf, edits):
    for edit in edits:
        if edit[0] == "byte":
            buf[edit[2]] ^= edit[3]
        else:
            _, _, offset, width, value, mended = edit
            buf[offset : offset + width] = value.to_bytes(width, "little")
            if mended is not None:
                mend(buf, mended)


def rebuilt_with_content(marks, content):
    """The image with its compressed DXE content replaced by `content`, compressed quickly."""
    dxe = marks.dxe
    fast = {"id": lzma.FILTER_LZMA1, "dict_size": 1 << 20, "mode": lzma.MODE_FAST}
    packed = b"\x5d" + struct.pack("<IQ", 1 << 20, len(content))
    packed += lzma.compress(bytes(content), format=lzma.FORMAT_RAW, filters=[fast])
    image = bytearray(marks.image)
    new_file = patching.rebuild_outer_file(image, dxe, packed)
    start, end = dxe.outer_file.offset, dxe.outer_volume.end
    if len(new_file) > end - start:
        return None
    image[start:end] = new_file + b"\xff" * (end - start - len(new_file))
    return bytes(image)


@st.composite
def base_damage(draw, all_marks):
    """(image index, kind, edits): how an example damages one of the images. Small, so that a
    failing example prints short; damaged_image() makes the bytes."""
    index = draw(st.integers(0, len(all_marks) - 1))
    marks = all_marks[index]
    kind = draw(st.sampled_from(["fields", "bytes", "checksums", "inner", "none", "fields", "bytes", "cut"]))
    if kind == "inner":
        edit = st.one_of(byte_edit(marks.inner_ranges), field_edit(marks.inner_fields, marks.content))
        return index, kind, draw(st.lists(edit, min_size=1, max_size=2))
    if kind == "bytes":
        return index, kind, draw(st.lists(byte_edit(marks.ranges), min_size=1, max_size=3))
    if kind == "fields":
        return index, kind, draw(st.lists(field_edit(marks.fields, marks.image), min_size=1, max_size=2))
    if kind == "checksums":
        return index, kind, [draw(field_edit(marks.checksums, marks.image))]
    if kind == "cut":
        at = draw(st.sampled_from(marks.cuts)) + draw(st.integers(-8, 8))
        return index, kind, [("cut", max(0, min(len(marks.image) - 1, at)))]
    return index, kind, []


def damaged_image(marks, kind, edits):
    """The bytes of an image damaged as base_damage() describes, or None when they cannot be made."""
    if kind == "inner":
        content = bytearray(marks.content)
        apply_edits(content, edits)
        return rebuilt_with_content(marks, content)
    if kind == "cut":
        return marks.image[: edits[0][1]]
    image = bytearray(marks.image)
    apply_edits(image, edits)
    return bytes(image)


FFS_DAMAGES = ["header byte", "size", "cut", "grown", "not FFS", "none"]


@st.composite
def ffs_inputs(draw):
    """[(file key, damage, parameters)]: one to three of FFS_FILES, each perhaps damaged."""
    chosen = draw(st.lists(st.sampled_from(sorted(FFS_FILES)), min_size=1, max_size=3, unique=True))
    # Half the examples give sound files, so that the image's damage decides.
    damaged = draw(st.booleans())
    given = []
    for key in chosen:
        damage = draw(st.sampled_from(FFS_DAMAGES)) if damaged else "none"
        if damage == "header byte":
            parameters = (draw(st.integers(0, 23)), draw(st.integers(1, 255)))
        elif damage == "size":
            parameters = (draw(st.integers(0, 0xFFFFFF)), draw(st.booleans()))
        elif damage == "cut":
            parameters = draw(st.integers(0, len(FFS_FILES[key]) - 1))
        elif damage == "grown":
            parameters = draw(st.integers(1, 16))
        elif damage == "not FFS":
            parameters = draw(st.binary(min_size=0, max_size=64))
        else:
            parameters = None
        given.append((key, damage, parameters))
    return given


def ffs_bytes(key, damage, parameters):
    data = bytearray(FFS_FILES[key])
    if damage == "header byte":
        data[parameters[0]] ^= parameters[1]
    elif damage == "size":
        data[20:23] = parameters[0].to_bytes(3, "little")
        if parameters[1]:
            si.reseal_file_header(data)
    elif damage == "cut":
        data = data[:parameters]
    elif damage == "grown":
        data += bytes(parameters)
    elif damage == "not FFS":
        data = bytearray(b"\x89PNG\r\n\x1a\n" + parameters)
    return bytes(data)


class Findings(Exception):
    pass


class Stats:
    def __init__(self):
        self.examples = 0
        self.outcomes = collections.Counter()
        self.slowest = {}  # outcome -> (seconds, what)
        self.largest = (0, "")
        self.failing = False  # a failure was found: every example runs, for Hypothesis to shrink it
        self.carried = 0  # written with damage inside a section body carried through (SECTION_BODY_READERS)

    def add(self, outcome, result, what):
        self.examples += 1
        self.outcomes[outcome] += 1
        if result.seconds > self.slowest.get(outcome, (0, ""))[0]:
            self.slowest[outcome] = (result.seconds, what)
        if result.max_rss_kb > self.largest[0]:
            self.largest = (result.max_rss_kb, what)


def outcome_of(result):
    if result.status == 0:
        return "written"
    if "do not fit: the compressed" in result.stderr:
        return "refused after recompressing"
    return "refused"


def uefiextract_view(image_path, names, work):
    """(messages, {name: bytes of the whole file or None}) as UEFIExtract reads `image_path`."""
    copy = os.path.join(work, "copy.fd")
    shutil.copyfile(image_path, copy)
    outs = [os.path.join(work, "x%d" % i) for i in range(len(names))]
    args = [UEFIEXTRACT, copy, *names, "-o", *outs, "-m", *(["file"] * len(names))]
    done = subprocess.run(args, capture_output=True, text=True, timeout=300)
    messages = {line.strip() for line in (done.stdout + done.stderr).splitlines() if line.strip()}
    messages = {m for m in messages if not m.startswith(("Removed directory", "Guid "))}
    found = {}
    for name, out in zip(names, outs):
        path = os.path.join(out, "file.ffs")
        found[name] = open(path, "rb").read() if os.path.exists(path) else None
        shutil.rmtree(out, ignore_errors=True)
    os.unlink(copy)
    shutil.rmtree(copy + ".dump", ignore_errors=True)
    return messages, found


def check_example(marks, base, damage, inputs, replace, out_is_base, stats, scratch):
    work = tempfile.mkdtemp(dir=scratch)
    try:
        base_path = os.path.join(work, "base.fd")
        with open(base_path, "wb") as f:
            f.write(base)
        paths = []
        for name, data, _ in inputs:
            paths.append(os.path.join(work, name))
            with open(paths[-1], "wb") as f:
                f.write(data)
        out = base_path if out_is_base else os.path.join(work, "out.fd")
        watched = [base_path, *paths, out]
        before = tool_run.fingerprint(watched)
        listing = tool_run.folder_listing(work)
        args = ["--base", base_path, "--out", out, *(["--replace"] if replace else []), *paths]
        result = tool_run.run_measured(args, work, timeout=CHILD_TIMEOUT)
        what = "%s; inputs %s" % (damage, [(n, d) for n, _, d in inputs])
        stats.add(outcome_of(result), result, what)
        faults = []
        if "Traceback" in result.stderr or "internal error" in result.stderr:
            faults.append("a traceback or internal error")
        if result.status == 0:
            faults += written_faults(result, out, inputs, base, marks, work, stats)
        else:
            faults += tool_run.refusal_faults(result, (1,))
            if tool_run.fingerprint(watched) != before:
                faults.append("a file changed although the run was refused")
            if tool_run.folder_listing(work) != listing:
                faults.append("files left behind: %s" % sorted(set(tool_run.folder_listing(work)) - set(listing)))
        if faults:
            raise Findings(
                "%s: %s; status %d, stdout %r, stderr %r" % (what, faults, result.status, result.stdout, result.stderr)
            )
    finally:
        shutil.rmtree(work, ignore_errors=True)


def written_faults(result, out, inputs, base, marks, work, stats):
    faults = []
    if result.stderr or len(result.stdout.splitlines()) != 1 or not result.stdout.startswith(tool_run.PREFIX):
        faults.append("a success that is not one line on standard output")
    if os.path.getsize(out) != len(base):
        faults.append("the output is %d bytes, the base %d" % (os.path.getsize(out), len(base)))
    names = [str(uuid.UUID(bytes_le=data[:16])).upper() for _, data, _ in inputs]
    messages, found = uefiextract_view(out, names, work)
    for (file_name, data, _), name in zip(inputs, names):
        if found[name] != data:
            faults.append("UEFIExtract does not find %s (%s) intact" % (file_name, name))
    new = messages - marks.messages
    if new:
        given = os.path.join(work, "given.fd")
        with open(given, "wb") as f:
            f.write(base)
        given_messages, _ = uefiextract_view(given, names[:1], work)
        carried = {m for m in new & given_messages if m.split(":")[0] in SECTION_BODY_READERS}
        stats.carried += bool(carried)
        new -= carried
    if new:
        faults.append("UEFIExtract says of the output what it does not of the undamaged image: %s" % sorted(new))
    return faults


def run_property(all_marks, seconds, database, scratch, seed=None):
    stats = Stats()
    started = time.monotonic()
    settings = hypothesis.settings(
        max_examples=50,
        deadline=None,
        database=database,
        suppress_health_check=list(hypothesis.HealthCheck),
        report_multiple_bugs=False,
    )

    @settings
    @hypothesis.given(base_damage(all_marks), ffs_inputs(), st.booleans(), st.booleans())
    def property_holds(damage, given, replace, out_is_base):
        # Past the time given the rest of the batch passes untried, unless a failure is being
        # narrowed down: Hypothesis then runs its shrunk examples, and the last one again to report it.
        if not stats.failing and time.monotonic() - started >= seconds:
            return
        index, kind, edits = damage
        marks = all_marks[index]
        base = damaged_image(marks, kind, edits)
        hypothesis.assume(base is not None)
        inputs = [(key + ".ffs", ffs_bytes(key, how, parameters), how) for key, how, parameters in given]
        try:
            check_example(marks, base, (kind, edits), inputs, replace, out_is_base, stats, scratch)
        except Findings:
            stats.failing = True
            raise

    batch = 0
    while time.monotonic() - started < seconds:
        # With a seed every batch of examples is the same on every run (CI's short
        # run stays reproducible); without one each run tries new ones.
        (hypothesis.seed(seed + batch)(property_holds) if seed is not None else property_holds)()
        batch += 1
    return stats, time.monotonic() - started


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=60, help="how long to generate examples (default 60)")
    parser.add_argument("--database", help="folder keeping failing examples between runs")
    parser.add_argument("--seed", type=int, help="the same examples on every run, from this seed (default: new ones)")
    parser.add_argument("--image", action="append", help="a firmware image to start from (default: OVMF's)")
    args = parser.parse_args(argv)
    images = args.image or list(IMAGES)
    missing = [p for p in images if not os.path.exists(p)]
    if missing or shutil.which(UEFIEXTRACT) is None:
        print(
            "fuzz_notice_insert: needs %s and UEFIExtract (packages ovmf, uefitool-cli)"
            % " and ".join(missing or images),
            file=sys.stderr,
        )
        return 2
    scratch = tempfile.mkdtemp(prefix="fuzz-notice-insert-")
    try:
        all_marks = []
        for path in images:
            with open(path, "rb") as f:
                marks = Landmarks(f.read())
            marks.messages, _ = uefiextract_view(path, [PICTURE_NAMES[0]], scratch)
            all_marks.append(marks)
        database = DirectoryBasedExampleDatabase(args.database) if args.database else None
        try:
            stats, elapsed = run_property(all_marks, args.seconds, database, scratch, args.seed)
        except Findings as finding:
            print("fuzz_notice_insert: FAIL: %s" % finding, file=sys.stderr)
            return 1
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print(
        "fuzz_notice_insert: %d examples in %.0f s (%.1f a minute), 0 findings: %s"
        % (
            stats.examples,
            elapsed,
            stats.examples * 60 / elapsed,
            ", ".join("%d %s" % (n, k) for k, n in sorted(stats.outcomes.items())),
        )
    )
    if stats.carried:
        print(
            "  %d written carrying damage inside a section body, as UEFIExtract also saw it in the input"
            % stats.carried
        )
    for outcome, (seconds, what) in sorted(stats.slowest.items()):
        print("  slowest %s: %.1f s (%s)" % (outcome, seconds, what))
    print("  largest: %d MB resident (%s)" % (stats.largest[0] // 1024, stats.largest[1]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
