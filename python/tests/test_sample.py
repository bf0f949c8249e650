# Plugin.sample: the same bits as the plug-in's C entry called once per point,
# for any thread count and through either entry, and the documented
# conversions and rejections of its arrays.
import ctypes

import numpy as np
import pytest

import texhost
from conftest import (DELIVERABLES, CEntry, assert_same_bits, awkward_points, fake,
                      random_params)


@pytest.mark.parametrize("name", DELIVERABLES)
def test_sample_gives_the_c_entrys_bits(plugins, name):
    plugin = plugins[name]
    c = CEntry(plugin.path)
    rng = np.random.default_rng(sum(map(ord, name)))
    for stype in range(max(1, len(plugin.subtypes))):
        params = random_params(plugin, rng)
        if "OSA" in params:
            params["OSA"] = 3
        pts = awkward_points(rng, 150)
        dxt = rng.normal(0, 0.02, pts.shape).astype(np.float32)
        dyt = rng.normal(0, 0.02, pts.shape).astype(np.float32)
        for footprint in (None, (dxt, dyt)):
            dx, dy = footprint or (None, None)
            got = plugin.sample(pts, dx, dy, stype=stype, params=params)
            want = c.sample(pts, dx, dy, stype=stype, block=params.tobytes())
            assert_same_bits(got[0], want[0])
            assert_same_bits(got[1], want[1])


@pytest.mark.parametrize("name", ["harvoske", "vamorela"])
def test_threads_and_entries_give_the_same_bits(plugins, name):
    plugin = plugins[name]
    rng = np.random.default_rng(7)
    pts = rng.uniform(-20, 20, (20000, 3)).astype(np.float32)  # several chunks of work
    dxt = np.float32([0.01, 0.002, 0])
    dyt = np.float32([-0.002, 0.01, 0.001])
    params = random_params(plugin, rng)
    ref = plugin.sample(pts, dxt, dyt, params=params, threads=1)
    assert ref[0].shape == (20000,) and ref[1].shape == (20000, 3)
    assert ref[0].dtype == np.float32 and ref[1].dtype == np.float32
    assert np.all((ref[0] >= 0) & (ref[0] <= 1))
    for kw in (dict(threads=2), dict(threads=3), dict(threads=0), dict(host_entry=True)):
        got = plugin.sample(pts, dxt, dyt, params=params, **kw)
        assert_same_bits(got[0], ref[0])
        assert_same_bits(got[1], ref[1])


def test_a_plugin_without_the_reentrant_entry_is_called_one_point_at_a_time():
    plugin = texhost.load(fake("gradient"))
    assert not plugin.reentrant
    overlaps = ctypes.c_int.in_dll(ctypes.CDLL(plugin.path), "fake_overlaps")
    pts = np.zeros((30000, 3), np.float32)
    pts[:, 0] = np.linspace(-1, 1, 30000)
    params = plugin.defaults()
    params["Scale"] = 0.8
    intensity, bump = plugin.sample(pts, params=params, threads=4)
    scale = np.float64(np.float32(0.8))  # the block holds a float
    v = 0.5 + scale * pts[:, 0].astype(np.float64)
    assert_same_bits(intensity, np.clip(v, 0, 1).astype(np.float32))
    sloped = (v > 0) & (v < 1)
    assert np.all(bump[sloped, 0] == np.float32(0.05) * np.float32(0.8))
    assert np.all(bump[~sloped] == 0)
    assert overlaps.value == 0


