// The clouds plug-in through dlopen: its table, its pattern, and the shared
// evaluation procedure (footprint sampling, bump step, attenuation, guards).
#include "noise.h"
#include "plugin_fixture.h"

#include <cmath>
#include <limits>

namespace {

// The clouds pattern computed from the kit directly, default map range.
float clouds_value(const Block &b, float x, float y, float z)
{
    auto f = [&](int i) { float v; std::memcpy(&v, &b.slots[i], 4); return v; };
    auto n = [&](int i) { return (int)b.slots[i]; };
    float vec[3];
    point_turbulance(f(1), f(3), n(4), x, y, z, vec, n(2), n(5));
    double raw = (double)vec[0] + vec[1] + vec[2] + (n(4) == 1 ? 0.0 : 0.5);
    float res = (float)raw;
    return res < 0 ? 0.0f : (res > 1 ? 1.0f : res);
}

struct Clouds : ::testing::Test {
    LoadedPlugin plugin{"harvoske"};
    Block block = plugin.defaults();
    float out[8];
};

} // namespace

TEST_F(Clouds, ExportsItsTableByteForByte)
{
    expect_table(plugin.info,
                 {
                     {VT_LABEL, " ", 0, 0, 0, ""},
                     {VT_FLOAT_NUMBER, "Noise Size", 0.25f, 0.0001f, 2.0f, ""},
                     {VT_INT_NUMBER, "Noise Depth", 2, 0, 6, ""},
                     {VT_FLOAT_NUMBER, "Detail Size", 0.5f, 0.0001f, 1.0f, ""},
                     {VT_INT_TOGGLE, "Hard Noise", 0, 0, 1, ""},
                     {VT_INT_NUMBER, "Seed", 0, 0, 255, ""},
                     {VT_INT_TOGGLE, "BumpMap", 1, 0, 1, "Generate bump map"},
                     {VT_FLOAT_NUMBER, "Filter", 0.15f, 0.0001f, 1.0f,
                      "Lower means better accuracy, higher means less artefacts"},
                     {VT_INT_TOGGLE, "Two-way filter", 0, 0, 1,
                      "Use slower (and higher quality) bumpmap method"},
                     {VT_INT_NUMBER, "OSA", 1, 1, 16, "Number of samples used in OSA mode"},
                     {VT_FLOAT_NUMBER, "Map Max", 1.0f, 0.0f, 1.0f, ""},
                     {VT_FLOAT_NUMBER, "Map Min", 0.0f, 0.0f, 1.0f, ""},
                 });
    char want[24] = "Harvoske";
    EXPECT_EQ(0, std::memcmp(plugin.info.name, want, 24));
    EXPECT_EQ(plugin.info.snames, nullptr);
    EXPECT_EQ(plugin.info.stypes, 0);
    EXPECT_EQ(plugin.symbol("stnames"), nullptr);
}

TEST_F(Clouds, PatternIsTheRaisedTurbulenceSum)
{
    for (int i = 0; i < 40; i++) {
        float x = std::sin(i * 1.3f) * 3, y = std::cos(i * 0.7f) * 2, z = i * 0.05f - 1;
        EXPECT_EQ(plugin.value_at(0, block, x, y, z), clouds_value(block, x, y, z));
        EXPECT_EQ(plugin.value_at(7, block, x, y, z), plugin.value_at(0, block, x, y, z))
            << "the sub-type index must not matter";
    }
    block.set_int("Hard Noise", 1);
    block.set_int("Noise Depth", 4);
    block.set_int("Seed", 99);
    for (int i = 0; i < 20; i++) {
        float x = i * 0.31f, y = -i * 0.17f, z = 0.4f;
        EXPECT_EQ(plugin.value_at(0, block, x, y, z), clouds_value(block, x, y, z));
    }
}

TEST_F(Clouds, ZeroTurbulenceGivesHalfOrZeroWithHardNoise)
{
    // (-1, -1, -1) is a lattice point of every octave.
    EXPECT_EQ(plugin.value_at(0, block, -1, -1, -1), 0.5f);
    block.set_int("Hard Noise", 1);
    EXPECT_EQ(plugin.value_at(0, block, -1, -1, -1), 0.0f);
    block.set_int("Hard Noise", 0);
    block.set_float("Map Max", 0.8f);
    block.set_float("Map Min", 0.2f);
    EXPECT_EQ(plugin.value_at(0, block, -1, -1, -1), 0.5f);
    block.set_float("Map Max", 0.5f);
    block.set_float("Map Min", 0.5f); // collapses to [0.04, 0.05]: 0.5 maps to 1
    EXPECT_EQ(plugin.value_at(0, block, -1, -1, -1), 1.0f);
}

TEST_F(Clouds, DummySlotIsNeverRead)
{
    float p[3] = {0.3f, 0.2f, 0.9f}, d[3] = {0.01f, 0, 0}, e[3] = {0, 0.02f, 0}, ref[8];
    int r0 = plugin.doit(0, block, p, d, e, ref);
    block.slots[0] = 0xDEADBEEF;
    EXPECT_EQ(plugin.doit(0, block, p, d, e, out), r0);
    EXPECT_EQ(0, std::memcmp(ref, out, sizeof out));
}

