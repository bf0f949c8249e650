# The examples run as they stand (small, to keep the suite quick).
import os
import subprocess
import sys

from conftest import EXAMPLES_DIR, MODULE_DIR


def run_example(name, *args, cwd):
    r = subprocess.run([sys.executable, os.path.join(EXAMPLES_DIR, name), *args], cwd=cwd,
                       capture_output=True, text=True, env=dict(os.environ, PYTHONPATH=MODULE_DIR))
    assert r.returncode == 0, r.stderr
    return r.stdout


def png_size(path):
    data = open(path, "rb").read(24)
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    return int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")


def test_bricks_looks(tmp_path):
    out = run_example("bricks_looks.py", "-o", "looks", "--count", "3", "--columns", "2",
                      "--size", "24", cwd=tmp_path)
    assert "wrote 3 looks" in out
    assert png_size(tmp_path / "looks" / "looks.png") == (2 * 24 + 4, 2 * 24 + 4)
    assert png_size(tmp_path / "looks" / "normals.png") == (2 * 24 + 4, 2 * 24 + 4)
    look = (tmp_path / "looks" / "look_02.txt").read_text()
    assert "Space width = " in look and "# sub-type " in look


def test_pattern_histogram(tmp_path):
    out = run_example("pattern_histogram.py", "--points", "2000", "--bins", "4", cwd=tmp_path)
    for name in ("Harvoske", "Quelmi", "Pellosca", "Delmorasquintava", "Vamorela"):
        assert f"{name}: mean " in out
    assert out.count("%") == 5 * 4
