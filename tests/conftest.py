"""Shared fixtures: the installed module and a way to run code in a fresh interpreter."""

import fcntl
import os
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import tavrix


@pytest.fixture(scope="session")
def Hand():
    return tavrix.poker_hand.Hand


@pytest.fixture(scope="session")
def run_python():
    """Runs a snippet in a child interpreter (panics write to its fd 2; a
    process loads its tables once), returning the finished process."""

    def run(code, *, env=None, timeout=120):
        child_env = dict(os.environ)
        child_env.update(env or {})
        return subprocess.run(
            [sys.executable, "-c", textwrap.dedent(code)],
            capture_output=True, text=True, env=child_env, timeout=timeout,
        )

    return run


@pytest.fixture(autouse=True)
def scratch_tables_to_oneself(request):
    """Tests in xdist_group("scratch_tables") share the scratch copy's table
    folder. pytest-xdist cannot keep a group on one worker under this pytest
    (it renames items through an attribute pytest no longer has), so such a
    test holds a lock on the folder instead, whichever worker runs it."""
    if request.node.get_closest_marker("xdist_group") is None:
        yield
        return
    scratch = Path(os.environ.get("TAVRIX_SCRATCH_MODULE_DIR") or Path(__file__).parent.parent / "build" / "scratch")
    scratch.mkdir(parents=True, exist_ok=True)
    with open(scratch / ".tables.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield
