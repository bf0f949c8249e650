#!/usr/bin/python3
"""Print the performance table of tools/bench.sh from the benchmark's JSON.

Usage: tools/bench_table.py RESULTS.json [LOAD_BEFORE] [LOAD_AFTER]

Every row is the processor time of one call, the minimum and the median over
the repetitions, and its ratio to the peer stb_perlin_noise3 (minimum over
minimum); the render rows are samples per second of wall-clock time. The
targets are those of the performance issue; the last column says whether
the minimum meets them.
"""

import json
import statistics
import sys

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def runs_by_name(results):
    runs = {}
    for b in results["benchmarks"]:
        if b.get("run_type") != "iteration" or b.get("error_occurred"):
            continue
        runs.setdefault(b["run_name"], []).append(b)
    return runs


def cpu_ns(runs, name, per_call=1):
    """(minimum, median) processor time per call in ns, or None."""
    if name not in runs:
        return None
    times = [r["cpu_time"] * UNIT_NS[r["time_unit"]] / per_call for r in runs[name]]
    return min(times), statistics.median(times)


def rate(runs, name, counter):
    """(maximum, median) of a rate counter, or None."""
    if name not in runs:
        return None
    values = [r[counter] for r in runs[name] if counter in r]
    return (max(values), statistics.median(values)) if values else None


def main():
    with open(sys.argv[1]) as f:
        results = json.load(f)
    load_before = sys.argv[2] if len(sys.argv) > 2 else "?"
    load_after = sys.argv[3] if len(sys.argv) > 3 else "?"
    ctx = results["context"]
    runs = runs_by_name(results)
    repetitions = max((len(v) for v in runs.values()), default=0)

    print()
    print(f"processor: {ctx.get('processor', '?')}, {ctx.get('num_cpus', '?')} cores; "
          f"noise path in use: {ctx.get('noise_path', '?')} ({ctx.get('noise_lanes', '?')} lanes)")
    print(f"load average (1 min) before / after: {load_before} / {load_after}; "
          f"times are processor time per call, min / median of {repetitions} repetitions")
    print()

    stb = cpu_ns(runs, "BM_peer_stb_perlin_noise3")
    rows = []  # (label, (min, median) or None, target ratio or None, "<=" or None)

    def row(label, value, target=None):
        rows.append((label, value, target))

    row("stb_perlin_noise3 (peer)", stb)
    row("libnoise Perlin, one octave (peer)", cpu_ns(runs, "BM_peer_libnoise_perlin_1_octave"))
    row("default clouds sample with footprint", cpu_ns(runs, "run/harvoske_footprint"), 12.0)
    plugins = [("clouds", "harvoske"), ("wood", "quelmi"), ("marble", "pellosca"),
               ("marble terrain", "delmorasquintava"), ("bricks", "vamorela")]
    for label, deliverable in plugins:
        for footprint in ("footprint", "no_footprint"):
            if (deliverable, footprint) == ("harvoske", "footprint"):
                continue
            row(f"{label} default sample, {footprint.replace('_', ' ')}",
                cpu_ns(runs, f"run/{deliverable}_{footprint}"))
    row("turb per call, one at a time", cpu_ns(runs, "BM_turb/path:-1"), 2.0)
    row("turb per call in batches of 8", cpu_ns(runs, "BM_turb_batched_8/path:-1", 8), 0.8)
    row("recursive_turb, 3 octaves", cpu_ns(runs, "BM_recursive_turb_3_octaves"))
    for lanes, name in enumerate(("portable", "avx2", "avx512")):
        row(f"  turb one at a time, {name} path", cpu_ns(runs, f"BM_turb/path:{lanes}"))
        row(f"  turb in batches of 8, {name} path",
            cpu_ns(runs, f"BM_turb_batched_8/path:{lanes}", 8))

    print("| measure | min | median | x stb_perlin_noise3 | target | met |")
    print("|---|---|---|---|---|---|")
    for label, value, target in rows:
        if value is None:
            continue
        ratio = value[0] / stb[0] if stb else None
        ratio_text = f"{ratio:.2f}" if ratio is not None else ""
        target_text = f"<= {target}" if target else ""
        met = ("yes" if ratio <= target else "no") if target and ratio is not None else ""
        print(f"| {label} | {value[0]:.1f} ns | {value[1]:.1f} ns | {ratio_text} | "
              f"{target_text} | {met} |")

    one = rate(runs, "render_throughput/harvoske/1/real_time", "samples_per_second")
    cores = int(ctx.get("num_cpus", 0) or 0)
    many = rate(runs, f"render_throughput/harvoske/{cores}/real_time", "samples_per_second")
    if one and many and cores > 1:
        scale = many[1] / one[1]  # medians: one fast outlier must not decide it
        print(f"| render 256 x 256 clouds with footprint, 1 thread | "
              f"{one[0] / 1e6:.2f} M samples/s | {one[1] / 1e6:.2f} M samples/s | | | |")
        print(f"| the same on {cores} threads | {many[0] / 1e6:.2f} M samples/s | "
              f"{many[1] / 1e6:.2f} M samples/s | {scale:.2f} x one thread | >= 1.9 x | "
              f"{'yes' if scale >= 1.9 else 'no'} |")
    print()
    print("Render rows: wall-clock samples per second, max / median; the scaling is the ratio "
          "of the medians, and a busy machine lowers it.")


if __name__ == "__main__":
    main()
