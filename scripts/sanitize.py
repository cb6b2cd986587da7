"""The sanitizer run of make check-deep: its interpreter, and the verdict on it.

    python scripts/sanitize.py setup BUILD SCRATCH
    python scripts/sanitize.py report BUILD

`setup` turns the sanitized build in BUILD (and the sanitized scratch copy in
SCRATCH) into an environment whose interpreter, BUILD/venv/bin/python, is the
running (uninstrumented) interpreter started with the sanitizer runtimes
preloaded. It sees the packages of the environment that runs this script, with
the sanitized `tavrix` and `tavrix_equity` in front of their normal install.
Every interpreter it starts through sys.executable (the tests' children,
multiprocessing and Dask workers) is started the same way, and each records in
BUILD/reports/interpreters.log what it loaded (scripts/sanitizer_guard.py).

`report` counts the sanitizer reports in BUILD/reports and the interpreters of
the log, and fails unless there is no report, every interpreter ran under the
sanitizers and every copy of the modules loaded was a sanitized one.
"""

import os
import shutil
import subprocess
import sys
import sysconfig
import venv
from pathlib import Path

HERE = Path(__file__).resolve().parent

# Defaults of the sanitized interpreter; a caller may set its own. Without
# intercept_tls_get_addr=0 the leak check at exit can read a bogus range for
# the thread-local storage of a module loaded late (tavrix has some) and crash.
ASAN_OPTIONS = (
    "detect_leaks=1:halt_on_error=1:check_initialization_order=1:intercept_tls_get_addr=0:log_path={reports}/asan"
)
UBSAN_OPTIONS = "print_stacktrace=1:halt_on_error=1:log_path={reports}/ubsan"
LSAN_OPTIONS = "suppressions={suppressions}:print_suppressions=0"

WRAPPER = """#!/bin/bash
# The interpreter of the sanitizer run: {real}
# with libasan preloaded (it must come first; libstdc++ beside it, or the first
# C++ throw fails), started under this path so that sys.executable, and with
# it every child interpreter, is this one again. Python's own allocator hands
# each object to malloc, so that AddressSanitizer sees Python objects too.
: "${{ASAN_OPTIONS:={asan}}}"
: "${{UBSAN_OPTIONS:={ubsan}}}"
: "${{LSAN_OPTIONS:={lsan}}}"
# The leak check cannot run under ptrace (the tests' strace) and would fail.
if grep -q '^TracerPid:[[:space:]]*[1-9]' /proc/$$/status; then ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0"; fi
export ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS TAVRIX_SANITIZED=1 PYTHONMALLOC=malloc
LD_PRELOAD="{preload}" exec -a "{wrapper}" "{real}" "$@"
"""


def library(name):
    found = subprocess.run(["g++", f"-print-file-name={name}"], capture_output=True, text=True, check=True)
    path = Path(found.stdout.strip())
    if not path.is_absolute() or not path.exists():
        sys.exit(f"sanitize: the compiler knows no {name}")
    return path.resolve()


def setup(build, scratch):
    extension = sysconfig.get_config_var("EXT_SUFFIX")
    # _engine uses the stable ABI, so its file may carry the .abi3.so suffix instead.
    engine = next((build / f"_engine{suffix}" for suffix in (extension, ".abi3.so")
                   if (build / f"_engine{suffix}").is_file()), build / f"_engine{extension}")
    modules = [build / f"tavrix{extension}", engine, scratch / f"tavrix{extension}"]
    missing = [str(m) for m in modules if not m.is_file()]
    if missing:
        sys.exit(f"sanitize: build these first: {', '.join(missing)}")

    # The packages: sanitized modules, the Python sources of tavrix_equity.
    site = build / "site"
    shutil.rmtree(site, ignore_errors=True)
    package = site / "tavrix_equity"
    package.mkdir(parents=True)
    (site / modules[0].name).symlink_to(modules[0])
    (package / modules[1].name).symlink_to(modules[1])
    for source in (HERE.parent / "python" / "tavrix_equity").iterdir():
        if source.is_file():
            (package / source.name).symlink_to(source)

    reports = build / "reports"
    shutil.rmtree(reports, ignore_errors=True)
    reports.mkdir()
    environment = build / "venv"
    shutil.rmtree(environment, ignore_errors=True)
    venv.EnvBuilder(with_pip=False).create(environment)
    real = Path(sys._base_executable).resolve()
    purelib = Path(sysconfig.get_path("purelib", vars={"base": str(environment), "platbase": str(environment)}))
    shutil.copy(HERE / "sanitizer_guard.py", purelib / "_tavrix_sanitizer_guard.py")
    allowed = [str(build.resolve()), str(scratch.resolve())]
    (purelib / "00-tavrix-sanitized.pth").write_text(
        f"{site.resolve()}\n"
        f"import site; site.addsitedir({sysconfig.get_path('purelib')!r})\n"
        f"import _tavrix_sanitizer_guard; _tavrix_sanitizer_guard.install({str(reports / 'interpreters.log')!r}, {allowed!r})\n"
    )
    wrapper = environment / "bin" / "python"
    text = WRAPPER.format(
        real=real, wrapper=wrapper.resolve(), preload=f"{library('libasan.so')} {library('libstdc++.so.6')}",
        asan=ASAN_OPTIONS.format(reports=reports.resolve()), ubsan=UBSAN_OPTIONS.format(reports=reports.resolve()),
        lsan=LSAN_OPTIONS.format(suppressions=HERE / "lsan-python.supp"),
    )
    for name in ("python", "python3", f"python3.{sys.version_info.minor}"):
        link = environment / "bin" / name
        link.unlink(missing_ok=True)
        if name == "python":
            link.write_text(text)
            link.chmod(0o755)
        else:
            link.symlink_to("python")
    print(f"sanitized interpreter: {wrapper}")


def report(build):
    reports = build / "reports"
    findings = sorted(p for p in reports.iterdir() if p.name.startswith(("asan", "ubsan")))
    records = [line.split(" ", 2) for line in (reports / "interpreters.log").read_text().splitlines()]
    started = {pid for pid, event, *_ in records if event == "start"}
    unsanitized = [rest for _, event, *rest in records if event == "unsanitized"]
    wrong = [rest for _, event, *rest in records if event == "wrong-module"]
    loads = [rest for _, event, *rest in records if event == "load"]
    loaded = {pid for pid, event, *_ in records if event == "load"}
    print(f"sanitizer reports: {len(findings)}")
    for path in findings:
        print(f"--- {path.name}\n{path.read_text()[:4000]}")
    print(f"interpreters started: {len(started)} (the test run and its children), "
          f"{len(loaded)} of them loaded tavrix or tavrix_equity._engine ({len(loads)} loads), "
          f"{len(unsanitized)} without the sanitizers, {len(wrong)} loaded an unsanitized module")
    for rest in unsanitized + wrong:
        print("   ", *rest)
    if findings or unsanitized or wrong or not loads:
        sys.exit(1)


def main():
    command, build, *rest = sys.argv[1:]
    if command == "setup":
        setup(Path(build).resolve(), Path(rest[0]).resolve())
    elif command == "report":
        report(Path(build).resolve())
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
