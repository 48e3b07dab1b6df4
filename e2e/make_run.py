#!/usr/bin/env python3
"""Shows the notice driver at work in real firmware: builds an OVMF image that
carries the driver and six pictures, boots it headless under QEMU (TCG) with
the test application, and leaves the screen and the console in OUT.

Files left:

    OUT/screen.png    the screen while the notice is held
    OUT/console.log   the firmware console (serial port), terminal escapes removed
    OUT/run/          every run file (QEMU command, port logs, notice-sim's output)

    e2e/make_run.py --build-dir build/image --host-build build/host-gcc --out out
        [--scenario NAME] [--pictures DIR | --code IMAGE] [--screen WxH] [--firmware NAME] [--preview]

BUILD_DIR is the image build (notice.efi, e2e/app/notice-e2e.efi); the
firmware image is kept in BUILD_DIR/firmware-images/demo and rebuilt only
when an input changes. HOST_BUILD is a host build: its notice-pack packs the
files, its demo-pictures/ holds the demo pictures, and its notice-sim runs
the same machine so the real screen can be checked against it pixel for
pixel. --pictures DIR puts DIR/notice1.bmp to notice6.bmp in place of the
demo pictures (any left out stay the demo ones). --screen WxH sets the
display resolution (SCREEN_RULE says which ones the firmware really starts
in). --preview runs the same machine on notice-sim alone (OUT/preview/),
without QEMU or the image build. --code IMAGE boots a code image of your own
(one notice-insert made, carrying the driver and its pictures) with Secure
Boot off, the test application installing the trigger.

Before anything is built, notice-sim runs the machine with the chosen
pictures: what it shows (a picture too wide or too tall is not drawn, and
says why) is what the firmware must then show, and is reported in its words.
The firmware image's flash room is checked before it is built.

A scenario the firmware image cannot express (the driver refused for want of
a signature) boots the driver from disk instead. --firmware NAME boots
another firmware build (run.py --list names them).

Exit status 0 when the firmware did what notice-sim says it must, 1 when it
did not (or the pictures do not fit the firmware image), 2 on bad usage or
missing tools.
"""

import argparse
import contextlib
import dataclasses
import io
import os
import re
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import cases  # noqa: E402
import firmwares  # noqa: E402
import pictures  # noqa: E402
import pipeline  # noqa: E402
import user_pictures  # noqa: E402
from png_write import png_rgb  # noqa: E402
from qemu import ANSI_ESCAPE, read_ppm  # noqa: E402
from simulator import DEFAULT_SCREEN, run_simulator, simulator_arguments  # noqa: E402

NOTICE_MEANINGS = {
    0: "no notice",
    1: "notice 1 (the embedded controller's state code 1)",
    2: "notice 2 (the embedded controller's flag bit)",
    3: "notice 3 (a critical level)",
    4: "notice 4 (no storage controller found)",
    5: "notice 5 (Secure Boot is off)",
    6: "notice 6",
}
BOOT_ORDER_LINE = re.compile(rb"^BdsDxe: failed to load Boot\d+ .*NVMe.*$", re.M)
APP_REPORT = re.compile(rb"^E2E \w+( 0x[0-9A-F]+)?$")


def host_tools(host_build):
    """notice-pack, notice-sim and the demo picture folder of the host build."""
    tools = (
        os.path.join(host_build, "tools", "notice-pack", "notice-pack"),
        os.path.join(host_build, "tools", "notice-sim", "notice-sim"),
        os.path.join(host_build, "demo-pictures"),
    )
    for path in tools[:2] + tuple(os.path.join(tools[2], "notice%d.bmp" % m) for m in range(1, 7)):
        if not os.path.exists(path):
            raise RuntimeError("%s not found (make host-tools builds it)" % path)
    return tools


