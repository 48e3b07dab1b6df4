#!/usr/bin/env python3
"""notice-insert: puts FFS files (the notice driver and pictures that
notice-pack --ffs-out writes) into the DXE volume of an existing firmware
image, so the firmware's DXE core dispatches the driver and serves the
pictures.

    notice-insert --base OVMF_CODE_4M.fd --out OVMF_CODE_4M.notice.fd [--replace] FILE.ffs... | --ffs-dir DIR
    notice-insert --base OVMF_CODE_4M.fd --check FILE.ffs... | --ffs-dir DIR

The DXE volume is the volume that holds the DXE core file: one of the image's
own volumes, or one inside a volume-image file, uncompressed or LZMA-
compressed (OVMF's layout). Every header on the way is checked first, and a
damaged image is refused with what is wrong and where. The files go into the
volume's free space (patching.py); a compressed volume is compressed again
with the LZMA settings its header names (lzma_codec.py). The result is read
back and every file checked before it is written, through a temporary file
renamed over --out: a refusal or failure leaves every file as it was.

--check does all of that but the write: it answers "would these files fit",
with the room that binds.

Exit status: 0 written (or, with --check, would fit); 1 refused (does not
fit, damaged or unsupported image, a file that cannot be read or written);
2 bad usage.
"""

import argparse
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import firmware_volume as fv  # noqa: E402
import input_files  # noqa: E402
import patching  # noqa: E402
import safe_output  # noqa: E402

PROGRAM = "notice-insert"
# The files whose change changes what notice-insert writes, for callers that keep its output.
SOURCE_FILES = tuple(
    os.path.join(HERE, name)
    for name in (
        "notice_insert.py",
        "patching.py",
        "dxe_volume.py",
        "firmware_volume.py",
        "lzma_codec.py",
        "input_files.py",
        "safe_output.py",
    )
)
MAX_BASE_SIZE = 64 << 20  # a firmware image; OVMF's are 2 and 4 MB
MAX_FFS_SIZE = fv.MAX_SIZE24  # what an FFS2 file's size field can say
MAX_FFS_FILES = 256
FIX_ROOM = "use smaller pictures (fewer colours, smaller size) or a firmware build with a larger DXE volume"
FIX_DAMAGE = "start from an undamaged image (the firmware build's own output)"


class UsageError(Exception):
    """A command line that cannot be run; exit status 2."""


class InputFile:
    """An FFS file given on the command line: where it came from and its checked bytes."""

    def __init__(self, path, data):
        self.path = path
        self.data = data
        self.name = fv.read_file_header(data, 0, len(data)).name


def check_ffs_input(path, data):
    """A complete FFS file we can place, or InputError naming the file (not the base image)."""
    try:
        patching.check_new_file(data)
    except fv.UnsupportedImage as error:
        raise input_files.InputError("%s %s" % (path, error)) from None
    except fv.FirmwareFormatError as error:
        raise input_files.InputError(
            "%s is not an FFS file: %s; give the files notice-pack --ffs-out writes" % (path, error)
        ) from None
    return InputFile(path, data)


def ffs_input_paths(args):
    """The FFS files to read: those named, then those of --ffs-dir; --out may be none of them."""
    paths = list(args.ffs)
    if args.ffs_dir:
        paths += input_files.ffs_paths_in(args.ffs_dir, MAX_FFS_FILES)
    if len(paths) > MAX_FFS_FILES:
        raise input_files.InputError("%d FFS files given; notice-insert takes at most %d" % (len(paths), MAX_FFS_FILES))
    for path in paths:
        if args.out and same_file(args.out, path):
            raise UsageError("--out %s is one of the files given to read; give another path" % args.out)
    return paths


def read_ffs_inputs(paths):
    inputs = [check_ffs_input(path, input_files.read_limited(path, MAX_FFS_SIZE, "FFS file")) for path in paths]
    names = [i.name for i in inputs]
    for given in inputs:
        if names.count(given.name) > 1:
            raise input_files.InputError(
                "file %s is given twice (%s); give each file once"
                % (fv.guid_text(given.name), " and ".join(i.path for i in inputs if i.name == given.name))
            )
    return inputs


class Parser(argparse.ArgumentParser):
    def error(self, message):
        raise UsageError(message)


class Once(argparse.Action):
    """An option that may be given once: a second time is a usage error, not a silent override."""

    def __call__(self, parser, namespace, values, option_string=None):
        if getattr(namespace, self.dest) not in (None, False):
            raise UsageError("%s is given twice; give it once" % option_string)
        setattr(namespace, self.dest, True if self.nargs == 0 else values)


def parse_arguments(argv):
    parser = Parser(
        prog=PROGRAM,
        description=__doc__.split("\n\n")[0],
        epilog="Exit status: 0 written (or would fit), 1 refused, 2 bad usage.",
        allow_abbrev=False,
    )
    parser.add_argument("--base", action=Once, help="the firmware image to start from (read only)")
    parser.add_argument("--out", action=Once, help="the image to write (same size as --base; may be --base)")
    parser.add_argument(
        "--replace",
        action=Once,
        nargs=0,
        default=False,
        help="replace files of the same name already in the DXE volume (otherwise refused)",
    )
    parser.add_argument(
        "--check",
        action=Once,
        nargs=0,
        default=False,
        help="do everything but write: say whether the files fit and the room left",
    )
    parser.add_argument("--ffs-dir", action=Once, help="every .ffs file of this folder (notice-pack --ffs-out)")
    parser.add_argument("ffs", nargs="*", metavar="FILE.ffs", help="FFS files to put in")
    args, extra = parser.parse_known_args(argv)
    if extra:
        unknown = [a for a in extra if a.startswith("-")]
        raise UsageError("unknown option %s" % unknown[0] if unknown else "unexpected argument %s" % extra[0])
    if not args.base:
        raise UsageError("--base is missing: name the firmware image to start from")
    if not args.out and not args.check:
        raise UsageError("--out is missing: name the image to write (or give --check to write nothing)")
    if not args.ffs and not args.ffs_dir:
        raise UsageError("no FFS files given: name them or give --ffs-dir")
    return args


