"""notice-sim on the machine a run's firmware reported: its command line, the
run, and what it recorded (notices, console lines, port writes, controllers
connected, whether it drew, its screen).

notice-sim runs the driver's own code on the simulated platform, so what it
wrote to the embedded controller's ports is what the driver's decision asks
of a controller that reads the case's byte everywhere.
"""

import dataclasses
import json
import os
import subprocess

from cases import EC_ABSENT
from png_read import read_png_rgb

EC_REGISTER_COUNT = 256  # the controller's address space: the stand-in answers every register alike
DEFAULT_SCREEN = (1280, 800)  # what notice-sim is given when the firmware reported no mode


@dataclasses.dataclass
class SimulatorRecord:
    """One notice-sim run: its output folder and what it recorded, or why it failed."""

    out: str
    failure: str = None  # notice-sim's exit status and output when it failed
    modes: list = dataclasses.field(default_factory=list)  # the notice of each notification
    console: list = dataclasses.field(default_factory=list)
    last_console: list = dataclasses.field(default_factory=list)  # the last notification's lines, as printed
    port_writes: dict = dataclasses.field(default_factory=dict)
    connected: list = dataclasses.field(default_factory=list)
    blts: list = dataclasses.field(default_factory=list)  # whether each notification drew
    reasons: list = dataclasses.field(default_factory=list)  # each notification's why-not-drawn, "" when drawn
    screen: tuple = None  # (width, height, RGB bytes) when the machine has a graphics output
    sentence: str = ""  # notice-sim's own account, its last output line


def screen_of(facts):
    return facts.get("GopWidth", DEFAULT_SCREEN[0]), facts.get("GopHeight", DEFAULT_SCREEN[1])


def simulator_arguments(case, facts, volumes):
    """notice-sim options for the machine the firmware reported: the case's PCI functions only where
    the firmware offers PCI I/O, its graphics output and mode, Secure Boot and the EC, and the very
    picture files (mode -> path) of the first two volumes that hold any, in the order the
    application saw them."""
    args = ["--screen", "%dx%d" % screen_of(facts), "--secure-boot", "1" if case.secure_boot else "0"]
    if case.ec_byte == EC_ABSENT:
        args += ["--ec-kind", "absent"]
    else:
        # QEMU's stand-in gives the same byte whatever register is asked for.
        for register in range(EC_REGISTER_COUNT):
            args += ["--ec", "0x%02X=0x%02X" % (register, case.ec_byte)]
    args += ["--triggers", str(case.triggers)]
    for function in case.pci_functions() if facts.get("PciIoHandles", 0) else ["none"]:
        args += ["--pci", function]
    if not facts.get("GopModes", 0):
        args.append("--no-gop")
    if len(volumes) > 2:  # notice-sim models two volumes; one without notice pictures changes no lookup
        volumes = [v for v in volumes if v]
    if len(volumes) > 2:
        raise ValueError("%d volumes hold notice pictures; notice-sim models two" % len(volumes))
    first, second = (list(volumes) + [{}, {}])[:2]
    for mode in range(1, 7):
        args += ["--picture", "%d=%s" % (mode, first[mode])] if mode in first else ["--no-picture", str(mode)]
    for mode, path in sorted(second.items()):
        args += ["--second-volume", "%d=%s" % (mode, path)]
    return args


def volume_order(firmware_volumes, application_volume, facts):
    """The volumes in the order the firmware lists them: its own, with the application's at the index
    the application found it (first when the firmware offers no volume of its own)."""
    volumes = list(firmware_volumes)
    index = min(facts.get("PictureVolumeIndex", 0), len(volumes)) if facts.get("FirmwareVolumeHandles", 0) else 0
    volumes.insert(index, application_volume)
    return volumes


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


def console_lines(texts):
    return [line.strip() for text in texts for line in text.splitlines() if line.strip()]


def read_record(out, output, want_screen):
    """What notice-sim recorded in OUT (summary.json, events.jsonl, screen.png)."""
    with open(os.path.join(out, "summary.json")) as f:
        summary = json.load(f)
    notifications = summary.get("notifications", [])
    lines = [line for line in output.splitlines() if line.strip()]
    return SimulatorRecord(
        out,
        modes=[n.get("notice_mode") for n in notifications],
        console=console_lines(text for n in notifications for text in n.get("console", [])),
        last_console=[
            line
            for text in (notifications[-1].get("console", []) if notifications else [])
            for line in text.splitlines()
            if line.strip()
        ],
        port_writes=simulated_port_writes(out),
        connected=summary.get("connected", []),
        blts=[n.get("blt") for n in notifications],
        reasons=[n.get("reason") or "" for n in notifications],
        screen=read_png_rgb(os.path.join(out, "screen.png")) if want_screen else None,
        sentence=lines[-1] if lines else "",
    )


def run_simulator(notice_sim, out, args, want_screen):
    """Runs notice-sim with these options into OUT and reads what it recorded; the command and its output
    go to OUT-command.txt."""
    command = [notice_sim, "--out", out] + args
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
    output = result.stdout.decode(errors="replace")
    with open(out + "-command.txt", "w") as f:
        f.write(" ".join(command) + "\n" + output)
    if result.returncode != 0:
        return SimulatorRecord(out, failure="notice-sim failed (%d): %s" % (result.returncode, output.strip()))
    return read_record(out, output, want_screen)
