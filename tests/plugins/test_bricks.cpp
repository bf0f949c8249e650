// The bricks plug-in through dlopen: its exported tables, the brick lattice
// with stagger, bevels and corners, the map range, the per-brick shade and
// the sampling of the footprint and the bump.
#include "noise.h"
#include "plugin_fixture.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

namespace {

constexpr int k3D = 0, k2D = 1;
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

struct Bricks : ::testing::Test {
    LoadedPlugin plugin{"vamorela"};
    // Defaults with "Turbulance" 0, so the lattice is not displaced.
    Block flat = [this] {
        Block b = plugin.defaults();
        b.set_float("Turbulance", 0.0f);
        return b;
    }();

    float value(int stype, const Block &b, float x, float y, float z) const
    {
        return plugin.value_at(stype, b, x, y, z);
    }
    int call(int stype, Block b, float x, float y, float z, float out[8],
             const float *dxt = nullptr, const float *dyt = nullptr) const
    {
        const float p[3] = {x, y, z};
        return plugin.doit(stype, b, p, dxt, dyt, out);
    }
};

// Bevel profile at x = 0.875 with the default widths: 0.125 inside the joint
// plane at x = 1, so the folded cell offset is -0.375, against the mortar
// threshold 0.1 - 0.5 and the bevel width 0.1.
double bevel_r(float smoothness)
{
    const float sw = (float)((double)0.1f - 0.5), bw = 0.1f;
    return (1.0 - smoothness) + (-0.375 - (double)sw) * smoothness / bw;
}
float curved(double r) { return (float)std::sin(r * 1.57); }

// Shade number of the brick with the given lower-cell indices.
int shade(int seed, unsigned i, unsigned j, unsigned k)
{
    return hash[(hash[(hash[(i + (unsigned)seed) & 255u] + j) & 255u] + k) & 255u];
}

// The pattern value computed from the kit's turbulence, for blocks within the
// table's ranges and the default map range.
float reference_pattern(int st, const Block &b, float x, float y, float z)
{
    auto f = [&](const char *l) { float v; std::memcpy(&v, &b.slots[b.index(l)], 4); return v; };
    auto n = [&](const char *l) { return (int)b.slots[b.index(l)]; };
    const float zs = f("Z Size"), sp = f("Space width"), sm = f("Smoothness");
    const float bw0 = (float)((double)f("Bevel width") * zs);
    const float sw_flat = (float)((double)sp * zs - 0.5), sw_scaled = (float)(sp - 0.5);
    float sw[3] = {sw_flat, sw_flat, sw_scaled}, bw[3] = {bw0, bw0, (float)(bw0 / (double)zs)};
    if (st != 0) {
        y = (float)(y / (double)zs);
        z = 0;
        sw[1] = sw_scaled, sw[2] = -0.5f;
        bw[1] = bw[2], bw[2] = 0;
    } else {
        z = (float)(z / (double)zs);
    }
    float q[3] = {(float)(x + 12345.0), (float)(y + 12345.0), (float)(z + 12345.0)}, vec[3];
    point_turbulance(f("Noise Size"), f("Detail Size"), n("Hard Noise"), q[0], q[1], q[2], vec,
                     n("Noise Depth"), n("Seed"));
    float d[3];
    int cell[3];
    for (int a = 0; a < 3; a++) {
        const float p = (float)(q[a] + (double)vec[a] * f("Turbulance"));
        cell[a] = (int)std::floor(p);
        d[a] = (float)((float)(p - std::floor(p)) - 0.5);
    }
    bool flip[3] = {(cell[0] & 1) != 0, (cell[1] & 1) != 0, (cell[2] & 1) != 0};
    if (st == 0 && (cell[2] & 2))
        flip[0] = !flip[0], flip[1] = !flip[1];
    if (st != 0 && (cell[1] & 2))
        flip[0] = !flip[0];
    bool face = true;
    for (int a = 0; a < 3; a++) {
        d[a] = flip[a] ? -d[a] : d[a];
        if (d[a] < sw[a])
            return 0.0f;
        face = face && d[a] > (double)sw[a] + bw[a];
    }
    if (face)
        return 1.0f;
    float res = 1.0f;
    for (int a = 0; a < 3; a++) {
        if (d[a] >= (double)sw[a] + bw[a])
            continue;
        const double r = (1.0 - sm) + ((double)d[a] - sw[a]) * sm / bw[a];
        const float prof = n("Bevel Type") == 1 ? (float)std::sin(r * 1.57) : (float)r;
        if (n("Corner Type") == 1)
            res = std::min(res, prof);
        else if (n("Corner Type") == 2)
            res = (float)((double)res * prof);
        else if (n("Corner Type") == 3)
            res = (float)(res - (1.0 - prof));
    }
    return res < 0 ? 0.0f : res;
}

void expect_sane(int ret, const float out[8], const char *what)
{
    EXPECT_GE(out[0], 0.0f) << what;
    EXPECT_LE(out[0], 1.0f) << what;
    if (ret == RESULT_HAS_NORMAL) {
        for (int k = 5; k < 8; k++)
            EXPECT_TRUE(std::isfinite(out[k])) << what << " element " << k;
    }
}

} // namespace

