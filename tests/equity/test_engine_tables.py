"""The engine on missing or crafted tables (the scratch build, whose table
folder the tests fill): a panic of the core is an ordinary exception, a word
outside a table is a ValueError, and nothing is written to stderr for it."""

import importlib.machinery
import subprocess

import pytest
import sys
import textwrap

from scratch_module import GOOD, NOT_FOUND, POISONED, scratch_dir, tables, write_tables  # noqa: F401

# These tests share the scratch module's table folder: one worker runs them all.
pytestmark = pytest.mark.xdist_group("scratch_tables")


def engine_file():
    """The scratch _engine, under the first suffix this interpreter imports
    (the stable ABI's .abi3.so where the build could use it)."""
    for suffix in importlib.machinery.EXTENSION_SUFFIXES:
        if (scratch_dir() / f"_engine{suffix}").is_file():
            return scratch_dir() / f"_engine{suffix}"
    pytest.fail(f"no _engine module in {scratch_dir()}: run make test", pytrace=False)


def run_engine(body):
    code = textwrap.dedent(f"""
        import importlib.machinery, importlib.util, numpy as np
        loader = importlib.machinery.ExtensionFileLoader("_engine", {str(engine_file())!r})
        found = importlib.util.spec_from_loader("_engine", loader)
        engine = importlib.util.module_from_spec(found)
        loader.exec_module(engine)
        def attempt(function, *args):
            try:
                return repr(function(*args).tolist())
            except Exception as error:
                return f"{{type(error).__name__}}: {{error}}"
    """) + textwrap.dedent(body)
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)


def test_missing_tables_raise_runtime_error(tables):
    child = run_engine("""
        rows = np.zeros((1, 0), np.int64)
        print(attempt(engine.score_card_rows, rows))
        print(attempt(engine.score_card_rows, rows))
    """)
    first, second = child.stdout.splitlines()
    assert first.startswith("RuntimeError: ") and NOT_FOUND in first
    assert second == f"RuntimeError: {POISONED}"


def test_words_outside_crafted_tables_are_value_errors(tables):
    write_tables(tables, **GOOD)
    child = run_engine("""
        words = np.array([0, 0, 1 << 20], np.uint64)
        print(attempt(engine.score_word_pairs, words[:2], words[:2]))
        print(attempt(engine.score_word_pairs, words, np.zeros(3, np.uint64)))
    """)
    assert child.stdout.splitlines() == [
        "[7, 7]", "ValueError: the hand words at position 2 do not describe a hand the tables cover"]
    assert child.stderr == ""
