"""Runs the C++ test programs: the core's (once-guard races, read_file), built
beside the scratch module, and the equity engine's, built against the real tables."""

import os
import subprocess
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parent.parent
SCRATCH = Path(os.environ.get("TAVRIX_SCRATCH_MODULE_DIR", REPO / "build" / "scratch"))
NATIVE = Path(os.environ.get("TAVRIX_NATIVE_DIR", REPO / "build" / "native"))


@pytest.mark.parametrize("binary", [SCRATCH / "tavrix_core_tests", NATIVE / "tavrix_engine_tests", NATIVE / "tavrix_sweep_tests"], ids=lambda p: p.name)
def test_cpp_program(binary):
    assert binary.exists(), f"{binary} is missing: run make test"
    result = subprocess.run([str(binary)], capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.strip().endswith("failed") and ", 0 failed" in result.stdout