TEST_F(Clouds, WithoutFootprintBumpIsForwardDifferenceOverStep)
{
    const float p[3] = {0.37f, -0.21f, 0.55f};
    ASSERT_EQ(plugin.doit(0, block, p, nullptr, nullptr, out), RESULT_HAS_NORMAL);
    float s = 0.25f * 0.15f;
    s = s * 0.5f;
    s = (float)(s * 0.6); // depth 2
    EXPECT_EQ(s, 0.01125f);
    float base = clouds_value(block, p[0], p[1], p[2]);
    EXPECT_EQ(out[0], base);
    float dx = clouds_value(block, p[0] + s, p[1], p[2]) - base;
    float dz = clouds_value(block, p[0], p[1], p[2] + s) - base;
    EXPECT_NEAR(out[5], dx * 0.05 / s, 1e-6);
    EXPECT_NEAR(out[7], dz * 0.05 / s, 1e-6);
    EXPECT_NE(out[5], 0.0f);
}

TEST_F(Clouds, BumpStepFollowsDepth)
{
    // With Turbulence depth d, the step is size*filter*falloff*0.6^(d-1).
    const float p[3] = {0.11f, 0.42f, -0.3f};
    struct Case {
        int depth;
        double step;
    } cases[] = {{0, 0.25 * 0.15}, {1, 0.25 * 0.15 * 0.5}, {3, 0.25 * 0.15 * 0.5 * 0.36}};
    for (const Case &c : cases) {
        block.set_int("Noise Depth", c.depth);
        plugin.doit(0, block, p, nullptr, nullptr, out);
        float base = clouds_value(block, p[0], p[1], p[2]);
        float s = (float)c.step;
        float dy = clouds_value(block, p[0], p[1] + s, p[2]) - base;
        EXPECT_NEAR(out[6], dy * 0.05 / s, 2e-5) << "depth " << c.depth;
    }
}

TEST_F(Clouds, TwoWayBumpIsCentralDifference)
{
    block.set_int("Two-way filter", 1);
    const float p[3] = {0.5f, 0.25f, -0.75f};
    plugin.doit(0, block, p, nullptr, nullptr, out);
    float s = 0.01125f;
    for (int a = 0; a < 3; a++) {
        float fwd[3] = {p[0], p[1], p[2]}, back[3] = {p[0], p[1], p[2]};
        fwd[a] += s;
        back[a] -= s;
        double central = (clouds_value(block, fwd[0], fwd[1], fwd[2]) -
                          (double)clouds_value(block, back[0], back[1], back[2])) / 2;
        EXPECT_NEAR(out[5 + a], central * 0.05 / s, 1e-6) << "axis " << a;
    }
}

TEST_F(Clouds, FootprintSamplesAreJitteredReproducibly)
{
    const float p[3] = {0.3f, -0.6f, 0.2f}, dx[3] = {0.02f, 0.0f, 0.01f},
                dy[3] = {0.0f, 0.03f, 0.0f};
    plugin.doit(0, block, p, dx, dy, out);
    float fx = fixed_rand(0, p[0], p[1], p[2]) - 0.5f, fy = fixed_rand(1, p[0], p[1], p[2]) - 0.5f;
    float q[3];
    for (int k = 0; k < 3; k++)
        q[k] = (float)((double)dx[k] * fx + (double)dy[k] * fy + p[k]);
    EXPECT_EQ(out[0], clouds_value(block, q[0], q[1], q[2]));
    // The bump is taken around the jittered point, not texvec; the footprint
    // (0.05) is below noise_size * 0.5, so there is no attenuation.
    float s = 0.01125f;
    float d = clouds_value(block, q[0] + s, q[1], q[2]) - out[0];
    EXPECT_NEAR(out[5], d * 0.05 / s, 1e-6);

    // Four samples: the mean of the four jittered values.
    block.set_int("OSA", 4);
    plugin.doit(0, block, p, dx, dy, out);
    float sum = 0;
    for (int i = 0; i < 4; i++) {
        float gx = fixed_rand(2 * i, p[0], p[1], p[2]) - 0.5f;
        float gy = fixed_rand(2 * i + 1, p[0], p[1], p[2]) - 0.5f;
        float r[3];
        for (int k = 0; k < 3; k++)
            r[k] = (float)((double)dx[k] * gx + (double)dy[k] * gy + p[k]);
        sum = sum + clouds_value(block, r[0], r[1], r[2]);
    }
    EXPECT_EQ(out[0], sum / 4.0f);
}

TEST_F(Clouds, ZeroFootprintEqualsNoFootprint)
{
    const float p[3] = {0.8f, 0.1f, -0.4f}, zero[3] = {0, 0, 0};
    float ref[8] = {};
    plugin.doit(0, block, p, nullptr, nullptr, ref);
    block.set_int("OSA", 5);
    plugin.doit(0, block, p, zero, zero, out);
    EXPECT_EQ(out[0], ref[0]);
    for (int k = 5; k < 8; k++)
        EXPECT_EQ(out[k], ref[k]) << "element " << k << ": no attenuation for a zero footprint";
}

