#!/usr/bin/python3
"""How each plug-in's intensity is distributed over a cube of texture space.

Samples every plug-in (default parameters, first sub-type) at POINTS random
points and prints a text histogram, the mean and the standard deviation:
the statistics of a pattern at a glance, from one sample() call each.

    /usr/bin/python3 examples/pattern_histogram.py --points 1000000
"""
import argparse
import os
import sys
import time

import numpy as np

try:
    import texhost
except ImportError:  # run from a checkout without PYTHONPATH: use the build folder
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build", "python"))
    import texhost


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--points", type=int, default=1_000_000)
    ap.add_argument("--bins", type=int, default=10)
    ap.add_argument("--extent", type=float, default=8.0, help="side of the cube, centred on 0")
    args = ap.parse_args()

    rng = np.random.default_rng(0)
    points = rng.uniform(-args.extent / 2, args.extent / 2, (args.points, 3)).astype(np.float32)
    for name in texhost.plugins():
        plugin = texhost.load(name)
        start = time.perf_counter()
        intensity, _ = plugin.sample(points)
        seconds = time.perf_counter() - start
        counts, edges = np.histogram(intensity, bins=args.bins, range=(0.0, 1.0))
        print(f"{plugin.name}: mean {intensity.mean():.4f}, std {intensity.std():.4f} "
              f"({args.points} samples in {seconds:.2f} s)")
        for c, lo, hi in zip(counts, edges, edges[1:]):
            bar = "#" * int(round(50 * c / max(counts.max(), 1)))
            print(f"  {lo:4.2f}-{hi:4.2f} {c / args.points:7.2%} {bar}")


if __name__ == "__main__":
    main()
