// The batched evaluation (all points of a sample, all octaves, in one batch
// of noise lanes) against the same sources built to evaluate point by point:
// identical bits over many points, parameter blocks, sub-types and footprints,
// for the shipped build and for the test copy on each machine path.
#include "plugin_fixture.h"

#include <cmath>
#include <fstream>

namespace {

uint64_t rng = 0x853C49E6748FEA9Bull;
uint32_t next_u32()
{
    rng = rng * 6364136223846793005ull + 1442695040888963407ull;
    return (uint32_t)(rng >> 32);
}
float uniform(float lo, float hi) { return lo + (hi - lo) * (float)(next_u32() >> 8) / 16777216.0f; }

// A block with every widget at a random value in its range, now and then
// one slot holding arbitrary bits.
Block random_block(const LoadedPlugin &p)
{
    Block b = p.defaults();
    for (int i = 0; i < p.info.nvars; i++) {
        const VarStruct &v = p.info.varstr[i];
        if (v.type == VT_FLOAT_NUMBER) {
            float f = uniform(v.min, v.max);
            std::memcpy(&b.slots[i], &f, 4);
        } else if (v.type != VT_LABEL) {
            b.slots[i] = (uint32_t)((int)v.min + (int)(next_u32() % (uint32_t)(v.max - v.min + 1)));
        }
    }
    if (next_u32() % 8 == 0)
        b.slots[next_u32() % p.info.nvars] = next_u32();
    return b;
}

// Renders 3000 random samples with both libraries and compares every
// result bit; `fast` is any build that batches, `plain` the point-by-point one.
void expect_same_as_point_by_point(const char *deliverable, const LoadedPlugin &fast)
{
    LoadedPlugin plain(deliverable, RTLD_NOW | RTLD_LOCAL, STRAIGHTFORWARD_PLUGIN_DIR);
    ASSERT_NE(fast.doit_r, nullptr);
    ASSERT_NE(plain.doit_r, nullptr);
    ASSERT_NE(fast.handle, plain.handle);

    long compared = 0;
    for (int round = 0; round < 3000; round++) {
        Block block = random_block(fast);
        const int stype = (int)(next_u32() % 4);
        const float scale = round % 5 == 0 ? 300.0f : 3.0f;
        float p[3] = {uniform(-scale, scale), uniform(-scale, scale), uniform(-scale, scale)};
        float dx[3] = {uniform(-0.2f, 0.2f), uniform(-0.2f, 0.2f), uniform(-0.05f, 0.05f)};
        float dy[3] = {uniform(-0.2f, 0.2f), uniform(-0.2f, 0.2f), uniform(-0.05f, 0.05f)};
        const bool footprint = round % 3 != 0;
        float a[8] = {}, b[8] = {};
        int ra = fast.doit_r(stype, block.data(), p, footprint ? dx : nullptr,
                             footprint ? dy : nullptr, a);
        int rb = plain.doit_r(stype, block.data(), p, footprint ? dx : nullptr,
                              footprint ? dy : nullptr, b);
        ASSERT_EQ(ra, rb) << "round " << round;
        for (int k : {0, 5, 6, 7})
            ASSERT_EQ(bits_of(a[k]), bits_of(b[k]))
                << deliverable << " round " << round << " element " << k << ": " << a[k]
                << " vs " << b[k];
        compared++;
    }
    EXPECT_EQ(compared, 3000);
}

const char *const kDeliverables[] = {"harvoske", "quelmi", "pellosca", "delmorasquintava",
                                     "vamorela"};

class FastPath : public ::testing::TestWithParam<const char *> {};

class FastPathOnEachNoisePath
    : public ::testing::TestWithParam<std::tuple<const char *, NoiseLanes>> {};

} // namespace

TEST_P(FastPath, BatchedEvaluationMatchesPointByPoint)
{
    const char *deliverable = GetParam();
    ASSERT_TRUE(std::ifstream(plugin_path(deliverable)).good()) << deliverable << " is not built";
    LoadedPlugin fast(deliverable);
    expect_same_as_point_by_point(deliverable, fast);
}

INSTANTIATE_TEST_SUITE_P(AllPlugins, FastPath, ::testing::ValuesIn(kDeliverables));

// The same comparison with the test copy of each plug-in forced onto each
// machine path of the noise in turn.
TEST_P(FastPathOnEachNoisePath, BatchedEvaluationMatchesPointByPoint)
{
    const auto [deliverable, lanes] = GetParam();
    LanesPlugin fast(deliverable, lanes);
    if (!fast.unavailable.empty())
        GTEST_SKIP() << fast.unavailable;
    expect_same_as_point_by_point(deliverable, fast);
}

INSTANTIATE_TEST_SUITE_P(
    AllPlugins, FastPathOnEachNoisePath,
    ::testing::Combine(::testing::ValuesIn(kDeliverables), ::testing::ValuesIn(all_noise_lanes)),
    [](const auto &info) {
        return std::string(std::get<0>(info.param)) + "_" +
               noise_lanes_name(std::get<1>(info.param));
    });
