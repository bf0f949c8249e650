#!/usr/bin/python3
"""Plugin.sample against the plain C loop, on the same points and all cores.

For each plug-in, ROUNDS times and interleaved: texhost's Plugin.sample on
POINTS random points (defaults, no footprint, sub-type 0), then the
sample_loop program, which calls plugin_tex_doit_r on the same points from
a C++ loop with the same number of threads. Prints the median wall-clock
seconds of each and their ratio, the same for the processor time of all
threads together (less disturbed when other work shares the machine), and
checks that both gave the same bits.

    /usr/bin/python3 python/bench_sample.py [--build build] [--points 1000000]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.path.join(here, "..", "build"), help="build folder")
    ap.add_argument("--points", type=int, default=1_000_000)
    ap.add_argument("--rounds", type=int, default=7)
    ap.add_argument("--threads", type=int, default=os.cpu_count())
    ap.add_argument("plugins", nargs="*",
                    default=["harvoske", "quelmi", "pellosca", "delmorasquintava", "vamorela"])
    args = ap.parse_args()
    sys.path.insert(0, os.path.join(args.build, "python"))
    import texhost
    loop = os.path.join(args.build, "python", "sample_loop")

    points = np.random.default_rng(0).uniform(-20, 20, (args.points, 3)).astype(np.float32)
    with tempfile.TemporaryDirectory() as tmp:
        points_file, out_file = os.path.join(tmp, "points.f32"), os.path.join(tmp, "out.f32")
        points.tofile(points_file)
        print(f"{args.points} points, {args.threads} threads, median of {args.rounds} rounds")
        print(f"{'':18} {'wall-clock seconds':^24}   {'processor seconds':^24}  {'sample':>8}")
        print(f"{'plug-in':18} {'sample':>8} {'C loop':>8} {'ratio':>6}   "
              f"{'sample':>8} {'C loop':>8} {'ratio':>6}  {'M/s':>8}")
        for name in args.plugins:
            plugin = texhost.load(name)
            module, c_loop = [], []
            for _ in range(args.rounds):
                start, cpu_start = time.perf_counter(), time.process_time()
                intensity, bump = plugin.sample(points, threads=args.threads)
                module.append((time.perf_counter() - start, time.process_time() - cpu_start))
                r = subprocess.run([loop, plugin.path, points_file, out_file, str(args.threads)],
                                   capture_output=True, text=True, check=True)
                c_loop.append(tuple(map(float, r.stdout.split())))
            out = np.fromfile(out_file, np.float32)
            same = (np.array_equal(out[:args.points].view(np.uint32), intensity.view(np.uint32))
                    and np.array_equal(out[args.points:].view(np.uint32), bump.ravel().view(np.uint32)))
            if not same:
                sys.exit(f"{name}: sample and the C loop disagree")
            m, c = [[statistics.median(t[k] for t in runs) for k in (0, 1)] for runs in (module, c_loop)]
            print(f"{plugin.name:18} {m[0]:8.4f} {c[0]:8.4f} {m[0] / c[0]:6.3f}   "
                  f"{m[1]:8.4f} {c[1]:8.4f} {m[1] / c[1]:6.3f}  {args.points / m[0] / 1e6:8.2f}")


if __name__ == "__main__":
    main()
