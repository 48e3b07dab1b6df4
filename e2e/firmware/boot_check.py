#!/usr/bin/env python3
"""Boots a patched OVMF code image under QEMU (q35, TCG) and checks that the
firmware still reaches its boot manager with the notice driver inside.

Secure Boot off: the boot manager starts the firmware's own shell, which runs
startup.nsh from a small FAT disk: it lists the loaded images (the notice
driver must be among them, named NoticeDxe, i.e. the DXE core dispatched it
and its entry point returned success) and powers off, so QEMU exits by itself.

Secure Boot on: the unsigned shell is refused; the run passes when the boot
manager reports that it found nothing to boot, after which QEMU is stopped.

Either way a processor exception report on the serial port, a time-out or a
QEMU failure fails the run.

    boot_check.py --image OUT/OVMF_CODE_4M.notice.fd
    boot_check.py --image OUT/OVMF_CODE_4M.secboot.notice.fd --secure
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

OVMF_DIR = "/usr/share/OVMF"
PLAIN_VARS = os.path.join(OVMF_DIR, "OVMF_VARS_4M.fd")
SECURE_VARS = os.path.join(OVMF_DIR, "OVMF_VARS_4M.snakeoil.fd")
STARTUP_SCRIPT = "dh -p LoadedImage\r\nreset -s\r\n"
DRIVER_LOADED = "LoadedImage(NoticeDxe)"
NOTHING_TO_BOOT = "BdsDxe: No bootable option or device was found."
BOOT_MANAGER = re.compile(r"^BdsDxe: ", re.M)
EXCEPTION = re.compile(r"X64 Exception|!!!!")
ANSI_ESCAPE = re.compile(r"\x1b\[[0-9;?=]*[A-Za-z]|\x1b[()][A-Za-z0-9]")


def qemu_command(image, vars_copy, disk_dir, serial_log, secure):
    machine = "q35,smm=on" if secure else "q35"
    command = [
        "qemu-system-x86_64",
        "-machine",
        machine,
        "-accel",
        "tcg",
        "-nodefaults",
        "-vga",
        "std",
        "-m",
        "256",
        "-display",
        "none",
        "-no-reboot",
        "-nic",
        "none",
        "-drive",
        "if=pflash,format=raw,unit=0,readonly=on,file=%s" % image,
        "-drive",
        "if=pflash,format=raw,unit=1,file=%s" % vars_copy,
        "-drive",
        "file=fat:rw:%s,format=raw,if=virtio" % disk_dir,
        "-serial",
        "file:%s" % serial_log,
    ]
    if secure:
        command += ["-global", "driver=cfi.pflash01,property=secure,value=on"]
    return command


def read_serial(path):
    try:
        with open(path, "rb") as f:
            text = f.read().decode("latin-1")
    except FileNotFoundError:
        return ""
    return ANSI_ESCAPE.sub("", text).replace("\r", "")


def run(image, secure, timeout_s, workdir):
    vars_copy = os.path.join(workdir, "vars.fd")
    shutil.copyfile(SECURE_VARS if secure else PLAIN_VARS, vars_copy)
    disk_dir = os.path.join(workdir, "disk")
    os.makedirs(disk_dir)
    with open(os.path.join(disk_dir, "startup.nsh"), "w", newline="") as f:
        f.write(STARTUP_SCRIPT)
    serial_log = os.path.join(workdir, "serial.log")
    command = qemu_command(os.path.abspath(image), vars_copy, disk_dir, serial_log, secure)
    started = time.monotonic()
    qemu = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    exited = None
    try:
        while time.monotonic() - started < timeout_s:
            exited = qemu.poll()
            serial = read_serial(serial_log)
            if exited is not None or EXCEPTION.search(serial) or (secure and NOTHING_TO_BOOT in serial):
                break
            time.sleep(0.5)
    finally:
        if qemu.poll() is None:
            qemu.terminate()
            try:
                qemu.wait(timeout=10)
            except subprocess.TimeoutExpired:
                qemu.kill()
                qemu.wait()
    elapsed = time.monotonic() - started
    serial = read_serial(serial_log)
    qemu_output = qemu.stdout.read().decode("utf-8", "replace").strip()

    problems = []
    if EXCEPTION.search(serial):
        problems.append("processor exception reported on the serial port")
    if not BOOT_MANAGER.search(serial):
        problems.append("the boot manager never reported on the serial port")
    if secure:
        if NOTHING_TO_BOOT not in serial:
            problems.append("no '%s' line within %.0f s" % (NOTHING_TO_BOOT, timeout_s))
    else:
        if DRIVER_LOADED not in serial:
            problems.append("the shell did not list %s" % DRIVER_LOADED)
        if exited != 0:
            problems.append("QEMU did not power off by itself (status %s)" % exited)
    return problems, serial, qemu_output, elapsed


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--image", required=True, help="patched OVMF code image")
    parser.add_argument("--secure", action="store_true", help="Secure Boot on (smm, snakeoil variables)")
    parser.add_argument("--timeout", type=float, default=150.0, help="seconds before the run counts as hung")
    parser.add_argument("--keep", help="directory to keep the serial log in")
    args = parser.parse_args(argv)

    with tempfile.TemporaryDirectory(prefix="boot_check.") as workdir:
        problems, serial, qemu_output, elapsed = run(args.image, args.secure, args.timeout, workdir)
        if args.keep:
            os.makedirs(args.keep, exist_ok=True)
            shutil.copyfile(os.path.join(workdir, "serial.log"), os.path.join(args.keep, "serial.log"))
    boot_lines = [line for line in serial.splitlines() if line.startswith("BdsDxe: ") or DRIVER_LOADED in line]
    for line in boot_lines:
        print("  serial: %s" % line.strip())
    if qemu_output:
        print("  qemu: %s" % qemu_output)
    for problem in problems:
        print("FAIL: %s" % problem)
    print(
        "boot_check: %s (%s): %s in %.1f s"
        % (args.image, "Secure Boot" if args.secure else "plain", "FAILED" if problems else "passed", elapsed)
    )
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
