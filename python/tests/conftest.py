# Shared by the module's tests: where the build is, the plug-ins' own C
# interface through ctypes (a second way to the same bits), and the
# texhost tool for comparisons with the command line.
import ctypes
import os
import subprocess

import numpy as np
import pytest

import texhost

MODULE_DIR = os.path.dirname(os.path.abspath(texhost.__file__))
BUILD_DIR = os.path.dirname(MODULE_DIR)
TEXHOST_EXE = os.environ.get("TEXHOST_EXE") or os.path.join(BUILD_DIR, "host", "texhost")
FAKE_DIR = os.environ.get("TEXHOST_TEST_PLUGIN_DIR") or os.path.join(BUILD_DIR, "test_plugins")
EXAMPLES_DIR = os.environ.get("TEXHOST_EXAMPLES") or os.path.join(
    os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "examples")
DELIVERABLES = ["harvoske", "quelmi", "pellosca", "delmorasquintava", "vamorela"]
RESULT_HAS_NORMAL = 2


def fake(variant):
    return os.path.join(FAKE_DIR, variant + ".so")


def bits(a):
    """The bit patterns of a float32 array, so that NaNs and signed zeros compare too."""
    return np.ascontiguousarray(a, dtype=np.float32).view(np.uint32)


def assert_same_bits(a, b):
    assert a.shape == b.shape
    assert np.array_equal(bits(a), bits(b))


def run_texhost(*args, check=True):
    """texhost's exit status, stdout and its one stderr line."""
    r = subprocess.run([TEXHOST_EXE, *args], capture_output=True, text=True)
    if check:
        assert r.returncode == 0, r.stderr
    return r.returncode, r.stdout, r.stderr.strip()


def random_params(plugin, rng):
    """Every parameter at a random value within its widget's range."""
    params = plugin.defaults()
    for w in plugin.widgets:
        if w.kind == "float":
            params[w.key] = float(rng.uniform(w.min, w.max))
        elif w.kind in ("int", "toggle"):
            params[w.key] = int(rng.integers(int(w.min), int(w.max) + 1))
    return params


class VarStruct(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("name", ctypes.c_char * 16), ("default", ctypes.c_float),
                ("min", ctypes.c_float), ("max", ctypes.c_float), ("tip", ctypes.c_char * 80)]


class PluginInfo(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("snames", ctypes.c_void_p), ("stypes", ctypes.c_int),
                ("nvars", ctypes.c_int), ("varstr", ctypes.POINTER(VarStruct)),
                ("result", ctypes.POINTER(ctypes.c_float)), ("cfra", ctypes.c_void_p),
                ("init", ctypes.c_void_p), ("callback", ctypes.c_void_p),
                ("tex_doit", ctypes.c_void_p), ("seq_doit", ctypes.c_void_p)]


class CEntry:
    """A plug-in's host interface called directly, one plugin_tex_doit per point."""

    def __init__(self, path):
        self.lib = ctypes.CDLL(path)
        vec = ctypes.POINTER(ctypes.c_float)
        self.doit = self.lib.plugin_tex_doit
        self.doit.argtypes = [ctypes.c_int, ctypes.c_void_p, vec, vec, vec]
        self.doit.restype = ctypes.c_int
        self.result = (ctypes.c_float * 8).in_dll(self.lib, "result")

    def info(self):
        info = PluginInfo()
        self.lib.plugin_getinfo(ctypes.byref(info))
        return info

    def sample(self, points, dxt=None, dyt=None, stype=0, block=b""):
        """(intensity, bump) as the host reads them: bump only where the call says so."""
        buf = ctypes.create_string_buffer(block, max(len(block), 4))
        n = len(points)
        intensity = np.zeros(n, np.float32)
        bump = np.zeros((n, 3), np.float32)
        for i in range(n):
            p = (ctypes.c_float * 3)(*points[i])
            dx = (ctypes.c_float * 3)(*dxt[i]) if dxt is not None else None
            dy = (ctypes.c_float * 3)(*dyt[i]) if dyt is not None else None
            r = self.doit(stype, buf, p, dx, dy)
            intensity[i] = self.result[0]
            if r == RESULT_HAS_NORMAL:
                bump[i] = self.result[5:8]
        return intensity, bump


def awkward_points(rng, n):
    """Random points, with a few that lie far out or are not numbers at all."""
    pts = rng.uniform(-6, 6, (n, 3)).astype(np.float32)
    special = np.array([[0, 0, 0], [-0.0, 0.5, -0.5], [1e30, -1e30, 3], [np.nan, 1, 2],
                        [np.inf, -np.inf, 0], [1e-40, 255.5, -256.25], [4096.7, 65536.3, -7e6]],
                       np.float32)
    return np.concatenate([special, pts])


@pytest.fixture(scope="session")
def plugins():
    return {name: texhost.load(name) for name in DELIVERABLES}
