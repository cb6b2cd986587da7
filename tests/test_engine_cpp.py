"""Runs the C++ tests of the equity engine (built by make test against the real tables)."""

import os
import subprocess
from pathlib import Path

BUILD = Path(os.environ.get("TAVRIX_NATIVE_DIR", Path(__file__).resolve().parent.parent / "build" / "native"))


def test_engine_cpp():
    binary = BUILD / "tavrix_engine_tests"
    assert binary.exists(), f"{binary} is missing: run make test"
    result = subprocess.run([str(binary)], capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stdout + result.stderr
    assert ", 0 failed" in result.stdout