TEST_F(Bricks, ExportsTablesByteForByte)
{
    const int F = 2688, I = 2656, T = 1632, L = 5216; // type words
    expect_table(plugin.info,
                 {
                     {F, "Turbulance", 1.0f, 0.0f, 20.0f, ""},
                     {F, "Noise Size", 0.25f, 0.001f, 10.0f, ""},
                     {I, "Noise Depth", 0, 0, 6, ""},
                     {F, "Detail Size", 0.5f, 0.01f, 0.99f, ""},
                     {T, "Hard Noise", 0, 0, 1, ""},
                     {I, "Seed", 0, 0, 255, ""},
                     {T, "BumpMap", 1, 0, 1, "Generate bump map"},
                     {F, "Filter", 0.15f, 0.0001f, 1.0f,
                      "Lower means better accuracy, higher means less artifacts"},
                     {T, "Two-way Filter", 0, 0, 1, "Use slower (and higher quality) bumpmap method"},
                     {I, "OSA", 1, 1, 16, "Number of samples used in Oversampling mode"},
                     {F, "Map Max", 1.0f, 0.0f, 1.0f, ""},
                     {F, "Map Min", 0.0f, 0.0f, 1.0f, ""},
                     {F, "Space width", 0.1f, 0.0f, 0.95f, ""},
                     {F, "Bevel width", 0.1f, 0.0f, 0.95f, ""},
                     {F, "Smoothness", 1.0f, 0.0f, 1.0f, ""},
                     {F, "Z Size", 1.0f, 0.1f, 1.0f, ""},
                     {L, " ", 0, 0, 0, ""},
                     {F, "Random Color", 0.0f, 0.0f, 1.0f, ""},
                     {I, "Bevel Type", 1, 1, 2, "1:Curved 2:Straight"},
                     {I, "Corner Type", 2, 1, 3, "1:Sharp 2:Medium 3:Soft"},
                 });
    const char want_name[24] = "Vamorela";
    const char want_st[2][16] = {"3D", "2D"};
    ASSERT_EQ(plugin.info.name, plugin.symbol("name"));
    ASSERT_EQ((void *)plugin.info.snames, plugin.symbol("stnames"));
    EXPECT_EQ(0, std::memcmp(plugin.info.name, want_name, 24));
    EXPECT_EQ(0, std::memcmp(plugin.info.snames, want_st, 32));
    EXPECT_EQ(plugin.info.stypes, 2);
    EXPECT_EQ(plugin.info.nvars, 20);
}