def same_file(a, b):
    try:
        return os.path.samefile(a, b)
    except OSError:
        return os.path.realpath(a) == os.path.realpath(b)


def usage_message(message):
    for argparse_words, ours in (("expected one argument", "needs a value"),):
        if message.startswith("argument ") and argparse_words in message:
            option = message[len("argument ") :].split(":")[0].split("/")[0]
            return "%s %s" % (option, ours)
    return message


def room_text(patched):
    if patched.binding == patching.OUTER_ROOM:
        return "room left: {:,} bytes of the volume at 0x{:x} for the compressed volume-image file".format(
            patched.room_left, patched.dxe.outer_volume.offset
        )
    return "room left: {:,} bytes free in the DXE volume".format(patched.room_left)


def sizes_text(inputs, costs=None):
    parts = []
    for i, given in enumerate(inputs):
        text = "{} {:,} bytes".format(given.path, len(given.data))
        if costs is not None:
            text += ", ~{:,} compressed".format(costs[i])
        parts.append(text)
    return "; ".join(parts)


def does_not_fit_text(error, inputs):
    """Which limit binds, by how much, and what each file costs."""
    dxe = error.dxe
    if error.limit == patching.OUTER_ROOM:
        return (
            "the files do not fit: the compressed volume-image file {} at 0x{:x} would be {:,} bytes, and the "
            "volume at 0x{:x} has {:,} bytes from the file's start ({:,} too many); the DXE volume inside would "
            "keep {:,} bytes free; each file, inside and compressed: {}".format(
                fv.guid_text(dxe.outer_file.name),
                dxe.outer_file.offset,
                error.need,
                dxe.outer_volume.offset,
                error.room,
                error.need - error.room,
                error.dxe_free,
                sizes_text(inputs, error.costs),
            )
        )
    return (
        "the files do not fit: the DXE volume ({}) has {:,} bytes free{}, the files need {:,} ({:,} too many); "
        "sizes: {}".format(
            dxe.describe(),
            error.room,
            " counting the files replaced and those after them" if error.counting_replaced else "",
            error.need,
            error.need - error.room,
            sizes_text(inputs),
        )
    )


class RoomError(Exception):
    """The files do not fit; the message says where and by how much."""


def run(args):
    """Does the work; returns the line to print on success. Raises the errors main() words."""
    started = time.monotonic()
    paths = ffs_input_paths(args)
    pending = safe_output.PendingOutput(args.out) if args.out else None
    try:
        inputs = read_ffs_inputs(paths)
        base = input_files.read_limited(args.base, MAX_BASE_SIZE, "firmware image")
        new_files = [i.data for i in inputs]
        try:
            patched = patching.patch_image(base, new_files, args.replace)
        except patching.DoesNotFit as error:
            raise RoomError(does_not_fit_text(error, inputs)) from None
        patching.verify_patched(patched.image, new_files, base, patched.kept_files, patched.span)
        files = "%d file%s" % (len(inputs), "" if len(inputs) == 1 else "s")
        where = "(%d replaced) in the DXE volume (%s); %s" % (
            len(patched.placement.replaced),
            patched.dxe.describe(),
            room_text(patched),
        )
        if args.check:
            return "%s: %s would fit %s; nothing written (--check, %.1f s)" % (
                args.base,
                files,
                where,
                time.monotonic() - started,
            )
        pending.commit(patched.image)
        return "wrote %s: %s put %s (%.1f s)" % (args.out, files, where, time.monotonic() - started)
    finally:
        if pending is not None:
            pending.discard()


def main(argv=None):
    try:
        args = parse_arguments(sys.argv[1:] if argv is None else argv)
    except UsageError as error:
        return report("%s (see --help)" % usage_message(str(error)), 2)
    try:
        line = run(args)
    except UsageError as error:
        return report("%s (see --help)" % error, 2)
    except (input_files.InputError, safe_output.OutputError) as error:
        return report(str(error), 1)
    except RoomError as error:
        return report("%s: %s; nothing written: %s" % (args.base, error, FIX_ROOM), 1)
    except patching.ReadBackFailed as error:
        return report(
            "%s: %s; nothing written. This is a fault of notice-insert's: please report it with the files given"
            % (args.base, error),
            1,
        )
    except fv.UnsupportedImage as error:
        return report("%s: %s; nothing written" % (args.base, error), 1)
    except fv.FirmwareFormatError as error:
        return report("%s is damaged: %s; nothing written: %s" % (args.base, error, FIX_DAMAGE), 1)
    except MemoryError:
        return report("%s: ran out of memory; nothing written: run it where more memory is free" % args.base, 1)
    except KeyboardInterrupt:
        return report("interrupted; nothing written", 130)
    except Exception as error:  # a fault of the tool's own: still one line, and nothing written
        return report(
            "internal error (%s: %s); nothing written: please report it with the files given"
            % (type(error).__name__, error),
            1,
        )
    print("%s: %s" % (PROGRAM, line))
    return 0


def report(message, status):
    print("%s: %s" % (PROGRAM, message), file=sys.stderr)
    return status


if __name__ == "__main__":
    sys.exit(main())
