"""Prints the figures the hardening checks record (examples, threads, sweeps),
also when they ran on several workers (pytest -n): each worker appends them to
one file that this process names and reads at the end."""

import json
import os
import tempfile
from pathlib import Path

FIGURES = "TAVRIX_FIGURES"


def pytest_configure(config):
    if not hasattr(config, "workerinput") and FIGURES not in os.environ:
        descriptor, path = tempfile.mkstemp(prefix="tavrix-figures-", suffix=".jsonl")
        os.close(descriptor)
        os.environ[FIGURES] = path
        config.tavrix_figures = Path(path)


def pytest_terminal_summary(terminalreporter, config):
    path = getattr(config, "tavrix_figures", None)
    if path is None:
        return
    topics: dict[str, list[str]] = {}
    for line in path.read_text().splitlines():
        topic, text = json.loads(line)
        topics.setdefault(topic, []).append(text)
    path.unlink()
    for topic, lines in topics.items():
        terminalreporter.section(topic)
        for text in sorted(lines):
            terminalreporter.write_line(text)
