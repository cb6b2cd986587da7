"""A pip install carries its tables into the environment and outlives its source tree."""

import os
import shutil
import subprocess
import sysconfig
import venv
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parent.parent
# Build outputs and local state, never part of a source tree handed to pip.
NOT_SOURCE = {".git", ".venv", "build", "tables", "dist"}
TABLE_FILES = ("h_eval_rank_table.dat", "h_eval_flush_table.dat", "h_eval_offsets.dat")
ROYAL_FLUSH = """
import tavrix
print(tavrix.__file__)
print(tavrix.evaluate(tavrix.poker_hand.Hand.from_bit_mask(sum(1 << c for c in (51, 47, 43, 39, 35)))))
"""


def ignore_outputs(directory, names):
    top = Path(directory) == REPO
    return [n for n in names if (top and n in NOT_SOURCE) or n == "__pycache__" or n.endswith("_cache")]


def build_tools(folder):
    """The test interpreter's packages (pip, scikit-build-core, cmake, ninja...)
    linked into `folder`, without tavrix itself, so the new environment can
    build offline and cannot pick up the project's own copy."""
    folder.mkdir()
    for site in {sysconfig.get_path("purelib"), sysconfig.get_path("platlib")}:
        for entry in Path(site).iterdir():
            if not entry.name.startswith("tavrix") and not (folder / entry.name).exists():
                (folder / entry.name).symlink_to(entry)
    return folder


@pytest.mark.skipif(os.environ.get("TAVRIX_SANITIZED") == "1",
                    reason="builds and installs a normal copy, which the sanitizer run cannot check")
def test_installed_module_outlives_its_source_tree(tmp_path):
    source = tmp_path / "source"
    shutil.copytree(REPO, source, ignore=ignore_outputs, symlinks=True)
    env = tmp_path / "env"
    venv.EnvBuilder(with_pip=False).create(env)
    python = env / "bin" / "python"
    site = Path(subprocess.check_output(
        [python, "-c", "import sysconfig; print(sysconfig.get_path('platlib'))"], text=True).strip())
    tools_pth = site / "build-tools.pth"
    tools_pth.write_text(f"{build_tools(tmp_path / 'tools')}\n")

    install = subprocess.run(
        [python, "-m", "pip", "install", "--no-index", "--no-deps", "--no-build-isolation",
         "--disable-pip-version-check", "-q", str(source)],
        capture_output=True, text=True, timeout=300,
    )
    assert install.returncode == 0, install.stdout + install.stderr
    tools_pth.unlink()
    shutil.rmtree(source)

    child = subprocess.run([python, "-I", "-c", ROYAL_FLUSH], capture_output=True, text=True,
                           cwd=tmp_path, timeout=60)
    assert child.returncode == 0, child.stderr
    module_file, score = child.stdout.split()
    assert Path(module_file).parent == site
    assert score == "32777"
    for name in TABLE_FILES:
        assert (site / "tavrix_tables" / name).read_bytes() == (REPO / "tables" / name).read_bytes()
    assert sorted(p.name for p in (site / "tavrix-stubs").iterdir()) == ["__init__.pyi", "poker_hand.pyi"]
