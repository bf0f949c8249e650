#!/usr/bin/env python3
"""Print the C++ source of kit/hashvectf.cpp, the noise's gradient table.

Usage: python3 tools/gen_hashvectf.py > kit/hashvectf.cpp

The table holds 256 gradient vectors (x, y, z).  A few rows are fixed; the
others get a direction drawn uniformly over the sphere and a length from a
stratified sample, so lengths are spread evenly from the shortest fixed
vector (118) to the longest (128).  Every component is kept as an integer
number of millionths, so the printed six-decimal literals are exact and the
output depends only on integer and IEEE double arithmetic: no `random`
module, no trigonometry, nothing that could change between Python versions
or platforms.
"""

import sys

N = 256
SCALE = 1000000  # components are stored as millionths

# Rows whose values are fixed, in millionths.
FIXED = {
    0: (-382332, 45987, 412422),
    1: (322819, -523555, 155692),
    2: (-599637, 610314, 204491),
    3: (-326772, 183249, 170122),
    118: (3058, 3097, 617),  # the shortest vector
    128: (37472, -974004, 186361),  # the longest vector, and the largest |y|
    255: (214834, 456259, -107739),
}

# Bounds on the free vectors, in millionths.  |x| stays below 0.88 and |y|
# below 0.936188 so that vector 128 alone holds the largest |y|; |z| reaches
# 0.936188 in exactly one vector (Z_PEAK_INDEX) and stays below it elsewhere.
# Half the largest |component| bounds the noise per axis, so these limits
# keep the noise below 0.44, 0.49 and 0.47 on x, y and z.
X_LIMIT = 880000
Y_LIMIT = 936188
Z_PEAK = 936188
Z_PEAK_INDEX = 200

# Lengths follow a piecewise-linear quantile function through these points
# (cumulative fraction, length): near uniform, with quartiles about 0.27,
# 0.51 and 0.79.  The ends sit a little inside the lengths of vectors 118 and
# 128 so that those two stay the extremes after rounding.
LENGTH_QUANTILES = [
    (0.0, 0.0060),
    (0.25, 0.2700),
    (0.50, 0.5100),
    (0.75, 0.7900),
    (1.0, 0.9900),
]

SEED = 0x5EED0F6AD1E47


class SplitMix64:
    """Small 64-bit generator with a fixed, well-known output sequence."""

    MASK = (1 << 64) - 1

    def __init__(self, seed):
        self.state = seed & self.MASK

    def next_u64(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & self.MASK
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & self.MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & self.MASK
        return z ^ (z >> 31)

    def uniform(self):
        """A double in [0, 1) with 53 random bits."""
        return (self.next_u64() >> 11) / float(1 << 53)

    def below(self, n):
        """An integer in [0, n), without modulo bias."""
        limit = (1 << 64) - (1 << 64) % n
        while True:
            r = self.next_u64()
            if r < limit:
                return r % n


def length_at(p):
    """Length at cumulative fraction p in [0, 1] of the quantile function."""
    for (p0, l0), (p1, l1) in zip(LENGTH_QUANTILES, LENGTH_QUANTILES[1:]):
        if p <= p1:
            return l0 + (l1 - l0) * (p - p0) / (p1 - p0)
    return LENGTH_QUANTILES[-1][1]


def unit_direction(rng):
    """A unit vector uniform over the sphere, by rejection from the cube."""
    while True:
        x = 2.0 * rng.uniform() - 1.0
        y = 2.0 * rng.uniform() - 1.0
        z = 2.0 * rng.uniform() - 1.0
        r2 = x * x + y * y + z * z
        if 1e-6 < r2 <= 1.0:
            r = r2 ** 0.5
            return x / r, y / r, z / r


def to_millionths(v):
    # floor(v + 0.5) on the scaled value: the same integer on every platform.
    return int((v * SCALE + 0.5) // 1)


def within_bounds(vec, index):
    x, y, z = vec
    if abs(x) >= X_LIMIT or abs(y) >= Y_LIMIT:
        return False
    if index == Z_PEAK_INDEX:
        return z == Z_PEAK
    return abs(z) < Z_PEAK


def free_vector(rng, length, index):
    """A vector of the given length in a random direction inside the bounds.

    For the z-peak row the direction is drawn in the x-y plane and the
    remaining length goes to x and y, with z fixed at the peak value."""
    while True:
        if index == Z_PEAK_INDEX:
            ux, uy, _ = unit_direction(rng)
            h = (ux * ux + uy * uy) ** 0.5
            if h < 1e-3:
                continue
            z = Z_PEAK / SCALE
            radial = (length * length - z * z) ** 0.5
            vec = (radial * ux / h, radial * uy / h, z)
        else:
            ux, uy, uz = unit_direction(rng)
            vec = (length * ux, length * uy, length * uz)
        vec = tuple(to_millionths(c) for c in vec)
        if within_bounds(vec, index):
            return vec


def build_table():
    rng = SplitMix64(SEED)
    free = [i for i in range(N) if i not in FIXED]

    # One length per stratum of the quantile function, handed out to the
    # free rows in shuffled order (Fisher-Yates).
    lengths = [length_at((k + rng.uniform()) / len(free)) for k in range(len(free))]
    for k in range(len(lengths) - 1, 0, -1):
        j = rng.below(k + 1)
        lengths[k], lengths[j] = lengths[j], lengths[k]

    # The z-peak row needs a length of at least the peak itself: give it the
    # longest of the strata.
    peak_slot = free.index(Z_PEAK_INDEX)
    longest = max(range(len(lengths)), key=lambda k: lengths[k])
    lengths[peak_slot], lengths[longest] = lengths[longest], lengths[peak_slot]

    table = [None] * N
    for index, vec in FIXED.items():
        table[index] = vec
    for index, length in zip(free, lengths):
        table[index] = free_vector(rng, length, index)
    return table


def format_component(m):
    sign = "-" if m < 0 else ""
    m = abs(m)
    return "%s%d.%06df" % (sign, m // SCALE, m % SCALE)


def render(table):
    lines = [
        "// Generated by tools/gen_hashvectf.py; do not edit by hand.",
        "// Regenerate with: python3 tools/gen_hashvectf.py > kit/hashvectf.cpp",
        "//",
        "// The 256 gradient vectors of the lattice noise, three floats (x, y, z)",
        "// each; vector g occupies elements 3g, 3g + 1 and 3g + 2. The same",
        "// values are also kept widened to double, exactly, and padded to four",
        "// per vector (x, y, z, 0) for the noise's double-precision products.",
        "",
        '#include "noise.h"',
        "",
        "#define HASHVECTF_ROWS(ROW) \\",
    ]
    for index, vec in enumerate(table):
        parts = ", ".join(format_component(c) for c in vec)
        lines.append("    ROW(%s) /* %d */ \\" % (parts, index))
    lines.append("")
    lines.append("#define AS_FLOATS(x, y, z) x, y, z,")
    lines.append("#define AS_PADDED(x, y, z) x, y, z, 0.0,")
    lines.append("const float hashvectf[768] = {HASHVECTF_ROWS(AS_FLOATS)};")
    lines.append("alignas(32) const double hashvectf_wide[1024] = {HASHVECTF_ROWS(AS_PADDED)};")
    return "\n".join(lines) + "\n"


def main():
    sys.stdout.write(render(build_table()))


if __name__ == "__main__":
    main()
