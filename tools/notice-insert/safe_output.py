"""Writing an output file whole or not at all: the bytes go to a temporary
file beside the target, are flushed and synced, and the temporary file is
renamed over the target. A failure at any step leaves the target as it was
and removes the temporary file.

The temporary file is made as soon as the output is opened, so that a
folder that cannot be written is found before any work is done.
"""

import os
import stat
import tempfile


class OutputError(Exception):
    """The output cannot be written; the message says why and that nothing changed."""


def _current_umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


class PendingOutput:
    """An output file being made: `commit(data)` puts it in place, leaving the
    context without a commit removes it. Use as a context manager."""

    def __init__(self, path):
        self.path = path
        target = os.path.realpath(path)  # a symbolic link keeps pointing at the new file
        folder = os.path.dirname(target)
        if not os.path.isdir(folder):
            raise OutputError("the folder %s does not exist; create it or give another --out" % folder)
        if os.path.isdir(target):
            raise OutputError("%s is a folder; give --out the path of a file" % path)
        self.mode = 0o666 & ~_current_umask()
        self.owner = None
        if os.path.lexists(target):
            info = os.stat(target)
            if not stat.S_ISREG(info.st_mode):
                raise OutputError("%s is not a regular file; give --out the path of a file" % path)
            if not os.access(target, os.W_OK):
                raise OutputError("cannot write %s: Permission denied (the file is read-only); nothing written" % path)
            self.mode = stat.S_IMODE(info.st_mode)
            self.owner = (info.st_uid, info.st_gid)
        self.target = target
        try:
            self.fd, self.temporary = tempfile.mkstemp(
                dir=folder, prefix="." + os.path.basename(target) + ".", suffix=".partial"
            )
        except OSError as error:
            raise OutputError("cannot write %s: %s (in folder %s); nothing written" % (path, error.strerror, folder))

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.discard()

    def commit(self, data):
        existed = os.path.exists(self.target)
        try:
            view = memoryview(data)
            while view:
                view = view[os.write(self.fd, view) :]
            os.fchmod(self.fd, self.mode)
            if self.owner is not None and os.geteuid() == 0:
                os.fchown(self.fd, *self.owner)
            os.fsync(self.fd)
            os.close(self.fd)
            self.fd = None
            os.replace(self.temporary, self.target)
            self.temporary = None
            self._sync_folder()
        except OSError as error:
            self.discard()
            kept = "%s is as it was" % self.path if existed else "no %s was made" % self.path
            raise OutputError(
                "cannot write %s: %s; nothing written (%s): make room or choose another --out and run again"
                % (self.path, error.strerror, kept)
            ) from None

    def _sync_folder(self):
        try:
            fd = os.open(os.path.dirname(self.target), os.O_RDONLY)
        except OSError:
            return
        try:
            os.fsync(fd)
        except OSError:
            pass  # the rename is done; a folder that cannot be synced is no reason to fail
        finally:
            os.close(fd)

    def discard(self):
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None
        if self.temporary is not None:
            try:
                os.unlink(self.temporary)
            except OSError:
                pass
            self.temporary = None
