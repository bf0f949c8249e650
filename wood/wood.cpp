// Wood: parallel bands across the diagonal x + y + z of the point displaced
// by turbulence, each with a flat top whose width "Sharpness" sets, mapped
// through "Map Min" .. "Map Max". One sample at the texture coordinate; the
// footprint is not used.
#include "evaluate.h"
#include "map_range.h"
#include "noise.h"
#include "plugin_shell.h"

#include <cmath>

//      type   Cast field   widget kind      label             default min     max  tip
#define WOOD_PARAMETERS(ROW)                                                                       \
    ROW(float, turbulance_weight, VT_FLOAT_NUMBER, "Turbulance", 1.0, 0.0, 100.0, "")              \
    ROW(float, noise_size, VT_FLOAT_NUMBER, "Noise Size", 0.25, 0.0001, 2.0, "")                   \
    ROW(int, depth, VT_INT_NUMBER, "Noise Depth", 2, 0, 6, "")                                     \
    ROW(float, falloff, VT_FLOAT_NUMBER, "Detail Size", 0.5, 0.0001, 1.0, "")                      \
    ROW(int, hard_noise, VT_INT_TOGGLE, "Hard Noise", 0, 0, 1, "")                                 \
    ROW(int, seed, VT_INT_NUMBER, "Seed", 0, 0, 255, "")                                           \
    ROW(int, do_bump, VT_INT_TOGGLE, "BumpMap", 1, 0, 1, "Generate bump map")                      \
    ROW(float, filter, VT_FLOAT_NUMBER, "Filter", 0.15, 0.0001, 1.0,                               \
        "Lower means better accuracy, higher means less artifacts")                                \
    ROW(int, double_bump, VT_INT_TOGGLE, "Double Sample", 0, 0, 1,                                 \
        "Use slower (and higher quality) bumpmap method")                                          \
    ROW(int, dummy2, VT_LABEL, " ", 0, 0, 0, "")                                                   \
    ROW(float, map_max, VT_FLOAT_NUMBER, "Map Max", 1.0, 0.0, 1.0, "")                             \
    ROW(float, map_min, VT_FLOAT_NUMBER, "Map Min", 0.0, 0.0, 1.0, "")                             \
    ROW(float, width, VT_FLOAT_NUMBER, "Sharpness", 0.0, 0.0, 1.0, "")

DECLARE_CAST(WOOD_PARAMETERS);
DEFINE_VARSTR(WOOD_PARAMETERS);
extern "C" {
PLUGIN_EXPORT char name[24] = "Quelmi";
}
DEFINE_PLUGIN_SHELL(nullptr, 0)

// The scale of a band's shoulder, 1 / (1 - "Sharpness"), the same at every point.
static double shoulder_scale(const Cast *cast) { return 1.0 / (1.0 - cast->width); }

// The bands from the turbulence `vec` already taken at (x, y, z).
static float wood_from_turbulence(const Cast *cast, double shoulder, float x, float y, float z,
                                  const float *vec)
{
    x = (float)((double)vec[0] * cast->turbulance_weight + x);
    y = (float)((double)vec[1] * cast->turbulance_weight + y);
    z = (float)((double)vec[2] * cast->turbulance_weight + z);

    float t = (float)((double)x + y + z);
    const float w = cast->width;
    // Position inside the period of 2: 0 on the even planes, in [-1, 1).
    t = (float)((t + 1.0) * 0.5);
    t = (float)(t - std::floor((double)t));
    t = (float)((double)t + t - 1.0);

    float res;
    if (std::fabs(t) < w) {
        res = 1.0f; // the flat top
    } else {
        const float tt = (float)(std::fabs(t) - (double)w);
        // The shoulder starts at the top's value. Taking tt == 0 as the top
        // itself also covers "Sharpness" 1 at t == -1, where the shoulder
        // would be 0 times an infinite slope.
        if (tt == 0.0f)
            res = 1.0f;
        else
            res = (float)((1.0 + std::cos(tt * 3.1415926 * shoulder)) * 0.5);
    }
    return map_range(res, cast->map_max, cast->map_min);
}

static float intensity(int /*stype*/, const Cast *cast, float x, float y, float z)
{
    float vec[3];
    point_turbulance(cast->noise_size, cast->falloff, cast->hard_noise, x, y, z, vec, cast->depth,
                     cast->seed);
    return wood_from_turbulence(cast, shoulder_scale(cast), x, y, z, vec);
}

struct Wood : TurbulenceAtSamplePoint {
    using Cast = ::Cast;
    // One sample at texvec; the bump is scaled by 0.05 / s in double and
    // never attenuated.
    static constexpr EvalOptions options = {
        /*use_footprint=*/false,       GoodOsaRule::half_noise_size, /*good_osa_cap=*/0.0,
        /*jitter_first_sample=*/true,  /*average_color=*/false,       /*footprint_normal=*/false,
        /*exact_bump_factor=*/true};
    static float sample(int stype, const Cast *cast, float x, float y, float z, const float *,
                        float *)
    {
        return intensity(stype, cast, x, y, z);
    }
    struct Constants {
        const Cast *cast;
        double shoulder;
    };
    static Constants constants(int, const Cast *cast, const float *)
    {
        return {cast, shoulder_scale(cast)};
    }
    static float finish(const Constants &k, const float *at, const float *vec, float *)
    {
        return wood_from_turbulence(k.cast, k.shoulder, at[0], at[1], at[2], vec);
    }
};

DEFINE_TEX_DOIT(Wood)
