#!/usr/bin/env python3
"""Shows the notice driver at work in real firmware: builds an OVMF image that
carries the driver and six pictures, boots it headless under QEMU (TCG) with
the test application, and leaves the screen and the console in OUT.

Files left:

    OUT/screen.png    the screen while the notice is held
    OUT/console.log   the firmware console (serial port), terminal escapes removed
    OUT/run/          every run file (QEMU command, port logs, notice-sim's output)

    e2e/make_run.py --build-dir build/image --host-build build/host-gcc --out out [--scenario NAME]

BUILD_DIR is the image build (notice.efi, e2e/app/notice-e2e.efi); the
firmware image is kept in BUILD_DIR/firmware-images/demo and rebuilt only
when an input changes. HOST_BUILD is a host build: its notice-pack packs the
files, its demo-pictures/ holds the pictures, and its notice-sim runs the
same machine so the real screen can be checked against it pixel for pixel.

Exit status 0 when the run passed every check of run.py's scenario.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import run  # noqa: E402
from png_write import write_png_rgb  # noqa: E402
from qemu import ANSI_ESCAPE, read_ppm  # noqa: E402

NOTICE_MEANINGS = {
    0: "no notice",
    1: "notice 1, the embedded controller's state code 1",
    2: "notice 2, the embedded controller's flag bit",
    3: "notice 3, a critical level",
    4: "notice 4, no storage controller found",
    5: "notice 5, Secure Boot is off",
    6: "notice 6",
}
HOST_TARGETS = ["notice-pack", "notice-sim", "demo_pictures"]


def host_tools(host_build):
    """Builds (if needed) and returns notice-pack, notice-sim and the demo picture folder."""
    subprocess.run(["cmake", "--build", host_build, "--target"] + HOST_TARGETS, check=True,
                   stdout=subprocess.DEVNULL)
    tools = (os.path.join(host_build, "tools", "notice-pack", "notice-pack"),
             os.path.join(host_build, "tools", "notice-sim", "notice-sim"),
             os.path.join(host_build, "demo-pictures"))
    for path in tools[:2] + tuple(os.path.join(tools[2], "notice%d.bmp" % m) for m in range(1, 7)):
        if not os.path.exists(path):
            raise RuntimeError("%s not found after building %s" % (path, " ".join(HOST_TARGETS)))
    return tools


def run_arguments(args, notice_pack, notice_sim, pictures_dir, workdir):
    """The run.py settings for one firmware-mode run with the demo pictures."""
    return argparse.Namespace(
        build_dir=args.build_dir, driver=None, app=None, scenario=[args.scenario], all=False,
        code=run.PLAIN_CODE, secure_code=run.SECURE_CODE, driver_in_firmware=True, notice_pack=notice_pack,
        firmware_cache=os.path.join(args.build_dir, "firmware-images", "demo"), notice_sim=notice_sim,
        show_serial=False, timeout=args.timeout, workdir=workdir, demo_pictures=pictures_dir)


def keep_results(workdir, out):
    """OUT/screen.png and OUT/console.log from the run files; returns whether a screenshot exists."""
    serial = os.path.join(workdir, "serial.log")
    if os.path.exists(serial):
        with open(serial, "rb") as f:
            text = ANSI_ESCAPE.sub(b"", f.read()).replace(b"\r", b"")
        with open(os.path.join(out, "console.log"), "wb") as f:
            f.write(text)
    shot = os.path.join(workdir, "screen.ppm")
    if not os.path.exists(shot):
        return False
    width, height, pixels = read_ppm(shot)
    write_png_rgb(os.path.join(out, "screen.png"), width, height, pixels)
    return True


def main(argv=None):
    names = [s.name for s in run.SCENARIOS if s.runs_in_firmware()]
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", required=True, help="image build directory")
    parser.add_argument("--host-build", required=True, help="host build directory")
    parser.add_argument("--out", default="out", help="where screen.png and console.log go (default: out)")
    parser.add_argument("--scenario", default="plain", choices=names, help="the machine to boot (default: plain)")
    parser.add_argument("--timeout", type=float, default=180.0, help="hard limit for the QEMU run in seconds")
    args = parser.parse_args(argv)

    try:
        notice_pack, notice_sim, pictures_dir = host_tools(args.host_build)
    except (subprocess.CalledProcessError, RuntimeError, OSError) as error:
        print("make_run: the host tools are not there: %s" % error, file=sys.stderr)
        return 2
    os.makedirs(args.out, exist_ok=True)
    for name in ("screen.png", "console.log"):
        if os.path.exists(os.path.join(args.out, name)):
            os.unlink(os.path.join(args.out, name))
    root = os.path.abspath(os.path.join(args.out, "run"))
    shutil.rmtree(root, ignore_errors=True)
    status = run.run_scenarios(run_arguments(args, notice_pack, notice_sim, pictures_dir, root))
    scenario = next(s for s in run.SCENARIOS if s.name == args.scenario)
    have_screen = keep_results(os.path.join(root, scenario.name), args.out)
    if status != 0:
        print("make_run: the %s run failed (see above); files in %s" % (scenario.name, root))
        return status
    # The run passed only if the real screen, console and ports equal the simulator's, so its notice is the one shown.
    with open(os.path.join(root, scenario.name, "notice-sim", "summary.json")) as f:
        shown = [n["notice_mode"] for n in json.load(f)["notifications"]]
    print("make_run: %s appeared (scenario %s: %s); the screen equals notice-sim's pixel for pixel."
          % (" then ".join(NOTICE_MEANINGS.get(m, "notice %d" % m) for m in shown) or "no notice",
             scenario.name, scenario.about))
    print("make_run: %s%s" % (os.path.join(args.out, "screen.png") + ", " if have_screen else "",
                              os.path.join(args.out, "console.log")))
    return 0


if __name__ == "__main__":
    sys.exit(main())
