# The widget table as the plug-in declares it, and parameters set by label:
# the conversions of Python values, the range checks and the parameter text.
import ctypes
import gc

import numpy as np
import pytest

import texhost
from conftest import DELIVERABLES, CEntry, fake

KINDS = {0x0A80: "float", 0x0A60: "int", 0x0660: "toggle", 0x1460: "label"}


@pytest.mark.parametrize("name", DELIVERABLES)
def test_the_widget_table_is_the_plugins_own(plugins, name):
    plugin = plugins[name]
    info = CEntry(plugin.path).info()
    assert plugin.name == info.name.decode()
    assert len(plugin.widgets) == info.nvars
    for i, w in enumerate(plugin.widgets):
        v = info.varstr[i]
        assert (w.index, w.label, w.tip) == (i, v.name.decode(), v.tip.decode())
        assert w.kind == KINDS.get(v.type, "other")
        assert np.float32(w.default).tobytes() == np.float32(v.default).tobytes()
        assert (w.min, w.max) == (v.min, v.max)
    # the defaults are the block the host builds: floats as floats, others truncated to int
    block = np.frombuffer(plugin.defaults().tobytes(), np.uint32)
    for w in plugin.widgets:
        want = np.float32(w.default) if w.kind == "float" else np.int32(int(w.default))
        assert block[w.index] == want.view(np.uint32)


def test_the_fake_table_with_its_caption_and_unlabelled_values():
    plugin = texhost.load(fake("gradient"))
    assert plugin.subtypes == ["Ramp", "Rise", "Constant"]
    table = [(w.index, w.label, w.key, w.kind, w.default, w.min, w.max, w.tip)
             for w in plugin.widgets]
    assert table == [
        (0, "Scale", "Scale", "float", 1.0, 0.0, 10.0, "Slope of the ramp"),
        (1, "Steps", "Steps", "int", 0.0, 0.0, 8.0, "Quantise to this many levels (0: off)"),
        (2, "Levels", "Levels", "label", 0.0, 0.0, 0.0, ""),
        (3, "", "Levels 1", "float", 0.25, 0.0, 1.0, ""),
        (4, "", "Levels 2", "float", 0.75, 0.0, 1.0, ""),
        (5, "BumpMap", "BumpMap", "toggle", 1.0, 0.0, 1.0, "Generate bump map"),
    ]
    params = plugin.defaults()
    assert list(params) == params.keys() == ["Scale", "Steps", "Levels 1", "Levels 2", "BumpMap"]
    assert len(params) == 5
    assert params.to_dict() == {"Scale": 1.0, "Steps": 0, "Levels 1": 0.25, "Levels 2": 0.75,
                                "BumpMap": 1}
    assert "Levels" not in params and "levels 1" in params and 3 not in params


def test_values_are_set_by_label_field_name_or_index(plugins):
    params = plugins["harvoske"].defaults()
    params["noise size"] = 0.1
    assert params["Noise Size"] == np.float32(0.1)  # rounded to the float the block holds
    params["noise_size"] = 2
    params["Detail Size"] = np.float32(0.3)
    params["#3"] = 0.7
    params["Noise Depth"] = np.int64(5)
    params["Seed"] = 7.0
    params["Hard Noise"] = True
    params["BumpMap"] = "off"
    params["OSA"] = " 4 "
    assert params.to_dict() == {
        "Noise Size": 2.0, "Noise Depth": 5, "Detail Size": np.float32(0.7).item(),
        "Hard Noise": 1, "Seed": 7, "BumpMap": 0, "Filter": np.float32(0.15).item(),
        "Two-way filter": 0, "OSA": 4, "Map Max": 1.0, "Map Min": 0.0}
    assert isinstance(params["Seed"], int) and isinstance(params["Filter"], float)


@pytest.mark.parametrize("key, value, error, message", [
    ("Noise Sise", 0.5, KeyError, "unknown parameter \"Noise Sise\" for Harvoske; valid: \"Noise Size\""),
    ("#0", 1, KeyError, "caption, not a parameter"),
    ("Noise Size", 2.5, ValueError, "\"Noise Size\" = 2.5 is out of range: 0.0001 to 2"),
    ("Noise Size", -1e300, ValueError, "needs a number"),
    ("Noise Size", float("nan"), ValueError, "needs a number, not \"nan\""),
    ("Noise Size", "big", ValueError, "needs a number, not \"big\""),
    ("Noise Size", "", ValueError, "no value given"),
    ("Noise Depth", 2.5, ValueError, "needs a whole number, not \"2.5\""),
    ("Noise Depth", 7, ValueError, "\"Noise Depth\" = 7 is out of range: 0 to 6"),
    ("Noise Depth", 2**64, ValueError, "out of range"),
    ("Hard Noise", "maybe", ValueError, "needs a whole number \\(or on/off\\)"),
    ("Seed", None, TypeError, "\"Seed\" takes a number, a bool or a string, not NoneType"),
    ("Seed", [1], TypeError, "not list"),
])
def test_bad_values_are_refused_and_leave_the_block_alone(plugins, key, value, error, message):
    params = plugins["harvoske"].defaults()
    before = params.tobytes()
    with pytest.raises(error, match=message):
        params[key] = value
    assert params.tobytes() == before


def test_update_copy_and_the_parameter_text(plugins):
    plugin = plugins["vamorela"]
    params = plugin.defaults()
    params.update({"Space width": 0.2, "Bevel Type": 2}, noise_size=0.5)
    assert (params["Space width"], params["Bevel Type"], params["Noise Size"]) == \
        (np.float32(0.2), 2, 0.5)
    copy = params.copy()
    copy["Bevel Type"] = 1
    assert params["Bevel Type"] == 2 and copy != params
    again = plugin.defaults()
    again.apply_text(params.to_text())
    assert again == params and again.tobytes() == params.tobytes()
    assert "Space width = 0.2\n" in params.to_text()
    with pytest.raises(ValueError, match="text:2: expected \"label = value\", not \"Seed 3\""):
        again.apply_text("# comment\nSeed 3\n")
    with pytest.raises(ValueError, match="text:1: \"Seed\" = 300 is out of range"):
        again.apply_text("Seed = 300")
    with pytest.raises(TypeError, match="mapping"):
        params.update([("Seed", 1)])
    assert params != plugins["harvoske"].defaults()
    assert params != "Params"


def test_parameters_keep_their_plugin_loaded():
    params = texhost.load(fake("gradient")).defaults()
    gc.collect()
    params["Scale"] = 2
    assert params.plugin.name == "Gradient"
    intensity, _ = params.plugin.sample([[0.1, 0, 0]], stype="ramp", params=params)
    assert intensity[0] == np.float32(0.5 + np.float64(np.float32(2)) * np.float64(np.float32(0.1)))


def test_int_parameters_reach_the_plugin_as_ints_one_call_per_point():
    plugin = texhost.load(fake("gradient"))
    lib = ctypes.CDLL(plugin.path)
    calls = ctypes.c_int.in_dll(lib, "fake_calls")
    params = plugin.defaults()
    params["Steps"] = 4
    before = calls.value
    intensity, _ = plugin.sample([[0.3, 0, 0]], params=params)
    assert calls.value == before + 1
    assert intensity[0] == np.float32(0.75)  # 0.8 quantised to quarters
