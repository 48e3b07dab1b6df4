"""notice-sim on the machine a scenario describes: its command line, the run,
and what it recorded (notice, console lines, port writes, screen).

notice-sim runs the driver's own code on the simulated platform, so what it
wrote to the embedded controller's ports is what the driver's decision asks
of a controller that reads the scenario's byte everywhere.
"""

import dataclasses
import json
import os
import subprocess

from png_read import read_png_rgb
from scenarios import EC_ABSENT

EC_REGISTER_COUNT = 256  # the controller's address space: the stand-in answers every register alike


@dataclasses.dataclass
class SimulatorRecord:
    """One notice-sim run: its output folder and what it recorded, or why it failed."""

    out: str
    failure: str = None  # notice-sim's exit status and output when it failed
    modes: list = dataclasses.field(default_factory=list)
    console: list = dataclasses.field(default_factory=list)
    port_writes: dict = dataclasses.field(default_factory=dict)
    screen: tuple = None  # (width, height, RGB bytes), read only when asked for


def simulator_arguments(scenario, width, height, picture_files):
    """notice-sim options describing the same machine as the scenario."""
    args = ["--screen", "%dx%d" % (width, height)]
    if scenario.boot_disk == "virtio":
        args += ["--pci", "virtio=01.00.00"]  # a virtio block device is mass storage, subclass 0
    if scenario.machine == "pc":
        args += ["--pci", "ide=01.01.80"]
    else:
        args += ["--pci", "sata=01.06.01"] + (["--pci", "nvme0=01.08.02"] if scenario.nvme else [])
    args += ["--secure-boot", "1" if scenario.secure_boot else "0"]
    if scenario.ec_byte == EC_ABSENT:
        args += ["--ec-kind", "absent"]
    else:
        # QEMU's stand-in gives the same byte whatever register is asked for.
        for register in range(EC_REGISTER_COUNT):
            args += ["--ec", "0x%02X=0x%02X" % (register, scenario.ec_byte)]
    for mode in range(1, 7):
        name = "PICTURE%d.BMP" % mode
        args += (
            ["--picture", "%d=%s" % (mode, picture_files[name])]
            if name in picture_files
            else ["--no-picture", str(mode)]
        )
    return args


def simulated_port_writes(out):
    """port -> bytes written, in order, from notice-sim's event log."""
    writes = {}
    with open(os.path.join(out, "events.jsonl")) as f:
        for line in f:
            event = json.loads(line)
            if event.get("kind") == "port_write":
                port, value = (int(str(event[k]), 0) for k in ("port", "value"))
                writes.setdefault(port, bytearray()).append(value & 0xFF)
    return {port: bytes(data) for port, data in writes.items()}


def simulated_console(out):
    """The driver's console texts in notice-sim's summary, one stripped line each."""
    with open(os.path.join(out, "summary.json")) as f:
        summary = json.load(f)
    lines = []
    for notification in summary.get("notifications", []):
        for text in notification.get("console", []):
            lines += [line.strip() for line in text.splitlines() if line.strip()]
    return summary, lines


def run_simulator(scenario, simulator, workdir, width, height, picture_files, want_screen):
    """Runs notice-sim on the same machine state and reads what it recorded; the command and its
    output go to WORKDIR/notice-sim-command.txt."""
    out = os.path.join(workdir, "notice-sim")
    command = [simulator, "--out", out] + simulator_arguments(scenario, width, height, picture_files)
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    output = result.stdout.decode(errors="replace")
    with open(os.path.join(workdir, "notice-sim-command.txt"), "w") as f:
        f.write(" ".join(command) + "\n" + output)
    if result.returncode != 0:
        return SimulatorRecord(out, failure="notice-sim failed (%d): %s" % (result.returncode, output.strip()))
    summary, console = simulated_console(out)
    return SimulatorRecord(
        out,
        modes=[n.get("notice_mode") for n in summary.get("notifications", [])],
        console=console,
        port_writes=simulated_port_writes(out),
        screen=read_png_rgb(os.path.join(out, "screen.png")) if want_screen else None,
    )
