// The marble plug-in (pellosca), loaded as the host loads it.
#include "noise.h" // fixed_rand: where the kit puts the jittered sample 0
#include "plugin_fixture.h"

#include <climits>
#include <cmath>

namespace {

// The vein without turbulence ("Turbulance" 0), written out from its
// definition: band coordinate, period of 2, raised-cosine profile peaking at
// `mid`. Named values are rounded to float where they are stored.
float vein_reference(int stype, float x, float y, float z, float w, float mid)
{
    float t;
    if (stype == 0)
        t = (float)((double)x + y + z);
    else if (stype == 1)
        t = (float)std::sqrt((double)x * x + (double)y * y + (double)z * z);
    else
        t = x;
    t = (float)((t + 1.0) * 0.5);
    t = (float)(t - std::floor(t));
    t = (float)(2.0 * t - 1.0);
    if (std::fabs(t) > w)
        return 0.0f;
    t = (float)(t / (double)w);
    float tt = t < mid ? (float)((mid - (double)t) / (mid + 1.0))
                       : (float)(((double)t - mid) / (1.0 - mid));
    return (float)(std::cos(tt * 3.1415926) * 0.5 + 0.5);
}

float map_reference(float res, float map_max, float map_min)
{
    float mx = map_max, mn = map_min;
    if (mx <= mn) {
        mx = (float)(((double)mx + mn) * 0.05);
        mn = (float)(mx - 0.01);
    }
    float r;
    if (res < mn)
        r = 0.0f;
    else if (res > mx)
        r = 1.0f;
    else
        r = (float)(((double)res - mn) / ((double)mx - mn));
    return r > 1.0f ? 1.0f : (r < 0.0f ? 0.0f : r);
}

// Base point of a call with a footprint: sample 0, jittered by fixed_rand.
void jittered_point(const float *tv, const float *dxt, const float *dyt, float *p)
{
    float fx = fixed_rand(0, tv[0], tv[1], tv[2]) - 0.5f;
    float fy = fixed_rand(1, tv[0], tv[1], tv[2]) - 0.5f;
    for (int k = 0; k < 3; k++)
        p[k] = (float)((double)dxt[k] * fx + (double)dyt[k] * fy + tv[k]);
}

class Marble : public ::testing::Test {
protected:
    LoadedPlugin p{"pellosca"};

