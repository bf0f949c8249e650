# Plugin.render: the same images as texhost render (compared as PNG files,
# byte for byte), for any thread count, and its argument checks.
import os
import subprocess
import sys

import numpy as np
import pytest

import texhost
from conftest import MODULE_DIR, assert_same_bits, random_params, run_texhost

# (plug-in, texhost render options, Plugin.render keywords, bits)
CASES = [
    ("harvoske", [], dict(size=(48, 32)), 8),
    ("pellosca", ["--stype", "Rings", "--set", "Noise Size=0.5", "--center", "0.3,-0.2,0.7",
                  "--extent", "2.5", "--footprint"],
     dict(size=(48, 32), stype="Rings", params={"Noise Size": 0.5}, center=(0.3, -0.2, 0.7),
          extent=2.5, footprint=True), 16),
    ("vamorela", ["--shape", "sphere", "--stype", "2D", "--bump-scale", "2"],
     dict(size=(40, 40), shape="sphere", stype=1, bump_scale=2.0), 8),
    ("quelmi", ["--tileable", "--footprint", "--center", "1,2,0.5"],
     dict(size=(40, 24), tileable=True, footprint=True, center=(1, 2, 0.5)), 8),
    ("delmorasquintava", ["--shape", "terrain", "--relief", "0.5", "--extent", "3"],
     dict(size=(36, 30), shape="terrain", relief=0.5, extent=3), 16),
]


def write_like_texhost(path, image, bits):
    texhost.write_png(path, texhost.quantize(image, bits))


@pytest.mark.parametrize("name, cli, kw, bits", CASES, ids=[c[0] for c in CASES])
def test_render_matches_texhost_render(tmp_path, name, cli, kw, bits):
    w, h = kw["size"]
    plane = kw.get("shape", "plane") == "plane"
    out, nmap = tmp_path / "cli.png", tmp_path / "cli_n.png"
    args = ["render", name, "--size", f"{w}x{h}", "--bits", str(bits), "-o", str(out), "--quiet"]
    run_texhost(*args, *cli, *(["--normal-map", str(nmap)] if plane else []))

    value, normal = texhost.load(name).render(**kw)
    assert value.shape == (h, w) and value.dtype == np.float32
    write_like_texhost(tmp_path / "py.png", value, bits)
    assert (tmp_path / "py.png").read_bytes() == out.read_bytes()
    if plane:
        assert normal.shape == (h, w, 3) and normal.dtype == np.float32
        texhost.write_png(tmp_path / "py_n.png", texhost.encode_normal_map(normal))
        assert (tmp_path / "py_n.png").read_bytes() == nmap.read_bytes()
    else:
        assert normal is None


def test_a_random_look_renders_as_its_parameter_file_does(tmp_path, plugins):
    plugin = plugins["quelmi"]
    params = random_params(plugin, np.random.default_rng(11))
    (tmp_path / "look.txt").write_text(params.to_text())
    run_texhost("render", "quelmi", "--params", str(tmp_path / "look.txt"), "--size", "40",
                "-o", str(tmp_path / "cli.png"), "--quiet")
    write_like_texhost(tmp_path / "py.png", plugin.render(40, params=params)[0], 8)
    assert (tmp_path / "py.png").read_bytes() == (tmp_path / "cli.png").read_bytes()


@pytest.mark.parametrize("look", [dict(shape="plane"), dict(shape="plane", tileable=True),
                                  dict(shape="sphere")])
def test_threads_and_entries_render_the_same_arrays(plugins, look):
    plugin = plugins["harvoske"]
    ref = plugin.render((37, 23), footprint=True, threads=1, **look)
    for kw in (dict(threads=2), dict(threads=5), dict(host_entry=True)):
        got = plugin.render((37, 23), footprint=True, **look, **kw)
        assert_same_bits(got[0], ref[0])
        if look["shape"] == "plane":
            assert_same_bits(got[1], ref[1])


def test_the_one_liner_of_the_readme():
    code = "import texhost; print(texhost.load('harvoske').render(64)[0].shape)"
    r = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                       env=dict(os.environ, PYTHONPATH=MODULE_DIR))
    assert r.returncode == 0, r.stderr
    assert r.stdout.strip() == "(64, 64)"


@pytest.mark.parametrize("kw, error, message", [
    (dict(size=0), ValueError, "image side 0 is not allowed"),
    (dict(size=16385), ValueError, "image side 16385"),
    (dict(size=2**70), ValueError, "image side 1180591620717411303424"),
    (dict(size=(16384, 16384)), ValueError, "at most 67108864 pixels"),
    (dict(size=(4, 4, 4)), TypeError, "size"),
    (dict(size=4.0), TypeError, "size"),
    (dict(size=4, extent=0), ValueError, "extent must be a positive number"),
    (dict(size=4, extent=float("nan")), ValueError, "extent"),
    (dict(size=4, center=(0, 0)), ValueError, "center is three numbers"),
    (dict(size=4, center=(0, float("inf"), 0)), ValueError, "three finite numbers"),
    (dict(size=4, shape="cube"), ValueError, "unknown shape \"cube\"; valid: plane, sphere, terrain"),
    (dict(size=4, shape="sphere", tileable=True), ValueError, "tileable images are made on the plane only"),
    (dict(size=4, relief=-1), ValueError, "relief must not be negative"),
    (dict(size=4, bump_scale=float("inf")), ValueError, "bump_scale must be a finite number"),
    (dict(size=4, stype=3), ValueError, "unknown sub-type \"3\" for Pellosca"),
    (dict(size=4, threads=-2), ValueError, "threads"),
    (dict(size=4, params={"Seed": 256}), ValueError, "\"Seed\" = 256 is out of range: 0 to 255"),
])
def test_bad_render_arguments_are_rejected(plugins, kw, error, message):
    with pytest.raises(error, match=message.replace("(", r"\(")):
        plugins["pellosca"].render(**kw)
