"""Reading the files a user names, with a size limit and without blocking: a
FIFO, a device or a folder is refused from what fstat says before a byte is
read, and a file larger than its limit before it is read.
"""

import os
import stat


class InputError(Exception):
    """A file or folder given on the command line cannot be used; the message says why."""


def read_limited(path, limit, what):
    """The bytes of regular file `path`, at most `limit` of them (`what` names the kind of file in a refusal)."""
    flags = os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY | getattr(os, "O_CLOEXEC", 0)
    try:
        fd = os.open(path, flags)
    except OSError as error:
        raise InputError("cannot read %s: %s" % (path, error.strerror)) from None
    try:
        info = os.fstat(fd)
        if stat.S_ISDIR(info.st_mode):
            raise InputError("%s is a folder; give the %s itself" % (path, what))
        if not stat.S_ISREG(info.st_mode):
            raise InputError("%s is not a regular file (a device, FIFO or socket); give the %s itself" % (path, what))
        if info.st_size > limit:
            raise InputError("{} is {:,} bytes; a {} may have at most {:,}".format(path, info.st_size, what, limit))
        chunks = []
        length = 0
        while length <= limit:
            chunk = os.read(fd, limit + 1 - length)
            if not chunk:
                break
            chunks.append(chunk)
            length += len(chunk)
    except OSError as error:
        raise InputError("cannot read %s: %s" % (path, error.strerror)) from None
    finally:
        os.close(fd)
    if length > limit:
        raise InputError("%s grew past %s bytes while being read; a %s may have at most that" % (path, limit, what))
    if length == 0:
        raise InputError("%s is empty; give the %s itself" % (path, what))
    return b"".join(chunks)


def ffs_paths_in(folder, limit):
    """The .ffs files of `folder`, sorted, at most `limit` of them."""
    try:
        names = os.listdir(folder)
    except OSError as error:
        raise InputError("cannot read %s: %s" % (folder, error.strerror)) from None
    paths = sorted(os.path.join(folder, n) for n in names if n.endswith(".ffs"))
    if not paths:
        raise InputError("%s holds no .ffs file; give the folder notice-pack --ffs-out wrote" % folder)
    if len(paths) > limit:
        raise InputError("%s holds %d .ffs files; notice-insert takes at most %d" % (folder, len(paths), limit))
    return paths
