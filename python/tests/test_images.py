# The command line's quantisation and PNG writer, offered to scripts.
import numpy as np
import pytest

import texhost


def test_quantize_rounds_and_clips_like_texhost_render():
    v = np.array([[0, 1, 0.5, -0.25, 1.5, np.nan], [1 / 510, 1 / 510 - 1e-9, 0.999, 1e-9, np.inf, -np.inf]])
    assert texhost.quantize(v).tolist() == [[0, 255, 128, 0, 255, 0], [1, 0, 255, 0, 255, 0]]
    q16 = texhost.quantize(v.astype(np.float32), bits=16)
    assert q16.dtype == np.uint16 and q16[0].tolist() == [0, 65535, 32768, 0, 65535, 0]
    assert texhost.quantize(v).dtype == np.uint8 and texhost.quantize(v).shape == (2, 6)
    n = texhost.encode_normal_map(np.array([[[0, 0, 1], [-1, 1, 0.5]]], np.float32))
    assert n.dtype == np.uint8 and n.tolist() == [[[128, 128, 255], [0, 255, 191]]]


def test_write_png_checks_what_it_is_given(tmp_path):
    gray = np.zeros((3, 5), np.uint8)
    texhost.write_png(tmp_path / "g.png", gray)
    data = (tmp_path / "g.png").read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    assert int.from_bytes(data[16:20], "big") == 5 and int.from_bytes(data[20:24], "big") == 3
    texhost.write_png(str(tmp_path / "rgb.png"), np.zeros((3, 5, 3), np.uint8)[:, ::-1])
    texhost.write_png(tmp_path / "g16.png", np.zeros((3, 5), np.uint16))
    assert (tmp_path / "g16.png").read_bytes()[24] == 16  # bit depth
    with pytest.raises(TypeError, match="see texhost.quantize"):
        texhost.write_png(tmp_path / "f.png", np.zeros((3, 5)))
    with pytest.raises(TypeError, match="uint16 RGB"):
        texhost.write_png(tmp_path / "f.png", np.zeros((3, 5, 3), np.uint16))
    with pytest.raises(ValueError, match=r"not shape \(3, 5, 4\)"):
        texhost.write_png(tmp_path / "f.png", np.zeros((3, 5, 4), np.uint8))
    with pytest.raises(ValueError, match=r"image shape \(0, 5\) is not allowed"):
        texhost.write_png(tmp_path / "f.png", np.zeros((0, 5), np.uint8))
    with pytest.raises(texhost.HostError, match="nonexistent"):
        texhost.write_png(tmp_path / "nonexistent" / "f.png", gray)
    with pytest.raises(ValueError, match="bits is 8 or 16"):
        texhost.quantize(gray, bits=12)
    with pytest.raises(ValueError, match=r"last axis 3\), not shape \(4,\)"):
        texhost.encode_normal_map(np.zeros(4))
    with pytest.raises(TypeError, match="image must hold real numbers"):
        texhost.quantize(np.array(["a"]))
