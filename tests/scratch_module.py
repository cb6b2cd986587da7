"""Helpers for tests that run the scratch copy of the module in child processes.

The scratch copy reads its tables from <scratch>/tables, a folder that only the
tests fill: each test wipes it and writes the crafted files it needs. A process
loads the tables at most once, so every case that exercises loading gets its
own fresh child interpreter.
"""

import json
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import textwrap
from array import array
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parent.parent
# The scratch copy is built for the interpreter that runs the tests.
SO_NAME = "tavrix" + sysconfig.get_config_var("EXT_SUFFIX")

RANK = "h_eval_rank_table.dat"
FLUSH = "h_eval_flush_table.dat"
OFFSETS = "h_eval_offsets.dat"

EVALUATOR = "src/hand_evaluator/evaluator.cpp"
POISONED = "Once instance has previously been poisoned"
UNWRAP = "called `Result::unwrap()` on an `Err` value: "

# Panic positions of the loading steps and of the three index checks.
OPEN_RANK = (65, 18)
READ_RANK = (67, 18)
OPEN_FLUSH = (69, 18)
READ_FLUSH = (71, 18)
OPEN_OFFSETS = (73, 18)
READ_OFFSETS = (75, 18)
FLUSH_INDEX = (87, 29)
RANK_INDEX = (89, 28)
ROW_INDEX = (96, 64)

NOT_FOUND = 'Os { code: 2, kind: NotFound, message: "No such file or directory" }'
IS_A_DIRECTORY = 'Os { code: 21, kind: IsADirectory, message: "Is a directory" }'


def size_error(length, element_size):
    return (
        'Custom { kind: UnexpectedEof, error: "read_file() returned a number of bytes '
        f'({length}) which is not a multiple of size ({element_size})" }}'
    )


def out_of_bounds(length, index):
    return f"index out of bounds: the len is {length} but the index is {index}"


# Stand-in for a table file: a directory of that name (opens, fails to read).
DIRECTORY = object()


def scratch_dir():
    path = Path(os.environ.get("TAVRIX_SCRATCH_MODULE_DIR") or REPO / "build" / "scratch").resolve()
    if not (path / SO_NAME).is_file():
        pytest.fail(
            f"scratch module {path / SO_NAME} is missing: build it with "
            "`make .venv/.deps-installed build/scratch/.built` (or run `make test`)",
            pytrace=False,
        )
    return path


def table_dir():
    return scratch_dir() / "tables"


def fresh_table_dir():
    """Empties the scratch table folder (creating it) and returns its path."""
    tables = table_dir()
    if tables.resolve() == (REPO / "tables").resolve():
        pytest.fail("scratch table folder resolves to the real tables/ folder", pytrace=False)
    shutil.rmtree(tables, ignore_errors=True)
    tables.mkdir(parents=True)
    return tables


@pytest.fixture
def tables():
    """The scratch table folder, empty at the start of the test and removed after it."""
    path = fresh_table_dir()
    yield path
    shutil.rmtree(path, ignore_errors=True)


def encode(values, typecode):
    data = array(typecode, values)
    assert data.itemsize == (2 if typecode == "H" else 4)
    if sys.byteorder != "little":
        data.byteswap()
    return data.tobytes()


def place(path, content, typecode):
    """Writes one table file; content is a list of ints, raw bytes, DIRECTORY or None (absent)."""
    if path.is_dir():
        shutil.rmtree(path)
    elif path.exists():
        path.unlink()
    if content is None:
        return
    if content is DIRECTORY:
        path.mkdir()
        return
    path.write_bytes(content if isinstance(content, bytes) else encode(content, typecode))


def write_tables(folder, rank=None, flush=None, offsets=None):
    place(folder / RANK, rank, "H")
    place(folder / FLUSH, flush, "H")
    place(folder / OFFSETS, offsets, "I")


# Small tables that load fine and score (key 0, mask 0) as 7.
GOOD = {"rank": [7, 8, 9], "flush": [5, 6], "offsets": [0]}


CHILD_PRELUDE = """\
import json, os, sys
import tavrix
Hand = tavrix.poker_hand.Hand

assert os.path.dirname(os.path.abspath(tavrix.__file__)) == SCRATCH, tavrix.__file__
out = {}

def attempt(function, *args):
    try:
        return {"value": function(*args)}
    except BaseException as error:
        kind = type(error)
        return {
            "raised": kind.__name__,
            "module": kind.__module__,
            "message": str(error),
            "is_exception": isinstance(error, Exception),
        }

def hand(key, mask):
    h = Hand()
    h.key = key
    h.mask = mask
    return h

def score(key, mask):
    return tavrix.evaluate(hand(key, mask))

def put(name, data):
    with open(os.path.join(TABLES, name), "wb") as f:
        f.write(data)
"""

