// The map-range step with which the pattern functions end: the raw value is
// mapped through "Map Min" .. "Map Max" and clipped to [0, 1].
#pragma once

// Mapping without the final clip (bricks derive their colour in between).
// An empty or inverted range collapses to a narrow one near the limits' mean.
inline float map_range_unclipped(float res, float map_max, float map_min)
{
    float max = map_max, min = map_min;
    if (max <= min) {
        // The sum is formed in double: in float it would round first.
        max = (float)(((double)max + min) * 0.05);
        min = (float)(max - 0.01);
    }
    if (res < min)
        return 0.0f;
    if (res > max)
        return 1.0f;
    return (float)(((double)res - min) / ((double)max - min));
}

// Clip to [0, 1]; NaN becomes 0 so that no input yields a NaN intensity.
inline float clip_unit(float res)
{
    if (res > 1.0f)
        return 1.0f;
    if (!(res >= 0.0f))
        return 0.0f;
    return res;
}

inline float map_range(float res, float map_max, float map_min)
{
    return clip_unit(map_range_unclipped(res, map_max, map_min));
}
