"""Shared fixtures: the installed module and a way to run code in a fresh interpreter."""

import os
import subprocess
import sys
import textwrap

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