TEST_F(Clouds, LargeFootprintAttenuatesTheBump)
{
    const float p[3] = {0.3f, 0.3f, 0.3f};
    // |dxt| + |dyt| exactly equal to good_osa_size (0.125): no attenuation.
    const float at[3] = {0.0625f, 0, 0}, at_y[3] = {0, 0.0625f, 0};
    const float big[3] = {0.25f, 0, 0}, big_y[3] = {0, 0.25f, 0};
    plugin.doit(0, block, p, at, at_y, out);
    float q[3];
    float fx = fixed_rand(0, p[0], p[1], p[2]) - 0.5f, fy = fixed_rand(1, p[0], p[1], p[2]) - 0.5f;
    for (int k = 0; k < 3; k++)
        q[k] = (float)((double)at[k] * fx + (double)at_y[k] * fy + p[k]);
    float s = 0.01125f;
    float d = clouds_value(block, q[0], q[1] + s, q[2]) - out[0];
    EXPECT_NEAR(out[6], d * 0.05 / s, 1e-6);

    // Four times that size: the factor drops from 0.05 to 0.05 / 4.
    plugin.doit(0, block, p, big, big_y, out);
    for (int k = 0; k < 3; k++)
        q[k] = (float)((double)big[k] * fx + (double)big_y[k] * fy + p[k]);
    d = clouds_value(block, q[0], q[1] + s, q[2]) - out[0];
    EXPECT_NEAR(out[6], d * (0.05 / 4) / s, 1e-6);
}

TEST_F(Clouds, BumpOffReturnsZeroAndKeepsTheNormal)
{
    const float p[3] = {0.2f, 0.7f, 0.1f}, p2[3] = {1.5f, -0.5f, 2.0f};
    float first[8];
    ASSERT_EQ(plugin.doit(0, block, p, nullptr, nullptr, first), RESULT_HAS_NORMAL);
    block.set_int("BumpMap", 0);
    EXPECT_EQ(plugin.doit(0, block, p2, nullptr, nullptr, out), 0);
    EXPECT_EQ(out[0], clouds_value(block, p2[0], p2[1], p2[2]));
    for (int k = 5; k < 8; k++)
        EXPECT_EQ(out[k], first[k]);
}

TEST_F(Clouds, OutOfRangeBlocksStayBoundedAndDefined)
{
    const float p[3] = {0.3f, -0.6f, 0.2f}, dx[3] = {0.02f, 0, 0}, dy[3] = {0, 0.03f, 0};
    float ref[8];
    // OSA below 1 with a footprint: one sample, as with OSA 1.
    plugin.doit(0, block, p, dx, dy, ref);
    for (int osa : {0, -5}) {
        block.set_int("OSA", osa);
        plugin.doit(0, block, p, dx, dy, out);
        EXPECT_EQ(0, std::memcmp(ref, out, sizeof out)) << "OSA " << osa;
    }
    // OSA and depth above their maxima are capped there.
    block.set_int("OSA", 16);
    block.set_int("Noise Depth", 6);
    plugin.doit(0, block, p, dx, dy, ref);
    block.set_int("OSA", 1 << 30);
    block.set_int("Noise Depth", 1 << 30);
    plugin.doit(0, block, p, dx, dy, out);
    EXPECT_EQ(0, std::memcmp(ref, out, sizeof out));

    // A null dyt beside a dxt reads as the zero vector.
    Block fresh = plugin.defaults();
    const float zero[3] = {0, 0, 0};
    plugin.doit(0, fresh, p, dx, zero, ref);
    plugin.doit(0, fresh, p, dx, nullptr, out);
    EXPECT_EQ(0, std::memcmp(ref, out, sizeof out));
}

TEST_F(Clouds, NullArgumentsAndNonFiniteInputGiveSafeValues)
{
    const float p[3] = {0.1f, 0.2f, 0.3f};
    EXPECT_EQ(plugin.info.tex_doit(0, nullptr, const_cast<float *>(p), nullptr, nullptr), 0);
    EXPECT_EQ(plugin.info.result[0], 0.0f);
    EXPECT_EQ(plugin.info.tex_doit(0, block.data(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(plugin.info.result[0], 0.0f);

    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float bad_points[][3] = {{inf, 0, 0}, {0, nan, 0}, {3e38f, -3e38f, 1e30f}};
    for (const auto &q : bad_points) {
        int r = plugin.doit(0, block, q, q, q, out);
        EXPECT_GE(out[0], 0.0f);
        EXPECT_LE(out[0], 1.0f);
        EXPECT_EQ(r, RESULT_HAS_NORMAL);
        for (int k = 5; k < 8; k++)
            EXPECT_TRUE(std::isfinite(out[k]));
    }
    block.set_float("Noise Size", 0.0f);
    block.set_float("Filter", nan);
    plugin.doit(0, block, p, nullptr, nullptr, out);
    EXPECT_GE(out[0], 0.0f);
    for (int k = 5; k < 8; k++)
        EXPECT_TRUE(std::isfinite(out[k]));
}
