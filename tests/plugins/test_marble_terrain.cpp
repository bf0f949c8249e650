// The marble-terrain plug-in (delmorasquintava), loaded as the host loads it.
#include "noise.h" // fixed_rand: where the kit puts the jittered sample 0
#include "plugin_fixture.h"

#include <climits>
#include <cmath>

namespace {

// Slots of the limits and of the four unlabelled sharpness entries.
enum Slot {
    kMapMax = 10,
    kMapMin = 11,
    kMaxZ = 14,
    kMinZ = 15,
    kMaxSlope = 16,
    kMinSlope = 17,
    kMaxZSharp = 20,
    kMinZSharp = 21,
    kMaxSlopeSharp = 22,
    kMinSlopeSharp = 23
};

// The parameters the constraint reads, with the table's defaults.
struct Limits {
    float map_max = 1, map_min = 0;
    float maxz = 100, minz = -100, max_slope = 90, min_slope = 0;
    float maxz_sharp = 1, minz_sharp = 1, max_slope_sharp = 1, min_slope_sharp = 1;

    void apply(Block &b) const
    {
        const std::pair<int, float> v[] = {
            {kMapMax, map_max},         {kMapMin, map_min},       {kMaxZ, maxz},
            {kMinZ, minz},              {kMaxSlope, max_slope},   {kMinSlope, min_slope},
            {kMaxZSharp, maxz_sharp},   {kMinZSharp, minz_sharp}, {kMaxSlopeSharp, max_slope_sharp},
            {kMinSlopeSharp, min_slope_sharp}};
        for (auto &e : v)
            std::memcpy(&b.slots[e.first], &e.second, 4);
    }
};

float clamp01(float v) { return v > 1.0f ? 1.0f : (v < 0.0f ? 0.0f : v); }

// The constraint factor, written out from its definition: four clamped
// linear ramps, each subtracting from 1. `nz` is the normal's z or null.
float factor_reference(float z, const float *nz, const Limits &l)
{
    float factor = 1.0f;
    float hi = l.maxz, lo = l.minz;
    if (lo >= hi) {
        hi = (float)(((double)lo + hi) * 0.5);
        lo = (float)(hi - 0.1);
    }
    float half = (float)((1.001 - l.maxz_sharp) * 10.0);
    factor = (float)(factor - clamp01((float)((float)(((double)z - hi) / half) * 0.5 + 0.5)));
    half = (float)((1.001 - l.minz_sharp) * 10.0);
    factor = (float)(factor - clamp01((float)(-(float)(((double)z - lo) / half) * 0.5 + 0.5)));
    if (factor <= l.map_min || !nz)
        return factor;

    float slope = (float)std::acos((double)*nz);
    slope = (float)(slope * (180.0 / 3.1415926));
    hi = l.max_slope;
    lo = l.min_slope;
    if (lo >= hi) {
        hi = (float)(((double)lo + hi) * 0.5);
        lo = (float)(hi - 0.1);
    }
    half = (float)((1.001 - l.max_slope_sharp) * 45.0);
    factor = (float)(factor - clamp01((float)((float)(((double)slope - hi) / half) * 0.5 + 0.5)));
    half = (float)((1.001 - l.min_slope_sharp) * 45.0);
    float dz = (float)((double)slope - ((double)lo - (double)0.1f));
    factor = (float)(factor - clamp01((float)(-(float)(dz / half) * 0.5 + 0.5)));
    return factor;
}

// The vein without turbulence (width 1, bias 0): "Bands" x + y + z,
// "Horizontal" z.
float vein_reference(int stype, float x, float y, float z)
{
    float t = stype == 0 ? (float)((double)x + y + z) : z;
    t = (float)((t + 1.0) * 0.5);
    t = (float)(t - std::floor(t));
    t = (float)(2.0 * t - 1.0);
    float tt = (float)std::fabs(t);
    return (float)(std::cos(tt * 3.1415926) * 0.5 + 0.5);
}

// The whole pattern without turbulence.
float terrain_reference(int stype, float x, float y, float z, const float *nz, const Limits &l)
{
    float factor = factor_reference(z, nz, l);
    if (factor <= l.map_min)
        return 0.0f;
    float res = vein_reference(stype, x, y, z);
    float mx = l.map_max, mn = (float)(l.map_min + (1.0 - factor));
    if (mx <= mn)
        mx = (float)(mn + 0.01);
    if (res < mn)
        return 0.0f;
    if (res > mx)
        return 1.0f;
    return clamp01((float)(((double)res - mn) / ((double)mx - mn)));
}

void jittered_point(const float *tv, const float *dxt, const float *dyt, float *p)
{
    float fx = fixed_rand(0, tv[0], tv[1], tv[2]) - 0.5f;
    float fy = fixed_rand(1, tv[0], tv[1], tv[2]) - 0.5f;
    for (int k = 0; k < 3; k++)
        p[k] = (float)((double)dxt[k] * fx + (double)dyt[k] * fy + tv[k]);
}

class Terrain : public ::testing::Test {
protected:
    LoadedPlugin p{"delmorasquintava"};

