"""The engine's tables are linked into _engine, byte for byte the generated
files, and _engine is built once for every CPython from 3.12 on."""

from pathlib import Path

from tavrix_equity import _engine

import tavrix_tables


def fnv1a_of_files(directory):
    """The digest _engine reports, computed here from the table files: each
    table's element count (8 bytes, little-endian) then its bytes."""
    digest = 0xCBF29CE484222325
    for name, element_size in zip(tavrix_tables.TABLE_FILES, (2, 2, 4)):
        data = (directory / name).read_bytes()
        for byte in (len(data) // element_size).to_bytes(8, "little") + data:
            digest = ((digest ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return f"{digest:016x}"


def test_linked_tables_are_the_generated_files():
    assert _engine.table_digest() == fnv1a_of_files(tavrix_tables.TABLE_DIR)


def test_engine_uses_the_stable_abi():
    assert Path(_engine.__file__).name == "_engine.abi3.so"
