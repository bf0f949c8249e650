// Vector routines and the map-range step.
#include "map_range.h"
#include "vector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(Vector, ArithmeticExamples)
{
    const float a[3] = {1, 2, 3}, b[3] = {4, 5, 6};
    float v[3];
    crossp(v, a, b);
    EXPECT_EQ(v[0], -3.0f);
    EXPECT_EQ(v[1], 6.0f);
    EXPECT_EQ(v[2], -3.0f);
    vec_sub(v, a, b);
    EXPECT_EQ(v[0], -3.0f);
    EXPECT_EQ(v[1], -3.0f);
    EXPECT_EQ(v[2], -3.0f);
    vec_add(v, a, b);
    EXPECT_EQ(v[0], 5.0f);
    EXPECT_EQ(v[1], 7.0f);
    EXPECT_EQ(v[2], 9.0f);
    vec_copy(v, a);
    EXPECT_EQ(v[2], 3.0f);
    const float c[3] = {3, 0, 4};
    EXPECT_EQ(vec_len(c), 5.0f);
}

TEST(Vector, CrossProductOfAxesFollowsTheRightHand)
{
    const float x[3] = {1, 0, 0}, y[3] = {0, 1, 0};
    float v[3];
    crossp(v, x, y);
    EXPECT_EQ(v[2], 1.0f);
    crossp(v, y, x);
    EXPECT_EQ(v[2], -1.0f);
}

TEST(Vector, NormalizeIncludingTinyAndZeroVectors)
{
    float v[3] = {3, 0, 4};
    vec_normalize(v);
    EXPECT_EQ(v[0], 0.6f);
    EXPECT_EQ(v[1], 0.0f);
    EXPECT_EQ(v[2], 0.8f);

    float tiny[3] = {1e-11f, 0, 0};
    vec_normalize(tiny); // scaled by 1e10, not brought to unit length
    EXPECT_NEAR(tiny[0], 0.1f, 1e-8);

    float zero[3] = {0, 0, 0};
    vec_normalize(zero);
    EXPECT_EQ(zero[0], 0.0f);
    EXPECT_EQ(zero[1], 0.0f);
    EXPECT_EQ(zero[2], 0.0f);
}

TEST(MapRange, DefaultRangePassesAndClips)
{
    EXPECT_EQ(map_range(0.0f, 1.0f, 0.0f), 0.0f);
    EXPECT_EQ(map_range(0.3f, 1.0f, 0.0f), 0.3f);
    EXPECT_EQ(map_range(1.0f, 1.0f, 0.0f), 1.0f);
    EXPECT_EQ(map_range(1.3f, 1.0f, 0.0f), 1.0f);
    EXPECT_EQ(map_range(-0.2f, 1.0f, 0.0f), 0.0f);
}

TEST(MapRange, NarrowRange)
{
    EXPECT_EQ(map_range(0.5f, 0.8f, 0.2f), 0.5f);
    EXPECT_EQ(map_range(0.65f, 0.8f, 0.2f), (float)((0.65f - (double)0.2f) / (0.8f - (double)0.2f)));
    EXPECT_NEAR(map_range(0.65f, 0.8f, 0.2f), 0.75f, 1e-7);
}

TEST(MapRange, EmptyOrInvertedRangeCollapsesNearTheMean)
{
    // max = min = 0.5: max becomes 0.05 (not 0.5) and min 0.04.
    EXPECT_NEAR(map_range(0.045f, 0.5f, 0.5f), 0.5f, 1e-5);
    EXPECT_EQ(map_range(0.051f, 0.5f, 0.5f), 1.0f);
    EXPECT_EQ(map_range(0.039f, 0.5f, 0.5f), 0.0f);
    // max < min: the same rule from their sum.
    EXPECT_NEAR(map_range(0.045f, 0.2f, 0.8f), 0.5f, 1e-5);
    EXPECT_EQ(map_range(0.06f, 0.2f, 0.8f), 1.0f);
    // both 0: range [-0.01, 0], so 0 and above map to 1.
    EXPECT_EQ(map_range(0.0f, 0.0f, 0.0f), 1.0f);
    EXPECT_EQ(map_range(-0.5f, 0.0f, 0.0f), 0.0f);
}

TEST(MapRange, CollapsedLimitsSumInDouble)
{
    // 0.5f + 0.54f is not a float: summed in float, the collapsed max would be
    // one step lower (0x1.a9fbe6p-5), and this raw value would sit on it and map to 1.
    const float max = (float)((0.5 + (double)0.54f) * 0.05);
    ASSERT_EQ(max, 0x1.a9fbe8p-5f);
    const float min = (float)(max - 0.01);
    const float raw = 0x1.a9fbe6p-5f;
    const float expected = (float)(((double)raw - min) / ((double)max - min));
    EXPECT_LT(expected, 1.0f);
    EXPECT_EQ(map_range(raw, 0.5f, 0.54f), expected);
    EXPECT_EQ(map_range_unclipped(raw, 0.5f, 0.54f), expected);
}

TEST(MapRange, NotANumberNeverEscapes)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(map_range(nan, 1.0f, 0.0f), 0.0f);
    EXPECT_EQ(map_range(0.5f, nan, 0.0f), 0.0f);
    EXPECT_EQ(map_range(0.5f, 1.0f, nan), 0.0f);
    EXPECT_EQ(clip_unit(nan), 0.0f);
}
