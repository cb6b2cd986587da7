"""The example notebook runs from start to end in a real Jupyter kernel on this interpreter."""

import json
import sys
from pathlib import Path

import nbclient
import nbformat

NOTEBOOK = Path(__file__).resolve().parents[2] / "examples" / "range_analysis.ipynb"


def test_example_notebook_runs(tmp_path, monkeypatch):
    # A kernel description of its own, so the kernel is this interpreter whatever else is installed.
    kernel_dir = tmp_path / "kernels" / "tavrix-test"
    kernel_dir.mkdir(parents=True)
    (kernel_dir / "kernel.json").write_text(json.dumps({
        "argv": [sys.executable, "-m", "ipykernel_launcher", "-f", "{connection_file}"],
        "display_name": "tavrix test", "language": "python",
    }))
    monkeypatch.setenv("JUPYTER_PATH", str(tmp_path))
    notebook = nbformat.read(NOTEBOOK, as_version=4)
    nbclient.NotebookClient(notebook, kernel_name="tavrix-test", timeout=120, resources={
        "metadata": {"path": str(tmp_path)}}).execute()
    outputs = [o for cell in notebook.cells if cell.cell_type == "code" for o in cell.outputs]
    assert not [o for o in outputs if o.output_type == "error"]
    kinds = {kind for o in outputs for kind in o.get("data", {})}
    assert {"text/html", "image/png"} <= kinds
