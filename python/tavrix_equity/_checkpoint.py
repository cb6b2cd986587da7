"""The preflop matrix's checkpoint file: finished chunks, appended one record at a time.

Layout (little-endian):

    header  magic b"TVXMATRX", format version (u32), table digest length (u16)
            and text, plan digest (32 bytes), chunk count (u32), then the
            SHA-256 of everything before it in the header (32 bytes)
    record  b"CHNK", chunk id (u32), row count (u32), the chunk's counts
            (rows x row width u64: for the matrix, a classes x classes array
            of 2 * wins + ties, then a row [ordered pairs counted, 0, ...]),
            then SHA-256(plan digest + the record so far) (32 bytes)

A record counts only once it is written, flushed and fsynced, so a crash can
leave at most one partial record, at the end. Reading stops at the first
record that fails any check (checksum, chunk id, row count, counts that the
owner's check refuses, a chunk already read); everything from there on is
recomputed. Version 1 files (per-matchup counts) are refused like any other
format: their layout is not this one. Binding each record's checksum to the plan digest
means a record spliced in from another run's file fails too.

Records are only ever appended. When the file has an untrusted tail, the tail
is cut off (the file is truncated where the valid part ends), so the good
records are never rewritten where they lie. A header that is unreadable or
belongs to another table build or another plan is refused with a ValueError
and the file is left untouched: it may be someone's finished work, and only
its owner can say it is garbage.

The file is opened in place, never replaced: it must be a regular file (or
not exist yet); a symlink, a device or a FIFO is refused before anything is
read or written. A run holds an exclusive lock (flock) on it from opening to
closing, so a second run given the same file is refused instead of mixing
its records into the first one's. The checksums detect damage, not
tampering: whoever can write the file can forge records.
"""

from __future__ import annotations

import fcntl
import hashlib
import os
import struct
import warnings
from collections.abc import Callable, Sequence
from pathlib import Path
from types import TracebackType

from tavrix_equity._files import fsync_directory, open_regular_file

import numpy as np
import numpy.typing as npt

__all__ = ["Checkpoint", "CheckpointInUseError", "counts_are_valid", "FORMAT_VERSION"]

FORMAT_VERSION = 2
_MAGIC = b"TVXMATRX"
_PREFIX = struct.Struct("<8sIH")         # magic, version, table digest length
_CHUNK_COUNT = struct.Struct("<I")
_RECORD = struct.Struct("<4sII")         # record magic, chunk id, row count
_RECORD_MAGIC = b"CHNK"
_DIGEST = 32
# A foreign file is judged by its first bytes: no header of ours is this long.
_HEADER_READ_LIMIT = 4096


def counts_are_valid(counts: npt.NDArray[np.uint64], rows: int, boards: int | None) -> bool:
    """True when counts is a (rows, 3) uint64 array whose every row adds up to boards
    (any values when boards is None: records whose content has no sum to check)."""
    return (
        counts.dtype == np.uint64 and counts.shape == (rows, 3)
        and (boards is None or bool(np.all(counts.sum(axis=1, dtype=np.uint64) == boards)))
    )


def _header(table_digest: str, plan_digest: bytes, chunks: int) -> bytes:
    table = table_digest.encode("ascii")
    body = _PREFIX.pack(_MAGIC, FORMAT_VERSION, len(table)) + table + plan_digest + _CHUNK_COUNT.pack(chunks)
    return body + hashlib.sha256(body).digest()


class CheckpointInUseError(RuntimeError):
    """Another run (in this process or another) holds the checkpoint's lock."""


def _read_at(descriptor: int, offset: int, limit: int | None = None) -> bytes:
    """The file's bytes from offset, at most limit of them."""
    parts = []
    while limit is None or limit > 0:
        part = os.pread(descriptor, 1 << 20 if limit is None else min(limit, 1 << 20), offset)
        if not part:
            break
        parts.append(part)
        offset += len(part)
        if limit is not None:
            limit -= len(part)
    return b"".join(parts)


def _write_all(descriptor: int, content: bytes) -> None:
    view = memoryview(content)
    while view:
        view = view[os.write(descriptor, view):]


