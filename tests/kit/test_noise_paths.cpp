// The fast lattice noise against the straightforward one: identical bits
// for ordinary points, far-out points and arbitrary bit patterns alike.
#include "noise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

uint64_t state = 0x243F6A8885A308D3ull;
uint32_t next_bits()
{
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return (uint32_t)(state >> 32);
}

float any_float()
{
    uint32_t b = next_bits();
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}

// Coordinates of every magnitude from 2^-8 to 2^31, both signs.
float ordinary_float()
{
    int32_t i = (int32_t)next_bits();
    return (float)i / (float)(1u << (next_bits() % 32));
}

// Equal bits, except that two NaNs count as equal whatever their payload.
bool same(float a, float b)
{
    if (std::isnan(a) && std::isnan(b))
        return true;
    return std::memcmp(&a, &b, 4) == 0;
}

} // namespace

TEST(NoisePaths, FastTurbMatchesReferenceBitForBit)
{
    long mismatches = 0;
    for (int i = 0; i < 2000000; i++) {
        bool wild = i % 8 == 0;
        float size = wild ? any_float() : (i % 3 ? 0.25f : std::fabs(ordinary_float()) + 1e-3f);
        float x = wild ? any_float() : ordinary_float();
        float y = wild ? any_float() : ordinary_float() * 0.01f;
        float z = wild ? any_float() : ordinary_float() * 1e-4f;
        int seed = (int)next_bits();
        float fast[3], ref[3];
        turb(size, x, y, z, fast, seed);
        turb_reference(size, x, y, z, ref, seed);
        for (int a = 0; a < 3; a++)
            if (!same(fast[a], ref[a]) && mismatches++ < 5)
                ADD_FAILURE() << "turb(" << size << ", " << x << ", " << y << ", " << z << ", "
                              << seed << ") axis " << a << ": " << fast[a] << " vs " << ref[a];
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(NoisePaths, BatchedTurbMatchesReferenceForEveryBatchSize)
{
    // Batch lengths that exercise the four-lane path, the single lanes after
    // it, and a coordinate outside int range falling back lane by lane.
    for (int n : {1, 3, 4, 7, 8, 9, 12, 21, 64}) {
        std::vector<float> x(n), y(n), z(n);
        std::vector<float[3]> vec(n);
        for (int round = 0; round < 2000; round++) {
            const int seed = (int)next_bits();
            const float size = round % 13 == 0 ? any_float()
                               : round % 7 == 0 ? 0.0f
                                                : 0.1f + 0.3f * (round % 3);
            for (int i = 0; i < n; i++) {
                bool wild = (round + i) % 11 == 0;
                x[i] = wild ? any_float() : ordinary_float() * 1e-3f;
                y[i] = ordinary_float() * 1e-5f;
                z[i] = wild ? any_float() : ordinary_float() * 1e-6f;
            }
            turb_batch(n, size, x.data(), y.data(), z.data(), vec.data(), seed);
            for (int i = 0; i < n; i++) {
                float ref[3];
                turb_reference(size, x[i], y[i], z[i], ref, seed);
                for (int a = 0; a < 3; a++)
                    ASSERT_TRUE(same(vec[i][a], ref[a]))
                        << "batch " << n << " lane " << i << " axis " << a << " size " << size;
            }
        }
    }
}
