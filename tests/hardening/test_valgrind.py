"""valgrind memcheck over a tour of every entry point of both packages: no
invalid read or write, nothing definitely lost but what the interpreter keeps
for its whole life (scripts/valgrind-python.supp). Long: make check-deep."""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from switches import DEEP, SANITIZED, record

HERE = Path(__file__).resolve().parent
SUPPRESSIONS = HERE.parent.parent / "scripts" / "valgrind-python.supp"


@pytest.mark.skipif(not DEEP, reason="about a minute under valgrind: make check-deep runs it")
@pytest.mark.skipif(SANITIZED, reason="valgrind cannot run a process that AddressSanitizer instruments")
@pytest.mark.skipif(shutil.which("valgrind") is None, reason="valgrind is not installed")
def test_valgrind_finds_nothing_in_either_module(tmp_path):
    log = tmp_path / "memcheck.log"
    run = subprocess.run(
        ["valgrind", "--tool=memcheck", "--leak-check=full", "--show-leak-kinds=definite",
         "--errors-for-leak-kinds=definite", "--num-callers=40", f"--suppressions={SUPPRESSIONS}",
         f"--log-file={log}", sys.executable, str(HERE / "valgrind_tour.py")],
        capture_output=True, text=True, timeout=1200, env={**os.environ, "PYTHONMALLOC": "malloc"},
    )
    text = log.read_text()
    assert run.returncode == 0 and "tour done" in run.stdout, run.stdout + run.stderr + text[-3000:]
    summary = re.search(r"ERROR SUMMARY: (\d+) errors from \d+ contexts \(suppressed: (\d+)", text)
    kept = re.search(r"suppressed: ([\d,]+) bytes in ([\d,]+) blocks", text)
    invalid = len(re.findall(r"Invalid (?:read|write|free)", text))
    ours = [block for block in re.split(r"\n==\d+== \n", text)
            if "definitely lost" in block and re.search(r"(tavrix|_engine)[^/\s]*\.so", block)]
    record("valgrind", f"{summary[1]} errors ({invalid} invalid reads, writes or frees), {len(ours)} blocks "
                       f"definitely lost with a module frame; the interpreter's own, suppressed: {kept[1]} bytes in "
                       f"{kept[2]} blocks ({summary[2]} contexts)")
    assert (summary[1], invalid, ours) == ("0", 0, [])