TEST_F(Bricks, LatticeJointsAndStagger)
{
    EXPECT_EQ(value(k3D, flat, 0, 0, 0), 1.0f);
    EXPECT_EQ(value(k3D, flat, 1, 0, 0), 0.0f);
    EXPECT_EQ(value(k3D, flat, -1, 0, 0), 0.0f);
    EXPECT_EQ(value(k3D, flat, 0, 1, 0), 0.0f);
    EXPECT_EQ(value(k3D, flat, 0, 0, 1), 0.0f);
    // The layer 1 <= z < 3 is shifted by half a brick in x and y.
    EXPECT_EQ(value(k3D, flat, 0, 0, 2), 0.0f);
    EXPECT_EQ(value(k3D, flat, 0, 1, 2), 0.0f);
    EXPECT_EQ(value(k3D, flat, 1, 1, 2), 1.0f);
    // Layers, rows and bricks repeat every 4 cells, also across negative cells.
    for (float x : {0.0f, 0.875f, 1.0f, -0.8125f})
        for (float y : {0.0f, 0.875f, -1.0f})
            for (float z : {0.0f, 0.875f, 2.0f, -1.125f}) {
                EXPECT_EQ(value(k3D, flat, x - 12348, y, z), value(k3D, flat, x, y, z));
                EXPECT_EQ(value(k3D, flat, x, y, z - 12348), value(k3D, flat, x, y, z));
                EXPECT_EQ(value(k2D, flat, x, y - 12348, z), value(k2D, flat, x, y, z));
            }

    Block low = flat;
    low.set_float("Z Size", 0.5f);
    EXPECT_EQ(value(k3D, low, 0, 0, 0.5f), 0.0f);
    EXPECT_EQ(value(k3D, low, 0, 0, 0.3f), 1.0f);
    EXPECT_EQ(value(k2D, low, 0, 0.5f, 0), 0.0f);

    for (float z : {0.0f, 1.0f, -7.3f, 2.0f, 100.5f})
        EXPECT_EQ(value(k2D, flat, 0, 0, z), 1.0f) << "z = " << z;
    EXPECT_EQ(value(k2D, flat, 0, 2, 0), 0.0f);
    EXPECT_EQ(value(k2D, flat, 1, 2, 0), 1.0f);
    EXPECT_EQ(value(k2D, flat, 1, 0, 0), 0.0f);
    EXPECT_EQ(value(5, flat, 1, 2, 0), 1.0f) << "every non-zero sub-type is the wall";
    EXPECT_EQ(value(-1, flat, 0, 2, 0), 0.0f);

    Block no_joint = flat;
    no_joint.set_float("Space width", 0.0f);
    no_joint.set_float("Bevel width", 0.0f);
    EXPECT_EQ(value(k3D, no_joint, 1, 0, 0), 1.0f);
}

TEST_F(Bricks, TurbulenceDisplacesTheLatticeInSinglePrecision)
{
    Block wavy = plugin.defaults();
    Block rough = plugin.defaults();
    rough.set_float("Turbulance", 3.5f);
    rough.set_float("Noise Size", 0.8f);
    rough.set_int("Noise Depth", 3);
    rough.set_int("Hard Noise", 1);
    rough.set_int("Seed", 17);
    rough.set_float("Z Size", 0.4f);
    rough.set_float("Smoothness", 0.7f);
    rough.set_int("Bevel Type", 2);
    rough.set_int("Corner Type", 3);
    rough.set_float("Bevel width", 0.3f);
    int bevel_points = 0;
    for (Block *b : {&wavy, &rough})
        for (int st : {k3D, k2D})
            for (int i = 0; i < 300; i++) {
                const float x = std::sin(i * 0.37f) * 4, y = std::cos(i * 0.23f) * 3,
                            z = i * 0.011f - 1.5f;
                const float want = reference_pattern(st, *b, x, y, z);
                EXPECT_EQ(bits_of(value(st, *b, x, y, z)), bits_of(want))
                    << "sub-type " << st << " point " << i;
                bevel_points += want > 0 && want < 1;
            }
    EXPECT_GT(bevel_points, 100);
}

