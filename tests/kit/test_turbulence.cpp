// Turbulence octaves, the hard-noise fold, depth limits and fixed_rand.
#include "noise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

struct Vec3 {
    float v[3];
    bool operator==(const Vec3 &o) const { return std::memcmp(v, o.v, sizeof v) == 0; }
};

Vec3 turbulence(float size, float falloff, int hard, float x, float y, float z, int nr, int seed = 0)
{
    Vec3 r;
    recursive_turb(size, falloff, hard, x, y, z, r.v, nr, seed);
    return r;
}

Vec3 octave(float size, float x, float y, float z, int seed = 0)
{
    Vec3 r;
    turb(size, x, y, z, r.v, seed);
    return r;
}

float point(int i, int axis) { return (float)std::cos(i * 4.1414 + axis * 1.7) * 9.0f; }

} // namespace

TEST(RecursiveTurb, OneOctaveIsTheNoiseItself)
{
    for (int i = 0; i < 50; i++) {
        float x = point(i, 0), y = point(i, 1), z = point(i, 2);
        EXPECT_TRUE(turbulence(0.3f, 0.5f, 0, x, y, z, 0, i) == octave(0.3f, x, y, z, i));
    }
}

TEST(RecursiveTurb, OctaveWeightsAndSizes)
{
    // Three octaves with falloff 0.5: weights 1, 0.5, 0.305 and sizes to match.
    for (int i = 0; i < 50; i++) {
        float x = point(i, 0), y = point(i, 1), z = point(i, 2);
        Vec3 t0 = octave(0.8f, x, y, z), t1 = octave(0.4f, x, y, z),
             t2 = octave(0.8f * 0.5f * 0.61f, x, y, z);
        Vec3 r = turbulence(0.8f, 0.5f, 0, x, y, z, 2);
        for (int a = 0; a < 3; a++) {
            double want = (t0.v[a] + 0.5 * t1.v[a] + 0.305 * t2.v[a]) / 1.805;
            EXPECT_NEAR(r.v[a], want, 2e-7) << "point " << i << " axis " << a;
        }
    }
}

TEST(RecursiveTurb, ZeroFalloffLeavesTheFirstOctave)
{
    for (int i = 0; i < 20; i++) {
        float x = point(i, 0), y = point(i, 1), z = point(i, 2);
        EXPECT_TRUE(turbulence(0.6f, 0.0f, 0, x, y, z, 4) == octave(0.6f, x, y, z));
    }
}

TEST(RecursiveTurb, HardNoiseFoldsEveryOctaveNonNegative)
{
    int folded = 0;
    for (int i = 0; i < 2000; i++) {
        float x = point(i, 0), y = point(i, 1), z = point(i, 2);
        Vec3 plain = octave(0.5f, x, y, z);
        Vec3 hard = turbulence(0.5f, 0.5f, 1, x, y, z, 0);
        double s = (double)plain.v[0] + plain.v[1] + plain.v[2];
        double h = (double)hard.v[0] + hard.v[1] + hard.v[2];
        EXPECT_GE(h, 0.0);
        EXPECT_NEAR(h, std::fabs(s) * (std::fabs(s) + 2.0), 1e-6);
        folded += s < 0;
        Vec3 deep = turbulence(0.5f, 0.5f, 1, x, y, z, 3);
        EXPECT_GE((double)deep.v[0] + deep.v[1] + deep.v[2], -1e-7);
        // Any non-zero flag acts as 1.
        EXPECT_TRUE(turbulence(0.5f, 0.5f, 9, x, y, z, 3) == deep);
    }
    EXPECT_GT(folded, 100); // the fold was exercised on negative octaves
}

TEST(RecursiveTurb, ZeroOctaveSumIsDoubled)
{
    // At a lattice point every octave is the zero vector: (0 + 2) * 0 = 0, no NaN.
    Vec3 r = turbulence(0.5f, 0.5f, 1, -1.0f, -1.0f, -1.0f, 2);
    EXPECT_EQ(r.v[0], 0.0f);
    EXPECT_EQ(r.v[1], 0.0f);
    EXPECT_EQ(r.v[2], 0.0f);
}

TEST(RecursiveTurb, DepthOutsideItsRangeIsClamped)
{
    for (int i = 0; i < 20; i++) {
        float x = point(i, 0), y = point(i, 1), z = point(i, 2);
        Vec3 neg = turbulence(0.5f, 0.5f, 0, x, y, z, -3);
        EXPECT_TRUE(neg == turbulence(0.5f, 0.5f, 0, x, y, z, 0));
        EXPECT_FALSE(std::isnan(neg.v[0]));
        EXPECT_TRUE(turbulence(0.5f, 0.5f, 0, x, y, z, 1 << 30) ==
                    turbulence(0.5f, 0.5f, 0, x, y, z, max_noise_depth));
    }
}

TEST(PointTurbulance, PassesItsArgumentsThrough)
{
    Vec3 a, b;
    point_turbulance(0.4f, 0.3f, 1, 1.5f, -2.25f, 0.125f, a.v, 3, 17);
    recursive_turb(0.4f, 0.3f, 1, 1.5f, -2.25f, 0.125f, b.v, 3, 17);
    EXPECT_TRUE(a == b);
}

TEST(FixedRand, KnownValues)
{
    EXPECT_EQ(fixed_rand(0, 0.0f, 0.0f, 0.0f), 0.5390625f);
    EXPECT_EQ(fixed_rand(1, 1.0f, 2.0f, 3.0f), 0.94921875f);
    // -0.0 has key 128: hash[128] = 36, hash[36] = 26, hash[26] = 67.
    EXPECT_EQ(fixed_rand(0, -0.0f, 0.0f, 0.0f), 67.0f / 256.0f);
}

TEST(FixedRand, SeedActsModulo256AndValuesAreMultiplesOf1Over256)
{
    int seen[256] = {0};
    for (int i = 0; i < 3000; i++) {
        float x = point(i, 0), y = point(i, 1), z = point(i, 2);
        float r = fixed_rand(i, x, y, z);
        EXPECT_EQ(r, fixed_rand(i + 256, x, y, z));
        EXPECT_EQ(r, fixed_rand(i - 512, x, y, z));
        float k = r * 256.0f;
        ASSERT_EQ(k, std::floor(k));
        ASSERT_GE(k, 0.0f);
        ASSERT_LE(k, 255.0f);
        seen[(int)k]++;
    }
    int distinct = 0;
    for (int n : seen)
        distinct += n > 0;
    EXPECT_GT(distinct, 200); // spread over the range, not stuck
}
