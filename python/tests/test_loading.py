# Finding and loading plug-ins: names, paths, the plug-in folder, and every
# way a library can fail to be one, with the command line's messages.
import os
import pathlib

import pytest

import texhost
from conftest import BUILD_DIR, DELIVERABLES, FAKE_DIR, fake, run_texhost


def test_the_plugins_are_found_beside_the_module(monkeypatch):
    monkeypatch.delenv("TEXHOST_PLUGIN_DIR", raising=False)
    assert texhost.default_plugin_dir() == os.path.join(BUILD_DIR, "plugins")
    assert texhost.plugins() == sorted(DELIVERABLES)
    monkeypatch.setenv("TEXHOST_PLUGIN_DIR", FAKE_DIR)
    assert texhost.default_plugin_dir() == FAKE_DIR
    assert texhost.plugins() == ["gradient"]  # the other fakes do not load
    assert texhost.load("gradient").name == "Gradient"


def test_a_plugin_by_file_name_display_name_or_path(plugins):
    by_name = plugins["pellosca"]
    assert by_name.name == "Pellosca" and by_name.reentrant
    assert by_name.subtypes == ["Bands", "Rings", "Vertical"]
    assert texhost.load("Pellosca").path == by_name.path
    assert texhost.load(pathlib.Path(by_name.path)).name == "Pellosca"
    assert texhost.load("gradient.so", plugin_dir=FAKE_DIR).name == "Gradient"
    assert texhost.plugins(plugin_dir=pathlib.Path(FAKE_DIR)) == ["gradient"]
    assert texhost.plugins(plugin_dir="/nonexistent") == []
    assert "Pellosca" in repr(by_name)


@pytest.mark.parametrize("arg, dir_arg", [
    (fake("version2"), None),
    (fake("no_getinfo"), None),
    (fake("bad_info"), None),
    (fake("not_plugin"), None),
    (fake("missing"), None),
    (FAKE_DIR + "/", None),
    ("missing.so", FAKE_DIR),
    ("nothing", FAKE_DIR),
    ("nothing", "/nonexistent"),
])
def test_loader_errors_carry_the_command_lines_message(arg, dir_arg):
    cli = ["info", arg] + (["--plugin-dir", dir_arg] if dir_arg else [])
    status, _, stderr = run_texhost(*cli, check=False)
    assert status == 1 and stderr.startswith("texhost: ")
    with pytest.raises(texhost.HostError) as caught:
        texhost.load(arg, plugin_dir=dir_arg)
    assert str(caught.value) == stderr[len("texhost: "):]
    assert "\n" not in str(caught.value)
    assert isinstance(caught.value, RuntimeError)


def test_what_the_messages_say():
    with pytest.raises(texhost.HostError, match="has plug-in interface version 2; this host needs version 3"):
        texhost.load(fake("version2"))
    with pytest.raises(texhost.HostError, match="is not a texture plug-in: it exports no plugin_tex_getversion"):
        texhost.load(fake("not_plugin"))
    with pytest.raises(texhost.HostError, match="no plug-in given"):
        texhost.load("")
    with pytest.raises(TypeError):
        texhost.load(None)
