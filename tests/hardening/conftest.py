"""Prints the figures the hardening checks recorded (examples, threads, sweeps)."""

from switches import FIGURES


def pytest_terminal_summary(terminalreporter):
    for topic, lines in FIGURES.items():
        terminalreporter.section(topic)
        for line in lines:
            terminalreporter.write_line(line)
