"""QEMU plumbing for firmware runs: one bounded QEMU process with its first
serial port on pipes and a QMP socket.

    with Machine(config, workdir) as m:
        m.start()
        m.wait_for_serial(rb"E2E TakePicture")
        m.screendump(path)
        m.send_serial(b"A")
        result = m.wait_for_exit()

Every wait is bounded by the machine's hard deadline; leaving the `with`
block kills a QEMU that is still running. A QMP STOP event (the guest
paused, e.g. after an emulation error) fails every later wait at once.
"""

import dataclasses
import json
import os
import re
import shutil
import socket
import subprocess
import threading
import time

ANSI_ESCAPE = re.compile(rb"\x1b\[[0-9;?=]*[A-Za-z]|\x1b[()][A-Za-z0-9]|\x1b[=>c78]")


class MachineFailure(Exception):
    """The run cannot go on: time-out, guest paused, QEMU gone, QMP error."""


@dataclasses.dataclass
class MachineConfig:
    """What to boot. Paths are host paths; disks are raw images."""

    firmware: str = "ovmf"  # "ovmf" (code and variables in flash) or "u-boot" (code as -bios)
    code: str = ""
    vars_template: str = ""  # copied for the run: the firmware writes its variables into the copy
    secure_boot: bool = False  # q35,smm=on plus the secure pflash
    machine: str = "q35"  # "pc" has no NVMe or SATA controller
    esp_image: str = ""  # FAT boot disk
    esp_interface: str = "virtio"  # how it is attached: "virtio" (virtio-blk) or "ide"
    esp_bootindex: int = None  # a boot index for it: the boot manager then connects only it
    controllers: list = dataclasses.field(default_factory=list)  # QEMU options of the added storage controllers
    port_standins: dict = dataclasses.field(default_factory=dict)  # port -> byte every read answers
    display: list = dataclasses.field(default_factory=lambda: ["-vga", "std"])  # QEMU options of the display
    memory_mb: int = 256
    timeout_s: float = 90.0  # hard limit for the whole run
    extra_args: list = dataclasses.field(default_factory=list)


@dataclasses.dataclass
class ExitResult:
    returncode: int
    shutdown_reason: str  # from the QMP SHUTDOWN event, "" if none came
    elapsed_s: float


