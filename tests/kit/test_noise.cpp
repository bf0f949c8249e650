// Lattice noise: zero size, lattice points, cell centres, wrapping of negative
// and huge cells, seeds, and the bound on each component.
#include "noise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

struct Vec3 {
    float v[3];
};

Vec3 noise_at(float size, float x, float y, float z, int seed = 0)
{
    Vec3 r;
    turb(size, x, y, z, r.v, seed);
    return r;
}

void expect_same_bits(const Vec3 &a, const Vec3 &b)
{
    EXPECT_EQ(0, std::memcmp(a.v, b.v, sizeof a.v))
        << "(" << a.v[0] << ", " << a.v[1] << ", " << a.v[2] << ") vs (" << b.v[0] << ", "
        << b.v[1] << ", " << b.v[2] << ")";
}

// A spread of points that crosses many cells, negative ones included.
float coordinate(int i, int axis) { return (float)std::sin(i * 12.9898 + axis * 78.233) * 37.0f; }

} // namespace

TEST(Turb, ZeroSizeGivesZeroVector)
{
    for (int i = 0; i < 20; i++) {
        Vec3 r = noise_at(0.0f, coordinate(i, 0), coordinate(i, 1), coordinate(i, 2), i * 13);
        EXPECT_EQ(r.v[0], 0.0f);
        EXPECT_EQ(r.v[1], 0.0f);
        EXPECT_EQ(r.v[2], 0.0f);
    }
}

TEST(Turb, LatticePointsGiveZero)
{
    for (float size : {0.25f, 0.5f, 1.0f, 2.0f, 0.3f}) {
        Vec3 r = noise_at(size, -1.0f, -1.0f, -1.0f, 7);
        EXPECT_EQ(r.v[0], 0.0f);
        EXPECT_EQ(r.v[1], 0.0f);
        EXPECT_EQ(r.v[2], 0.0f);
    }
    // k * size - 1 for sizes whose multiples are exact.
    for (int k = -5; k <= 5; k++) {
        Vec3 r = noise_at(0.5f, k * 0.5f - 1.0f, (k + 3) * 0.5f - 1.0f, (2 * k) * 0.5f - 1.0f);
        EXPECT_EQ(r.v[0], 0.0f);
        EXPECT_EQ(r.v[1], 0.0f);
        EXPECT_EQ(r.v[2], 0.0f);
    }
}

TEST(Turb, CellCentreWeighsEveryCornerEqually)
{
    // Scaled point (1.5, 1.5, 1.5): cell (1, 1, 1), offsets +-0.5, weights 1/8.
    Vec3 r = noise_at(1.0f, 0.5f, 0.5f, 0.5f);
    double expect[3] = {0, 0, 0};
    for (int corner = 0; corner < 8; corner++) {
        int cx = 1 + ((corner >> 2) & 1), cy = 1 + ((corner >> 1) & 1), cz = 1 + (corner & 1);
        int column = hash[(hash[cx & 255] + cy) & 255];
        const float *g = &hashvectf[3 * hash[(column + cz) & 255]];
        int side[3] = {cx - 1, cy - 1, cz - 1};
        for (int a = 0; a < 3; a++)
            expect[a] += g[a] * (side[a] ? -0.0625 : 0.0625);
    }
    for (int a = 0; a < 3; a++)
        EXPECT_NEAR(r.v[a], expect[a], 1e-7) << "axis " << a;
}

TEST(Turb, RepeatsEvery256CellsIncludingNegativeCells)
{
    // x = -0.25 lies in cell -1, which must hash as 255.
    expect_same_bits(noise_at(1.0f, -1.25f, 0.3f, 0.7f), noise_at(1.0f, 254.75f, 0.3f, 0.7f));
    expect_same_bits(noise_at(1.0f, 0.4f, -3.5f, 0.7f), noise_at(1.0f, 0.4f, 252.5f, 0.7f));
    expect_same_bits(noise_at(0.5f, 0.4f, 0.1f, -7.75f), noise_at(0.5f, 0.4f, 0.1f, 120.25f));
}

