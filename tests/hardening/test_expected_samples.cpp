// Determinism: every plug-in, on a fixed sample set, gives exactly the bits
// recorded in tests/data/expected_samples.txt, through the host entry and
// through the reentrant one, as shipped and on each machine path of the noise.
// A refactor, a compiler flag or an optimisation that changes any result shows
// up here; regenerating the file is a deliberate step (tests/data/README.md).
#include "gen_expected_samples.h"
#include "hardening.h"

#include <fstream>
#include <map>
#include <set>

namespace {

struct Expected {
    int line;
    samples::Sample sample;
    samples::Answer answer;
};

struct ExpectedFile {
    std::string error;
    std::map<std::string, std::vector<Expected>> by_plugin;
};

const ExpectedFile &expected_file()
{
    static const ExpectedFile file = [] {
        ExpectedFile f;
        std::ifstream in(EXPECTED_SAMPLES_FILE);
        if (!in) {
            f.error = "cannot read " EXPECTED_SAMPLES_FILE;
            return f;
        }
        std::string line;
        for (int n = 1; std::getline(in, line); n++) {
            if (line.empty() || line[0] == '#')
                continue;
            std::string plugin;
            Expected e{n, {}, {}};
            if (!samples::parse_line(line, plugin, e.sample, e.answer)) {
                f.error += "malformed line " + std::to_string(n) + "\n";
                continue;
            }
            f.by_plugin[plugin].push_back(e);
        }
        return f;
    }();
    return file;
}

std::string describe(const samples::Answer &a)
{
    char buf[160];
    std::snprintf(buf, sizeof buf, "ret %d, r0 %08x (%.9g)", a.ret, (unsigned)a.r0,
                  samples::from_bits(a.r0));
    std::string s = buf;
    if (a.ret == RESULT_HAS_NORMAL) {
        std::snprintf(buf, sizeof buf, ", bump %08x %08x %08x", (unsigned)a.r5, (unsigned)a.r6,
                      (unsigned)a.r7);
        s += buf;
    }
    return s;
}

class ExpectedSamples : public ::testing::TestWithParam<hardening::Deliverable> {};

class ExpectedSamplesOnEachNoisePath
    : public ::testing::TestWithParam<std::tuple<hardening::Deliverable, NoiseLanes>> {};

// Renders every recorded sample of the plug-in through both entries and
// reports the ones that differ from the recorded bits.
void expect_recorded_bits(const hardening::Deliverable &d, const LoadedPlugin &plugin,
                          const std::vector<Expected> &lines, const std::string &path)
{
    ASSERT_NE(plugin.handle, nullptr);
    ASSERT_NE(plugin.doit_r, nullptr);
    int differing = 0;
    for (const Expected &e : lines) {
        ASSERT_EQ((int)e.sample.cast.size(), plugin.info.nvars) << "line " << e.line;
        const samples::Answer host = samples::render(plugin.info, e.sample);
        const samples::Answer own = samples::render_r(plugin.doit_r, e.sample);
        if (host == e.answer && own == e.answer)
            continue;
        if (++differing <= 5)
            ADD_FAILURE() << d.name << path << ", line " << e.line << " (" << e.sample.label
                          << ", stype " << e.sample.stype << "):\n  expected "
                          << describe(e.answer) << "\n  host entry " << describe(host)
                          << "\n  reentrant  " << describe(own);
    }
    EXPECT_EQ(differing, 0) << differing << " of " << lines.size() << " samples of " << d.name
                            << path << " differ from the recorded bits";
}

// The recorded samples of a plug-in, or null with the reason to skip it.
const std::vector<Expected> *recorded_samples(const hardening::Deliverable &d, std::string &skip)
{
    if (!hardening::in_build(d.name)) {
        skip = std::string(d.name) + " is not in this build yet";
        return nullptr;
    }
    auto it = expected_file().by_plugin.find(d.name);
    if (it == expected_file().by_plugin.end()) {
        skip = std::string("no expected samples recorded for ") + d.name +
               ": regenerate the file (tests/data/README.md)";
        return nullptr;
    }
    return &it->second;
}

} // namespace

TEST(ExpectedSamplesFile, IsWellFormedAndNamesOnlyKnownPlugins)
{
    const ExpectedFile &f = expected_file();
    EXPECT_EQ(f.error, "");
    EXPECT_FALSE(f.by_plugin.empty());
    for (const auto &[plugin, lines] : f.by_plugin) {
        bool known = false;
        for (const auto &d : hardening::five())
            known = known || plugin == d.name;
        EXPECT_TRUE(known) << "unknown plug-in " << plugin;
    }
}

TEST_P(ExpectedSamples, EveryBitAsRecorded)
{
    const hardening::Deliverable &d = GetParam();
    ASSERT_EQ(expected_file().error, "");
    std::string skip;
    const std::vector<Expected> *lines = recorded_samples(d, skip);
    if (!lines)
        GTEST_SKIP() << skip;

    // Every sub-type is covered.
    std::set<int> stypes;
    for (const Expected &e : *lines)
        stypes.insert(e.sample.stype);
    EXPECT_EQ((int)stypes.size(), d.stypes > 0 ? d.stypes : 1);

    LoadedPlugin plugin(d.name);
    expect_recorded_bits(d, plugin, *lines, "");
}

// The same samples through the test copy of the plug-in on each noise path.
TEST_P(ExpectedSamplesOnEachNoisePath, EveryBitAsRecorded)
{
    const auto [d, lanes] = GetParam();
    ASSERT_EQ(expected_file().error, "");
    std::string skip;
    const std::vector<Expected> *lines = recorded_samples(d, skip);
    if (!lines)
        GTEST_SKIP() << skip;
    LanesPlugin plugin(d.name, lanes);
    if (!plugin.unavailable.empty())
        GTEST_SKIP() << plugin.unavailable;
    expect_recorded_bits(d, plugin, *lines,
                         std::string(" on the ") + noise_lanes_name(lanes) + " noise path");
}

INSTANTIATE_TEST_SUITE_P(AllPlugins, ExpectedSamples, ::testing::ValuesIn(hardening::five()),
                         [](const auto &info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(AllPlugins, ExpectedSamplesOnEachNoisePath,
                         ::testing::Combine(::testing::ValuesIn(hardening::five()),
                                            ::testing::ValuesIn(all_noise_lanes)),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    noise_lanes_name(std::get<1>(info.param));
                         });
