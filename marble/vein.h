// The marble vein: the point displaced by turbulence, a band coordinate taken
// from it, and one raised-cosine vein per period of 2 units of that
// coordinate. Shared by the marble and the marble-terrain plug-ins; each ends
// it with its own remap of the raw value.
#pragma once

#include "noise.h"

#include <cmath>

// Band coordinate of the sub-types other than "Bands" (0) and "Rings" (1).
enum class VeinAxis {
    x, // marble "Vertical": planes across the x axis
    z  // marble terrain "Horizontal": layers across the z axis
};

// Raw vein value in [0, 1] at (x, y, z). `Cast` is any parameter block with
// the fields turbulance_weight, noise_size, falloff, hard_noise, depth, seed,
// width ("Width", the vein's share of a period) and mid ("Bias", the position
// of the peak across the vein). Every named value is rounded to float where
// it is stored; the formulas run in double.
// The vein from the turbulence `vec` already taken at (x, y, z).
template <class Cast>
inline float marble_vein_from_turbulence(int stype, const Cast &c, float x, float y, float z,
                                         const float *vec, VeinAxis third)
{
    const float w = c.width;
    x = (float)(x + (double)vec[0] * c.turbulance_weight);
    y = (float)(y + (double)vec[1] * c.turbulance_weight);
    z = (float)(z + (double)vec[2] * c.turbulance_weight);

    float t;
    if (stype == 0)
        t = (float)((double)x + y + z);
    else if (stype == 1)
        t = (float)std::sqrt((double)x * x + (double)y * y + (double)z * z);
    else
        t = third == VeinAxis::x ? x : z;

    // Position inside the period of 2: 0 at its centre, in [-1, 1).
    t = (float)((t + 1.0) * 0.5);
    t = (float)(t - std::floor((double)t));
    t = (float)((double)t + t - 1.0);

    // Outside the vein. Written so that a NaN position (from an overflowing
    // displacement) or a NaN width also counts as outside.
    if (!(std::fabs(t) <= w))
        return 0.0f;

    // Across the vein, in [-1, 1]. A zero width (out of range) reaches here
    // only with t == 0, which then stays at the vein's centre instead of 0/0.
    if (t != 0.0f)
        t = (float)((double)t / w);

    const double mid = c.mid;
    float tt;
    if (t < mid)
        tt = (float)((mid - t) / (mid + 1.0));
    else if (t == mid)
        tt = 0.0f; // the peak; also where "Bias" 1 meets the vein's edge (0/0)
    else
        tt = (float)((t - mid) / (1.0 - mid));
    return (float)(std::cos(tt * 3.1415926) * 0.5 + 0.5);
}

template <class Cast>
inline float marble_vein(int stype, const Cast &c, float x, float y, float z, VeinAxis third)
{
    float vec[3];
    point_turbulance(c.noise_size, c.falloff, c.hard_noise, x, y, z, vec, c.depth, c.seed);
    return marble_vein_from_turbulence(stype, c, x, y, z, vec, third);
}