TEST_F(Bricks, BevelProfilesAndCorners)
{
    Block b = flat;
    for (float x : {0.875f, -0.875f}) {
        b.set_int("Bevel Type", 1);
        EXPECT_EQ(value(k3D, b, x, 0, 0), curved(bevel_r(1.0f)));
        EXPECT_NEAR(value(k3D, b, x, 0, 0), 0.3824996, 1e-7);
        b.set_int("Bevel Type", 2);
        EXPECT_EQ(value(k3D, b, x, 0, 0), (float)bevel_r(1.0f));
        EXPECT_EQ(value(k3D, b, x, 0, 0), 0.25000006f);
    }

    // Corner of the x and y bevels, both with the straight profile 0.25000006.
    const float p = (float)bevel_r(1.0f);
    const struct {
        int corner;
        float want;
    } corners[] = {{1, p}, {2, (float)((double)p * p)}, {3, 0.0f}, {4, 1.0f}, {0, 1.0f}};
    for (auto c : corners) {
        b.set_int("Corner Type", c.corner);
        EXPECT_EQ(value(k3D, b, 0.875f, 0.875f, 0), c.want) << "corner " << c.corner;
        EXPECT_EQ(value(k3D, b, -0.875f, 0.875f, 0), c.want) << "corner " << c.corner;
        // Along an edge all blends agree.
        if (c.corner >= 1 && c.corner <= 3) {
            EXPECT_EQ(value(k3D, b, 0.875f, 0, 0), p);
        }
    }
    b.set_int("Corner Type", 2);
    EXPECT_EQ(value(k3D, b, 0.875f, 0.875f, 0), 0.06250003f);

    b.set_float("Smoothness", 0.0f);
    EXPECT_EQ(value(k3D, b, 0.875f, 0, 0), 1.0f);
    b.set_int("Bevel Type", 1);
    EXPECT_EQ(value(k3D, b, 0.875f, 0, 0), (float)std::sin(1.57));
    EXPECT_EQ(value(k3D, b, 0.875f, 0, 0), 0.9999997f);
    b.set_float("Smoothness", 0.5f);
    b.set_int("Bevel Type", 2);
    EXPECT_EQ(value(k3D, b, 0.875f, 0, 0), 0.625f);

    Block no_bevel = flat;
    no_bevel.set_float("Bevel width", 0.0f);
    EXPECT_EQ(value(k3D, no_bevel, 0.875f, 0, 0), 1.0f);
    EXPECT_EQ(value(k3D, no_bevel, 0.95f, 0, 0), 0.0f);
}

TEST_F(Bricks, BevelZonesScaleWithZSize)
{
    // With "Z Size" 0.5 every joint and bevel is half as wide in world units;
    // along the scaled axis (z in 3D, y in 2D) the lattice widths stay 0.1.
    Block b = flat;
    b.set_float("Z Size", 0.5f);
    const float curved_default = curved(bevel_r(1.0f));
    EXPECT_EQ(value(k3D, b, 0, 0, 0.4375f), curved_default);
    EXPECT_EQ(value(k3D, b, 0, 0, -0.4375f), curved_default);
    EXPECT_EQ(value(k2D, b, 0, 0.4375f, 0), curved_default);
    // x = 0.9375: folded offset -0.4375 against the threshold 0.05 - 0.5, bevel 0.05.
    const float sw = (float)((double)0.1f * 0.5f - 0.5), bw = (float)((double)0.1f * 0.5f);
    const float want = curved((-0.4375 - (double)sw) / bw);
    EXPECT_EQ(value(k3D, b, 0.9375f, 0, 0), want);
    EXPECT_EQ(value(k3D, b, 0, 0.9375f, 0), want);
    EXPECT_EQ(value(k2D, b, 0.9375f, 0, 0), want);
}

TEST_F(Bricks, BevelTestUsesTheUnroundedSum)
{
    // A bevel width whose sum with the mortar threshold lies 2^-28 above the
    // offset -0.375 of x = 0.875, while the sum rounded to float equals it.
    const float sw = (float)((double)0.1f - 0.5);
    const float bv = (float)(-0.375 - (double)sw + std::ldexp(1.0, -28));
    ASSERT_GT((double)sw + bv, -0.375);
    ASSERT_EQ((float)((double)sw + bv), -0.375f);
    Block b = flat;
    b.set_float("Bevel width", bv);
    const float want = curved((-0.375 - (double)sw) / bv);
    ASSERT_LT(want, 1.0f);
    EXPECT_EQ(value(k3D, b, 0.875f, 0, 0), want);
}

