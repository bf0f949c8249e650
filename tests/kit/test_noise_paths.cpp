// Every machine path of the noise against its definition, turb_reference:
// identical bits for ordinary points, far-out points and arbitrary bit
// patterns alike, for turb, turb_batch and point_turbulance_batch. Each test
// runs once per path; a path this build or processor lacks is skipped, saying so.
#include "noise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

// Test names and messages show the path's name.
void PrintTo(NoiseLanes lanes, std::ostream *os) { *os << noise_lanes_name(lanes); }

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

// Runs the test body on one path and puts the automatic choice back after.
class NoisePaths : public ::testing::TestWithParam<NoiseLanes> {
protected:
    void SetUp() override
    {
        if (!use_noise_lanes(GetParam()))
            GTEST_SKIP() << "the " << noise_lanes_name(GetParam())
                         << " noise path is not available on this build or processor";
    }
    void TearDown() override { use_noise_lanes(automatic); }
    static const NoiseLanes automatic;
};
const NoiseLanes NoisePaths::automatic = noise_lanes();

// The point-by-point turbulence the batch must reproduce.
void turbulence_by_reference(float size, float falloff, int hard, float x, float y, float z,
                             float *vec, int depth, int seed)
{
    float d = 1.0f, div = 0.0f;
    vec[0] = vec[1] = vec[2] = 0.0f;
    for (int k = 0; k <= depth; k++) {
        float t[3];
        turb_reference(size * d, x, y, z, t, seed);
        if (hard) {
            float total = (float)((double)t[0] + t[1] + t[2]);
            total = total < 0.0f ? (float)(total - 2.0) : (float)(total + 2.0);
            for (float &c : t)
                c = c * total;
        }
        for (int a = 0; a < 3; a++)
            vec[a] = (float)((double)t[a] * d + vec[a]);
        div = div + d;
        d = d * falloff;
        falloff = 0.61f;
    }
    for (int a = 0; a < 3; a++)
        vec[a] = vec[a] / div;
}

} // namespace

TEST_P(NoisePaths, TurbMatchesReferenceBitForBit)
{
    EXPECT_EQ(noise_lanes(), GetParam());
    long mismatches = 0;
    for (int i = 0; i < 1000000; i++) {
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

TEST_P(NoisePaths, PointsBesideLatticePlanesMatchReference)
{
    // A few ulps either side of the planes k * size - 1, where an offset from
    // the near corner is tiny or rounds up to a whole cell, and a far offset
    // is tiny or -1: single points and whole groups of them.
    const float sizes[] = {0.25f, 1.0f, 3.0f, 1e-3f, 1e6f, 0x1p40f};
    std::vector<float> x, y, z;
    for (float size : sizes)
        for (int k = -3; k <= 3; k++) {
            const float plane = (float)(k * (double)size - 1.0);
            float below = plane, above = plane;
            for (int step = 0; step < 4; step++) {
                for (float p : {below, above}) {
                    x.push_back(p);
                    y.push_back(step % 2 ? p : 0.5f);
                    z.push_back(step % 3 ? -p : p);
                }
                below = std::nextafter(below, -INFINITY);
                above = std::nextafter(above, INFINITY);
            }
            std::vector<float[3]> vec(x.size());
            turb_batch((int)x.size(), size, x.data(), y.data(), z.data(), vec.data(), k);
            for (size_t i = 0; i < x.size(); i++) {
                float one[3], ref[3];
                turb(size, x[i], y[i], z[i], one, k);
                turb_reference(size, x[i], y[i], z[i], ref, k);
                for (int a = 0; a < 3; a++) {
                    ASSERT_TRUE(same(one[a], ref[a]))
                        << "turb size " << size << " point " << x[i] << " axis " << a;
                    ASSERT_TRUE(same(vec[i][a], ref[a]))
                        << "turb_batch size " << size << " point " << x[i] << " axis " << a;
                }
            }
            x.clear();
            y.clear();
            z.clear();
        }
}

TEST_P(NoisePaths, BatchedTurbMatchesReferenceForEveryBatchSize)
{
    // Batch lengths that fill whole groups of four and eight lanes, leave a
    // partial group of either width, or hold a coordinate outside int range
    // that sends its group lane by lane.
    for (int n : {1, 3, 4, 5, 7, 8, 9, 12, 13, 21, 64, 100}) {
        std::vector<float> x(n), y(n), z(n);
        std::vector<float[3]> vec(n);
        for (int round = 0; round < 1000; round++) {
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

TEST_P(NoisePaths, TurbulenceBatchMatchesOctaveByOctaveReference)
{
    // Every point count a sample can have, every depth, both hard settings,
    // falloffs that make octave sizes collapse to zero, and now and then a
    // point or parameter with arbitrary bits.
    float x[max_turbulence_batch], y[max_turbulence_batch], z[max_turbulence_batch];
    float vec[max_turbulence_batch][3];
    long compared = 0;
    for (int round = 0; round < 3000; round++) {
        const int n = 1 + round % max_turbulence_batch;
        const int depth = round % (max_noise_depth + 1);
        const int hard = (round / 7) % 2;
        const int seed = (int)(next_bits() % 300);
        float size = 0.05f + (float)(next_bits() % 1000) / 500.0f;
        float falloff = round % 17 == 0 ? 0.0f : (float)(next_bits() % 1000) / 1000.0f;
        if (round % 29 == 0)
            size = any_float();
        if (round % 31 == 0)
            falloff = any_float();
        for (int i = 0; i < n; i++) {
            const bool wild = (round + i) % 37 == 0;
            x[i] = wild ? any_float() : ordinary_float() * 1e-6f;
            y[i] = ordinary_float() * 1e-7f;
            z[i] = wild ? any_float() : ordinary_float() * 1e-8f;
        }
        point_turbulance_batch(size, falloff, hard, n, x, y, z, vec, depth, seed);
        for (int i = 0; i < n; i++) {
            float ref[3];
            turbulence_by_reference(size, falloff, hard, x[i], y[i], z[i], ref, depth, seed);
            for (int a = 0; a < 3; a++)
                ASSERT_TRUE(same(vec[i][a], ref[a]))
                    << "round " << round << " point " << i << " of " << n << " axis " << a
                    << ": " << vec[i][a] << " vs " << ref[a];
            compared++;
        }
    }
    EXPECT_GT(compared, 30000);
}

INSTANTIATE_TEST_SUITE_P(EveryPath, NoisePaths, ::testing::ValuesIn(all_noise_lanes),
                         [](const auto &info) {
                             return std::string(noise_lanes_name(info.param));
                         });

TEST(NoisePathChoice, AutomaticChoiceIsTheWidestAvailable)
{
    NoiseLanes widest = NoiseLanes::portable;
    for (NoiseLanes lanes : all_noise_lanes) {
        if (noise_lanes_available(lanes))
            widest = lanes;
        std::printf("noise path %-8s (%d lanes): %s\n", noise_lanes_name(lanes),
                    noise_lane_width(lanes),
                    noise_lanes_available(lanes) ? "available" : "not available here");
    }
    EXPECT_TRUE(noise_lanes_available(NoiseLanes::portable));
    EXPECT_EQ(noise_lanes(), widest);
    // A value that names no path is refused and changes nothing.
    EXPECT_FALSE(use_noise_lanes((NoiseLanes)7));
    EXPECT_EQ(noise_lanes(), widest);
}
