"""Output files written safely: checked before any work, replaced atomically.

Every file the package writes for the user (a checkpoint, a saved matrix, a
chart, a table) goes through here:

- ``check_output_path(path, what)`` refuses, before minutes or hours of work,
  a path that is not a regular file or a new name in an existing directory:
  a directory, a device (``/dev/null``), a FIFO, a socket or a symlink is an
  OutputPathError (both a ValueError and an OSError) naming the path; a
  missing directory is a FileNotFoundError.
- ``write_file(path, content, what)`` and the ``atomic_output(path, what)``
  context manager write to a temporary file created with an unpredictable
  name and exclusive creation in the target's directory (so a planted
  symlink is never followed), flush and fsync it, and rename it over the
  target: a crash leaves the old file or the new one, never a mixture, and
  only a regular file (or nothing) is ever replaced.
- ``open_regular_file(path, flags, what)`` opens a file in place (without
  following a symlink, without blocking on a FIFO) and checks that what it
  opened is a regular file.
"""

from __future__ import annotations

import contextlib
import errno
import os
import stat
import tempfile
from collections.abc import Iterator
from pathlib import Path
from typing import BinaryIO

__all__ = ["OutputPathError", "check_output_path", "write_file", "atomic_output", "open_regular_file",
           "fsync_directory"]

PathLike = str | os.PathLike[str]


def _kind(mode: int) -> str:
    if stat.S_ISLNK(mode):
        return "a symbolic link"
    if stat.S_ISDIR(mode):
        return "a directory"
    if stat.S_ISCHR(mode):
        return "a character device"
    if stat.S_ISBLK(mode):
        return "a block device"
    if stat.S_ISFIFO(mode):
        return "a FIFO"
    if stat.S_ISSOCK(mode):
        return "a socket"
    return "not a regular file"


class OutputPathError(OSError, ValueError):
    """A path that must not be written: not a regular file (a directory, a
    device, a FIFO, a socket, a symlink). Both a ValueError (a bad argument)
    and an OSError (about a file), so either kind of handler catches it."""


def _refuse(path: Path, mode: int, what: str) -> OutputPathError:
    return OutputPathError(
        f"{what} {str(path)!r} is {_kind(mode)}, not a regular file: "
        "give the path of a regular file or a new one"
    )


def check_output_path(path: PathLike, what: str = "output file") -> Path:
    """Returns path as a Path when it may be written: an existing regular
    file, or a new name in an existing directory.

    Anything else is refused without touching it: a directory, a device, a
    FIFO, a socket or a symbolic link (even one to a regular file) is an
    OutputPathError (a ValueError and an OSError), a missing directory a
    FileNotFoundError, a parent that is not a directory a NotADirectoryError;
    each names the path and `what` it is for ("checkpoint", "--out", ...).
    """
    target = Path(os.fspath(path))
    try:
        mode = os.lstat(target).st_mode
    except FileNotFoundError:
        parent = target.parent
        try:
            parent_mode = os.stat(parent).st_mode
        except FileNotFoundError:
            raise FileNotFoundError(f"{what} {str(target)!r}: directory {str(parent)!r} does not exist") from None
        if not stat.S_ISDIR(parent_mode):
            raise NotADirectoryError(f"{what} {str(target)!r}: {str(parent)!r} is not a directory") from None
        return target
    if not stat.S_ISREG(mode):
        raise _refuse(target, mode, what)
    return target


def fsync_directory(path: Path) -> None:
    """Makes a rename or a creation in path's directory durable."""
    descriptor = os.open(path.parent, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(descriptor)
    finally:
        os.close(descriptor)


def _new_file_mode(target: Path) -> int:
    # mkstemp makes the file private (0600); the result gets what a plain
    # open() would have given it, or keeps the mode of the file it replaces.
    try:
        return stat.S_IMODE(os.lstat(target).st_mode)
    except FileNotFoundError:
        pass
    umask = 0o022
    try:
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("Umask:"):
                    umask = int(line.split()[1], 8)
    except (OSError, ValueError):
        pass
    return 0o666 & ~umask


@contextlib.contextmanager
def atomic_output(path: PathLike, what: str = "output file") -> Iterator[BinaryIO]:
    """Yields a binary stream whose content becomes the file at path when the
    block ends without an exception; otherwise nothing is left behind.

    The path is checked as by check_output_path, before the block runs and
    again just before the rename.
    """
    target = check_output_path(path, what)
    descriptor, temporary = tempfile.mkstemp(prefix=f".{target.name}.", suffix=".tmp", dir=target.parent)
    try:
        with os.fdopen(descriptor, "wb") as stream:
            yield stream
            stream.flush()
            os.fchmod(stream.fileno(), _new_file_mode(target))
            os.fsync(stream.fileno())
        check_output_path(target, what)
        os.replace(temporary, target)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise
    fsync_directory(target)


def write_file(path: PathLike, content: bytes, what: str = "output file") -> None:
    """Makes content the file at path, atomically (see atomic_output)."""
    with atomic_output(path, what) as stream:
        stream.write(content)


def open_regular_file(path: PathLike, flags: int, what: str = "file", mode: int = 0o666) -> int:
    """os.open(path, flags) that never follows a symbolic link nor blocks on a
    FIFO, and returns a descriptor only when it refers to a regular file
    (OutputPathError otherwise, naming the path). The caller owns the descriptor.
    """
    target = check_output_path(path, what)
    try:
        descriptor = os.open(target, flags | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_CLOEXEC, mode)
    except OSError as error:
        if error.errno == errno.ELOOP:  # replaced by a symlink since the check
            raise OutputPathError(f"{what} {str(target)!r} is a symbolic link, not a regular file") from None
        raise
    try:
        file_mode = os.fstat(descriptor).st_mode
        if not stat.S_ISREG(file_mode):
            raise _refuse(target, file_mode, what)
        os.set_blocking(descriptor, True)
    except BaseException:
        os.close(descriptor)
        raise
    return descriptor