def test_points_are_converted_as_documented(plugins):
    plugin = plugins["pellosca"]
    rng = np.random.default_rng(3)
    p64 = rng.uniform(-3, 3, (500, 3))
    ref = plugin.sample(p64.astype(np.float32))
    # float64 is rounded to float32 first, as the host stores a coordinate
    assert_same_bits(plugin.sample(p64)[0], ref[0])
    # non-contiguous views, Fortran order, byte-swapped data and nested lists
    wide = np.zeros((1000, 6), np.float32)
    wide[::2, 1:4] = p64
    assert_same_bits(plugin.sample(wide[::2, 1:4])[0], ref[0])
    assert_same_bits(plugin.sample(np.asfortranarray(p64))[0], ref[0])
    assert_same_bits(plugin.sample(p64.astype(">f4"))[0], ref[0])
    assert_same_bits(plugin.sample(p64[:3].tolist())[0], ref[0][:3])
    # integers are exact in float32
    ints = rng.integers(-100, 100, (50, 3))
    assert_same_bits(plugin.sample(ints)[0], plugin.sample(ints.astype(np.float32))[0])
    # one footprint vector stands for the same vector at every point
    dxt, dyt = np.float32([0.05, 0, 0.01]), np.float32([0, 0.05, 0])
    one = plugin.sample(p64, dxt, dyt)
    tiled = plugin.sample(p64, np.tile(dxt, (500, 1)), np.tile(dyt, (500, 1)))
    assert_same_bits(one[1], tiled[1])
    assert not np.array_equal(one[1], ref[1])  # the footprint changed the bump vectors
    # no points, no samples
    empty = plugin.sample(np.zeros((0, 3)))
    assert empty[0].shape == (0,) and empty[1].shape == (0, 3)


@pytest.mark.parametrize("points, error", [
    (np.zeros((5, 2)), ValueError),
    (np.zeros((5, 3, 1)), ValueError),
    (np.zeros(3), ValueError),
    (np.zeros((2, 4)), ValueError),
    (np.zeros((5, 3), complex), TypeError),
    (np.zeros((5, 3), bool), TypeError),
    ([["a", "b", "c"]], TypeError),
    (None, TypeError),
])
def test_wrongly_shaped_or_typed_points_are_rejected(plugins, points, error):
    with pytest.raises(error, match="points"):
        plugins["quelmi"].sample(points)


def test_bad_sample_arguments_are_rejected(plugins):
    plugin, other = plugins["vamorela"], plugins["quelmi"]
    pts = np.zeros((4, 3), np.float32)
    with pytest.raises(ValueError, match="both dxt and dyt"):
        plugin.sample(pts, dxt=np.ones((4, 3)))
    with pytest.raises(ValueError, match="dyt has 3 rows for 4 points"):
        plugin.sample(pts, np.ones((4, 3)), np.ones((3, 3)))
    with pytest.raises(ValueError, match="dxt must be an"):
        plugin.sample(pts, np.ones(2), np.ones(3))
    with pytest.raises(ValueError, match=r"unknown sub-type \"5\" for Vamorela; valid: 3D \(0\), 2D \(1\)"):
        plugin.sample(pts, stype=5)
    with pytest.raises(ValueError, match="unknown sub-type"):
        plugin.sample(pts, stype=-1)
    with pytest.raises(TypeError, match="stype"):
        plugin.sample(pts, stype=True)
    for threads in (-1, 1025):
        with pytest.raises(ValueError, match="threads"):
            plugin.sample(pts, threads=threads)
    with pytest.raises(ValueError, match="belong to Quelmi"):
        plugin.sample(pts, params=other.defaults())
    with pytest.raises(TypeError, match="params"):
        plugin.sample(pts, params=[1, 2])


def test_subtypes_by_name_and_params_as_a_dict(plugins):
    plugin = plugins["vamorela"]
    pts = np.random.default_rng(5).uniform(-2, 2, (300, 3))
    params = plugin.defaults()
    params["Space width"] = 0.3
    by_index = plugin.sample(pts, stype=1, params=params)
    by_name = plugin.sample(pts, stype="2d", params={"space width": 0.3})
    assert_same_bits(by_index[0], by_name[0])
    assert not np.array_equal(by_index[0], plugin.sample(pts, stype=1)[0])
    with pytest.raises(KeyError, match="unknown parameter"):
        plugin.sample(pts, params={"Space widht": 0.3})
    with pytest.raises(ValueError, match="out of range"):
        plugin.sample(pts, params={"Space width": 0.99})
