"""The tavrix-equity wheel that make wheel built, on its own: pip installs it
into a fresh environment of another CPython, in another directory, while the
clone is out of sight under another name; there it gives the clone's results."""

import importlib.util
import json
import os
import re
import shutil
import subprocess
import sys
import textwrap
import zipfile
from pathlib import Path

import pytest

import tavrix_equity

REPO = Path(__file__).resolve().parent.parent
_checker = importlib.util.spec_from_file_location("check_wheel", REPO / "scripts" / "check_wheel.py")
check_wheel = importlib.util.module_from_spec(_checker)
_checker.loader.exec_module(check_wheel)

pytestmark = pytest.mark.skipif(os.environ.get("TAVRIX_SANITIZED") == "1",
                                reason="the released wheel, which the sanitizer run does not build or check")

HANDS = ["AsKs", "QhQd"]
RANGES = {"players": ["AsKs", "QQ+,AKs"], "board": "2h7d9s", "trials": 20_000, "seed": 7}
ROWS = [[51, 47, 43, 39, 35, 0, 1], [0, 4, 8, 12, 17, 30, 44], [12, 13, 14, 20, 25, 33, 50]]

# Run by the other interpreter: what it computes, and what it could see.
CHILD = """
import importlib.util, json, os, sys
import tavrix_equity
from tavrix_equity import _engine, equity, score_cards

exact = equity({hands!r})
sampled = equity(**{ranges!r})
print(json.dumps({{
    "exact": [exact.wins, exact.ties, exact.boards],
    "sampled": [sampled.wins, sampled.ties, sampled.boards],
    "scores": score_cards({rows!r}).tolist(),
    "digest": _engine.table_digest(),
    "version": tavrix_equity.__version__,
    "python": list(sys.version_info[:2]),
    "package": tavrix_equity.__file__,
    "tavrix": importlib.util.find_spec("tavrix") is not None,
    "clone": os.listdir({clone!r}),
}}))
"""

# Hides the clone from this mount namespace alone: its files stay reachable
# under another name, its own path is an empty folder. Other test workers,
# which share the clone, see nothing of it.
HIDE_AND_RUN = """
set -e
mount --bind "$CLONE" "$RENAMED"
mount -t tmpfs -o size=1m hidden-clone "$CLONE"
cd "$WORK"
"$OTHER_PYTHON" -m venv --without-pip env
"$OTHER_PYTHON" -m pip --python env/bin/python --disable-pip-version-check --no-input -q install "$WHEEL"
exec env/bin/python -I -c "$CHILD"
"""


def the_wheel():
    found = sorted((REPO / "dist").glob("tavrix_equity-*-cp312-abi3-manylinux_*.whl"))
    if len(found) != 1:
        pytest.fail(f"expected one tavrix-equity wheel in {REPO / 'dist'}, found {[p.name for p in found]}: "
                    "build it with `make wheel` (make test does)", pytrace=False)
    return found[0]


def version_of(python):
    try:
        probe = subprocess.run([python, "-c", "import sys, venv; print(sys.implementation.name, *sys.version_info[:2])"],
                               capture_output=True, text=True, timeout=30)
    except OSError:
        return None
    words = probe.stdout.split()
    if probe.returncode != 0 or len(words) != 3 or words[0] != "cpython":
        return None
    return int(words[1]), int(words[2])


def other_python():
    """A CPython of 3.12 or later whose version differs from this one's."""
    candidates = [Path(p) for p in sorted(Path.home().glob(".pyenv/versions/3.*/bin/python3"), reverse=True)]
    candidates += [Path(d) / f"python3.{minor}" for minor in range(20, 11, -1)
                   for d in ("/usr/local/bin", "/usr/bin")]
    candidates += [Path(w) for w in (shutil.which(f"python3.{minor}") for minor in range(20, 11, -1)) if w]
    for python in candidates:
        found = version_of(python) if python.is_file() else None
        if found is not None and found >= (3, 12) and found != sys.version_info[:2]:
            return python.resolve(), found
    pytest.skip(f"no CPython 3.12 or later besides {sys.version_info.major}.{sys.version_info.minor} on this machine")


