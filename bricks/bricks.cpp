// Bricks: a lattice of bricks laid in mortar, with bevelled edges, a choice
// of bevel profile and corner blend, courses made wavy by the turbulence and a
// random brightness per brick. "3D" stacks layers of bricks along z; "2D"
// builds a running-bond wall in the x-y plane.
//
// The pattern value (0 in the mortar, 1 on the face, in between on the bevel)
// drives the bump normal; the value handed to the host is the pattern value
// darkened by the brick's shade, averaged over the footprint.
#include "evaluate.h"
#include "map_range.h"
#include "noise.h"
#include "plugin_shell.h"

#include <cmath>

//      type   Cast field         widget kind      label             default min     max  tip
#define BRICKS_PARAMETERS(ROW)                                                                     \
    ROW(float, turbulance_weight, VT_FLOAT_NUMBER, "Turbulance", 1.0, 0.0, 20.0, "")               \
    ROW(float, noise_size, VT_FLOAT_NUMBER, "Noise Size", 0.25, 0.001, 10.0, "")                   \
    ROW(int, depth, VT_INT_NUMBER, "Noise Depth", 0, 0, 6, "")                                     \
    ROW(float, falloff, VT_FLOAT_NUMBER, "Detail Size", 0.5, 0.01, 0.99, "")                       \
    ROW(int, hard_noise, VT_INT_TOGGLE, "Hard Noise", 0, 0, 1, "")                                 \
    ROW(int, seed, VT_INT_NUMBER, "Seed", 0, 0, 255, "")                                           \
    ROW(int, do_bump, VT_INT_TOGGLE, "BumpMap", 1, 0, 1, "Generate bump map")                      \
    ROW(float, filter, VT_FLOAT_NUMBER, "Filter", 0.15, 0.0001, 1.0,                               \
        "Lower means better accuracy, higher means less artifacts")                                \
    ROW(int, double_bump, VT_INT_TOGGLE, "Two-way Filter", 0, 0, 1,                                \
        "Use slower (and higher quality) bumpmap method")                                          \
    ROW(int, osa, VT_INT_NUMBER, "OSA", 1, 1, 16, "Number of samples used in Oversampling mode")   \
    ROW(float, map_max, VT_FLOAT_NUMBER, "Map Max", 1.0, 0.0, 1.0, "")                             \
    ROW(float, map_min, VT_FLOAT_NUMBER, "Map Min", 0.0, 0.0, 1.0, "")                             \
    ROW(float, space_width, VT_FLOAT_NUMBER, "Space width", 0.1, 0.0, 0.95, "")                    \
    ROW(float, bevel_width, VT_FLOAT_NUMBER, "Bevel width", 0.1, 0.0, 0.95, "")                    \
    ROW(float, smoothness, VT_FLOAT_NUMBER, "Smoothness", 1.0, 0.0, 1.0, "")                       \
    ROW(float, z_scale, VT_FLOAT_NUMBER, "Z Size", 1.0, 0.1, 1.0, "")                              \
    ROW(int, dummy3, VT_LABEL, " ", 0, 0, 0, "")                                                   \
    ROW(float, random_color, VT_FLOAT_NUMBER, "Random Color", 0.0, 0.0, 1.0, "")                   \
    ROW(int, bevel_method, VT_INT_NUMBER, "Bevel Type", 1, 1, 2, "1:Curved 2:Straight")            \
    ROW(int, corner_method, VT_INT_NUMBER, "Corner Type", 2, 1, 3, "1:Sharp 2:Medium 3:Soft")

DECLARE_CAST(BRICKS_PARAMETERS);
DEFINE_VARSTR(BRICKS_PARAMETERS);
extern "C" {
PLUGIN_EXPORT char name[24] = "Vamorela";
PLUGIN_EXPORT char stnames[2][16] = {"3D", "2D"};
}
DEFINE_PLUGIN_SHELL(stnames, 2)

namespace {

enum BevelMethod { bevel_curved = 1, bevel_straight = 2 };
enum CornerMethod { corner_sharp = 1, corner_medium = 2, corner_soft = 3 };

// Offset added to the scaled point, so that the lattice never meets the
// noise's origin and the world origin lies in the middle of a brick.
constexpr double lattice_offset = 12345.0;

// Bevel profile at a point in the bevel zone of one axis: r runs from 1 - sm
// at the mortar edge to 1 at the inner edge of the bevel. "Curved" bends it
// with sin(r * 1.57), deliberately not pi/2. A method below 1 counts as
// "Curved", one above 2 as "Straight".
inline float bevel_profile(int method, float d, float sw, float bw, float sm)
{
    double r = (1.0 - sm) + ((double)d - sw) * sm / bw;
    if (method <= bevel_curved)
        return (float)std::sin(r * 1.57);
    return (float)r;
}

} // namespace

// The point where the turbulence is taken: the scaled axis (z in "3D", y in
// "2D", where z drops out) divided by "Z Size", then everything offset.
static void lattice_point(int stype, const Cast *cast, float x, float y, float z, float *at)
{
    const float zs = cast->z_scale;
    if (stype == 0) {
        z = (float)(z / (double)zs);
    } else {
        y = (float)(y / (double)zs);
        z = 0.0f;
    }
    at[0] = (float)(x + lattice_offset);
    at[1] = (float)(y + lattice_offset);
    at[2] = (float)(z + lattice_offset);
}

// Mortar half-widths (sw) and bevel widths (bw) per axis, in lattice units,
// the same at every point of a sample.
struct Mortar {
    float sw[3], bw[3];
};

