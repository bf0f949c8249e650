// Checks on the gradient table of the lattice noise: the rows the textures
// depend on, the bounds of every component and the spread of lengths and
// directions that keeps the noise isotropic and bounded.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "noise.h"

namespace {

constexpr int kVectors = 256;

double component(int g, int axis) { return hashvectf[3 * g + axis]; }

double vector_length(int g) {
  const double x = component(g, 0), y = component(g, 1), z = component(g, 2);
  return std::sqrt(x * x + y * y + z * z);
}

void expect_row(int g, float x, float y, float z) {
  EXPECT_EQ(hashvectf[3 * g + 0], x) << "vector " << g << " x";
  EXPECT_EQ(hashvectf[3 * g + 1], y) << "vector " << g << " y";
  EXPECT_EQ(hashvectf[3 * g + 2], z) << "vector " << g << " z";
}

}  // namespace

TEST(HashVectF, FixedRowsMatchExactly) {
  expect_row(0, -0.382332f, 0.045987f, 0.412422f);
  expect_row(1, 0.322819f, -0.523555f, 0.155692f);
  expect_row(2, -0.599637f, 0.610314f, 0.204491f);
  expect_row(3, -0.326772f, 0.183249f, 0.170122f);
  expect_row(118, 0.003058f, 0.003097f, 0.000617f);
  expect_row(128, 0.037472f, -0.974004f, 0.186361f);
  expect_row(255, 0.214834f, 0.456259f, -0.107739f);
}

TEST(HashVectF, ComponentsAreSixDecimalsWithinBounds) {
  std::array<float, 3> max_abs{0.0f, 0.0f, 0.0f};
  int max_y_at = -1;
  for (int g = 0; g < kVectors; ++g) {
    for (int axis = 0; axis < 3; ++axis) {
      const float v = hashvectf[3 * g + axis];
      // The float must be the one nearest a whole number of millionths; the
      // scaled value is off an integer only by the float's own rounding.
      const double scaled = static_cast<double>(v) * 1e6;
      const double millionths = std::round(scaled);
      EXPECT_NEAR(scaled, millionths, 0.05) << "vector " << g << " axis " << axis;
      EXPECT_EQ(static_cast<float>(millionths / 1e6), v)
          << "vector " << g << " axis " << axis;
      EXPECT_GE(v, -0.974004f) << "vector " << g << " axis " << axis;
      EXPECT_LE(v, 0.936188f) << "vector " << g << " axis " << axis;
      if (std::fabs(v) > max_abs[axis]) {
        max_abs[axis] = std::fabs(v);
        if (axis == 1) max_y_at = g;
      }
    }
  }
  EXPECT_LT(max_abs[0], 0.88f);
  EXPECT_EQ(max_abs[1], 0.974004f);
  EXPECT_EQ(max_y_at, 128);
  EXPECT_LE(max_abs[2], 0.936188f);
  // The stated range is attained at both ends.
  const float* end = hashvectf + 3 * kVectors;
  EXPECT_EQ(*std::min_element(hashvectf, end), -0.974004f);
  EXPECT_EQ(*std::max_element(hashvectf, end), 0.936188f);
}

TEST(HashVectF, LengthsSpreadEvenlyBetweenShortestAndLongest) {
  std::vector<double> lengths(kVectors);
  for (int g = 0; g < kVectors; ++g) lengths[g] = vector_length(g);

  const auto shortest = std::min_element(lengths.begin(), lengths.end());
  const auto longest = std::max_element(lengths.begin(), lengths.end());
  EXPECT_EQ(shortest - lengths.begin(), 118);
  EXPECT_EQ(longest - lengths.begin(), 128);
  EXPECT_NEAR(*shortest, 0.0044, 5e-5);
  EXPECT_NEAR(*longest, 0.9924, 5e-5);
  // No other vector ties with either extreme.
  EXPECT_EQ(std::count(lengths.begin(), lengths.end(), *shortest), 1);
  EXPECT_EQ(std::count(lengths.begin(), lengths.end(), *longest), 1);

  std::sort(lengths.begin(), lengths.end());
  EXPECT_NEAR(lengths[kVectors / 4], 0.27, 0.04);
  EXPECT_NEAR(lengths[kVectors / 2], 0.51, 0.04);
  EXPECT_NEAR(lengths[3 * kVectors / 4], 0.79, 0.04);
}

TEST(HashVectF, ComponentsAreCentredWithEvenSpread) {
  for (int axis = 0; axis < 3; ++axis) {
    double sum = 0.0, sum_sq = 0.0;
    for (int g = 0; g < kVectors; ++g) {
      sum += component(g, axis);
      sum_sq += component(g, axis) * component(g, axis);
    }
    const double mean = sum / kVectors;
    const double stddev = std::sqrt(sum_sq / kVectors - mean * mean);
    EXPECT_NEAR(mean, 0.0, 0.05) << "axis " << axis;
    EXPECT_GE(stddev, 0.30) << "axis " << axis;
    EXPECT_LE(stddev, 0.38) << "axis " << axis;
  }
}

TEST(HashVectF, DirectionsCoverEveryOctant) {
  std::array<int, 8> counts{};
  for (int g = 0; g < kVectors; ++g) {
    const int octant = (component(g, 0) < 0.0 ? 1 : 0) | (component(g, 1) < 0.0 ? 2 : 0) |
                       (component(g, 2) < 0.0 ? 4 : 0);
    ++counts[octant];
  }
  for (int octant = 0; octant < 8; ++octant) {
    EXPECT_GE(counts[octant], 16) << "octant " << octant;
  }
}

TEST(HashVectF, HalfLargestComponentBoundsTheNoise) {
  // The noise's component k is at most half the largest |component k| of
  // the table, which must stay below the per-axis noise bounds.
  const std::array<double, 3> noise_bound{0.44, 0.49, 0.47};
  for (int axis = 0; axis < 3; ++axis) {
    double largest = 0.0;
    for (int g = 0; g < kVectors; ++g) largest = std::max(largest, std::fabs(component(g, axis)));
    EXPECT_LT(0.5 * largest, noise_bound[axis]) << "axis " << axis;
  }
}