def namespace_command():
    """unshare as root, or in a user namespace of its own otherwise."""
    if shutil.which("unshare") is None:
        pytest.skip("unshare (util-linux) is needed to hide the clone from the install")
    for command in (["unshare", "--mount", "--propagation", "private"],
                    ["unshare", "--user", "--map-root-user", "--mount", "--propagation", "private"]):
        if subprocess.run([*command, "true"], capture_output=True).returncode == 0:
            return command
    pytest.skip("this machine allows no private mount namespace (unshare --mount) to hide the clone in")


def test_the_wheel_installs_and_runs_without_the_clone(tmp_path):
    python, version = other_python()
    unshare = namespace_command()
    wheel = tmp_path / the_wheel().name
    shutil.copy(the_wheel(), wheel)
    work, renamed = tmp_path / "elsewhere", tmp_path / "renamed-clone"
    work.mkdir()
    renamed.mkdir()
    child = CHILD.format(hands=HANDS, ranges=RANGES, rows=ROWS, clone=str(REPO))
    # pip keeps its configuration and cache; nothing may point Python at the clone.
    env = {k: v for k, v in os.environ.items() if not k.startswith("PYTHON") and k != "VIRTUAL_ENV"}
    env.update(CLONE=str(REPO), RENAMED=str(renamed), WORK=str(work), OTHER_PYTHON=str(python), WHEEL=str(wheel),
               CHILD=textwrap.dedent(child))
    run = subprocess.run([*unshare, "sh", "-c", HIDE_AND_RUN], capture_output=True, text=True, env=env,
                         cwd=work, timeout=300)
    assert run.returncode == 0, run.stdout + run.stderr
    there = json.loads(run.stdout.splitlines()[-1])

    assert there["clone"] == [] and not there["tavrix"]
    assert Path(there["package"]).is_relative_to(work / "env") and there["python"] == list(version)
    exact = tavrix_equity.equity(HANDS)
    sampled = tavrix_equity.equity(**RANGES)
    assert there["exact"] == json.loads(json.dumps([exact.wins, exact.ties, exact.boards]))
    assert there["sampled"] == json.loads(json.dumps([sampled.wins, sampled.ties, sampled.boards]))
    assert there["scores"] == tavrix_equity.score_cards(ROWS).tolist()
    assert there["digest"] == tavrix_equity._engine.table_digest()
    assert there["version"] == tavrix_equity.__version__


@pytest.mark.parametrize("damage, fault", [
    ("rename:cp312-abi3:cp313-cp313", "not cp312-abi3"),
    ("rename:manylinux_[0-9]+_[0-9]+:linux", "is not a manylinux tag"),
    ("add:tavrix_tables/h_eval_offsets.dat", "unexpected file tavrix_tables/h_eval_offsets.dat"),
    ("drop:tavrix_equity/_engine.pyi", "missing file tavrix_equity/_engine.pyi"),
    ("path:tavrix_equity/_engine.pyi", "holds a path of the build machine"),
])
def test_the_wheel_check_finds_faults(tmp_path, damage, fault):
    """The checker make wheel runs refuses wheels with wrong tags, stray or
    missing files, or a path of this machine in a file."""
    source = the_wheel()
    kind, _, detail = damage.partition(":")
    name = source.name
    if kind == "rename":
        old, new = detail.split(":")
        name = re.sub(old, new, name)
    target = tmp_path / name
    with zipfile.ZipFile(source) as original, zipfile.ZipFile(target, "w") as copy:
        for info in original.infolist():
            data = original.read(info)
            if kind == "drop" and info.filename == detail:
                continue
            if kind == "path" and info.filename == detail:
                data += f"\n# built in {REPO}\n".encode()
            copy.writestr(info, data)
        if kind == "add":
            copy.writestr(detail, b"\0" * 8)
    faults = check_wheel.check(target)
    assert any(fault in f for f in faults), faults
    assert check_wheel.check(source) == []