TEST(Turb, SeedActsModulo256AndShiftsAlongZ)
{
    for (int i = 0; i < 10; i++) {
        float x = coordinate(i, 0), y = coordinate(i, 1), z = coordinate(i, 2);
        expect_same_bits(noise_at(0.7f, x, y, z, 256), noise_at(0.7f, x, y, z, 0));
        expect_same_bits(noise_at(0.7f, x, y, z, -1), noise_at(0.7f, x, y, z, 255));
        expect_same_bits(noise_at(0.7f, x, y, z, 3 + 512), noise_at(0.7f, x, y, z, 3));
    }
    // Raising the seed by s is the noise of the point s cells further along z.
    expect_same_bits(noise_at(1.0f, 0.25f, 1.5f, 2.125f, 5), noise_at(1.0f, 0.25f, 1.5f, 7.125f, 0));
}

TEST(Turb, ComponentsStayWithinHalfTheLargestGradient)
{
    float largest[3] = {0, 0, 0};
    for (int i = 0; i < 20000; i++) {
        Vec3 r = noise_at(0.37f, coordinate(i, 0), coordinate(i, 1), coordinate(i, 2), i & 255);
        for (int a = 0; a < 3; a++)
            largest[a] = std::fmax(largest[a], std::fabs(r.v[a]));
    }
    EXPECT_LT(largest[0], 0.44f);
    EXPECT_LT(largest[1], 0.49f);
    EXPECT_LT(largest[2], 0.47f);
    EXPECT_GT(largest[0] + largest[1] + largest[2], 0.3f); // not degenerate
}

TEST(LatticeCell, KeepsLowBitsOfEveryFiniteValue)
{
    EXPECT_EQ(lattice_cell(0.0), 0);
    EXPECT_EQ(lattice_cell(-1.0), -1);
    EXPECT_EQ(lattice_cell(2147483647.0), 2147483647);
    EXPECT_EQ(lattice_cell(-2147483648.0), -2147483647 - 1);
    // Beyond int: the two's-complement low 32 bits of the true integer.
    EXPECT_EQ(lattice_cell(2147483648.0 + 5.0), -2147483647 - 1 + 5);
    EXPECT_EQ(lattice_cell(-2147483649.0), 2147483647);
    EXPECT_EQ(lattice_cell(4294967296.0 * 3 + 258.0) & 255, 2);
    EXPECT_EQ(lattice_cell(-4294967296.0 * 7 - 1.0) & 255, 255);
    EXPECT_EQ(lattice_cell(1e300) & 255, 0);
    EXPECT_EQ(lattice_cell(std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(lattice_cell(-std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(lattice_cell(std::nan("")), 0);
}

TEST(Turb, HugeCoordinatesWrapLikeTheirCell)
{
    // Floats this large are whole multiples of 256 cells: cell 0 with offset 0.
    Vec3 origin_cell = noise_at(1.0f, -1.0f, 0.3f, 0.6f);
    expect_same_bits(noise_at(1.0f, 3e9f, 0.3f, 0.6f), origin_cell);
    expect_same_bits(noise_at(1.0f, -5e12f, 0.3f, 0.6f), origin_cell);
    expect_same_bits(noise_at(1.0f, 1e30f, 0.3f, 0.6f), origin_cell);
}

TEST(Turb, NonFiniteInputIsComputedThrough)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Defined behaviour (the sanitizer build checks the conversions); the
    // values themselves are not numbers.
    Vec3 a = noise_at(1.0f, inf, 0.0f, 0.0f);
    Vec3 b = noise_at(1.0f, 0.0f, nan, -inf);
    Vec3 c = noise_at(nan, 0.5f, 0.5f, 0.5f);
    EXPECT_TRUE(std::isnan(a.v[0]));
    EXPECT_TRUE(std::isnan(b.v[1]));
    EXPECT_TRUE(std::isnan(c.v[2]));
}