CHILD_POSTLUDE = """
sys.stdout.write("\\n@@RESULT@@" + json.dumps(out))
"""


def run_child(body, timeout=60, trace_to=None):
    """Runs `body` after the prelude in a fresh interpreter that imports the
    scratch module; returns (out dict filled by the body, stderr text). With
    `trace_to`, the child runs under strace, which writes its log there."""
    scratch = scratch_dir()
    code = (
        f"SCRATCH = {str(scratch)!r}\nTABLES = {str(scratch / 'tables')!r}\n"
        + CHILD_PRELUDE
        + textwrap.dedent(body)
        + CHILD_POSTLUDE
    )
    env = {**os.environ, "PYTHONPATH": str(scratch), "PYTHONDONTWRITEBYTECODE": "1"}
    env.pop("PYTHONWARNINGS", None)
    command = [sys.executable, "-c", code]
    if trace_to is not None:
        command = ["strace", "-f", "-qq", "-e", "trace=openat,read,close", "-o", str(trace_to)] + command
    proc = subprocess.run(
        command, env=env, capture_output=True, text=True, timeout=timeout
    )
    assert proc.returncode == 0 and "@@RESULT@@" in proc.stdout, (
        f"child failed with exit code {proc.returncode}\nstdout:\n{proc.stdout}\nstderr:\n{proc.stderr}"
    )
    return json.loads(proc.stdout.rsplit("@@RESULT@@", 1)[1]), proc.stderr


REPORT = re.compile(r"thread '<unnamed>' panicked at ([^\n]+):(\d+):(\d+):\n([^\n]*)\n(note: [^\n]*\n)?")


def panic_reports(stderr):
    """Splits stderr into panic reports [(file, (line, col), message, has_note)],
    failing if anything else was written."""
    reports = []
    position = 0
    while position < len(stderr):
        match = REPORT.match(stderr, position)
        assert match, f"unexpected stderr output at offset {position}:\n{stderr[position:]}"
        file, line, col, message, note = match.groups()
        reports.append((file, (int(line), int(col)), message, note is not None))
        position = match.end()
    return reports


def assert_panic(result, message):
    """`result` from attempt(): a PanicException with exactly this message."""
    assert result == {
        "raised": "PanicException",
        "module": "pyo3_runtime",
        "message": message,
        "is_exception": False,
    }


# Position of a report that names some file other than evaluator.cpp (the
# poisoned-guard panic is raised by the guard, not by the loading code).
ELSEWHERE = "elsewhere"


def assert_reports(stderr, expected):
    """stderr holds exactly these panic reports [(position, message)], position
    being (line, col) in evaluator.cpp or ELSEWHERE; only the first has the note."""
    reports = panic_reports(stderr)
    seen = [(where if file == EVALUATOR else ELSEWHERE, message) for file, where, message, _ in reports]
    assert seen == list(expected)
    assert [has_note for *_, has_note in reports] == [i == 0 for i in range(len(reports))]


def strace_usable():
    if shutil.which("strace") is None:
        return False
    probe = subprocess.run(["strace", "-qq", "-e", "trace=none", "true"], capture_output=True)
    return probe.returncode == 0


SYSCALL = re.compile(r"^(?:\d+ +)?(openat|read|close)\((.*)\) += (-?\d+)")
TABLE_NAMES = {RANK: "rank", FLUSH: "flush", OFFSETS: "offsets"}


def table_file_calls(trace_text):
    """The opens, reads and closes of the table files in an strace log, as
    [(call, table)], consecutive reads of one file counted once; a failed
    open is ("open-failed", table)."""
    calls = []
    open_tables = {}
    for line in trace_text.splitlines():
        match = SYSCALL.match(line)
        if not match:
            continue
        call, args, result = match.group(1), match.group(2), int(match.group(3))
        if call == "openat":
            path = re.search(r'"([^"]*)"', args).group(1)
            table = TABLE_NAMES.get(os.path.basename(path))
            if table and Path(path).parent.resolve() == table_dir().resolve():
                if result >= 0:
                    open_tables[result] = table
                    calls.append(("open", table))
                else:
                    calls.append(("open-failed", table))
            continue
        fd = int(args.split(",", 1)[0])
        if fd not in open_tables:
            continue
        event = (call, open_tables[fd])
        if call == "close":
            del open_tables[fd]
        if not (call == "read" and calls and calls[-1] == event):
            calls.append(event)
    return calls
