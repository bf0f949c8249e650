// The wood plug-in (quelmi), loaded as the host loads it.
#include "plugin_fixture.h"

#include <climits>
#include <cmath>

namespace {

// The band profile without turbulence ("Turbulance" 0), written out from its
// definition: period 2 in x + y + z, flat top of half-width w, raised-cosine
// shoulder; default map range. Named values are rounded to float when stored.
float wood_reference(float x, float y, float z, float w)
{
    float t = (float)((double)x + y + z);
    t = (float)((t + 1.0) * 0.5);
    t = (float)(t - std::floor(t));
    t = (float)(2.0 * t - 1.0);
    if (std::fabs(t) < w)
        return 1.0f;
    float tt = (float)(std::fabs(t) - (double)w);
    float res = (float)((1.0 + std::cos(tt * 3.1415926 * (1.0 / (1.0 - w)))) * 0.5);
    return res > 1.0f ? 1.0f : (res < 0.0f ? 0.0f : res);
}

// Bump step with the defaults: 0.25 * 0.15, times "Detail Size" 0.5 for the
// first extra octave and 0.6 for the second.
float default_step()
{
    float s = 0.25f * 0.15f;
    s = s * 0.5f;
    return (float)(s * 0.6);
}

class Wood : public ::testing::Test {
protected:
    LoadedPlugin p{"quelmi"};