    // Defaults with "Turbulance" 0 and the given limits.
    Block block(const Limits &l = Limits()) const
    {
        Block b = p.defaults();
        b.set_float("Turbulance", 0.0f);
        l.apply(b);
        return b;
    }
    // Value at (1/3 - z, 0, z): x + y + z = 1/3, a raw vein value of 0.75.
    float on_vein(const Limits &l, float z) const
    {
        return p.value_at(0, block(l), (float)(1.0 / 3 - z), 0, z);
    }
    float on_vein_reference(const Limits &l, float z) const
    {
        return terrain_reference(0, (float)(1.0 / 3 - z), 0, z, nullptr, l);
    }
};

constexpr int kFloat = VT_FLOAT_NUMBER, kInt = VT_INT_NUMBER, kToggle = VT_INT_TOGGLE,
              kLabel = VT_LABEL;

TEST_F(Terrain, IdentityAndTable)
{
    ASSERT_TRUE(p.handle);
    char want_name[24] = "Delmorasquintava";
    EXPECT_EQ(0, std::memcmp(p.symbol("name"), want_name, 24));
    EXPECT_EQ((void *)p.info.name, p.symbol("name"));
    char want_st[3][16] = {"Bands", "Rings", "Horizontal"};
    ASSERT_NE(nullptr, p.symbol("stnames"));
    EXPECT_EQ(0, std::memcmp(p.symbol("stnames"), want_st, sizeof want_st));
    EXPECT_EQ((void *)p.info.snames, p.symbol("stnames"));
    EXPECT_EQ(3, p.info.stypes);
    // One 4-byte Cast slot per entry, the two labels included: 96 bytes.
    EXPECT_EQ(24, p.info.nvars);
    EXPECT_EQ(96u, 4u * p.info.nvars);

    expect_table(p.info,
                 {
                     {kFloat, "Turbulance", 1.0f, 0.0f, 100.0f, ""},
                     {kFloat, "Noise Size", 0.25f, 0.0001f, 10.0f, ""},
                     {kInt, "Noise Depth", 1.0f, 0.0f, 6.0f, ""},
                     {kFloat, "Detail Size", 0.5f, 0.0001f, 1.0f, ""},
                     {kToggle, "Hard Noise", 0.0f, 0.0f, 1.0f, ""},
                     {kInt, "Seed", 0.0f, 0.0f, 255.0f, ""},
                     {kToggle, "BumpMap", 1.0f, 0.0f, 1.0f, "Generate bump map"},
                     {kFloat, "Filter", 0.15f, 0.0001f, 1.0f,
                      "Lower means better accuracy, higher means less artifacts"},
                     {kToggle, "Double Sample", 0.0f, 0.0f, 1.0f,
                      "Use slower (and higher quality) bumpmap method"},
                     {kInt, "OSA", 1.0f, 1.0f, 16.0f, "Number of samples used in OSA mode"},
                     {kFloat, "Map Max", 1.0f, 0.0f, 1.0f, ""},
                     {kFloat, "Map Min", 0.0f, 0.0f, 1.0f, ""},
                     {kFloat, "Width", 1.0f, 0.001f, 1.0f, ""},
                     {kLabel, "Contraints", 0.0f, 0.0f, 0.0f, ""},
                     {kFloat, "Altitude Max", 100.0f, -100.0f, 100.0f, ""},
                     {kFloat, "Altitude Min", -100.0f, -100.0f, 100.0f, ""},
                     {kFloat, "Slope Max", 90.0f, 0.0f, 180.0f, ""},
                     {kFloat, "Slope Min", 0.0f, 0.0f, 180.0f, ""},
                     {kFloat, "Bias", 0.0f, -1.0f, 1.0f, ""},
                     {kLabel, "Sharp", 0.0f, 0.0f, 0.0f, ""},
                     {kFloat, "", 1.0f, 0.0f, 1.0f, ""},
                     {kFloat, "", 1.0f, 0.0f, 1.0f, ""},
                     {kFloat, "", 1.0f, 0.0f, 1.0f, ""},
                     {kFloat, "", 1.0f, 0.0f, 1.0f, ""},
                 });
}

TEST_F(Terrain, AltitudeLimits)
{
    Limits l;
    EXPECT_NEAR(0.75f, on_vein(l, 0), 1e-6);
    EXPECT_NEAR(0.5f, on_vein(l, 100), 1e-4); // factor 0.5: min becomes 0.5
    EXPECT_NEAR(0.5f, on_vein(l, -100), 1e-4);
    EXPECT_EQ(0.0f, on_vein(l, 101));
    EXPECT_EQ(0.0f, on_vein(l, -101));
    EXPECT_NEAR(0.5f, factor_reference(100, nullptr, l), 1e-6);
    EXPECT_EQ(0.0f, factor_reference(101, nullptr, l));
    for (float z : {0.0f, 100.0f, -100.0f, 101.0f, -101.0f, 99.995f, -100.004f, 37.0f})
        EXPECT_EQ(bits_of(on_vein_reference(l, z)), bits_of(on_vein(l, z))) << "z " << z;
}

TEST_F(Terrain, SoftUpperAltitudeLimit)
{
    Limits l;
    l.maxz_sharp = 0; // half-width 10.01
    EXPECT_NEAR(0.9995, factor_reference(90, nullptr, l), 1e-4);
    EXPECT_NEAR(0.7498, factor_reference(95, nullptr, l), 1e-4);
    EXPECT_NEAR(0.0005, factor_reference(110, nullptr, l), 1e-4);
    EXPECT_NEAR(0.7499f, on_vein(l, 90), 1e-4);
    EXPECT_EQ(0.0f, on_vein(l, 110));
    for (float z : {80.0f, 90.0f, 95.0f, 100.0f, 105.0f, 110.0f, 110.01f})
        EXPECT_EQ(bits_of(on_vein_reference(l, z)), bits_of(on_vein(l, z))) << "z " << z;
    l.minz_sharp = 0.5f;
    for (float z : {-100.0f, -97.0f, -103.0f, -105.01f})
        EXPECT_EQ(bits_of(on_vein_reference(l, z)), bits_of(on_vein(l, z))) << "z " << z;
}

TEST_F(Terrain, MapRangeWithTheConstraint)
{
    Limits l;
    l.map_min = 0.5f;
    EXPECT_NEAR(0.5f, on_vein(l, 0), 1e-6); // remap from 0.5 to 1
    EXPECT_EQ(0.0f, on_vein(l, 100));       // factor 0.5 <= "Map Min"

    l.map_min = 0.4f;
    l.map_max = 0.45f;
    EXPECT_EQ(0.0f, on_vein(l, 100)); // min 0.9, max 0.91

    // An empty range widens to min + 0.01 (not to the map-range step's
    // 0.04 .. 0.05): a raw value 0.005 above min maps to about 0.5.
    const float raw = vein_reference(0, (float)(1.0 / 3), 0, 0);
    l.map_min = (float)(raw - 0.005);
    l.map_max = l.map_min;
    EXPECT_NEAR(0.5f, on_vein(l, 0), 1e-3);
    l.map_max = 0.1f;
    EXPECT_NEAR(0.5f, on_vein(l, 0), 1e-3);

    struct Range {
        float max, min;
    };
    for (Range r : {Range{0.8f, 0.2f}, Range{0.2f, 0.8f}, Range{0.7f, 0.7f}, Range{1, 0.3f}})
        for (float z : {0.0f, 50.0f, 99.996f, 100.0f, -100.0f, -99.997f}) {
            l.map_max = r.max;
            l.map_min = r.min;
            EXPECT_EQ(bits_of(on_vein_reference(l, z)), bits_of(on_vein(l, z)))
                << "max " << r.max << " min " << r.min << " z " << z;
        }
}

TEST_F(Terrain, CollapsedAltitudeStrip)
{
    Limits l;
    l.maxz = 0;
    l.minz = 0; // the zone becomes -0.1 .. 0
    EXPECT_EQ(1.0f, factor_reference(-0.05f, nullptr, l));
    EXPECT_NEAR(0.5f, factor_reference(0, nullptr, l), 1e-6);
    EXPECT_NEAR(0.5f, factor_reference(-0.1f, nullptr, l), 1e-5);
    EXPECT_NEAR(0.75f, on_vein(l, -0.05f), 1e-6);
    EXPECT_NEAR(0.5f, on_vein(l, 0), 1e-5);
    EXPECT_NEAR(0.5f, on_vein(l, -0.1f), 1e-4);
    EXPECT_EQ(0.0f, on_vein(l, 0.2f));
    EXPECT_EQ(0.0f, on_vein(l, -0.2f));

    // "Horizontal": layers across z.
    Block b = block(l);
    for (float z : {-0.05f, 0.0f, -0.1f, 0.2f, -0.2f, -0.02f, -0.095f})
        EXPECT_EQ(bits_of(terrain_reference(2, 3, 4, z, nullptr, l)),
                  bits_of(p.value_at(2, b, 3, 4, z)))
            << "z " << z;

    // Inverted limits collapse around their mean as well.
    l.maxz = -2;
    l.minz = 3; // strip 0.4 .. 0.5
    for (float z : {0.45f, 0.5f, 0.4f, 0.3f, 0.6f})
        EXPECT_EQ(bits_of(on_vein_reference(l, z)), bits_of(on_vein(l, z))) << "z " << z;
}

TEST_F(Terrain, SubTypeOutsideTableIsHorizontal)
{
    Block b = block();
    b.set_float("Turbulance", 1.0f);
    const float pts[][3] = {{0.5f, 5, 0.7f}, {0.3f, -1.7f, 2.2f}, {-3.1f, 0.4f, -9}};
    for (int st : {3, 7, -1, INT_MAX, INT_MIN})
        for (auto &q : pts)
            EXPECT_EQ(bits_of(p.value_at(2, b, q[0], q[1], q[2])),
                      bits_of(p.value_at(st, b, q[0], q[1], q[2])))
                << "stype " << st;
    // And without turbulence it depends on z alone.
    Block flat = block();
    EXPECT_EQ(bits_of(p.value_at(2, flat, 0.1f, 0.2f, 0.3f)),
              bits_of(p.value_at(5, flat, 9, -4, 0.3f)));
}

// One call with a footprint and "OSA" 1: the value is the pattern at the
// jittered sample 0, judged with the footprint's normal.
struct FootprintCase {
    const char *what;
    float dxt[3], dyt[3];
    float nz; // z of the normalised dxt x dyt
};

TEST_F(Terrain, SlopeFromTheFootprint)
{
    // (0, -1, 1) normalised as the kit does: scaled by 1 / length in float.
    const float diag_nz = (float)(1.0 / (float)std::sqrt(2.0));
    ASSERT_NEAR(1.0 / std::sqrt(2.0), diag_nz, 1e-7);
    const FootprintCase cases[] = {
        {"facing +z", {1, 0, 0}, {0, 1, 0}, 1.0f},
        {"facing -z", {0, 1, 0}, {1, 0, 0}, -1.0f},
        {"vertical", {1, 0, 0}, {0, 0, 1}, 0.0f},
        {"longer vectors", {2, 0, 0}, {0, 3, 0}, 1.0f},
        {"45 degrees", {1, 0, 0}, {0, 1, 1}, diag_nz},
        {"zero footprint", {0, 0, 0}, {0, 0, 0}, 0.0f},
    };
    const float tv[3] = {0.21f, 0.03f, 1.5f};
    for (FootprintCase c : cases) {
        Limits soft;
        soft.max_slope_sharp = 0;
        soft.min_slope = 10;
        soft.min_slope_sharp = 0.3f;
        for (Limits l : {Limits(), [] { Limits m; m.min_slope = 30; return m; }(),
                         [] { Limits m; m.max_slope = 30; return m; }(), soft}) {
            Block b = block(l);
            b.set_int("BumpMap", 0);
            float base[3], out[8];
            jittered_point(tv, c.dxt, c.dyt, base);
            EXPECT_EQ(0, p.doit(0, b, tv, c.dxt, c.dyt, out));
            EXPECT_EQ(bits_of(terrain_reference(0, base[0], base[1], base[2], &c.nz, l)),
                      bits_of(out[0]))
                << c.what << ", slope limits " << l.min_slope << " .. " << l.max_slope;
        }
    }
}

// The stated slope factors, seen through the plug-in: the footprint's value
// against the value at its base point without a footprint (factor 1).
TEST_F(Terrain, SlopeFactors)
{
    const float tv[3] = {0.05f, 0.02f, 0.1f};
    float up_x[3] = {1, 0, 0}, up_y[3] = {0, 1, 0}, side_x[3] = {1e-3f, 0, 0},
          side_y[3] = {0, 0, 1e-6f}, diag_y[3] = {0, 1, 1};
    auto pair = [&](Limits l, float *dxt, float *dyt, float &with, float &without) {
        Block b = block(l);
        b.set_int("BumpMap", 0);
        float base[3], out[8];
        jittered_point(tv, dxt, dyt, base);
        p.doit(0, b, tv, dxt, dyt, out);
        with = out[0];
        without = p.value_at(0, b, base[0], base[1], base[2]);
    };
    float with, without;
    pair(Limits(), up_x, up_y, with, without); // slope 0
    ASSERT_GT(without, 0.6f);
    EXPECT_EQ(bits_of(without), bits_of(with));
    pair(Limits(), up_y, up_x, with, without); // slope 180
    EXPECT_EQ(0.0f, with);
    pair(Limits(), up_x, diag_y, with, without); // slope 45
    ASSERT_GT(without, 0.0f);
    EXPECT_EQ(bits_of(without), bits_of(with));
    Limits steep;
    steep.max_slope = 30;
    pair(steep, up_x, diag_y, with, without);
    EXPECT_EQ(0.0f, with);
    // Vertical (the footprint barely leaves its plane in z): factor just
    // below 0.5, so the remap runs from just above 0.5 to 1.
    pair(Limits(), side_x, side_y, with, without);
    ASSERT_GT(without, 0.6f);
    EXPECT_NEAR((without - 0.5) / 0.5, with, 1e-3);
    EXPECT_LT(with, (without - 0.5f) / 0.5f);
}

TEST_F(Terrain, RejectedFootprintGivesNoBump)
{
    float tv[3] = {0.21f, 0.03f, 1.5f}, out[8];
    float x[3] = {1, 0, 0}, y[3] = {0, 1, 0};
    Block b = block();
    b.set_float("Turbulance", 1.0f);
    b.set_int("OSA", 4);
    b.set_int("Double Sample", 1);
    // Facing -z: slope 180, above "Slope Max" 90.
    ASSERT_EQ(2, p.doit(0, b, tv, y, x, out));
    for (int k : {0, 5, 6, 7})
        EXPECT_EQ(0.0f, out[k]) << "element " << k;
    // Facing +z with "Slope Min" 30.
    Limits l;
    l.min_slope = 30;
    l.apply(b);
    ASSERT_EQ(2, p.doit(0, b, tv, x, y, out));
    for (int k : {0, 5, 6, 7})
        EXPECT_EQ(0.0f, out[k]) << "element " << k;
    // The same block facing +z with the default slope limits is not empty.
    Limits().apply(b);
    ASSERT_EQ(2, p.doit(0, b, tv, x, y, out));
    EXPECT_GT(out[0], 0.0f);
}

TEST_F(Terrain, ZeroFootprintIsAVerticalSurface)
{
    Limits l;
    Block b = block(l);
    b.set_int("OSA", 6); // every sample on texvec
    b.set_int("BumpMap", 0);
    const float zero[3] = {0, 0, 0}, side = 0;
    for (float z : {0.0f, 0.4f, -2.0f}) {
        float tv[3] = {(float)(1.0 / 3 - z), 0, z}, out[8];
        p.doit(0, b, tv, zero, zero, out);
        float want = terrain_reference(0, tv[0], tv[1], tv[2], &side, l);
        EXPECT_NEAR(want, out[0], 1e-6) << "z " << z; // the mean of six equal values
        EXPECT_NEAR(0.5f, out[0], 1e-3); // factor about 0.5: remap from 0.5
    }
}

TEST_F(Terrain, NoFootprintNoSlopeLimits)
{
    Limits inverted;
    inverted.max_slope = 10;
    inverted.min_slope = 170;
    inverted.max_slope_sharp = 0;
    for (Limits l : {[] { Limits m; m.min_slope = 30; return m; }(),
                     [] { Limits m; m.max_slope = 0; m.min_slope = 0; return m; }(), inverted}) {
        for (float z : {0.0f, 3.0f, -50.0f})
            EXPECT_EQ(bits_of(on_vein_reference(Limits(), z)), bits_of(on_vein(l, z)))
                << "slope limits " << l.min_slope << " .. " << l.max_slope;
    }
}

// The bump keeps full strength up to a footprint of noise_size * 0.5,
// whatever the turbulence.
TEST_F(Terrain, GoodOsaSizeIsHalfTheNoiseSize)
{
    Block b = p.defaults(); // "Turbulance" 1, "Noise Size" 0.25
    const float tv[3] = {0.41f, 0.27f, 0.66f};
    struct Case {
        float len;
        double ratio;
    };
    for (Case c : {Case{0.125f, 1.0}, Case{0.25f, 0.5}, Case{1.0f, 0.125}}) {
        float dxt[3] = {c.len * 0.5f, 0, 0}, dyt[3] = {0, c.len * 0.5f, 0}, base[3], out[8],
              ref[8];
        jittered_point(tv, dxt, dyt, base);
        ASSERT_EQ(2, p.doit(0, b, tv, dxt, dyt, out));
        ASSERT_EQ(2, p.doit(0, b, base, nullptr, nullptr, ref));
        EXPECT_EQ(bits_of(ref[0]), bits_of(out[0]));
        for (int k = 5; k < 8; k++) {
            ASSERT_NE(0.0f, ref[k]);
            if (c.ratio == 1.0)
                EXPECT_EQ(bits_of(ref[k]), bits_of(out[k]));
            else
                EXPECT_NEAR(c.ratio, (double)out[k] / ref[k], 1e-6) << "footprint " << c.len;
        }
    }
}

TEST_F(Terrain, OutOfRangeBlocksStayInRange)
{
    Block b = p.defaults();
    float huge[3] = {1e30f, 0, 0}, huge2[3] = {0, 1e30f, 0}, small[3] = {0.01f, 0, 0},
          small2[3] = {0, 0.01f, 0};
    struct Bad {
        int slot;
        float v;
    };
    for (Bad bad : {Bad{0, 1e38f}, Bad{12, 0.0f}, Bad{18, 1.0f}, Bad{20, 2.0f}, Bad{22, 1.001f},
                    Bad{23, -5.0f}, Bad{14, NAN}, Bad{10, NAN}, Bad{11, -3.0f}, Bad{1, 0.0f}})
        for (int st : {0, 1, 2}) {
            Block c = b;
            std::memcpy(&c.slots[bad.slot], &bad.v, 4);
            c.set_int("Double Sample", 1);
            for (auto fp : {std::make_pair(small, small2), std::make_pair(huge, huge2)}) {
                float tv[3] = {0.5f, -0.25f, 0.75f}, out[8];
                p.doit(st, c, tv, fp.first, fp.second, out);
                EXPECT_GE(out[0], 0.0f) << "slot " << bad.slot;
                EXPECT_LE(out[0], 1.0f) << "slot " << bad.slot;
                for (int k = 5; k < 8; k++)
                    EXPECT_TRUE(std::isfinite(out[k])) << "slot " << bad.slot;
            }
        }
}

TEST_F(Terrain, ReentrantEntryMatches)
{
    ASSERT_NE(nullptr, p.doit_r);
    Block b = p.defaults();
    b.set_int("OSA", 5);
    b.set_int("Double Sample", 1);
    const float pts[][3] = {{0.1f, 0.2f, 0.3f}, {-4.5f, 1.25f, 7}, {0, 0, 99.99f}};
    float dxt[3] = {0.02f, 0.01f, 0}, dyt[3] = {0, 0.03f, -0.01f};
    for (int st = 0; st < 3; st++)
        for (auto &q : pts) {
            float tv[3] = {q[0], q[1], q[2]}, out[8], mine[8] = {};
            for (const float *fx : {(const float *)dxt, (const float *)nullptr}) {
                int r = p.doit(st, b, tv, fx, dyt, out);
                EXPECT_EQ(r, p.doit_r(st, b.data(), tv, const_cast<float *>(fx), dyt, mine));
                for (int k : {0, 5, 6, 7})
                    EXPECT_EQ(bits_of(out[k]), bits_of(mine[k])) << "element " << k;
            }
        }
}

} // namespace