TEST_F(Bricks, MapRangeBeforeTheShade)
{
    Block b = flat;
    b.set_int("Bevel Type", 2);
    b.set_float("Map Max", 0.8f);
    b.set_float("Map Min", 0.2f);
    const float mapped = (float)(((double)0.25000006f - 0.2f) / ((double)0.8f - 0.2f));
    EXPECT_EQ(value(k3D, b, 0.875f, 0, 0), mapped);
    EXPECT_NEAR(value(k3D, b, 0.875f, 0, 0), 0.0833334, 1e-7);
    // The shade darkens the mapped value (brick index 12344 in every axis: shade 150).
    b.set_float("Random Color", 1.0f);
    EXPECT_EQ(value(k3D, b, 0.875f, 0, 0), (float)(mapped * (1.0 - 150 / 256.0)));

    // An empty range [-0.01, 0]: mortar and face give 1, a negative soft corner 0.
    b = flat;
    b.set_float("Map Max", 0.0f);
    b.set_float("Map Min", 0.0f);
    EXPECT_EQ(value(k3D, b, 0, 0, 0), 1.0f);
    EXPECT_EQ(value(k3D, b, 1, 0, 0), 1.0f);
    b.set_int("Bevel Type", 2);
    b.set_int("Corner Type", 3);
    EXPECT_EQ(value(k3D, b, 0.875f, 0.875f, 0), 0.0f);
    // Inverted limits collapse to [0.04, 0.05].
    b = flat;
    b.set_float("Map Max", 0.2f);
    b.set_float("Map Min", 0.8f);
    EXPECT_EQ(value(k3D, b, 0, 0, 0), 1.0f);
    EXPECT_EQ(value(k3D, b, 1, 0, 0), 0.0f);
}

TEST_F(Bricks, ShadePerBrick)
{
    Block b = flat;
    b.set_float("Random Color", 1.0f);
    for (int st : {k3D, k2D}) {
        EXPECT_EQ(shade(0, 12344, 12344, 12344), 150);
        EXPECT_EQ(value(st, b, 0, 0, 0), 0.4140625f);
        EXPECT_EQ(value(st, b, 0.5f, -0.6f, 0.7f), 0.4140625f) << "one shade per brick";
        EXPECT_EQ(value(st, b, 1, 0, 0), 0.0f) << "mortar stays dark";
    }
    b.set_float("Random Color", 0.5f);
    b.set_int("Seed", 7);
    EXPECT_EQ(shade(7, 12344, 12344, 12344), 229);
    EXPECT_EQ(value(k3D, b, 0, 0, 0), 0.552734375f);
    EXPECT_EQ(value(k2D, b, 0, 0, 0), 0.552734375f);

    // Brick indices of shifted layers and rows, and of negative cells.
    b.set_float("Random Color", 1.0f);
    b.set_int("Seed", 3);
    auto shaded = [](int h) { return (float)(1.0 - h / 256.0); };
    EXPECT_EQ(value(k3D, b, 1, 1, 2), shaded(shade(3, 12345, 12345, 12346)));
    EXPECT_EQ(value(k3D, b, 2.5f, 0, 0), shaded(shade(3, 12346, 12344, 12344)));
    EXPECT_EQ(value(k2D, b, 2.5f, 2, 0), shaded(shade(3, 12347, 12346, 12344)));
    EXPECT_EQ(value(k3D, b, 1, 1, -12346), shaded(shade(3, 12345, 12345, (unsigned)-2)));
    EXPECT_EQ(value(k3D, b, -12346, 0, 0), shaded(shade(3, (unsigned)-2, 12344, 12344)));

    // The colour is what reaches element 0; the bump uses the pattern value,
    // which is 1 throughout the brick, so the normal stays zero.
    float out[8];
    ASSERT_EQ(call(k3D, b, 0, 0, 0, out), RESULT_HAS_NORMAL);
    EXPECT_EQ(out[5], 0.0f);
    EXPECT_EQ(out[6], 0.0f);
    EXPECT_EQ(out[7], 0.0f);
}

