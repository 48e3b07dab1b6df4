"""Runs the notice-insert command as a user would, in a child process with
optional resource limits, and checks what every refusal must look like.
Shared by the tests and the property test.
"""

import contextlib
import dataclasses
import hashlib
import io
import os
import pwd
import resource
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

COMMAND = os.path.join(os.path.dirname(os.path.abspath(__file__)), "notice-insert")
PREFIX = "notice-insert: "
# What a user's machine gives the tool at most in the tests: 512 MiB of address space.
ADDRESS_SPACE_LIMIT = 512 << 20
SYSTEM_PYTHON = "/usr/bin/python3"


@dataclasses.dataclass
class Result:
    status: int
    stdout: str
    stderr: str
    seconds: float = 0.0  # wall time (measured runs)
    max_rss_kb: int = 0  # the child's peak resident memory (measured runs)


def run(args, file_size_limit=None, address_space_limit=ADDRESS_SPACE_LIMIT, timeout=60, user=None):
    """notice-insert ARGS in a child limited to `address_space_limit` bytes of
    address space and, when given, to files of `file_size_limit` bytes; with
    `user` (a pwd entry) as that user, under the system's Python (a Python
    in root's home is not the user's to run)."""

    def limit():
        if address_space_limit is not None:
            resource.setrlimit(resource.RLIMIT_AS, (address_space_limit, address_space_limit))
        if file_size_limit is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit))
        if user is not None:
            os.setgid(user.pw_gid)
            os.setuid(user.pw_uid)

    python = SYSTEM_PYTHON if user is not None else sys.executable
    done = subprocess.run([python, COMMAND, *args], capture_output=True, text=True, preexec_fn=limit, timeout=timeout)
    return Result(done.returncode, done.stdout, done.stderr)


def run_here(args):
    """notice-insert ARGS in this process (no start-up cost; an exception escapes as itself)."""
    import notice_insert

    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        try:
            status = notice_insert.main(list(args))
        except SystemExit as stop:  # --help
            status = stop.code
    return Result(status, out.getvalue(), err.getvalue())


def run_measured(args, folder, address_space_limit=ADDRESS_SPACE_LIMIT, timeout=600):
    """notice-insert ARGS in a child as run() does, also giving its wall time
    and peak memory; its output goes through files in `folder` (removed
    again). A child that outlives `timeout` seconds is killed (status -9)."""

    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (address_space_limit, address_space_limit))

    paths = [os.path.join(folder, ".notice-insert-stdout"), os.path.join(folder, ".notice-insert-stderr")]
    with open(paths[0], "w+") as out, open(paths[1], "w+") as err:
        started = time.monotonic()
        child = subprocess.Popen([sys.executable, COMMAND, *args], stdout=out, stderr=err, preexec_fn=limit)
        timer = threading.Timer(timeout, child.kill)
        timer.start()
        try:
            _, wait_status, usage = os.wait4(child.pid, 0)
        finally:
            timer.cancel()
        child.returncode = os.waitstatus_to_exitcode(wait_status)
        seconds = time.monotonic() - started
        out.seek(0)
        err.seek(0)
        result = Result(child.returncode, out.read(), err.read(), seconds, usage.ru_maxrss)
    for path in paths:
        os.unlink(path)
    return result


def unprivileged_user():
    """The pwd entry of `nobody` when this process is root and nobody can run
    the tool (so that a folder's permissions mean something); None otherwise."""
    if os.geteuid() != 0:
        return None
    try:
        nobody = pwd.getpwnam("nobody")
    except KeyError:
        return None
    if run(["--help"], user=nobody).status != 0:
        return None
    return nobody


def refusal_faults(result, statuses=(1, 2)):
    """What is wrong with `result` as a refusal: a status outside `statuses`,
    anything on standard output, or other than one line starting with the
    tool's name on standard error. Empty when it is a proper refusal."""
    faults = []
    if result.status not in statuses:
        faults.append("exit status %d, want one of %s" % (result.status, statuses))
    if "Traceback" in result.stderr:
        faults.append("a traceback")
    if result.stdout:
        faults.append("standard output %r" % result.stdout)
    lines = result.stderr.splitlines()
    if len(lines) != 1 or not lines[0].startswith(PREFIX):
        faults.append("standard error is not one line starting %r: %r" % (PREFIX, result.stderr))
    return faults


def fingerprint(paths):
    """path -> sha256 of its bytes (None when absent), to show a refusal changed nothing."""
    prints = {}
    for path in paths:
        try:
            with open(path, "rb") as f:
                prints[path] = hashlib.sha256(f.read()).hexdigest()
        except OSError:
            prints[path] = None
    return prints


def folder_listing(folder):
    return sorted(os.listdir(folder))


class WorkFolder(unittest.TestCase):
    """A test with a scratch folder of its own, removed afterwards."""

    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work, True)

    def file(self, name, data, folder=None):
        path = os.path.join(folder or self.work, name)
        with open(path, "wb") as f:
            f.write(data)
        return path
