"""How the hardening checks run: TAVRIX_DEEP=1 (make check-deep) selects their
long versions; TAVRIX_SANITIZED=1 is set by the sanitizer run's interpreter."""

import json
import os
import subprocess
import sys
import textwrap

DEEP = os.environ.get("TAVRIX_DEEP") == "1"
SANITIZED = os.environ.get("TAVRIX_SANITIZED") == "1"


def scaled(short, deep):
    """The size of a check: `short` in make test, `deep` in make check-deep."""
    return deep if DEEP else short


def run_child(code, *, env=None, timeout=300):
    """Runs `code` in a fresh interpreter (this one's, with this environment)."""
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=timeout,
        env={**os.environ, **(env or {})},
    )


def record(topic, line):
    """Notes a figure of the run; conftest prints them all at the end."""
    path = os.environ.get("TAVRIX_FIGURES")
    if path:
        with open(path, "a") as stream:
            stream.write(json.dumps([topic, line]) + "\n")
