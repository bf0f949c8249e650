// Marble: veins with a raised-cosine cross-section along planes, spherical
// shells or x-planes, bent by turbulence and mapped through "Map Min" ..
// "Map Max".
#include "evaluate.h"
#include "map_range.h"
#include "plugin_shell.h"
#include "vein.h"

//      type   Cast field   widget kind      label             default min     max  tip
#define MARBLE_PARAMETERS(ROW)                                                                     \
    ROW(float, turbulance_weight, VT_FLOAT_NUMBER, "Turbulance", 1.0, 0.0, 100.0, "")              \
    ROW(float, noise_size, VT_FLOAT_NUMBER, "Noise Size", 0.25, 0.0001, 2.0, "")                   \
    ROW(int, depth, VT_INT_NUMBER, "Noise Depth", 0, 0, 6, "")                                     \
    ROW(float, falloff, VT_FLOAT_NUMBER, "Detail Size", 0.5, 0.0001, 1.0, "")                      \
    ROW(int, hard_noise, VT_INT_TOGGLE, "Hard Noise", 0, 0, 1, "")                                 \
    ROW(int, seed, VT_INT_NUMBER, "Seed", 0, 0, 255, "")                                           \
    ROW(int, do_bump, VT_INT_TOGGLE, "BumpMap", 1, 0, 1, "Generate bump map")                      \
    ROW(float, filter, VT_FLOAT_NUMBER, "Filter", 0.15, 0.0001, 1.0,                               \
        "Lower means better accuracy, higher means less artifacts")                                \
    ROW(int, double_bump, VT_INT_TOGGLE, "Double Sample", 0, 0, 1,                                 \
        "Use slower (and higher quality) bumpmap method")                                          \
    ROW(int, osa, VT_INT_NUMBER, "OSA", 1, 1, 16, "Number of samples used in OSA mode")            \
    ROW(float, map_max, VT_FLOAT_NUMBER, "Map Max", 1.0, 0.0, 1.0, "")                             \
    ROW(float, map_min, VT_FLOAT_NUMBER, "Map Min", 0.0, 0.0, 1.0, "")                             \
    ROW(float, width, VT_FLOAT_NUMBER, "Width", 1.0, 0.001, 1.0, "")                               \
    ROW(float, mid, VT_FLOAT_NUMBER, "Bias", 0.0, -1.0, 1.0, "")

DECLARE_CAST(MARBLE_PARAMETERS);
DEFINE_VARSTR(MARBLE_PARAMETERS);
extern "C" {
PLUGIN_EXPORT char name[24] = "Pellosca";
PLUGIN_EXPORT char stnames[3][16] = {"Bands", "Rings", "Vertical"};
}
DEFINE_PLUGIN_SHELL(stnames, 3)

// Sub-types other than "Bands" and "Rings" take their veins across x.
static float intensity(int stype, const Cast *cast, float x, float y, float z)
{
    float res = marble_vein(stype, *cast, x, y, z, VeinAxis::x);
    return map_range(res, cast->map_max, cast->map_min);
}

struct Marble : TurbulenceAtSamplePoint {
    using Cast = ::Cast;
    // Stronger turbulence makes finer detail, so the bump keeps full strength
    // only up to a smaller footprint, and never beyond 0.5.
    static constexpr EvalOptions options = {
        /*use_footprint=*/true,        GoodOsaRule::turbulence_scaled, /*good_osa_cap=*/0.5,
        /*jitter_first_sample=*/true,  /*average_color=*/false,         /*footprint_normal=*/false,
        /*exact_bump_factor=*/false};
    static float sample(int stype, const Cast *cast, float x, float y, float z, const float *,
                        float *)
    {
        return intensity(stype, cast, x, y, z);
    }
    struct Constants {
        int stype;
        const Cast *cast;
    };
    static Constants constants(int stype, const Cast *cast, const float *) { return {stype, cast}; }
    static float finish(const Constants &k, const float *at, const float *vec, float *)
    {
        float res = marble_vein_from_turbulence(k.stype, *k.cast, at[0], at[1], at[2], vec,
                                                VeinAxis::x);
        return map_range(res, k.cast->map_max, k.cast->map_min);
    }
};

DEFINE_TEX_DOIT(Marble)
