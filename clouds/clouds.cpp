// Clouds: the kit's turbulence summed over its three components, raised by
// 0.5 (unless "Hard Noise" is on) and mapped through "Map Min" .. "Map Max".
#include "evaluate.h"
#include "map_range.h"
#include "noise.h"
#include "plugin_shell.h"

//      type   Cast field   widget kind      label             default min     max  tip
#define CLOUDS_PARAMETERS(ROW)                                                                     \
    ROW(int, dummy, VT_LABEL, " ", 0, 0, 0, "")                                                    \
    ROW(float, noise_size, VT_FLOAT_NUMBER, "Noise Size", 0.25, 0.0001, 2.0, "")                   \
    ROW(int, depth, VT_INT_NUMBER, "Noise Depth", 2, 0, 6, "")                                     \
    ROW(float, falloff, VT_FLOAT_NUMBER, "Detail Size", 0.5, 0.0001, 1.0, "")                      \
    ROW(int, hard_noise, VT_INT_TOGGLE, "Hard Noise", 0, 0, 1, "")                                 \
    ROW(int, seed, VT_INT_NUMBER, "Seed", 0, 0, 255, "")                                           \
    ROW(int, do_bump, VT_INT_TOGGLE, "BumpMap", 1, 0, 1, "Generate bump map")                      \
    ROW(float, filter, VT_FLOAT_NUMBER, "Filter", 0.15, 0.0001, 1.0,                               \
        "Lower means better accuracy, higher means less artefacts")                                \
    ROW(int, double_bump, VT_INT_TOGGLE, "Two-way filter", 0, 0, 1,                                \
        "Use slower (and higher quality) bumpmap method")                                          \
    ROW(int, osa, VT_INT_NUMBER, "OSA", 1, 1, 16, "Number of samples used in OSA mode")            \
    ROW(float, map_max, VT_FLOAT_NUMBER, "Map Max", 1.0, 0.0, 1.0, "")                             \
    ROW(float, map_min, VT_FLOAT_NUMBER, "Map Min", 0.0, 0.0, 1.0, "")

DECLARE_CAST(CLOUDS_PARAMETERS);
DEFINE_VARSTR(CLOUDS_PARAMETERS);
extern "C" {
PLUGIN_EXPORT char name[24] = "Harvoske";
}
DEFINE_PLUGIN_SHELL(nullptr, 0)

// The raw value from the turbulence at the point, through the map range.
static float clouds_from_turbulence(const Cast *cast, const float *vec)
{
    float res = (float)((double)vec[0] + vec[1] + vec[2] + 0.5);
    // The one toggle compared with 1 rather than tested for non-zero.
    if (cast->hard_noise == 1)
        res = (float)((double)vec[0] + vec[1] + vec[2]);
    return map_range(res, cast->map_max, cast->map_min);
}

static float intensity(int /*stype*/, const Cast *cast, float x, float y, float z)
{
    float vec[3];
    point_turbulance(cast->noise_size, cast->falloff, cast->hard_noise, x, y, z, vec, cast->depth,
                     cast->seed);
    return clouds_from_turbulence(cast, vec);
}

struct Clouds : TurbulenceAtSamplePoint {
    using Cast = ::Cast;
    static constexpr EvalOptions options = {
        /*use_footprint=*/true,        GoodOsaRule::half_noise_size, /*good_osa_cap=*/0.0,
        /*jitter_first_sample=*/true,  /*average_color=*/false,       /*footprint_normal=*/false,
        /*exact_bump_factor=*/false};
    static float sample(int stype, const Cast *cast, float x, float y, float z, const float *,
                        float *)
    {
        return intensity(stype, cast, x, y, z);
    }
    struct Constants {
        const Cast *cast;
    };
    static Constants constants(int, const Cast *cast, const float *) { return {cast}; }
    static float finish(const Constants &k, const float *, const float *vec, float *)
    {
        return clouds_from_turbulence(k.cast, vec);
    }
};

DEFINE_TEX_DOIT(Clouds)