static Mortar mortar_of(int stype, const Cast *cast)
{
    const float zs = cast->z_scale, sp = cast->space_width;
    const float bw0 = (float)((double)cast->bevel_width * zs);
    Mortar m;
    // Sub-type scaling. The scaled axis (z in 3D, y in 2D) is divided by
    // "Z Size", so its joints and bevels are zs times the others' in
    // lattice units and equal to them in world units.
    if (stype == 0) {
        m.sw[0] = m.sw[1] = (float)((double)sp * zs - 0.5);
        m.sw[2] = (float)(sp - 0.5);
        m.bw[0] = m.bw[1] = bw0;
        m.bw[2] = (float)(bw0 / (double)zs);
    } else {
        m.sw[0] = (float)((double)sp * zs - 0.5);
        m.sw[1] = (float)(sp - 0.5);
        m.sw[2] = -0.5f; // z never makes mortar or bevel in a wall
        m.bw[0] = bw0;
        m.bw[1] = (float)(bw0 / (double)zs);
        m.bw[2] = 0.0f;
    }
    return m;
}

// The brick pattern at the lattice point `at` (from lattice_point) with the
// turbulence `vec` taken there. Returns the pattern value in [0, 1] and
// writes the brick's shaded value to *color.
static float brick_at(int stype, const Cast *cast, const Mortar &mortar, const float *at,
                      const float *vec, float *color)
{
    const float *sw = mortar.sw, *bw = mortar.bw;
    const float sm = cast->smoothness;

    // Lattice coordinate, displaced by the turbulence and held in single
    // precision: near 12345 a float resolves 1/1024 of a cell, and the fine
    // placement of the joints depends on that rounding.
    unsigned sector[3];
    float d[3];
    int high[3];
    for (int a = 0; a < 3; a++) {
        float p = (float)((double)vec[a] * cast->turbulance_weight + at[a]);
        double f = std::floor(p);
        // NaN, infinite or huge coordinates get a defined cell; index
        // arithmetic below is unsigned so that it wraps instead of overflowing.
        sector[a] = (unsigned)lattice_cell(f);
        d[a] = (float)(p - f);
        d[a] = (float)(d[a] - 0.5);
        high[a] = (int)(sector[a] & 1u);
    }

    // Stagger: alternate layers (3D) or rows (2D) shift by half a brick.
    const bool ny = (sector[1] & 2u) != 0, nz = (sector[2] & 2u) != 0;
    if (stype == 0) {
        if (nz) {
            high[0] = !high[0];
            high[1] = !high[1];
        }
    } else if (ny) {
        high[0] = !high[0];
    }

    // Fold the upper cell of each brick onto the lower one, so that d + 0.5
    // is the distance from the nearest joint plane.
    for (int a = 0; a < 3; a++)
        if (high[a])
            d[a] = -d[a];

    float res;
    if (d[0] < sw[0] || d[1] < sw[1] || d[2] < sw[2]) {
        res = 0.0f; // mortar
    } else if (d[0] > (double)sw[0] + bw[0] && d[1] > (double)sw[1] + bw[1] &&
               d[2] > (double)sw[2] + bw[2]) {
        res = 1.0f; // brick face
    } else {
        // Bevel zone: blend the profiles of the axes whose bevel the point is in.
        res = 1.0f;
        for (int a = 0; a < 3; a++) {
            if (!(d[a] < (double)sw[a] + bw[a]))
                continue;
            float par_res = bevel_profile(cast->bevel_method, d[a], sw[a], bw[a], sm);
            switch (cast->corner_method) {
            case corner_sharp:
                if (res > par_res)
                    res = par_res;
                break;
            case corner_medium:
                res = (float)((double)res * par_res);
                break;
            case corner_soft:
                res = (float)(res - (1.0 - par_res));
                break;
            default:
                break;
            }
        }
    }

    // Brick index: both cells of a brick carry the index of its lower cell.
    for (int a = 0; a < 3; a++)
        if (high[a])
            sector[a] -= 1u;

    res = map_range_unclipped(res, cast->map_max, cast->map_min);

    // The brick's shade number, a fixed function of the seed and the brick index.
    const unsigned h =
        hash[(hash[(hash[(sector[0] + (unsigned)cast->seed) & 255u] + sector[1]) & 255u] +
              sector[2]) &
             255u];
    *color = (float)(res * (1.0 - h * (double)cast->random_color / 256.0));

    return clip_unit(res);
}

static float intensity(int stype, const Cast *cast, float x, float y, float z, float *color)
{
    float at[3], vec[3];
    lattice_point(stype, cast, x, y, z, at);
    point_turbulance(cast->noise_size, cast->falloff, cast->hard_noise, at[0], at[1], at[2], vec,
                     cast->depth, cast->seed);
    return brick_at(stype, cast, mortar_of(stype, cast), at, vec, color);
}

namespace {

struct Bricks {
    using Cast = ::Cast;
    static constexpr EvalOptions options = {
        /*use_footprint=*/true,        GoodOsaRule::turbulence_scaled, /*good_osa_cap=*/0.25,
        /*jitter_first_sample=*/false, /*average_color=*/true,         /*footprint_normal=*/false,
        /*exact_bump_factor=*/false};
    static float sample(int stype, const Cast *cast, float x, float y, float z, const float *,
                        float *color)
    {
        return intensity(stype, cast, x, y, z, color);
    }
    static void turbulence_point(int stype, const Cast *cast, float x, float y, float z, float *at)
    {
        lattice_point(stype, cast, x, y, z, at);
    }
    struct Constants {
        int stype;
        const Cast *cast;
        Mortar mortar;
    };
    static Constants constants(int stype, const Cast *cast, const float *)
    {
        return {stype, cast, mortar_of(stype, cast)};
    }
    static float finish(const Constants &k, const float *at, const float *vec, float *color)
    {
        return brick_at(k.stype, k.cast, k.mortar, at, vec, color);
    }
};

} // namespace

DEFINE_TEX_DOIT(Bricks)