class Machine:
    def __init__(self, config, workdir, qemu="qemu-system-x86_64"):
        self.config = config
        self.workdir = workdir
        self.qemu = qemu
        self.process = None
        self.started_at = None
        self.deadline = None
        self.events = []
        self.serial = bytearray()
        self.serial_arrivals = []  # (seconds since start, serial length after the chunk)
        self._lock = threading.Condition()
        self._qmp = None
        self._qmp_replies = []
        self._threads = []
        self._serial_log = None
        self._stderr_log = None

    # ---- set-up ------------------------------------------------------------

    def port_log(self, port):
        return os.path.join(self.workdir, "port%02x.log" % port)

    def command_line(self):
        c = self.config
        machine = c.machine + (",smm=on" if c.secure_boot else "")
        args = [self.qemu, "-machine", machine, "-accel", "tcg", "-nodefaults", *c.display, "-m", str(c.memory_mb)]
        args += ["-display", "none", "-no-reboot", "-nic", "none"] + self.firmware_args()
        if c.secure_boot:
            args += ["-global", "driver=cfi.pflash01,property=secure,value=on"]
        if c.esp_image and c.esp_bootindex is not None:
            device = "ide-hd,bus=ide.0,unit=0" if c.esp_interface == "ide" else "virtio-blk-pci"
            args += ["-drive", "file=%s,format=raw,if=none,id=esp0" % c.esp_image]
            args += ["-device", "%s,drive=esp0,bootindex=%d" % (device, c.esp_bootindex)]
        elif c.esp_image:
            args += ["-drive", "file=%s,format=raw,if=%s" % (c.esp_image, c.esp_interface)]
        args += list(c.controllers)
        for port, answer in sorted(c.port_standins.items()):
            name = "port%02x" % port
            args += ["-chardev", "file,id=%s,path=%s" % (name, self.port_log(port)), "-device"]
            args.append("isa-debugcon,iobase=0x%x,chardev=%s,readback=0x%x" % (port, name, answer))
        args += ["-serial", "stdio", "-qmp", "unix:%s,server=on,wait=off" % self._qmp_path()]
        return args + list(c.extra_args)

    def firmware_args(self):
        c = self.config
        if c.firmware == "u-boot":
            return ["-bios", c.code]
        if c.firmware != "ovmf":
            raise ValueError("unknown firmware %r (ovmf or u-boot)" % c.firmware)
        vars_copy = os.path.join(self.workdir, "vars.fd")
        shutil.copyfile(c.vars_template, vars_copy)
        code, variables = "if=pflash,format=raw,unit=0,readonly=on,file=", "if=pflash,format=raw,unit=1,file="
        return ["-drive", code + c.code, "-drive", variables + vars_copy]

    def _qmp_path(self):
        return os.path.join(self.workdir, "qmp.sock")

    def start(self):
        os.makedirs(self.workdir, exist_ok=True)
        for port in self.config.port_standins:
            open(self.port_log(port), "wb").close()
        if os.path.exists(self._qmp_path()):
            os.unlink(self._qmp_path())
        args = self.command_line()
        with open(os.path.join(self.workdir, "qemu-command.txt"), "w") as f:
            f.write(" ".join(args) + "\n")
        self._serial_log = open(os.path.join(self.workdir, "serial.log"), "wb")
        self._stderr_log = open(os.path.join(self.workdir, "qemu-stderr.log"), "wb")
        self.started_at = time.monotonic()
        self.deadline = self.started_at + self.config.timeout_s
        self.process = subprocess.Popen(
            args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self._stderr_log, cwd=self.workdir
        )
        self._spawn(self._read_serial)
        self._connect_qmp()
        self._spawn(self._read_qmp)
        self.qmp("qmp_capabilities")

    def _spawn(self, target):
        t = threading.Thread(target=target, daemon=True)
        t.start()
        self._threads.append(t)

    def _connect_qmp(self):
        while True:
            try:
                s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                s.connect(self._qmp_path())
                self._qmp = s
                self._qmp_file = s.makefile("rb")
                greeting = self._qmp_file.readline()
                if not greeting:
                    raise MachineFailure("QMP closed before its greeting")
                return
            except (FileNotFoundError, ConnectionRefusedError):
                s.close()
                if self.process.poll() is not None:
                    raise MachineFailure(
                        "QEMU exited at start (status %d): %s" % (self.process.returncode, self.stderr_text().strip())
                    )
                self._check_deadline("the QMP socket")
                time.sleep(0.05)

    # ---- reader threads ----------------------------------------------------

    def _read_serial(self):
        out = self.process.stdout
        while True:
            chunk = os.read(out.fileno(), 4096)
            if not chunk:
                break
            self._serial_log.write(chunk)
            self._serial_log.flush()
            with self._lock:
                self.serial += chunk
                self.serial_arrivals.append((time.monotonic() - self.started_at, len(self.serial)))
                self._lock.notify_all()
        with self._lock:
            self._lock.notify_all()

    def _read_qmp(self):
        try:
            for line in self._qmp_file:
                try:
                    message = json.loads(line)
                except ValueError:
                    continue
                with self._lock:
                    (self.events if "event" in message else self._qmp_replies).append(message)
                    self._lock.notify_all()
        except OSError:
            pass  # QEMU reset the socket as it quit
        with self._lock:
            self._lock.notify_all()

    # ---- waiting -----------------------------------------------------------

    def _check_deadline(self, what):
        if time.monotonic() >= self.deadline:
            raise MachineFailure("time-out after %.0f s waiting for %s" % (self.config.timeout_s, what))

    def stopped(self):
        return any(e["event"] == "STOP" for e in self.events) and not self.shutdown_event()

    def shutdown_event(self):
        for e in self.events:
            if e["event"] == "SHUTDOWN":
                return e
        return None

    def _wait(self, ready, what, timeout=None):
        """Waits (holding the lock) until ready() gives a true value."""
        limit = self.deadline if timeout is None else min(self.deadline, time.monotonic() + timeout)
        with self._lock:
            while True:
                value = ready()
                if value:
                    return value
                if self.stopped():
                    raise MachineFailure("guest paused (QMP STOP) while waiting for %s" % what)
                if self.process.poll() is not None and not ready():
                    # Let the reader threads drain what QEMU wrote last.
                    self._lock.wait(0.2)
                    value = ready()
                    if value:
                        return value
                    raise MachineFailure(
                        "QEMU exited (status %d) while waiting for %s" % (self.process.returncode, what)
                    )
                now = time.monotonic()
                if now >= limit:
                    raise MachineFailure("time-out waiting for %s" % what)
                self._lock.wait(min(0.2, limit - now))

    def wait_for_serial(self, pattern, timeout=None):
        """Waits for a regular expression (bytes) in the serial output; returns the match."""
        regex = re.compile(pattern)
        return self._wait(lambda: regex.search(self.serial), "serial output %r" % pattern, timeout)

    def serial_time(self, pattern):
        """Seconds from start until the serial output first held the pattern, or None."""
        with self._lock:
            match = re.search(pattern, self.serial)
            if not match:
                return None
            return next(t for t, length in self.serial_arrivals if length >= match.end())

    def send_serial(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def qmp(self, command, **arguments):
        message = {"execute": command}
        if arguments:
            message["arguments"] = arguments
        with self._lock:
            self._qmp_replies.clear()
        self._qmp.sendall(json.dumps(message).encode() + b"\n")
        reply = self._wait(lambda: self._qmp_replies and self._qmp_replies[0], "QMP reply to " + command)
        if "error" in reply:
            raise MachineFailure("QMP %s failed: %s" % (command, reply["error"]))
        return reply.get("return")

    def screendump(self, path, device=None):
        """Writes the current screen (QEMU's primary display, or the display device of that id) as a
        binary PPM and returns the path."""
        self.qmp("screendump", filename=os.path.abspath(path), **({"device": device} if device else {}))
        return path

    def wait_for_exit(self, timeout=None):
        """Waits for QEMU to end by itself; returns what happened."""
        limit = self.deadline if timeout is None else min(self.deadline, time.monotonic() + timeout)
        try:
            self.process.wait(max(0.0, limit - time.monotonic()))
        except subprocess.TimeoutExpired:
            raise MachineFailure(
                "time-out waiting for the machine to power off" + (" (guest paused)" if self.stopped() else "")
            )
        for t in self._threads:
            t.join(2)
        shutdown = self.shutdown_event()
        reason = shutdown["data"].get("reason", "") if shutdown else ""
        return ExitResult(self.process.returncode, reason, time.monotonic() - self.started_at)

    def kill(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def close(self):
        self.kill()
        if self._qmp:
            self._qmp.close()
        for f in (self._serial_log, self._stderr_log):
            if f:
                f.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    # ---- results -----------------------------------------------------------

    def serial_text(self):
        """The serial output without terminal escapes and carriage returns."""
        with self._lock:
            raw = bytes(self.serial)
        return ANSI_ESCAPE.sub(b"", raw).replace(b"\r", b"").decode("latin-1")

    def stderr_text(self):
        path = os.path.join(self.workdir, "qemu-stderr.log")
        if self._stderr_log:
            self._stderr_log.flush()
        with open(path, "rb") as f:
            return f.read().decode("latin-1")

    def port_writes(self, port):
        """Every byte the guest wrote to a port stand-in, in order."""
        with open(self.port_log(port), "rb") as f:
            return f.read()


def read_ppm(path):
    """Reads a binary PPM (P6, maxval 255): returns (width, height, rgb bytes)."""
    with open(path, "rb") as f:
        data = f.read()
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos : pos + 1].isspace():
            pos += 1
        if data[pos : pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        start = pos
        while not data[pos : pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError("%s: not an 8-bit binary PPM" % path)
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos + 1 : pos + 1 + width * height * 3]
    if len(pixels) != width * height * 3:
        raise ValueError("%s: truncated" % path)
    return width, height, pixels