TEST_F(Bricks, SamplingBumpStepAndFactor)
{
    const float s = 0.25f * 0.15f;
    EXPECT_EQ(s, 0.0375f);
    const double factor = (double)0.05f / s;
    EXPECT_NEAR(factor, 1.3333333, 1e-7);

    const float x = 0.85f, y = 0.1f, z = 0.2f;
    const float i0 = value(k3D, flat, x, y, z);
    const float dx = value(k3D, flat, x + s, y, z) - i0;
    ASSERT_LT(dx, 0.0f) << "towards the joint the bevel falls";
    float out[8];
    ASSERT_EQ(call(k3D, flat, x, y, z, out), RESULT_HAS_NORMAL);
    EXPECT_EQ(out[5], (float)(dx * factor));
    EXPECT_EQ(out[6], 0.0f);
    EXPECT_EQ(out[7], 0.0f);

    Block two = flat;
    two.set_int("Two-way Filter", 1);
    float cx = (float)(dx - ((double)value(k3D, flat, x - s, y, z) - i0));
    cx = cx * 0.5f;
    ASSERT_EQ(call(k3D, two, x, y, z, out), RESULT_HAS_NORMAL);
    EXPECT_EQ(out[5], (float)(cx * factor));
}

TEST_F(Bricks, SamplingGoodOsaSizeThroughTheAttenuation)
{
    const struct {
        float turbulance, noise_size, want;
    } cases[] = {{1.0f, 0.25f, 0.1249875f}, {0.0f, 0.25f, 0.25f}, {20.0f, 10.0f, 0.24999875f}};
    for (auto c : cases) {
        Block b = plugin.defaults();
        b.set_float("Turbulance", c.turbulance);
        b.set_float("Noise Size", c.noise_size);
        b.set_int("Bevel Type", 2);
        const double q = c.noise_size * 0.5 / (c.turbulance + 0.0001);
        const float good = q < 0.25 ? (float)q : 0.25f;
        EXPECT_NEAR(good, c.want, 1e-9);
        const float s = c.noise_size * 0.15f;

        // A point where the pattern changes along some axis within one step.
        float p[3] = {0, 0, 0}, diff[3] = {0, 0, 0};
        bool found = false;
        for (int i = 0; i < 200 && !found; i++) {
            p[0] = 0.8f + i * 0.013f * c.noise_size;
            p[1] = 0.1f * i;
            p[2] = -0.07f * i;
            const float i0 = value(k3D, b, p[0], p[1], p[2]);
            diff[0] = value(k3D, b, p[0] + s, p[1], p[2]) - i0;
            diff[1] = value(k3D, b, p[0], p[1] + s, p[2]) - i0;
            diff[2] = value(k3D, b, p[0], p[1], p[2] + s) - i0;
            found = diff[0] != 0 || diff[1] != 0 || diff[2] != 0;
        }
        ASSERT_TRUE(found);

        // Up to `good` the bump keeps its full strength; at four times it is a quarter.
        for (float scale : {1.0f, 4.0f}) {
            const float dxt[3] = {good * scale, 0, 0}, dyt[3] = {0, 0, 0};
            const float bump_factor = 0.05f / scale;
            float out[8];
            ASSERT_EQ(call(k3D, b, p[0], p[1], p[2], out, dxt, dyt), RESULT_HAS_NORMAL);
            for (int k = 0; k < 3; k++)
                EXPECT_EQ(out[5 + k], (float)(diff[k] * ((double)bump_factor / s)))
                    << "turbulance " << c.turbulance << " footprint " << scale << " axis " << k;
        }
    }
}

