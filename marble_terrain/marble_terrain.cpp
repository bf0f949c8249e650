// Marble terrain: the marble veins confined to a band of altitude (texture z)
// and of surface slope (from the footprint's normal), each of the four limits
// with its own softness. Towards a limit a constraint factor falls from 1,
// raising the lower threshold of the remap so that the veins thin out to
// their cores; where it reaches "Map Min" the texture is 0.
#include "evaluate.h"
#include "map_range.h"
#include "plugin_shell.h"
#include "vein.h"

#include <cmath>

//      type   Cast field   widget kind      label             default min     max  tip
#define TERRAIN_PARAMETERS(ROW)                                                                    \
    ROW(float, turbulance_weight, VT_FLOAT_NUMBER, "Turbulance", 1.0, 0.0, 100.0, "")              \
    ROW(float, noise_size, VT_FLOAT_NUMBER, "Noise Size", 0.25, 0.0001, 10.0, "")                  \
    ROW(int, depth, VT_INT_NUMBER, "Noise Depth", 1, 0, 6, "")                                     \
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
    ROW(int, limit_slope, VT_LABEL, "Contraints", 0, 0, 0, "")                                     \
    ROW(float, maxz, VT_FLOAT_NUMBER, "Altitude Max", 100.0, -100.0, 100.0, "")                    \
    ROW(float, minz, VT_FLOAT_NUMBER, "Altitude Min", -100.0, -100.0, 100.0, "")                   \
    ROW(float, max_slope, VT_FLOAT_NUMBER, "Slope Max", 90.0, 0.0, 180.0, "")                      \
    ROW(float, min_slope, VT_FLOAT_NUMBER, "Slope Min", 0.0, 0.0, 180.0, "")                       \
    ROW(float, mid, VT_FLOAT_NUMBER, "Bias", 0.0, -1.0, 1.0, "")                                   \
    ROW(int, sharpness_label, VT_LABEL, "Sharp", 0, 0, 0, "")                                      \
    ROW(float, maxz_sharp, VT_FLOAT_NUMBER, "", 1.0, 0.0, 1.0, "")                                 \
    ROW(float, minz_sharp, VT_FLOAT_NUMBER, "", 1.0, 0.0, 1.0, "")                                 \
    ROW(float, max_slope_sharp, VT_FLOAT_NUMBER, "", 1.0, 0.0, 1.0, "")                            \
    ROW(float, min_slope_sharp, VT_FLOAT_NUMBER, "", 1.0, 0.0, 1.0, "")

DECLARE_CAST(TERRAIN_PARAMETERS);
DEFINE_VARSTR(TERRAIN_PARAMETERS);
extern "C" {
PLUGIN_EXPORT char name[24] = "Delmorasquintava";
PLUGIN_EXPORT char stnames[3][16] = {"Bands", "Rings", "Horizontal"};
}
DEFINE_PLUGIN_SHELL(stnames, 3)

// Clamp to [0, 1]; anything else (NaN) passes unchanged.
static float clamp01(float v)
{
    if (v > 1.0f)
        return 1.0f;
    if (v < 0.0f)
        return 0.0f;
    return v;
}

// Ramps reaching 0.5 at `centre` with the given half-width: a ceiling ramp
// rises from 0 below the centre to 1 above it, a floor ramp falls.
static float ceiling_ramp(float value, double centre, float half_width)
{
    float dz = (float)(value - centre);
    float zf = (float)(dz / (double)half_width);
    return clamp01((float)(zf * 0.5 + 0.5));
}

static float floor_ramp(float value, double centre, float half_width)
{
    float dz = (float)(value - centre);
    float zf = (float)(-(dz / (double)half_width));
    return clamp01((float)(zf * 0.5 + 0.5));
}

// What limits the veins, the same at every point of a sample: the altitude
// band with its ramps' half-widths, and the two slope ramps already taken
// at the footprint's slope (when there is a footprint).
struct Zone {
    float maxz, minz, z_interval_up, z_interval_down;
    bool has_slope;
    float slope_ceiling, slope_floor;
};

