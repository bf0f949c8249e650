// The host interface, checked the same way for every built plug-in.
#include "plugin_fixture.h"

#include <cmath>
#include <fstream>

namespace {

struct Expected {
    const char *deliverable;
    const char *name;
    int stypes;
    int nvars;
};

const Expected kPlugins[] = {
    {"harvoske", "Harvoske", 0, 12},  {"quelmi", "Quelmi", 0, 13},
    {"pellosca", "Pellosca", 3, 14},  {"delmorasquintava", "Delmorasquintava", 3, 24},
    {"vamorela", "Vamorela", 2, 20},
};

bool built(const char *deliverable) { return std::ifstream(plugin_path(deliverable)).good(); }

class HostInterface : public ::testing::TestWithParam<Expected> {
  protected:
    void SetUp() override
    {
        // The build makes every plug-in; a missing one is a failure, not a skip.
        ASSERT_TRUE(built(GetParam().deliverable)) << GetParam().deliverable << " is not built";
    }
};

// A few points and footprints with enough variety to reach every branch.
void each_call(const std::function<void(int, const float *, const float *, const float *)> &f)
{
    const float pts[][3] = {{0.1f, 0.2f, 0.3f}, {-1.7f, 4.2f, 0.9f}, {12.5f, -3.25f, -7.0f}};
    const float dx[3] = {0.03f, 0.01f, 0.0f}, dy[3] = {0.0f, 0.02f, 0.04f};
    for (int stype = 0; stype < 3; stype++)
        for (const auto &p : pts) {
            f(stype, p, nullptr, nullptr);
            f(stype, p, dx, dy);
        }
}

} // namespace

TEST_P(HostInterface, VersionAndInfoRecord)
{
    const Expected &e = GetParam();
    void *h = dlopen(plugin_path(e.deliverable).c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr);
    auto version = (int (*)(void))dlsym(h, "plugin_tex_getversion");
    auto getinfo = (void (*)(PluginInfo *))dlsym(h, "plugin_getinfo");
    ASSERT_NE(version, nullptr);
    ASSERT_NE(getinfo, nullptr);
    EXPECT_EQ(version(), 3);

    PluginInfo info;
    std::memset(&info, 0xA5, sizeof info);
    SeqDoit marker;
    std::memcpy(&marker, (const char *)&info + offsetof(PluginInfo, seq_doit), sizeof marker);
    getinfo(&info);
    EXPECT_EQ(version(), 3);
    EXPECT_EQ(info.seq_doit, marker) << "seq_doit must be left as the host supplied it";
    EXPECT_EQ(info.name, (char *)dlsym(h, "name"));
    EXPECT_STREQ(info.name, e.name);
    EXPECT_EQ(info.stypes, e.stypes);
    EXPECT_EQ(info.nvars, e.nvars);
    EXPECT_EQ(info.varstr, dlsym(h, "varstr"));
    EXPECT_EQ(info.result, dlsym(h, "result"));
    EXPECT_EQ(info.cfra, dlsym(h, "cfra"));
    EXPECT_EQ((void *)info.init, dlsym(h, "plugin_init"));
    EXPECT_EQ((void *)info.callback, dlsym(h, "plugin_but_changed"));
    EXPECT_EQ((void *)info.tex_doit, dlsym(h, "plugin_tex_doit"));
    if (e.stypes == 0)
        EXPECT_EQ(info.snames, nullptr);
    else
        EXPECT_EQ(info.snames, dlsym(h, "stnames"));
    // Calling again stores the same values.
    PluginInfo again = info;
    getinfo(&again);
    EXPECT_EQ(0, std::memcmp(&info, &again, sizeof info));
    // Zero-initialised output before any call.
    for (int k = 0; k < 8; k++)
        EXPECT_EQ(info.result[k], 0.0f);
    EXPECT_EQ(*info.cfra, 0.0f);
    dlclose(h);
}

TEST_P(HostInterface, KitNamesAreNotVisibleEvenWhenLoadedGlobally)
{
    void *h = dlopen(plugin_path(GetParam().deliverable).c_str(), RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(h, nullptr);
    for (const char *name : {"turb", "hash", "hashvectf", "intensity", "recursive_turb",
                             "point_turbulance", "fixed_rand", "vec_len", "vec_normalize",
                             "crossp", "map_range", "evaluate"})
        EXPECT_EQ(dlsym(h, name), nullptr) << name << " leaks out of " << GetParam().deliverable;
    dlclose(h);
}

TEST_P(HostInterface, UnusedResultElementsStayZeroAndBumpFlagFollowsToggle)
{
    LoadedPlugin plugin(GetParam().deliverable);
    Block block = plugin.defaults();
    float out[8];
    each_call([&](int stype, const float *p, const float *dx, const float *dy) {
        int r = plugin.doit(stype, block, p, dx, dy, out);
        EXPECT_EQ(r, RESULT_HAS_NORMAL);
        EXPECT_GE(out[0], 0.0f);
        EXPECT_LE(out[0], 1.0f);
    });
    for (int k = 1; k <= 4; k++)
        EXPECT_EQ(plugin.info.result[k], 0.0f);

    float kept[8];
    std::memcpy(kept, plugin.info.result, sizeof kept);
    block.set_int("BumpMap", 0);
    each_call([&](int stype, const float *p, const float *dx, const float *dy) {
        EXPECT_EQ(plugin.doit(stype, block, p, dx, dy, out), 0);
        for (int k = 5; k < 8; k++)
            EXPECT_EQ(out[k], kept[k]);
    });
    // init and but_changed change nothing observable.
    plugin.info.init();
    plugin.info.callback(3);
    block.set_int("BumpMap", 1);
    float before[8];
    const float p[3] = {0.4f, 0.5f, 0.6f};
    plugin.doit(0, block, p, nullptr, nullptr, before);
    plugin.info.callback(0);
    plugin.doit(0, block, p, nullptr, nullptr, out);
    EXPECT_EQ(0, std::memcmp(before, out, sizeof out));
}

TEST_P(HostInterface, ReentrantEntryMatchesTheHostEntry)
{
    LoadedPlugin plugin(GetParam().deliverable);
    ASSERT_NE(plugin.doit_r, nullptr);
    Block block = plugin.defaults();
    if (block.has("OSA")) // wood has a blank label in that slot and no sampling
        block.set_int("OSA", 3);
    for (int two_way : {0, 1}) {
        block.slots[8] = two_way;
        each_call([&](int stype, const float *p, const float *dx, const float *dy) {
            float host[8], own[8] = {0, 0, 0, 0, 0, 0, 0, 0};
            int r1 = plugin.doit(stype, block, p, dx, dy, host);
            int r2 = plugin.doit_r(stype, block.data(), const_cast<float *>(p),
                                   const_cast<float *>(dx), const_cast<float *>(dy), own);
            EXPECT_EQ(r1, r2);
            EXPECT_EQ(bits_of(host[0]), bits_of(own[0]));
            for (int k = 5; k < 8; k++)
                EXPECT_EQ(bits_of(host[k]), bits_of(own[k]));
        });
    }
}

INSTANTIATE_TEST_SUITE_P(AllPlugins, HostInterface, ::testing::ValuesIn(kPlugins),
                         [](const auto &info) { return std::string(info.param.deliverable); });