    // Defaults with "Turbulance" 0, so the vein value is known.
    Block flat() const
    {
        Block b = p.defaults();
        b.set_float("Turbulance", 0.0f);
        return b;
    }
    float at(int stype, const Block &b, float x, float y, float z) const
    {
        return p.value_at(stype, b, x, y, z);
    }
};

constexpr int kFloat = VT_FLOAT_NUMBER, kInt = VT_INT_NUMBER, kToggle = VT_INT_TOGGLE;

TEST_F(Marble, IdentityAndTable)
{
    ASSERT_TRUE(p.handle);
    char want_name[24] = {'P', 'e', 'l', 'l', 'o', 's', 'c', 'a'};
    EXPECT_EQ(0, std::memcmp(p.symbol("name"), want_name, 24));
    EXPECT_EQ((void *)p.info.name, p.symbol("name"));

    char want_st[3][16] = {{'B', 'a', 'n', 'd', 's'},
                           {'R', 'i', 'n', 'g', 's'},
                           {'V', 'e', 'r', 't', 'i', 'c', 'a', 'l'}};
    ASSERT_NE(nullptr, p.symbol("stnames"));
    EXPECT_EQ(0, std::memcmp(p.symbol("stnames"), want_st, sizeof want_st));
    EXPECT_EQ((void *)p.info.snames, p.symbol("stnames"));
    EXPECT_EQ(3, p.info.stypes);
    // One 4-byte Cast slot per entry: 56 bytes.
    EXPECT_EQ(14, p.info.nvars);
    EXPECT_EQ(56u, 4u * p.info.nvars);

    expect_table(p.info,
                 {
                     {kFloat, "Turbulance", 1.0f, 0.0f, 100.0f, ""},
                     {kFloat, "Noise Size", 0.25f, 0.0001f, 2.0f, ""},
                     {kInt, "Noise Depth", 0.0f, 0.0f, 6.0f, ""},
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
                     {kFloat, "Bias", 0.0f, -1.0f, 1.0f, ""},
                 });
}

TEST_F(Marble, SubTypesWithoutTurbulence)
{
    Block b = flat();
    // Bands: x + y + z.
    EXPECT_EQ(1.0f, at(0, b, 0, 0, 0));
    EXPECT_NEAR(0.5f, at(0, b, 0.5f, 0, 0), 1e-7);
    EXPECT_NEAR(0.5f, at(0, b, 0.25f, 0.25f, 0), 1e-7);
    float edge = at(0, b, 1, 0, 0);
    EXPECT_GT(edge, 0.0f); // the cosine's argument is 3.1415926, not pi
    EXPECT_LT(edge, 1e-15f);
    // Rings: distance from the origin.
    EXPECT_EQ(1.0f, at(1, b, 0, 0, 2));
    EXPECT_NEAR(0.5f, at(1, b, 0, 0, 0.5f), 1e-7);
    EXPECT_LT(at(1, b, 0.6f, 0.8f, 0), 1e-6f);
    // Vertical: x alone.
    EXPECT_EQ(1.0f, at(2, b, 0, 5, 7));
    EXPECT_NEAR(0.5f, at(2, b, 0.5f, 5, 7), 1e-7);

    const float pts[][3] = {{0.5f, 0, 0},     {0.25f, 0.25f, 0}, {1, 0, 0},     {0.3f, -1.7f, 2.2f},
                            {-3.1f, 0.4f, 9}, {0.6f, 0.8f, 0},   {0, 0, 0.5f}, {12.75f, 3, -0.1f}};
    for (int st = 0; st < 3; st++)
        for (auto &q : pts)
            EXPECT_EQ(bits_of(vein_reference(st, q[0], q[1], q[2], 1, 0)),
                      bits_of(at(st, b, q[0], q[1], q[2])))
                << "stype " << st << " at " << q[0] << "," << q[1] << "," << q[2];
}

TEST_F(Marble, SubTypeOutsideTableIsVertical)
{
    Block b = flat();
    b.set_float("Turbulance", 1.0f); // with turbulence as well
    const float pts[][3] = {{0.5f, 5, 7}, {0.3f, -1.7f, 2.2f}, {-3.1f, 0.4f, 9}};
    for (int st : {3, 7, -1, INT_MAX, INT_MIN})
        for (auto &q : pts)
            EXPECT_EQ(bits_of(at(2, b, q[0], q[1], q[2])), bits_of(at(st, b, q[0], q[1], q[2])))
                << "stype " << st;
}

TEST_F(Marble, BiasAndWidth)
{
    Block b = flat();
    b.set_float("Bias", 0.5f);
    EXPECT_NEAR(0.75f, at(0, b, 0, 0, 0), 1e-7); // t = 0 below the peak, tt = 1/3
    b.set_float("Bias", -1.0f);
    EXPECT_NEAR(0.5f, at(0, b, 0, 0, 0), 1e-7);

    b = flat();
    b.set_float("Width", 0.5f);
    EXPECT_NEAR(0.5f, at(0, b, 0.25f, 0, 0), 1e-7);
    float edge = at(0, b, 0.5f, 0, 0); // |t| == width: on the edge, not outside
    EXPECT_GT(edge, 0.0f);
    EXPECT_LT(edge, 1e-15f);
    EXPECT_EQ(0.0f, at(0, b, 0.75f, 0, 0)); // outside

    for (float bias : {-0.7f, -0.2f, 0.35f, 0.9f})
        for (float width : {0.25f, 0.5f, 0.8f})
            for (float x : {0.1f, 0.3f, -0.45f, 0.6f, 1.7f}) {
                b.set_float("Bias", bias);
                b.set_float("Width", width);
                EXPECT_EQ(bits_of(vein_reference(0, x, 0, 0, width, bias)),
                          bits_of(at(0, b, x, 0, 0)))
                    << "bias " << bias << " width " << width << " x " << x;
            }
}

TEST_F(Marble, BiasOneOnTheVeinEdgeGivesThePeak)
{
    // Width 0.5 puts x = 0.5 exactly on the upper edge, where the profile
    // peaking at Bias 1 would divide 0 by 0; its limit there is the peak.
    Block b = flat();
    b.set_float("Width", 0.5f);
    b.set_float("Bias", 1.0f);
    EXPECT_EQ(1.0f, at(0, b, 0.5f, 0, 0));
    EXPECT_EQ(1.0f, at(2, b, 2.5f, 1, 1));
    // The rest of the vein is the ordinary profile.
    EXPECT_EQ(bits_of(vein_reference(0, 0.25f, 0, 0, 0.5f, 1.0f)), bits_of(at(0, b, 0.25f, 0, 0)));
    EXPECT_LT(at(0, b, -0.5f, 0, 0), 1e-6f); // the lower edge is the floor
    // Bias -1 at the lower edge gives the peak as well.
    b.set_float("Bias", -1.0f);
    EXPECT_EQ(1.0f, at(0, b, -0.5f, 0, 0));
}

TEST_F(Marble, ZeroWidthStaysInRange)
{
    Block b = flat();
    b.set_float("Width", 0.0f);
    EXPECT_EQ(1.0f, at(0, b, 0, 0, 0)); // the centre plane itself
    for (float x : {0.5f, 0.25f, 1.0f, -0.3f})
        EXPECT_EQ(0.0f, at(0, b, x, 0, 0));
    // With turbulence and bump on, nothing becomes NaN.
    b.set_float("Turbulance", 3.0f);
    b.set_int("Double Sample", 1);
    float out[8];
    for (float x : {0.0f, 0.13f, 2.0f}) {
        float tv[3] = {x, 0, 0}, dxt[3] = {0.01f, 0, 0}, dyt[3] = {0, 0.01f, 0};
        EXPECT_EQ(2, p.doit(0, b, tv, dxt, dyt, out));
        EXPECT_GE(out[0], 0.0f);
        EXPECT_LE(out[0], 1.0f);
        for (int k = 5; k < 8; k++)
            EXPECT_TRUE(std::isfinite(out[k]));
    }
}

TEST_F(Marble, MapRange)
{
    Block b = flat();
    b.set_float("Map Max", 0.5f);
    b.set_float("Map Min", 0.5f); // becomes 0.04 .. 0.05
    EXPECT_EQ(1.0f, at(0, b, 0.5f, 0, 0));
    EXPECT_EQ(0.0f, at(0, b, 0.9f, 0, 0));

    struct Range {
        float max, min;
    };
    for (Range r : {Range{0.8f, 0.2f}, Range{0.2f, 0.8f}, Range{0.5f, 0.5f}, Range{0.0f, 0.0f},
                    Range{1.0f, 0.6f}})
        for (float x : {0.0f, 0.1f, 0.5f, 0.62f, 0.88f, 0.9f, 0.97f}) {
            b.set_float("Map Max", r.max);
            b.set_float("Map Min", r.min);
            float raw = vein_reference(0, x, 0, 0, 1, 0);
            EXPECT_EQ(bits_of(map_reference(raw, r.max, r.min)), bits_of(at(0, b, x, 0, 0)))
                << "max " << r.max << " min " << r.min << " x " << x;
        }
    b.set_float("Map Max", 0.8f);
    b.set_float("Map Min", 0.2f);
    EXPECT_NEAR(0.5f, at(0, b, 0.5f, 0, 0), 1e-6);
}

TEST_F(Marble, TurbulanceZeroIgnoresTheNoiseParameters)
{
    Block b = flat();
    const float x = 0.37f, y = -1.2f, z = 4.4f;
    const float want = at(0, b, x, y, z);
    EXPECT_EQ(bits_of(vein_reference(0, x, y, z, 1, 0)), bits_of(want));
    Block c = b;
    c.set_float("Noise Size", 1.7f);
    c.set_int("Noise Depth", 5);
    c.set_float("Detail Size", 0.2f);
    c.set_int("Hard Noise", 1);
    c.set_int("Seed", 200);
    EXPECT_EQ(bits_of(want), bits_of(at(0, c, x, y, z)));
    // With turbulence the same changes move the veins.
    b.set_float("Turbulance", 1.0f);
    c.set_float("Turbulance", 1.0f);
    EXPECT_NE(bits_of(at(0, b, x, y, z)), bits_of(at(0, c, x, y, z)));
}

// The bump of "Vertical" without turbulence: a forward difference along x,
// nothing along y and z, scaled by 0.05 / s.
TEST_F(Marble, BumpWithoutFootprint)
{
    Block b = flat();
    const float x = 0.3f;
    float tv[3] = {x, 2, 3}, out[8];
    ASSERT_EQ(2, p.doit(2, b, tv, nullptr, nullptr, out));
    const float s = (float)(0.25f * (double)0.15f); // depth 0: noise_size * filter
    float i0 = vein_reference(2, x, 0, 0, 1, 0);
    float nx = (float)((double)vein_reference(2, (float)(x + (double)s), 0, 0, 1, 0) - i0);
    EXPECT_EQ(bits_of(i0), bits_of(out[0]));
    EXPECT_EQ(bits_of((float)(nx * ((double)0.05f / s))), bits_of(out[5]));
    EXPECT_EQ(0.0f, out[6]);
    EXPECT_EQ(0.0f, out[7]);
    for (int k = 1; k < 5; k++)
        EXPECT_EQ(0.0f, out[k]);

    // Bump off: return 0, the bump elements keep the previous call's values.
    float before[3] = {out[5], out[6], out[7]};
    b.set_int("BumpMap", 0);
    float tv2[3] = {0.8f, 0, 0};
    EXPECT_EQ(0, p.doit(2, b, tv2, nullptr, nullptr, out));
    EXPECT_EQ(bits_of(vein_reference(2, 0.8f, 0, 0, 1, 0)), bits_of(out[0]));
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(bits_of(before[k]), bits_of(out[5 + k]));
}

// The footprint size up to which the bump keeps its strength is
// min(noise_size * 0.5 / (turbulance_weight + 0.0001), 0.5).
TEST_F(Marble, GoodOsaSizeCappedAtHalf)
{
    // "Vertical" without turbulence: a footprint spanning y and z moves no
    // sample across the veins, so only the bump factor changes.
    Block b = flat();
    b.set_float("Noise Size", 2.0f); // the uncapped rule would give 1.0
    const float s = (float)(2.0f * (double)0.15f);
    const float x = 0.3f;
    float i0 = vein_reference(2, x, 0, 0, 1, 0);
    float nx = (float)((double)vein_reference(2, (float)(x + (double)s), 0, 0, 1, 0) - i0);
    ASSERT_NE(0.0f, nx);

    struct Case {
        float a, b; // footprint lengths along y and z
        float bump_factor;
    };
    for (Case c : {Case{0.0f, 0.0f, 0.05f}, Case{0.1f, 0.2f, 0.05f}, Case{0.25f, 0.25f, 0.05f},
                   Case{0.5f, 0.5f, 0.05f / 2.0f}, Case{0.25f, 1.25f, 0.05f / 3.0f}}) {
        float tv[3] = {x, 1, 1}, dxt[3] = {0, c.a, 0}, dyt[3] = {0, 0, c.b}, out[8];
        b.set_int("OSA", 3);
        ASSERT_EQ(2, p.doit(2, b, tv, dxt, dyt, out));
        EXPECT_EQ(bits_of(i0), bits_of(out[0]));
        EXPECT_EQ(bits_of((float)(nx * ((double)c.bump_factor / s))), bits_of(out[5]))
            << "footprint " << c.a << " + " << c.b;
    }
}

TEST_F(Marble, GoodOsaSizeShrinksWithTurbulence)
{
    Block b = p.defaults(); // "Turbulance" 1, "Noise Size" 0.25
    const double good = (float)(0.25 * 0.5 / (1.0 + 0.0001)); // just below 0.125
    const float tv[3] = {0.41f, 0.27f, 0.66f};
    struct Case {
        float len;
        double ratio; // expected bump relative to no attenuation
    };
    for (Case c : {Case{0.1f, 1.0}, Case{0.125f, good / 0.125}, Case{0.5f, good / 0.5}}) {
        float dxt[3] = {c.len * 0.5f, 0, 0}, dyt[3] = {0, c.len * 0.5f, 0}, base[3], out[8],
              ref[8];
        jittered_point(tv, dxt, dyt, base);
        ASSERT_EQ(2, p.doit(0, b, tv, dxt, dyt, out));
        ASSERT_EQ(2, p.doit(0, b, base, nullptr, nullptr, ref));
        EXPECT_EQ(bits_of(ref[0]), bits_of(out[0])); // OSA 1: the jittered point's value
        for (int k = 5; k < 8; k++) {
            ASSERT_NE(0.0f, ref[k]);
            if (c.ratio == 1.0)
                EXPECT_EQ(bits_of(ref[k]), bits_of(out[k]));
            else
                EXPECT_NEAR(c.ratio, (double)out[k] / ref[k], 1e-6) << "footprint " << c.len;
        }
    }
}

TEST_F(Marble, ReentrantEntryMatches)
{
    ASSERT_NE(nullptr, p.doit_r);
    Block b = p.defaults();
    b.set_int("OSA", 5);
    b.set_int("Double Sample", 1);
    b.set_int("Noise Depth", 2);
    const float pts[][3] = {{0.1f, 0.2f, 0.3f}, {-4.5f, 1.25f, 7}, {0, 0, 0}};
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
