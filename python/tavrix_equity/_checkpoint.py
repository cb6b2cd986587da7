"""The preflop matrix's checkpoint file: finished chunks, appended one record at a time.

Layout (little-endian):

    header  magic b"TVXMATRX", format version (u32), table digest length (u16)
            and text, plan digest (32 bytes), chunk count (u32), then the
            SHA-256 of everything before it in the header (32 bytes)
    record  b"CHNK", chunk id (u32), row count (u32), the chunk's counts
            (rows x 3 u64: wins of the first combo, wins of the second, ties),
            then SHA-256(plan digest + the record so far) (32 bytes)

A record counts only once it is written, flushed and fsynced, so a crash can
leave at most one partial record, at the end. Reading stops at the first
record that fails any check (checksum, chunk id, row count, counts that do not
add up to the boards of every row, a chunk already read); everything from
there on is recomputed. Binding each record's checksum to the plan digest
means a record spliced in from another run's file fails too.

Records are only ever appended. When the file has an untrusted tail, the valid
part is copied to a new file that atomically replaces it, so the good records
are never rewritten where they lie and a crash during the repair leaves the
old file whole. A header that is unreadable or belongs to another table build
or another plan is refused with a ValueError and the file is left untouched:
it may be someone's finished work, and only its owner can say it is garbage.
"""

from __future__ import annotations

import hashlib
import os
import struct
import warnings
from collections.abc import Sequence
from pathlib import Path
from types import TracebackType
from typing import BinaryIO

import numpy as np
import numpy.typing as npt

__all__ = ["Checkpoint", "counts_are_valid", "replace_file", "FORMAT_VERSION"]

FORMAT_VERSION = 1
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


def _fsync_directory(path: Path) -> None:
    descriptor = os.open(path.parent, os.O_RDONLY)
    try:
        os.fsync(descriptor)
    finally:
        os.close(descriptor)


def replace_file(path: Path, content: bytes) -> None:
    """Makes content the file at path, atomically: a crash leaves the old file or the new one."""
    temporary = path.with_name(f"{path.name}.tmp{os.getpid()}")
    try:
        with open(temporary, "wb") as stream:
            stream.write(content)
            stream.flush()
            os.fsync(stream.fileno())
        os.replace(temporary, path)
    finally:
        temporary.unlink(missing_ok=True)
    _fsync_directory(path)


class Checkpoint:
    """An open checkpoint: the chunks it held when opened, and a way to add more.

    Checkpoint(path, table_digest=..., plan_digest=..., chunk_rows=..., boards=...)
    creates the file if it does not exist, checks the header of one that does
    (ValueError when it is not this plan's under these tables), reads the
    valid records into `recovered` (chunk id -> counts) and repairs an
    untrusted tail with a warning. chunk_rows[c] is the row count of chunk c.
    """

    def __init__(
        self, path: str | os.PathLike[str], *, table_digest: str, plan_digest: bytes,
        chunk_rows: Sequence[int], boards: int | None,
    ) -> None:
        self.path = Path(path)
        self._plan_digest = plan_digest
        self._chunk_rows = list(chunk_rows)
        self._boards = boards
        self.recovered: dict[int, npt.NDArray[np.uint64]] = {}
        expected = _header(table_digest, plan_digest, len(self._chunk_rows))
        try:
            with open(self.path, "rb") as stream:
                head = stream.read(_HEADER_READ_LIMIT)
                data = head + stream.read() if self._is_ours(head, expected, table_digest) else b""
        except FileNotFoundError:
            head = data = b""
        if len(head) < len(expected) and expected.startswith(head):
            # Nothing written yet, or a header cut short by a crash while it was written.
            replace_file(self.path, expected)
        else:
            end = self._read_records(data, len(expected))
            if end < len(data):
                warnings.warn(
                    f"checkpoint {self.path}: {len(data) - end} bytes after the last valid record "
                    f"(chunk records: {len(self.recovered)}) are damaged or partly written; "
                    "their chunks will be recomputed",
                    RuntimeWarning, stacklevel=4,
                )
                replace_file(self.path, data[:end])
        self._stream: BinaryIO = open(self.path, "ab")

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
            counts_end = offset + _RECORD.size + 24 * rows
            end = counts_end + _DIGEST
            if end > len(data):
                break
            checksum = hashlib.sha256(self._plan_digest + data[offset:counts_end]).digest()
            if checksum != data[counts_end:end]:
                break
            stored = np.frombuffer(data, dtype="<u8", count=3 * rows, offset=offset + _RECORD.size)
            counts = stored.astype(np.uint64).reshape(rows, 3)
            if not counts_are_valid(counts, rows, self._boards):
                break
            self.recovered[chunk] = counts
            offset = end
        return offset

    def append(self, chunk: int, counts: npt.NDArray[np.uint64]) -> None:
        """Appends chunk's counts as one record, durable on disk when this returns."""
        body = _RECORD.pack(_RECORD_MAGIC, chunk, len(counts)) + counts.astype("<u8").tobytes()
        self._stream.write(body + hashlib.sha256(self._plan_digest + body).digest())
        self._stream.flush()
        os.fsync(self._stream.fileno())

    def close(self) -> None:
        """Closes the file; every appended record is already on disk."""
        self._stream.close()

    def __enter__(self) -> Checkpoint:
        return self

    def __exit__(
        self, kind: type[BaseException] | None, error: BaseException | None, trace: TracebackType | None,
    ) -> None:
        self.close()
