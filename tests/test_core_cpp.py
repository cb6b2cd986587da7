"""Runs the C++ tests of the core (once-guard races, read_file), built beside the scratch module."""

import os
import subprocess
from pathlib import Path

BUILD = Path(os.environ.get("TAVRIX_SCRATCH_MODULE_DIR", Path(__file__).resolve().parent.parent / "build" / "scratch"))


def test_core_cpp():
    binary = BUILD / "tavrix_core_tests"
    assert binary.exists(), f"{binary} is missing: run make test"
    result = subprocess.run([str(binary)], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.strip().endswith("failed") and ", 0 failed" in result.stdout