    Block flat() const
    {
        Block b = p.defaults();
        b.set_float("Turbulance", 0.0f);
        return b;
    }
    float at(const Block &b, float x, float y, float z, int stype = 0) const
    {
        return p.value_at(stype, b, x, y, z);
    }
};

constexpr int kFloat = VT_FLOAT_NUMBER, kInt = VT_INT_NUMBER, kToggle = VT_INT_TOGGLE,
              kLabel = VT_LABEL;

TEST_F(Wood, IdentityAndTable)
{
    ASSERT_TRUE(p.handle);
    char want_name[24] = {'Q', 'u', 'e', 'l', 'm', 'i'};
    EXPECT_EQ(0, std::memcmp(p.symbol("name"), want_name, 24));
    EXPECT_EQ((void *)p.info.name, p.symbol("name"));
    EXPECT_EQ(nullptr, p.symbol("stnames"));
    EXPECT_EQ(nullptr, p.info.snames);
    EXPECT_EQ(0, p.info.stypes);
    // One 4-byte Cast slot per entry: 52 bytes, the blank label included.
    EXPECT_EQ(13, p.info.nvars);
    EXPECT_EQ(52u, 4u * p.info.nvars);

    expect_table(p.info,
                 {
                     {kFloat, "Turbulance", 1.0f, 0.0f, 100.0f, ""},
                     {kFloat, "Noise Size", 0.25f, 0.0001f, 2.0f, ""},
                     {kInt, "Noise Depth", 2.0f, 0.0f, 6.0f, ""},
                     {kFloat, "Detail Size", 0.5f, 0.0001f, 1.0f, ""},
                     {kToggle, "Hard Noise", 0.0f, 0.0f, 1.0f, ""},
                     {kInt, "Seed", 0.0f, 0.0f, 255.0f, ""},
                     {kToggle, "BumpMap", 1.0f, 0.0f, 1.0f, "Generate bump map"},
                     {kFloat, "Filter", 0.15f, 0.0001f, 1.0f,
                      "Lower means better accuracy, higher means less artifacts"},
                     {kToggle, "Double Sample", 0.0f, 0.0f, 1.0f,
                      "Use slower (and higher quality) bumpmap method"},
                     {kLabel, " ", 0.0f, 0.0f, 0.0f, ""},
                     {kFloat, "Map Max", 1.0f, 0.0f, 1.0f, ""},
                     {kFloat, "Map Min", 0.0f, 0.0f, 1.0f, ""},
                     {kFloat, "Sharpness", 0.0f, 0.0f, 1.0f, ""},
                 });
}

TEST_F(Wood, BandsWithoutTurbulence)
{
    Block b = flat();
    EXPECT_EQ(1.0f, at(b, 0, 0, 0));
    EXPECT_NEAR(0.5f, at(b, 0.5f, 0, 0), 1e-7);
    float floor_value = at(b, 1, 0, 0); // 3.1415926 is not pi: not exactly 0
    EXPECT_GT(floor_value, 0.0f);
    EXPECT_LT(floor_value, 1e-15f);
    EXPECT_EQ(1.0f, at(b, 2, 0, 0));
    EXPECT_EQ(1.0f, at(b, 0.5f, 1, 0.5f));
    // Only x + y + z counts.
    EXPECT_EQ(bits_of(at(b, 0.3f, 0, 0)), bits_of(at(b, 0.1f, 0.1f, 0.1f)));

    const float pts[][3] = {{0.3f, 0, 0}, {0.25f, -0.5f, 0.1f}, {7.7f, 1, -3}, {-0.9f, 0, 0.05f},
                            {1.49f, 0, 0}};
    for (float w : {0.0f, 0.25f, 0.5f, 0.9f})
        for (auto &q : pts) {
            b.set_float("Sharpness", w);
            EXPECT_EQ(bits_of(wood_reference(q[0], q[1], q[2], w)),
                      bits_of(at(b, q[0], q[1], q[2])))
                << "sharpness " << w << " at " << q[0] << "," << q[1] << "," << q[2];
        }
}

TEST_F(Wood, SharpnessWidensTheFlatTop)
{
    Block b = flat();
    b.set_float("Sharpness", 0.5f);
    for (float sum : {-0.49f, -0.2f, 0.0f, 0.3f, 0.49f, 0.5f, 1.6f, 2.3f})
        EXPECT_EQ(1.0f, at(b, sum, 0, 0)) << "x + y + z = " << sum;
    EXPECT_NEAR(0.999f, at(b, 0.51f, 0, 0), 5e-4);
    EXPECT_LT(at(b, 0.51f, 0, 0), 1.0f);
    EXPECT_LT(at(b, 1.0f, 0, 0), 1e-6f);
}

TEST_F(Wood, FullSharpnessIsOneEverywhere)
{
    // At "Sharpness" 1 the odd planes (t = -1) would take 0 times an infinite
    // slope; they belong to the flat top like every other point.
    Block b = flat();
    b.set_float("Sharpness", 1.0f);
    for (float sum : {1.0f, -1.0f, 3.0f, 0.0f, 0.5f, 0.999f, -7.0f})
        EXPECT_EQ(1.0f, at(b, sum, 0, 0)) << "x + y + z = " << sum;
    b.set_float("Turbulance", 1.0f);
    b.set_int("Double Sample", 1);
    float tv[3] = {1, 0, 0}, out[8];
    ASSERT_EQ(2, p.doit(0, b, tv, nullptr, nullptr, out));
    EXPECT_EQ(1.0f, out[0]);
    for (int k = 5; k < 8; k++)
        EXPECT_EQ(0.0f, out[k]);
}

TEST_F(Wood, OutOfRangeBlocksStayInRange)
{
    Block b = p.defaults();
    float out[8];
    for (float tw : {1e38f, -1e38f, 1e6f})
        for (float w : {-1.0f, 1.5f, 1.0f}) {
            b.set_float("Turbulance", tw);
            b.set_float("Sharpness", w);
            float tv[3] = {0.3f, -0.2f, 0.1f};
            p.doit(0, b, tv, nullptr, nullptr, out);
            EXPECT_GE(out[0], 0.0f) << tw << " " << w;
            EXPECT_LE(out[0], 1.0f) << tw << " " << w;
            for (int k = 5; k < 8; k++)
                EXPECT_TRUE(std::isfinite(out[k]));
        }
}

TEST_F(Wood, FootprintAndSubTypeHaveNoInfluence)
{
    Block b = p.defaults(); // with turbulence
    b.set_int("Double Sample", 1);
    float tv[3] = {0.37f, -1.25f, 2.5f}, want[8], out[8];
    int r = p.doit(0, b, tv, nullptr, nullptr, want);
    ASSERT_EQ(2, r);
    float zero[3] = {0, 0, 0}, a[3] = {0.5f, 0.1f, 0}, c[3] = {100, -3, 7}, d[3] = {0, 1e30f, 0};
    struct Fp {
        float *dxt, *dyt;
    };
    for (Fp f : {Fp{a, c}, Fp{c, a}, Fp{zero, zero}, Fp{d, d}, Fp{nullptr, a}, Fp{a, nullptr}})
        for (int st : {0, 1, 2, -5, INT_MAX}) {
            EXPECT_EQ(r, p.doit(st, b, tv, f.dxt, f.dyt, out));
            for (int k : {0, 5, 6, 7})
                EXPECT_EQ(bits_of(want[k]), bits_of(out[k])) << "stype " << st << " element " << k;
        }
}

// The bump is the difference against result element 0, scaled by 0.05 / s
// with 0.05 in double precision.
TEST_F(Wood, BumpScale)
{
    Block b = flat();
    b.set_float("Sharpness", 0.3f);
    const float s = default_step();
    const float pts[][3] = {{0.3f, 0.1f, 0.05f}, {0.9f, -0.2f, 0.11f}, {-0.37f, 0.2f, 0.4f},
                            {1.6f, 0.01f, 0.02f}, {0.55f, 0.1f, 0.2f},  {-1.3f, 0.3f, 0.15f},
                            {0.71f, 0, 0},        {0.2f, 0.2f, 0.2f},   {2.45f, -1, 0.1f},
                            {-0.8f, -0.1f, 0.3f}};
    for (int twoway : {0, 1}) {
        b.set_int("Double Sample", twoway);
        for (auto &q : pts) {
            const float x = q[0], y = q[1], z = q[2];
            const float i0 = wood_reference(x, y, z, 0.3f);
            float n[3] = {(float)((double)wood_reference(x + s, y, z, 0.3f) - i0),
                          (float)((double)wood_reference(x, y + s, z, 0.3f) - i0),
                          (float)((double)wood_reference(x, y, z + s, 0.3f) - i0)};
            if (twoway) {
                const float back[3] = {wood_reference(x - s, y, z, 0.3f),
                                       wood_reference(x, y - s, z, 0.3f),
                                       wood_reference(x, y, z - s, 0.3f)};
                for (int k = 0; k < 3; k++) {
                    n[k] = (float)(n[k] - ((double)back[k] - i0));
                    n[k] = (float)(n[k] * 0.5);
                }
            }
            float tv[3] = {x, y, z}, dxt[3] = {3, 0, 0}, dyt[3] = {0, 3, 0}, out[8];
            ASSERT_EQ(2, p.doit(0, b, tv, dxt, dyt, out)); // a large footprint attenuates nothing
            EXPECT_EQ(bits_of(i0), bits_of(out[0]));
            for (int k = 0; k < 3; k++)
                EXPECT_EQ(bits_of((float)(n[k] * (0.05 / s))), bits_of(out[5 + k]))
                    << "two-way " << twoway << " at " << x << "," << y << "," << z << " axis " << k;
        }
    }
}

TEST_F(Wood, BumpOffKeepsThePreviousNormal)
{
    Block b = p.defaults();
    float tv[3] = {0.3f, 0.2f, 0.1f}, out[8];
    ASSERT_EQ(2, p.doit(0, b, tv, nullptr, nullptr, out));
    float before[3] = {out[5], out[6], out[7]};
    b.set_int("BumpMap", 0);
    float tv2[3] = {5, 6, 7};
    EXPECT_EQ(0, p.doit(0, b, tv2, nullptr, nullptr, out));
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(bits_of(before[k]), bits_of(out[5 + k]));
    for (int k = 1; k < 5; k++)
        EXPECT_EQ(0.0f, out[k]);
}

TEST_F(Wood, ReentrantEntryMatches)
{
    ASSERT_NE(nullptr, p.doit_r);
    Block b = p.defaults();
    const float pts[][3] = {{0.1f, 0.2f, 0.3f}, {-4.5f, 1.25f, 7}, {0, 0, 0}};
    for (int twoway : {0, 1})
        for (auto &q : pts) {
            b.set_int("Double Sample", twoway);
            float tv[3] = {q[0], q[1], q[2]}, out[8], mine[8] = {};
            int r = p.doit(0, b, tv, nullptr, nullptr, out);
            EXPECT_EQ(r, p.doit_r(0, b.data(), tv, nullptr, nullptr, mine));
            for (int k : {0, 5, 6, 7})
                EXPECT_EQ(bits_of(out[k]), bits_of(mine[k])) << "element " << k;
        }
}

} // namespace