TEST_F(Bricks, SamplingFirstSampleAtTexvecAndColourMean)
{
    Block b = flat;
    b.set_float("Random Color", 1.0f);
    const float tv[3] = {0.85f, 0.1f, 0.2f};
    const float dxt[3] = {0.1f, 0, 0}, dyt[3] = {0, 0.1f, 0};
    float bare[8], out[8];
    call(k3D, b, tv[0], tv[1], tv[2], bare);

    // osa 1: exactly the colour at texvec, bump about texvec (footprint below 0.25).
    const float j0x = tv[0] + (fixed_rand(0, tv[0], tv[1], tv[2]) - 0.5f) * dxt[0];
    const float j0y = tv[1] + (fixed_rand(1, tv[0], tv[1], tv[2]) - 0.5f) * dyt[1];
    ASSERT_NE(value(k3D, b, j0x, j0y, tv[2]), bare[0]) << "a jittered first sample would differ";
    ASSERT_EQ(call(k3D, b, tv[0], tv[1], tv[2], out, dxt, dyt), RESULT_HAS_NORMAL);
    for (int k : {0, 5, 6, 7})
        EXPECT_EQ(bits_of(out[k]), bits_of(bare[k])) << "element " << k;

    // osa 2: the mean of the colours at texvec and at the second, jittered sample.
    b.set_int("OSA", 2);
    const float fx = fixed_rand(2, tv[0], tv[1], tv[2]) - 0.5f;
    const float fy = fixed_rand(3, tv[0], tv[1], tv[2]) - 0.5f;
    float q[3];
    for (int k = 0; k < 3; k++)
        q[k] = (float)((double)dxt[k] * fx + (double)dyt[k] * fy + tv[k]);
    const float c0 = bare[0], c1 = value(k3D, b, q[0], q[1], q[2]);
    ASSERT_NE(c0, c1);
    ASSERT_EQ(call(k3D, b, tv[0], tv[1], tv[2], out, dxt, dyt), RESULT_HAS_NORMAL);
    EXPECT_EQ(out[0], (c0 + c1) / 2.0f);
    for (int k : {5, 6, 7})
        EXPECT_EQ(bits_of(out[k]), bits_of(bare[k])) << "element " << k;
}

TEST_F(Bricks, SamplingRandomColorNeverTiltsTheNormal)
{
    const float dxt[3] = {0.3f, 0.05f, 0}, dyt[3] = {0, 0.2f, 0.1f};
    Block base = plugin.defaults(); // with turbulence
    base.set_int("OSA", 5);
    bool some_shade_differs = false;
    for (int st : {k3D, k2D})
        for (float x : {0.85f, 0.95f, 2.9f, -1.1f})
            for (bool footprint : {false, true}) {
                Block shaded = base;
                shaded.set_float("Random Color", 1.0f);
                float plain_out[8], shaded_out[8];
                call(st, base, x, 0.87f, 0.3f, plain_out, footprint ? dxt : nullptr, dyt);
                call(st, shaded, x, 0.87f, 0.3f, shaded_out, footprint ? dxt : nullptr, dyt);
                for (int k : {5, 6, 7})
                    EXPECT_EQ(bits_of(shaded_out[k]), bits_of(plain_out[k]));
                some_shade_differs |= shaded_out[0] != plain_out[0];
            }
    EXPECT_TRUE(some_shade_differs);
}

TEST_F(Bricks, SamplingBumpOffAndReentrantEntry)
{
    float out[8];
    ASSERT_EQ(call(k3D, flat, 0.85f, 0.1f, 0.2f, out), RESULT_HAS_NORMAL);
    ASSERT_NE(out[5], 0.0f);
    float kept[3] = {out[5], out[6], out[7]};
    Block off = flat;
    off.set_int("BumpMap", 0);
    EXPECT_EQ(call(k3D, off, 0, 0, 0, out), 0);
    EXPECT_EQ(out[0], 1.0f);
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(bits_of(out[5 + k]), bits_of(kept[k]));
    for (int k = 1; k < 5; k++)
        EXPECT_EQ(out[k], 0.0f);

    ASSERT_NE(plugin.doit_r, nullptr);
    const float dxt[3] = {0.2f, 0.01f, 0}, dyt[3] = {0, 0.15f, 0.02f};
    Block b = plugin.defaults();
    b.set_float("Random Color", 0.7f);
    b.set_int("OSA", 4);
    b.set_int("Two-way Filter", 1);
    for (int st : {k3D, k2D})
        for (int i = 0; i < 30; i++) {
            float p[3] = {i * 0.173f - 2.5f, i * -0.121f + 1.0f, i * 0.07f};
            const float *fp = (i % 2) ? dxt : nullptr;
            b.set_int("BumpMap", i % 3 != 0);
            float mine[8];
            std::memcpy(mine, plugin.info.result, sizeof mine);
            int r1 = plugin.doit_r(st, b.data(), p, (float *)fp, (float *)dyt, mine);
            int r2 = plugin.doit(st, b, p, fp, dyt, out);
            EXPECT_EQ(r1, r2);
            for (int k = 0; k < 8; k++)
                EXPECT_EQ(bits_of(mine[k]), bits_of(out[k])) << "point " << i << " element " << k;
        }
}