# The screens the firmware path really starts in, measured with QEMU 7.2's standard VGA on Debian 12's
# OVMF (2022.11) and Debian 13's (2025.02): OVMF starts in the xres/yres asked only while its frame
# buffer (4 bytes a pixel) fits the display's 16 MiB of video memory and each side is below 4096
# (2560x1600, 2048x2048, 4088x1024 and 640x480 started as asked on both; 2560x1640 started in 800x600,
# 4096x1024, 3840x2160 and 8000x8000 in 1280x800), Debian 13's only from 640x480 up (632x480, 640x472
# and 320x240 started in 1280x800 there, as asked on Debian 12's), and QEMU's display shows the width
# rounded down to 8 pixels (1366 and 100 wide showed 1360 and 96 columns while the graphics output
# reported 1366 and 100). One rule for every firmware make run boots: the screens all of them start in.
VIDEO_MEMORY_BYTES = 16 << 20
MAX_SCREEN_SIDE = 4095
MIN_SCREEN = (640, 480)
SCREEN_RULE = (
    "a width that is a multiple of 8 from %d to %d, a height from %d to %d, and width x height x 4 bytes "
    "within the standard VGA's 16 MiB (2560x1600 is the largest 16:10 screen, 3840x2160 does not fit)"
    % (MIN_SCREEN[0], MAX_SCREEN_SIDE // 8 * 8, MIN_SCREEN[1], MAX_SCREEN_SIDE)
)


def screen_size(text):
    """(width, height) of a WIDTHxHEIGHT the firmware starts in, or ArgumentTypeError saying the rule."""
    match = re.fullmatch(r"(\d{1,6})x(\d{1,6})", text)
    if not match:
        raise argparse.ArgumentTypeError("SCREEN=%s is not WIDTHxHEIGHT: give, say, 1024x768" % text)
    width, height = int(match.group(1)), int(match.group(2))
    faults = []
    if width % 8:
        faults.append("the width %d is not a multiple of 8" % width)
    if width < MIN_SCREEN[0] or height < MIN_SCREEN[1]:
        faults.append("it is smaller than %dx%d" % MIN_SCREEN)
    if max(width, height) > MAX_SCREEN_SIDE:
        faults.append("a side is longer than %d" % MAX_SCREEN_SIDE)
    if width * height * 4 > VIDEO_MEMORY_BYTES:
        faults.append("its frame buffer takes {:,} bytes, more than 16 MiB".format(width * height * 4))
    if faults:
        raise argparse.ArgumentTypeError(
            "SCREEN=%s: OVMF on QEMU's standard VGA would not show that screen (%s); give %s"
            % (text, ", ".join(faults), SCREEN_RULE)
        )
    return width, height


def case_of(config):
    """The scenario make run boots: inside the firmware image unless only the disk can express it, on a
    standard VGA of the chosen size."""
    case = cases.named(config.scenario, driver_in_firmware=True)
    if case.skip_reason():
        case = dataclasses.replace(case, driver="disk")
    if config.screen:
        case = dataclasses.replace(case, display="std-vga", resolution=config.screen)
    return case


def firmware_of(config):
    """The firmware to boot: a named build, or the user's own code image with that build's variable store."""
    firmware = firmwares.by_name(config.firmware)
    return firmwares.given(config.code, None, firmware) if config.code else firmware


def settings_of(config, notice_pack, notice_sim, pictures_dir, workdir):
    return pipeline.Settings(
        build_dir=config.build_dir,
        notice_pack=notice_pack,
        notice_sim=notice_sim,
        firmware_cache=os.path.join(config.build_dir, "firmware-images", "demo"),
        firmware=firmware_of(config),
        pictures_dir=None if config.code else pictures_dir,
        workdir=workdir,
        timeout=config.timeout,
        jobs=1,
    )


def console_text(serial):
    """The firmware console as a user reads it: terminal escapes and carriage returns removed, and
    neither the test application's reports (in the run's serial.log) nor the blank lines around them."""
    text = ANSI_ESCAPE.sub(b"", serial).replace(b"\r", b"")
    return b"".join(line + b"\n" for line in text.split(b"\n") if line.strip() and not APP_REPORT.match(line))


def keep_results(workdir, out):
    """OUT/screen.png and OUT/console.log from the run files; returns (screenshot kept, console text)."""
    text = b""
    serial = os.path.join(workdir, "serial.log")
    if os.path.exists(serial):
        with open(serial, "rb") as f:
            text = console_text(f.read())
        pipeline.write_file(os.path.join(out, "console.log"), text)
    shot = os.path.join(workdir, "screen.ppm")
    if not os.path.exists(shot):
        return False, text
    width, height, pixels = read_ppm(shot)
    pipeline.write_file(os.path.join(out, "screen.png"), png_rgb(width, height, pixels))
    return True, text


@dataclasses.dataclass
class Chosen:
    """The pictures a run uses: their folder (None: those inside the user's code image), where they came
    from, and what converting the user's pictures changed (mode -> lines)."""

    folder: str
    line: str
    own: dict = dataclasses.field(default_factory=dict)  # mode -> the user's file
    changes: dict = dataclasses.field(default_factory=dict)


def refuse_code_without_driver(code):
    """Raises RuntimeError unless the code image's DXE volume holds the driver's file (stock OVMF does not)."""
    from check_image import DRIVER_GUID  # e2e/firmware, on the path once pipeline is imported

    _, files = pipeline.read_code_image(code, "CODE=" + code)
    if not any(str(f.name).upper() == DRIVER_GUID for f in files):
        raise RuntimeError(
            "CODE=%s holds no driver file (%s) in its DXE volume, so no notice can appear: put the driver and "
            "pictures in with notice-insert (README: Getting the driver and pictures into a firmware)"
            % (code, DRIVER_GUID)
        )


def choose_pictures(config, demo_dir):
    """The pictures to use and a line saying where they came from."""
    if config.code:
        refuse_code_without_driver(config.code)
        return Chosen(None, "the pictures inside %s" % config.code)
    if not config.pictures:
        return Chosen(demo_dir, "the demo pictures")
    out = os.path.join(config.out, "pictures")
    prepared = user_pictures.prepare(config.pictures, demo_dir, out, config.host_build)
    own, demo = sorted(prepared.own), prepared.demo
    line = "pictures %s from %s" % (", ".join(map(str, own)), config.pictures)
    line += ", %s the demo ones" % ", ".join(map(str, demo)) if demo else ""
    return Chosen(out, line, prepared.own, prepared.changes)


def change_lines(label, chosen):
    """What converting each of the user's pictures changed, one line a change."""
    return [
        "%s: picture %d (%s) was changed to suit the driver: %s" % (label, mode, chosen.own[mode], change)
        for mode, changes in sorted(chosen.changes.items())
        for change in changes
    ]


def foresee(config, case, notice_sim, chosen, out):
    """notice-sim's run of the case's machine with the chosen pictures: what the firmware must then show."""
    if chosen.folder is None:
        files = pipeline.pictures_in_image(config.code, os.path.join(out, "pictures"))
    else:
        stored = pictures.stored(case.variant, pictures.picture_set("test", pictures_dir=chosen.folder))
        files = pictures.write_bmps(os.path.join(out, "pictures"), stored)
    width, height = config.screen or DEFAULT_SCREEN
    facts = {"PciIoHandles": 1, "GopModes": 1, "GopWidth": width, "GopHeight": height}
    return run_simulator(notice_sim, out, simulator_arguments(case, facts, [files]), want_screen=False), files


def expecting(case, sim):
    """The case as notice-sim foresees it with the user's pictures or screen: the console lines it printed
    and whether it drew, in place of what the scenario's own pictures give."""
    return dataclasses.replace(case, console=tuple(sim.console), drawn=any(sim.blts))


def outcome(sim):
    """What each notification showed, in notice-sim's words: the notice, and why nothing was drawn."""
    parts = []
    for mode, blt, reason in zip(sim.modes, sim.blts, sim.reasons):
        meaning = NOTICE_MEANINGS.get(mode, "notice %d" % mode)
        if not mode:
            parts.append("no notice was due")
        elif blt:
            parts.append("%s appeared" % meaning)
        else:
            parts.append("%s was due, but nothing was drawn: %s" % (meaning, reason or "notice-sim gives no reason"))
    return "; then ".join(parts) or "the driver was not notified"


def screen_words(report):
    """How the real screen compared with notice-sim's, from the run's notes."""
    for note in report.notes:
        if note == "notice-sim's screen: identical":
            return "the screen equals notice-sim's pixel for pixel"
        if note.startswith("notice-sim's screen: ") and "inside the console's text cells" in note:
            cells = note[note.index("(") + 1 : note.rindex(")")]
            return "the screen equals notice-sim's but for the console text OVMF draws (at %s)" % cells
    return "no screen to compare (no graphics output)"


def flash_refusal(config, case, notice_pack, files, chosen, workdir):
    """Why the driver and these pictures (mode -> BMP) will not fit the image make run builds, or None.
    notice-pack knows the room of Debian 12's OVMF images, the default firmware; on another the image
    build itself says (by notice-insert)."""
    firmware = firmware_of(config)
    if not (case.in_firmware() and files) or config.code or firmware.name != firmwares.DEFAULT:
        return None
    driver = os.path.join(config.build_dir, "notice.efi")
    if not os.path.isfile(driver):
        return None  # make preview does not build the image; make run does
    return user_pictures.flash_refusal(
        notice_pack, driver, files, chosen.own, firmware.code_image(case.secure_boot), workdir
    )


def preview(config, case, notice_pack, notice_sim, chosen):
    """The case's machine on notice-sim alone."""
    if not case.driver_runs():
        print(
            "make_preview: in scenario %s the firmware refuses the unsigned driver; there is nothing to simulate"
            % case.name
        )
        return 0
    out = os.path.join(config.out, "preview")
    record, files = foresee(config, case, notice_sim, chosen, out)
    if record.failure:
        print("make_preview: " + record.failure, file=sys.stderr)
        return 1
    width, height = config.screen or DEFAULT_SCREEN
    print(
        "make_preview: scenario %s (%s), %dx%d screen, %s, on the simulator in virtual time"
        % (case.name, case.about, width, height, chosen.line)
    )
    for line in change_lines("make_preview", chosen):
        print(line)
    print("make_preview: " + record.sentence)
    refusal = flash_refusal(config, case, notice_pack, files, chosen, os.path.join(out, "flash-check"))
    if refusal:
        print("make_preview: make run would refuse these files: " + refusal)
    print(
        "make_preview: %s, %s, %s" % tuple(os.path.join(out, n) for n in ("screen.png", "summary.json", "events.jsonl"))
    )
    return 0


FFS_PATH = re.compile(r"\S*/ffs/([0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})\.ffs")


def by_picture(text, chosen):
    """notice-insert's words with each FFS file of the image build named by what it holds."""
    from check_image import DRIVER_GUID, PICTURE_GUIDS  # e2e/firmware, on the path once pipeline is imported

    names = {guid: "picture %d (%s)" % (mode, chosen.own.get(mode, "demo")) for mode, guid in PICTURE_GUIDS.items()}
    names[DRIVER_GUID] = "the driver"
    return FFS_PATH.sub(lambda match: names.get(match.group(1), match.group(0)), text)


def other_mode(screen, facts):
    """The mode the firmware started in ("WxH") when it is not the screen asked, else None."""
    started = (facts.get("GopWidth"), facts.get("GopHeight"))
    if screen is None or None in started or started == tuple(screen):
        return None
    return "%dx%d" % started


def room_line(report):
    """notice-insert's words on the room that binds in the image booted, kept beside the image."""
    path = os.path.join(os.path.dirname(getattr(report, "code_image", "") or ""), pipeline.make_images.INSERT_REPORT)
    if not os.path.isfile(path):
        return None
    with open(path) as f:
        text = f.read()
    match = re.search(r"room left: [^;()]*", text)
    return match.group(0).strip() if match else None


def run_in_qemu(config, case, notice_pack, notice_sim, chosen):
    """The case's machine in QEMU; prints what appeared."""
    for name in ("screen.png", "console.log"):
        if os.path.exists(os.path.join(config.out, name)):
            os.unlink(os.path.join(config.out, name))
    root = os.path.abspath(os.path.join(config.out, "run"))
    shutil.rmtree(root, ignore_errors=True)
    firmware = firmware_of(config)
    if config.code:
        how = "the driver and pictures inside %s" % config.code
    elif case.in_firmware():
        how = "the driver and %s inside %s" % (chosen.line, firmware.name)
    else:
        how = "the driver loaded from disk (this scenario needs it unsigned)"
    for line in change_lines("make_run", chosen):
        print(line)
    files = {}
    if case.driver_runs():
        sim, files = foresee(config, case, notice_sim, chosen, os.path.join(root, "foreseen"))
        if sim.failure:
            print("make_run: " + sim.failure, file=sys.stderr)
            return 1
        if config.pictures or config.screen or config.code:
            # The scenario's expectations hold for its own pictures and screen; with the user's, notice-sim's.
            case = expecting(case, sim)
    refusal = flash_refusal(config, case, notice_pack, files, chosen, os.path.join(root, "flash-check"))
    if refusal:
        print("make_run: %s; nothing was built or booted" % refusal, file=sys.stderr)
        return 1
    print(
        "make_run: booting scenario %s (%s) with %s, %s screen; takes a minute or two"
        % (case.name, case.about, how, "%dx%d" % config.screen if config.screen else "the default")
    )
    # The run's full report goes to a file; it is shown only when the run failed.
    log = io.StringIO()
    status = None
    with contextlib.redirect_stdout(log):
        try:
            reports, _ = pipeline.run_cases([case], settings_of(config, notice_pack, notice_sim, chosen.folder, root))
        except pipeline.make_images.InsertRefused as error:
            reports, status = [], ("%s; nothing was booted" % by_picture(str(error), chosen), 1)
        except (RuntimeError, OSError, firmwares.FirmwareError) as error:
            reports, status = [], (str(error), 2)
    os.makedirs(root, exist_ok=True)
    with open(os.path.join(root, "report.txt"), "w") as f:
        f.write(log.getvalue())
    if status:
        print("make_run: %s" % status[0], file=sys.stderr)
        return status[1]
    report = reports[0]
    have_screen, console = keep_results(report.workdir, config.out)
    started_in = other_mode(config.screen, report.facts)
    if started_in:
        print(
            "make_run: SCREEN=%dx%d was asked, but %s started its display in %s, so the run shows another screen "
            "than the one foreseen; give %s (files in %s)"
            % (config.screen + (firmware.name, started_in, SCREEN_RULE, root)),
            file=sys.stderr,
        )
        return 1
    if report.status != "pass":
        print(log.getvalue(), end="")
        print("make_run: the %s run failed (see above); files in %s" % (case.name, root))
        return 1
    if case.driver_runs():
        # The run passed only if the real screen, console and ports equal the simulator's.
        console_words = (
            "; the driver printed %s, as notice-sim did" % ", ".join('"%s"' % line for line in report.sim.console)
            if report.sim.console
            else ""
        )
        print("make_run: %s%s; %s." % (outcome(report.sim), console_words, screen_words(report)))
        if report.sim.sentence:
            print("make_run: notice-sim: " + report.sim.sentence)
        timing = [note for note in report.notes if note.startswith("the driver's notice took")]
        if timing:
            print("make_run: " + timing[0])
    else:
        print("make_run: the firmware refused the unsigned driver, as it should under Secure Boot.")
    room = room_line(report) if case.in_firmware() and not config.code else None
    if room:
        print("make_run: the files fit %s; %s" % (os.path.basename(firmware.code_image(case.secure_boot)), room))
    boot_order = (
        " (its first line is the firmware trying the empty NVMe disk before the boot disk)"
        if BOOT_ORDER_LINE.search(console)
        else ""
    )
    print(
        "make_run: %s%s%s; every run file and the full report in %s"
        % (
            os.path.join(config.out, "screen.png") + ", " if have_screen else "",
            os.path.join(config.out, "console.log"),
            boot_order,
            root,
        )
    )
    return 0


class Parser(argparse.ArgumentParser):
    """Usage errors in one line, with the program's label, exit status 2."""

    def __init__(self, label, **kwargs):
        super().__init__(**kwargs)
        self.label = label

    def error(self, message):
        message = re.sub(r"^argument --screen: ", "", message)
        self.exit(2, "%s: %s\n" % (self.label, message))


def parse_arguments(argv=None, label="make_run"):
    parser = Parser(label, description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", required=True, help="image build directory")
    parser.add_argument("--host-build", required=True, help="host build directory")
    parser.add_argument("--out", default="out", help="where screen.png and console.log go (default: out)")
    parser.add_argument(
        "--scenario",
        default="plain",
        choices=[s.name for s in cases.SCENARIOS],
        help="the machine to boot (default: plain; run.py --list describes them)",
    )
    parser.add_argument("--pictures", metavar="DIR", help="notice1.bmp ... notice6.bmp (or .png) to use")
    parser.add_argument("--code", metavar="IMAGE", help="your own code image (notice-insert's) to boot")
    parser.add_argument("--screen", type=screen_size, metavar="WxH", help="display resolution (default 1280x800)")
    parser.add_argument("--firmware", default=firmwares.DEFAULT, choices=firmwares.NAMES[:-1], help="OVMF build")
    parser.add_argument("--preview", action="store_true", help="run the machine on notice-sim only")
    parser.add_argument("--timeout", type=float, default=pipeline.DEFAULT_TIMEOUT_S, help="per QEMU run, seconds")
    config = parser.parse_args(argv)
    if config.code and config.pictures:
        parser.error("CODE=%s boots the pictures inside that image: leave PICTURES= out" % config.code)
    if config.code and cases.named(config.scenario).secure_boot:
        parser.error(
            "CODE=%s boots with Secure Boot off: choose a scenario with Secure Boot off (%s)"
            % (config.code, ", ".join(s.name for s in cases.SCENARIOS if not s.secure_boot))
        )
    if config.code and not os.path.isfile(config.code):
        found = "no such file"
        if os.path.isdir(config.code):
            found = "is a folder"
        elif os.path.exists(config.code):
            found = "is not a regular file (a device, FIFO or socket)"
        parser.error("CODE=%s: %s; give the code image notice-insert wrote" % (config.code, found))
    return config


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    label = "make_preview" if "--preview" in argv else "make_run"
    config = parse_arguments(argv, label)
    case = case_of(config)

    try:
        notice_pack, notice_sim, demo_dir = host_tools(config.host_build)
    except RuntimeError as error:
        print("%s: the host tools are not there: %s" % (label, error), file=sys.stderr)
        return 2
    os.makedirs(config.out, exist_ok=True)
    try:
        chosen = choose_pictures(config, demo_dir)
    except (user_pictures.PictureError, OSError) as error:
        print("%s: %s" % (label, error), file=sys.stderr)
        return 2
    except RuntimeError as error:  # the user's code image
        print("%s: %s" % (label, error), file=sys.stderr)
        return 1
    try:
        if config.preview:
            return preview(config, case, notice_pack, notice_sim, chosen)
        return run_in_qemu(config, case, notice_pack, notice_sim, chosen)
    except RuntimeError as error:  # the user's code image cannot be read
        print("%s: %s" % (label, error), file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
