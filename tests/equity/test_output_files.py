"""Files the package writes: only regular files (or new names) are written,
through unpredictable temporary names, and a checkpoint serves one run at a time."""

import os

import numpy as np
import pytest

from tavrix_equity import _checkpoint, _engine, _files, cli, matrix, plot_grid

CLASSES = ["AA", "KK"]
preflop_matrix = matrix.preflop_matrix  # the tests below replace the module's name with a tripwire


def _make(kind, path, victim):
    if kind == "directory":
        path.mkdir()
    elif kind == "fifo":
        os.mkfifo(path)
    elif kind == "symlink":
        path.symlink_to(victim)
    elif kind == "dangling symlink":
        path.symlink_to(victim.parent / "nowhere")


def _checkpoint_run(path):
    preflop_matrix(CLASSES, workers=1, checkpoint=path)


def _out_run(path):
    if cli.main(["matrix", "--out", str(path)]) == 2:
        raise ValueError("refused")


def _png_run(path):
    pytest.importorskip("matplotlib")
    plot_grid(np.zeros((13, 13)), path)


@pytest.mark.parametrize("writer", [_checkpoint_run, _out_run, _png_run], ids=["checkpoint", "--out", "png"])
@pytest.mark.parametrize("kind", ["directory", "fifo", "symlink", "dangling symlink"])
def test_only_regular_files_are_written(tmp_path, monkeypatch, writer, kind):
    monkeypatch.setattr(matrix, "_run_chunk", lambda _: pytest.fail("work started before the path was checked"))
    monkeypatch.setattr(matrix, "preflop_matrix", lambda **_: pytest.fail("work started before --out was checked"))
    victim = tmp_path / "victim"
    victim.write_bytes(b"keep")
    target = tmp_path / "target.npy"
    _make(kind, target, victim)
    before = os.lstat(target)
    with pytest.raises(ValueError):
        writer(target)
    after = os.lstat(target)
    assert (after.st_mode, after.st_ino) == (before.st_mode, before.st_ino)
    assert victim.read_bytes() == b"keep"
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(["victim", "target.npy"])


def test_refusals_name_the_path(tmp_path):
    os.mkfifo(tmp_path / "pipe")
    with pytest.raises(ValueError, match=r"checkpoint '.*pipe' is a FIFO, not a regular file") as refused:
        _files.check_output_path(tmp_path / "pipe", "checkpoint")
    assert isinstance(refused.value, OSError)  # for handlers of either kind
    with pytest.raises(FileNotFoundError, match="missing"):
        _files.check_output_path(tmp_path / "missing" / "file", "--out")


def test_planted_temporary_names_are_not_followed(tmp_path):
    victim = tmp_path / "victim"
    victim.write_bytes(b"keep")
    target = tmp_path / "m.npy"
    # Names a predictable scheme would use: the pid and small neighbours.
    for pid in range(os.getpid() - 3, os.getpid() + 4):
        for name in (f"m.npy.tmp{pid}", f".m.npy.tmp{pid}", f"m.npy.{pid}.tmp"):
            (tmp_path / name).symlink_to(victim)
    _files.write_file(target, b"new")
    assert target.read_bytes() == b"new" and victim.read_bytes() == b"keep"
    assert not target.is_symlink()


def test_failed_write_keeps_the_old_file_and_leaves_no_temporary(tmp_path):
    target = tmp_path / "m.npy"
    target.write_bytes(b"old")
    os.chmod(target, 0o640)
    with pytest.raises(RuntimeError), _files.atomic_output(target) as stream:
        stream.write(b"partial")
        raise RuntimeError("disk full")
    assert target.read_bytes() == b"old" and os.listdir(tmp_path) == ["m.npy"]
    _files.write_file(target, b"new")
    assert target.read_bytes() == b"new" and os.stat(target).st_mode & 0o777 == 0o640


def test_a_checkpoint_serves_one_run_at_a_time(tmp_path, monkeypatch):
    path = tmp_path / "m.ckpt"
    plan = matrix._plan(tuple(CLASSES), matrix._CHUNK_SIZE)
    first = matrix._open_checkpoint(path, plan, _engine.table_digest())
    try:
        monkeypatch.setattr(matrix, "_run_chunk", lambda _: pytest.fail("a second run started"))
        with pytest.raises(_checkpoint.CheckpointInUseError, match="in use by another run"):
            preflop_matrix(CLASSES, workers=1, checkpoint=path)
        assert cli.main(["matrix", "--out", str(tmp_path / "m.npy"), "--checkpoint", str(path)]) == 1
    finally:
        first.close()
    monkeypatch.undo()
    assert matrix.preflop_matrix(CLASSES, workers=1, checkpoint=path)[0, 1] == pytest.approx(0.8195, abs=1e-4)
