#!/usr/bin/python3
"""Random looks of the bricks plug-in, rendered side by side.

Writes a contact sheet of COUNT random brick walls (intensity), the matching
sheet of normal maps, and one parameter file per look, so that a look you
like can be rendered again at any size:

    build/host/texhost render vamorela --params OUT/look_03.txt --size 1024 -o wall.png

Run from the repository after building (see the README):

    /usr/bin/python3 examples/bricks_looks.py -o bricks_looks
"""
import argparse
import os
import sys

import numpy as np

try:
    import texhost
except ImportError:  # run from a checkout without PYTHONPATH: use the build folder
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build", "python"))
    import texhost


def random_look(plugin, rng):
    """A brick wall: joint and bevel widths, shapes, shading and noise, all at random."""
    params = plugin.defaults()
    params.update({
        "Space width": rng.uniform(0.02, 0.3),
        "Bevel width": rng.uniform(0.0, 0.3),
        "Smoothness": rng.uniform(0.3, 1.0),
        "Z Size": rng.uniform(0.3, 1.0),
        "Random Color": rng.uniform(0.0, 0.6),
        "Bevel Type": int(rng.integers(1, 3)),
        "Corner Type": int(rng.integers(1, 4)),
        "Turbulance": rng.uniform(0.0, 1.5),
        "Noise Size": rng.uniform(0.1, 0.6),
        "Noise Depth": int(rng.integers(0, 4)),
        "Seed": int(rng.integers(0, 256)),
    })
    return params


def sheet(tiles, columns, gap, fill):
    """Tiles of one shape laid out in rows of `columns`, `gap` pixels apart."""
    h, w = tiles[0].shape[:2]
    rows = -(-len(tiles) // columns)
    out = np.full((rows * (h + gap) - gap, columns * (w + gap) - gap) + tiles[0].shape[2:],
                  fill, tiles[0].dtype)
    for i, t in enumerate(tiles):
        r, c = divmod(i, columns)
        out[r * (h + gap):r * (h + gap) + h, c * (w + gap):c * (w + gap) + w] = t
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("-o", "--output", default="bricks_looks", help="output folder")
    ap.add_argument("--count", type=int, default=12, help="number of looks")
    ap.add_argument("--columns", type=int, default=4)
    ap.add_argument("--size", type=int, default=192, help="side of one look in pixels")
    ap.add_argument("--seed", type=int, default=1, help="random seed of the looks")
    args = ap.parse_args()

    plugin = texhost.load("vamorela")
    rng = np.random.default_rng(args.seed)
    os.makedirs(args.output, exist_ok=True)
    values, normals = [], []
    for i in range(args.count):
        params = random_look(plugin, rng)
        stype = int(rng.integers(0, len(plugin.subtypes)))
        value, normal = plugin.render(args.size, extent=8.0, stype=stype, params=params,
                                      footprint=True)
        values.append(texhost.quantize(value))
        normals.append(texhost.encode_normal_map(normal))
        with open(os.path.join(args.output, f"look_{i:02d}.txt"), "w") as f:
            f.write(f"# sub-type {plugin.subtypes[stype]} (--stype {stype})\n" + params.to_text())
    texhost.write_png(os.path.join(args.output, "looks.png"), sheet(values, args.columns, 4, 255))
    texhost.write_png(os.path.join(args.output, "normals.png"),
                      sheet(normals, args.columns, 4, 255))
    print(f"wrote {args.count} looks to {args.output}/looks.png, normals.png and look_NN.txt")


if __name__ == "__main__":
    main()