class Checkpoint:
    """An open checkpoint: the chunks it held when opened, and a way to add more.

    Checkpoint(path, table_digest=..., plan_digest=..., chunk_rows=..., boards=...)
    creates the file if it does not exist, locks it (CheckpointInUseError
    while another run holds it), checks the header of one that does
    (ValueError when it is not this plan's under these tables, or when the
    path is not a regular file), reads the valid records into `recovered`
    (chunk id -> counts) and cuts off an untrusted tail with a warning.
    chunk_rows[c] is the row count of chunk c; a row holds row_width counts,
    and valid(counts) (by default: rows of 3 that add up to boards) decides
    whether a record's counts can be trusted.
    """

    def __init__(
        self, path: str | os.PathLike[str], *, table_digest: str, plan_digest: bytes,
        chunk_rows: Sequence[int], boards: int | None, row_width: int = 3,
        valid: Callable[[npt.NDArray[np.uint64]], bool] | None = None,
    ) -> None:
        self.path = Path(path)
        self._plan_digest = plan_digest
        self._chunk_rows = list(chunk_rows)
        self._boards = boards
        self._row_width = row_width
        self._valid = valid
        self.recovered: dict[int, npt.NDArray[np.uint64]] = {}
        expected = _header(table_digest, plan_digest, len(self._chunk_rows))
        existed = os.path.lexists(self.path)
        self._descriptor = open_regular_file(self.path, os.O_RDWR | os.O_CREAT, "checkpoint")
        try:
            self._lock()
            if not existed:
                fsync_directory(self.path)
            head = _read_at(self._descriptor, 0, _HEADER_READ_LIMIT)
            if len(head) < len(expected) and expected.startswith(head):
                # Nothing written yet, or a header cut short by a crash while it was written.
                self._truncate(0)
                _write_all(self._descriptor, expected)
                os.fsync(self._descriptor)
                return
            self._is_ours(head, expected, table_digest)
            data = head + _read_at(self._descriptor, len(head))
            end = self._read_records(data, len(expected))
            if end < len(data):
                warnings.warn(
                    f"checkpoint {self.path}: {len(data) - end} bytes after the last valid record "
                    f"(chunk records: {len(self.recovered)}) are damaged or partly written; "
                    "their chunks will be recomputed",
                    RuntimeWarning, stacklevel=4,
                )
                self._truncate(end)
            os.lseek(self._descriptor, 0, os.SEEK_END)
        except BaseException:
            os.close(self._descriptor)
            raise

    def _lock(self) -> None:
        # Held until close: two runs appending to one file would interleave
        # their records and leave it reading as damaged.
        try:
            fcntl.flock(self._descriptor, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            raise CheckpointInUseError(
                f"checkpoint {self.path} is in use by another run (it is locked); "
                "wait for that run to end or give another path"
            ) from None

    def _truncate(self, length: int) -> None:
        os.ftruncate(self._descriptor, length)
        os.fsync(self._descriptor)
        os.lseek(self._descriptor, length, os.SEEK_SET)

    def _is_ours(self, head: bytes, expected: bytes, table_digest: str) -> bool:
        """Checks a header against this run's; False when the file may be started afresh."""
        if len(head) < len(expected) and expected.startswith(head):
            return False
        where = f"checkpoint {self.path}"
        if not head.startswith(_MAGIC):
            raise ValueError(f"{where} is not a preflop matrix checkpoint; give another path")
        if len(head) < _PREFIX.size:
            raise ValueError(f"{where} has a damaged header; delete it to start over")
        _, version, table_length = _PREFIX.unpack_from(head)
        if version != FORMAT_VERSION:
            raise ValueError(
                f"{where} has format version {version}, this version reads {FORMAT_VERSION}; "
                "give another path"
            )
        body_length = _PREFIX.size + table_length + _DIGEST + _CHUNK_COUNT.size
        body, checksum = head[:body_length], head[body_length:body_length + _DIGEST]
        if len(checksum) < _DIGEST or hashlib.sha256(body).digest() != checksum:
            raise ValueError(f"{where} has a damaged header; delete it to start over")
        table = body[_PREFIX.size:_PREFIX.size + table_length]
        if table != table_digest.encode("ascii"):
            raise ValueError(
                f"{where} was written with other lookup tables (digest {table.decode('ascii', 'replace')}, "
                f"these are {table_digest}); its counts cannot be trusted: give another path"
            )
        if head[:len(expected)] != expected:
            raise ValueError(
                f"{where} belongs to another class selection or work plan; give another path"
            )
        return True

    def _read_records(self, data: bytes, offset: int) -> int:
        """Reads records from offset until the first bad one; returns where the valid part ends."""
        while offset + _RECORD.size <= len(data):
            magic, chunk, rows = _RECORD.unpack_from(data, offset)
            if magic != _RECORD_MAGIC or chunk >= len(self._chunk_rows) or rows != self._chunk_rows[chunk]:
                break
            if chunk in self.recovered:
                break
            counts_end = offset + _RECORD.size + 8 * self._row_width * rows
            end = counts_end + _DIGEST
            if end > len(data):
                break
            checksum = hashlib.sha256(self._plan_digest + data[offset:counts_end]).digest()
            if checksum != data[counts_end:end]:
                break
            stored = np.frombuffer(data, dtype="<u8", count=self._row_width * rows, offset=offset + _RECORD.size)
            counts = stored.astype(np.uint64).reshape(rows, self._row_width)
            valid = counts_are_valid(counts, rows, self._boards) if self._valid is None else self._valid(counts)
            if not valid:
                break
            self.recovered[chunk] = counts
            offset = end
        return offset

    def append(self, chunk: int, counts: npt.NDArray[np.uint64]) -> None:
        """Appends chunk's counts as one record, durable on disk when this returns."""
        body = _RECORD.pack(_RECORD_MAGIC, chunk, len(counts)) + counts.astype("<u8").tobytes()
        _write_all(self._descriptor, body + hashlib.sha256(self._plan_digest + body).digest())
        os.fsync(self._descriptor)

    def close(self) -> None:
        """Closes the file and releases its lock; every appended record is already on disk."""
        if self._descriptor >= 0:
            descriptor, self._descriptor = self._descriptor, -1
            os.close(descriptor)

    def __enter__(self) -> Checkpoint:
        return self

    def __exit__(
        self, kind: type[BaseException] | None, error: BaseException | None, trace: TracebackType | None,
    ) -> None:
        self.close()