TEST_F(Bricks, OutOfRangeBevelTypeFallsBackToAProfile)
{
    Block b = flat;
    float want[8], out[8];
    for (auto pair : {std::make_pair(1, 0), std::make_pair(1, -3), std::make_pair(1, INT_MIN),
                      std::make_pair(2, 3), std::make_pair(2, 100), std::make_pair(2, INT_MAX)}) {
        for (float x : {0.875f, 0.85f, 0.82f}) {
            b.set_int("Bevel Type", pair.first);
            call(k3D, b, x, 0.875f, 0.1f, want);
            b.set_int("Bevel Type", pair.second);
            call(k3D, b, x, 0.875f, 0.1f, out);
            for (int k : {0, 5, 6, 7})
                EXPECT_EQ(bits_of(out[k]), bits_of(want[k]))
                    << "bevel type " << pair.second << " x " << x << " element " << k;
        }
    }
}

TEST_F(Bricks, OutOfRangeBlocksAndCoordinatesStayDefined)
{
    const float pts[][3] = {{0, 0, 0},          {0.875f, 0.875f, 0.3f}, {1, -2.2f, 5.1f},
                            {kNaN, 0, 0},       {0, kInf, 0},           {0, 0, -kInf},
                            {3e9f, -3e9f, 2e9f}, {1e30f, 1e38f, -1e38f}, {-2147483648.0f, 0, 0}};
    const float dxt[3] = {0.1f, 0, 0}, dyt[3] = {0, 0.1f, 0};
    const float bad_floats[] = {kNaN, kInf, -kInf, 0.0f, -1.0f, 1e-40f, 3e38f};
    const int bad_ints[] = {INT_MIN, INT_MAX, -1, 0, 7};
    float out[8];
    auto run_all = [&](const Block &b, const std::string &what) {
        for (int st : {k3D, k2D})
            for (auto &p : pts)
                for (bool fp : {false, true}) {
                    int r = call(st, b, p[0], p[1], p[2], out, fp ? dxt : nullptr, dyt);
                    expect_sane(r, out, what.c_str());
                }
    };

    // "Z Size" at zero or below, and non-finite, in both sub-types.
    for (float zs : {0.0f, -0.0f, -1.0f, kNaN, kInf, 1e-40f}) {
        Block b = plugin.defaults();
        b.set_float("Z Size", zs);
        b.set_int("Two-way Filter", 1);
        run_all(b, "Z Size " + std::to_string(zs));
    }
    // Every float slot with every bad value, every int slot with extreme values.
    for (int i = 0; i < plugin.info.nvars; i++) {
        const VarStruct &v = plugin.info.varstr[i];
        if (v.type == VT_FLOAT_NUMBER) {
            for (float f : bad_floats) {
                Block b = plugin.defaults();
                b.set_float(v.name, f);
                b.set_float("Random Color", 0.5f);
                run_all(b, std::string(v.name) + " " + std::to_string(f));
            }
        } else {
            for (int n : bad_ints) {
                Block b = plugin.defaults();
                b.set_int(v.name, n);
                run_all(b, std::string(v.name) + " " + std::to_string(n));
            }
        }
    }
    // A huge seed next to huge brick indices.
    Block b = plugin.defaults();
    b.set_int("Seed", INT_MAX);
    b.set_float("Random Color", 1.0f);
    run_all(b, "Seed INT_MAX");
}