// `normal` is the footprint's unit normal or null; only its z is read.
static Zone zone_of(const Cast *cast, const float *normal)
{
    Zone zone;
    // Altitude limits; inverted or equal ones collapse to a strip 0.1 deep.
    zone.maxz = cast->maxz;
    zone.minz = cast->minz;
    if (zone.minz >= zone.maxz) {
        zone.maxz = (float)(((double)zone.minz + zone.maxz) * 0.5);
        zone.minz = (float)(zone.maxz - 0.1);
    }
    zone.z_interval_up = (float)((1.001 - cast->maxz_sharp) * 10.0);
    zone.z_interval_down = (float)((1.001 - cast->minz_sharp) * 10.0);

    zone.has_slope = normal != nullptr;
    zone.slope_ceiling = zone.slope_floor = 0.0f;
    if (normal) {
        // Slope in degrees from +z. A normalised vector can exceed 1 in z by
        // a rounding step; acos needs [-1, 1].
        double nz = normal[2];
        if (nz > 1.0)
            nz = 1.0;
        else if (nz < -1.0)
            nz = -1.0;
        float slope = (float)std::acos(nz);
        slope = (float)(slope * 57.295780490442965);

        float upper = cast->max_slope, lower = cast->min_slope;
        if (lower >= upper) {
            upper = (float)(((double)lower + upper) * 0.5);
            lower = (float)(upper - 0.1);
        }
        const float slope_interval_up = (float)((1.001 - cast->max_slope_sharp) * 45.0);
        zone.slope_ceiling = ceiling_ramp(slope, upper, slope_interval_up);
        // The lower ramp is centred 0.1 degree below "Slope Min", so that a
        // surface facing +z passes a "Slope Min" of 0 at full sharpness.
        const float slope_interval_down = (float)((1.001 - cast->min_slope_sharp) * 45.0);
        zone.slope_floor = floor_ramp(slope, (double)lower - 0.1f, slope_interval_down);
    }
    return zone;
}

// `turbulence` is the turbulence at (x, y, z) when the caller has already
// taken it, or null to take it here (only for points inside the zone).
static float constrained_vein(const Zone &zone, int stype, const Cast *cast, float x, float y,
                              float z, const float *turbulence)
{
    float factor = 1.0f;
    factor = (float)(factor - (double)ceiling_ramp(z, zone.maxz, zone.z_interval_up));
    factor = (float)(factor - (double)floor_ramp(z, zone.minz, zone.z_interval_down));
    if (factor <= cast->map_min)
        return 0.0f;

    if (zone.has_slope) {
        factor = (float)(factor - (double)zone.slope_ceiling);
        factor = (float)(factor - (double)zone.slope_floor);
        if (factor <= cast->map_min)
            return 0.0f;
    }

    // The veins, with horizontal layers as the third sub-type. Turbulence is
    // evaluated only for points inside the zone.
    float res = turbulence
                    ? marble_vein_from_turbulence(stype, *cast, x, y, z, turbulence, VeinAxis::z)
                    : marble_vein(stype, *cast, x, y, z, VeinAxis::z);

    // Remap with the lower threshold raised by the constraint.
    float max = cast->map_max;
    float min = (float)(cast->map_min + (1.0 - factor));
    if (max <= min)
        max = (float)(min + 0.01);
    if (res < min)
        res = 0.0f;
    else if (res > max)
        res = 1.0f;
    else
        res = (float)(((double)res - min) / ((double)max - min));
    return clip_unit(res);
}

static float intensity(int stype, const Cast *cast, float x, float y, float z, const float *normal)
{
    return constrained_vein(zone_of(cast, normal), stype, cast, x, y, z, nullptr);
}

struct MarbleTerrain : TurbulenceAtSamplePoint {
    using Cast = ::Cast;
    static constexpr EvalOptions options = {
        /*use_footprint=*/true,        GoodOsaRule::half_noise_size, /*good_osa_cap=*/0.0,
        /*jitter_first_sample=*/true,  /*average_color=*/false,       /*footprint_normal=*/true,
        /*exact_bump_factor=*/false};
    static float sample(int stype, const Cast *cast, float x, float y, float z,
                        const float *normal, float *)
    {
        return intensity(stype, cast, x, y, z, normal);
    }
    struct Constants {
        int stype;
        const Cast *cast;
        Zone zone;
    };
    static Constants constants(int stype, const Cast *cast, const float *normal)
    {
        return {stype, cast, zone_of(cast, normal)};
    }
    static float finish(const Constants &k, const float *at, const float *vec, float *)
    {
        return constrained_vein(k.zone, k.stype, k.cast, at[0], at[1], at[2], vec);
    }
};

DEFINE_TEX_DOIT(MarbleTerrain)
