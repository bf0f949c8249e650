// The loader library: opening plug-ins, the parameter block built from the
// widget defaults, setting values, sub-types and the errors for bad input.
#include "host_test_util.h"
#include "loader.h"

#include <dlfcn.h>
#include <functional>
#include <map>

using namespace texhost;
using namespace hosttest;

namespace {

uint32_t bits(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

uint32_t bits(int i)
{
    uint32_t b;
    std::memcpy(&b, &i, 4);
    return b;
}

// Runs `f`, expects a HostError whose one-line message contains every part.
void expect_host_error(const std::function<void()> &f, const std::vector<std::string> &parts)
{
    try {
        f();
        ADD_FAILURE() << "no error";
    } catch (const HostError &e) {
        std::string m = e.what();
        EXPECT_EQ(m.find('\n'), std::string::npos) << m;
        for (const std::string &p : parts)
            EXPECT_NE(m.find(p), std::string::npos) << "\"" << p << "\" not in: " << m;
    }
}

} // namespace

TEST(Loader, OpensCloudsAndReadsItsDescription)
{
    REQUIRE_PLUGIN("harvoske");
    auto p = Plugin::open(plugin_file("harvoske"));
    EXPECT_EQ(p->version(), 3);
    EXPECT_EQ(p->name(), "Harvoske");
    EXPECT_TRUE(p->subtypes().empty());
    EXPECT_TRUE(p->reentrant());
    ASSERT_EQ(p->nvars(), 12);
    const auto &w = p->widgets();
    EXPECT_EQ(w[0].kind, WidgetKind::label);
    EXPECT_EQ(w[0].label, " ");
    EXPECT_EQ(w[1].label, "Noise Size");
    EXPECT_EQ(w[1].kind, WidgetKind::float_number);
    EXPECT_EQ(w[1].min, 0.0001f);
    EXPECT_EQ(w[1].max, 2.0f);
    EXPECT_EQ(w[2].kind, WidgetKind::int_number);
    EXPECT_EQ(w[8].label, "Two-way filter");
    EXPECT_EQ(w[8].kind, WidgetKind::toggle);
    EXPECT_EQ(w[7].tip, "Lower means better accuracy, higher means less artefacts");
}

TEST(Loader, CloudsDefaultsBlock)
{
    REQUIRE_PLUGIN("harvoske");
    auto p = Plugin::open(plugin_file("harvoske"));
    ParamBlock b = p->defaults();
    ASSERT_EQ(b.size(), 12);
    // The clouds table: label, Noise Size 0.25, Noise Depth 2, Detail Size 0.5,
    // Hard Noise 0, Seed 0, BumpMap 1, Filter 0.15, Two-way 0, OSA 1, Map Max 1, Map Min 0.
    const std::vector<uint32_t> want = {bits(0),    bits(0.25f), bits(2), bits(0.5f),
                                        bits(0),    bits(0),     bits(1), bits(0.15f),
                                        bits(0),    bits(1),     bits(1.0f), bits(0.0f)};
    EXPECT_EQ(b.slots(), want);
    EXPECT_EQ(b.value_text(7), "0.15");
    EXPECT_EQ(b.value_text(2), "2");
}

TEST(Loader, DefaultsFollowTheTableInEveryPlugin)
{
    const std::map<std::string, int> cast_size = {{"harvoske", 48}, {"quelmi", 52}, {"pellosca", 56},
                                                  {"delmorasquintava", 96}, {"vamorela", 80}};
    int checked = 0;
    for (const std::string &d : deliverables()) {
        if (!exists(plugin_file(d)))
            continue;
        SCOPED_TRACE(d);
        auto p = Plugin::open(plugin_file(d));
        ParamBlock b = p->defaults();
        EXPECT_EQ(b.size() * 4, cast_size.at(d));
        // The table read directly from the library, not through the loader.
        void *h = dlopen(plugin_file(d).c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(h, nullptr);
        auto *table = (const VarStruct *)dlsym(h, "varstr");
        ASSERT_NE(table, nullptr);
        for (int i = 0; i < b.size(); i++) {
            if (table[i].type == VT_FLOAT_NUMBER)
                EXPECT_EQ(b.slots()[i], bits(table[i].def)) << "slot " << i;
            else
                EXPECT_EQ(b.slots()[i], bits((int)table[i].def)) << "slot " << i;
        }
        dlclose(h);
        checked++;
    }
    if (checked == 0)
        GTEST_SKIP() << "no plug-in built yet";
}

TEST(Loader, SamplesEqualDirectCallsOfTheEntry)
{
    REQUIRE_PLUGIN("harvoske");
    auto p = Plugin::open(plugin_file("harvoske"));
    ParamBlock b = p->defaults();
    b.set("OSA", "4");
    void *h = dlopen(plugin_file("harvoske").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr);
    auto doit = (TexDoit)dlsym(h, "plugin_tex_doit");
    auto *result = (float *)dlsym(h, "result");
    ASSERT_TRUE(doit && result);
    const float points[][3] = {{0.1f, 0.2f, 0.3f}, {-1.7f, 2.25f, 0.0f}, {13.5f, -0.4f, 7.0f}};
    for (const auto &pt : points) {
        for (bool footprint : {false, true}) {
            float dx[3] = {0.01f, 0.0f, 0.002f}, dy[3] = {0.0f, 0.015f, 0.0f};
            std::vector<uint32_t> block = b.slots();
            float tv[3] = {pt[0], pt[1], pt[2]};
            int want_r = doit(0, block.data(), tv, footprint ? dx : nullptr, footprint ? dy : nullptr);
            float want[8];
            std::memcpy(want, result, sizeof want);
            float got[8], got_shared[8];
            int r = p->sample(0, b, pt, footprint ? dx : nullptr, footprint ? dy : nullptr, got);
            int rs = p->sample_shared(0, b, pt, footprint ? dx : nullptr, footprint ? dy : nullptr,
                                      got_shared);
            EXPECT_EQ(r, want_r);
            EXPECT_EQ(rs, want_r);
            for (int k : {0, 5, 6, 7}) {
                EXPECT_EQ(bits(got[k]), bits(want[k])) << "element " << k;
                EXPECT_EQ(bits(got_shared[k]), bits(want[k])) << "element " << k;
            }
        }
    }
    dlclose(h);
}

TEST(Loader, SetsValuesByLabelFieldNameOrIndex)
{
    REQUIRE_PLUGIN("harvoske");
    auto p = Plugin::open(plugin_file("harvoske"));
    ParamBlock b = p->defaults();
    b.set("Noise Size", "0.5");
    EXPECT_EQ(b.get_float(1), 0.5f);
    b.set("noise size", "0.75");
    EXPECT_EQ(b.get_float(1), 0.75f);
    b.set("NOISE-SIZE", "1");
    EXPECT_EQ(b.get_float(1), 1.0f);
    b.set("noise_size", "1.5");
    EXPECT_EQ(b.get_float(1), 1.5f);
    b.set("falloff", "0.25"); // the Cast field of "Detail Size"
    EXPECT_EQ(b.get_float(3), 0.25f);
    b.set("depth", "5");
    EXPECT_EQ(b.get_int(2), 5);
    b.set("#5", "7");
    EXPECT_EQ(b.get_int(5), 7);
    b.set("BumpMap", "off");
    EXPECT_EQ(b.get_int(6), 0);
    b.set("bumpmap", "on");
    EXPECT_EQ(b.get_int(6), 1);
    b.set("do_bump", "0");
    EXPECT_EQ(b.get_int(6), 0);
    b.set("double_bump", "1");
    EXPECT_EQ(b.get_int(8), 1);
    b.set("OSA", "16");
    EXPECT_EQ(b.get_int(9), 16);
    b.set("Map Min", "1e-3");
    EXPECT_EQ(b.get_float(11), 0.001f);
    // Values at the very ends of the range are accepted.
    b.set("Noise Size", "0.0001");
    EXPECT_EQ(b.get_float(1), 0.0001f);
    b.set("Seed", "255");
    EXPECT_EQ(b.get_int(5), 255);
}

TEST(Loader, RejectsBadValuesWithOneLineReasons)
{
    REQUIRE_PLUGIN("harvoske");
    auto p = Plugin::open(plugin_file("harvoske"));
    ParamBlock b = p->defaults();
    const std::vector<uint32_t> before = b.slots();
    expect_host_error([&] { b.set("Noise Sise", "1"); },
                      {"unknown parameter \"Noise Sise\"", "\"Noise Size\"", "\"Map Min\"", "\"OSA\""});
    expect_host_error([&] { b.set("Noise Size", "3"); }, {"out of range", "0.0001 to 2"});
    expect_host_error([&] { b.set("Noise Size", "0"); }, {"out of range", "0.0001 to 2"});
    expect_host_error([&] { b.set("OSA", "0"); }, {"\"OSA\"", "1 to 16"});
    expect_host_error([&] { b.set("Seed", "256"); }, {"0 to 255"});
    expect_host_error([&] { b.set("Seed", "2.5"); }, {"whole number"});
    expect_host_error([&] { b.set("Filter", "abc"); }, {"needs a number"});
    expect_host_error([&] { b.set("Filter", "nan"); }, {"needs a number"});
    expect_host_error([&] { b.set("Filter", "inf"); }, {"needs a number"});
    expect_host_error([&] { b.set("Filter", "0.5x"); }, {"needs a number"});
    expect_host_error([&] { b.set("Filter", " "); }, {"no value"});
    expect_host_error([&] { b.set("Hard Noise", "maybe"); }, {"whole number", "on/off"});
    expect_host_error([&] { b.set("Seed", "99999999999"); }, {"out of range", "0 to 255"});
    expect_host_error([&] { b.set("#0", "1"); }, {"caption"});
    expect_host_error([&] { b.set("#12", "1"); }, {"unknown parameter"});
    EXPECT_EQ(b.slots(), before) << "a rejected value must leave the block unchanged";
}

TEST(Loader, SubtypesByNameOrIndex)
{
    auto g = Plugin::open(fake_file("gradient"));
    EXPECT_EQ(g->subtypes(), (std::vector<std::string>{"Ramp", "Rise", "Constant"}));
    EXPECT_EQ(g->subtype("Rise"), 1);
    EXPECT_EQ(g->subtype("rise"), 1);
    EXPECT_EQ(g->subtype("CONSTANT"), 2);
    EXPECT_EQ(g->subtype("0"), 0);
    EXPECT_EQ(g->subtype("2"), 2);
    expect_host_error([&] { g->subtype("Bands"); },
                      {"unknown sub-type \"Bands\"", "Ramp (0), Rise (1), Constant (2)"});
    expect_host_error([&] { g->subtype("3"); }, {"unknown sub-type \"3\""});
    expect_host_error([&] { g->subtype("-1"); }, {"unknown sub-type"});
}

TEST(Loader, PluginWithoutSubtypesTakesOnlyIndexZero)
{
    REQUIRE_PLUGIN("harvoske");
    auto p = Plugin::open(plugin_file("harvoske"));
    EXPECT_EQ(p->subtype("0"), 0);
    expect_host_error([&] { p->subtype("1"); }, {"Harvoske has no sub-types"});
    expect_host_error([&] { p->subtype("Bands"); }, {"Harvoske has no sub-types"});
}

TEST(Loader, UnlabelledValuesAreNamedAfterTheirCaption)
{
    auto g = Plugin::open(fake_file("gradient"));
    ASSERT_EQ(g->nvars(), 6);
    EXPECT_EQ(g->widgets()[3].key, "Levels 1");
    EXPECT_EQ(g->widgets()[4].key, "Levels 2");
    ParamBlock b = g->defaults();
    EXPECT_EQ(b.get_float(3), 0.25f);
    b.set("levels 1", "0.5");
    EXPECT_EQ(b.get_float(3), 0.5f);
    b.set("#4", "0.125");
    EXPECT_EQ(b.get_float(4), 0.125f);
    expect_host_error([&] { b.set("Levels", "1"); }, {"caption"});
    // The common field names apply only to the common parameters.
    EXPECT_EQ(g->find_widget("noise_size"), -1);
    EXPECT_EQ(g->find_widget("do_bump"), -1);
    EXPECT_EQ(g->find_widget("BumpMap"), 5);
}

TEST(Loader, RejectsLibrariesThatAreNotUsablePlugins)
{
    TempDir tmp;
    write_text(tmp.file("garbage.so"), "this is not a shared library\n");
    expect_host_error([&] { Plugin::open(tmp.file("missing.so")); },
                      {"cannot open plug-in", "missing.so"});
    expect_host_error([&] { Plugin::open(tmp.file("garbage.so")); },
                      {"garbage.so\" is not a plug-in"});
    expect_host_error([&] { Plugin::open(tmp.path()); }, {"not a regular file"});
    expect_host_error([&] { Plugin::open(fake_file("not_plugin")); },
                      {"is not a texture plug-in", "plugin_tex_getversion"});
    expect_host_error([&] { Plugin::open(fake_file("no_getinfo")); },
                      {"is not a texture plug-in", "plugin_getinfo"});
    expect_host_error([&] { Plugin::open(fake_file("version2")); },
                      {"interface version 2", "needs version 3"});
    expect_host_error([&] { Plugin::open(fake_file("bad_info")); },
                      {"describes itself wrongly", "-5 parameters"});
}

TEST(Loader, PluginWithoutReentrantEntryGoesThroughResult)
{
    auto g = Plugin::open(fake_file("gradient"));
    EXPECT_FALSE(g->reentrant());
    ParamBlock b = g->defaults();
    b.set("Scale", "0.5");
    float p[3] = {0.25f, -0.5f, 0.0f}, out[8];
    EXPECT_EQ(g->sample(0, b, p, nullptr, nullptr, out), RESULT_HAS_NORMAL);
    EXPECT_EQ(out[0], 0.625f);
    EXPECT_EQ(out[5], 0.05f * 0.5f);
    EXPECT_EQ(g->sample(1, b, p, nullptr, nullptr, out), RESULT_HAS_NORMAL);
    EXPECT_EQ(out[0], 0.25f);
    b.set("BumpMap", "0");
    EXPECT_EQ(g->sample(2, b, p, nullptr, nullptr, out), 0);
    EXPECT_EQ(out[0], 0.25f);
}

TEST(Loader, FindsPluginsInTheFolder)
{
    REQUIRE_PLUGIN("harvoske");
    const std::string dir = PLUGIN_DIR;
    EXPECT_EQ(resolve_plugin("harvoske", dir), plugin_file("harvoske"));
    EXPECT_EQ(resolve_plugin("Harvoske", dir), plugin_file("harvoske"));
    EXPECT_EQ(resolve_plugin("harvoske.so", dir), plugin_file("harvoske"));
    EXPECT_EQ(resolve_plugin(plugin_file("harvoske"), "/nonexistent"), plugin_file("harvoske"));
    expect_host_error([&] { resolve_plugin("nosuch", dir); },
                      {"unknown plug-in \"nosuch\"", "harvoske"});
    expect_host_error([&] { resolve_plugin("nosuch", "/nonexistent/plugins"); },
                      {"unknown plug-in \"nosuch\"", "does not exist"});

    // A plug-in is also found by its display name when the file is named otherwise.
    TempDir tmp;
    std::filesystem::copy_file(fake_file("gradient"), tmp.file("other.so"));
    write_text(tmp.file("notes.txt"), "not a plug-in");
    write_text(tmp.file("broken.so"), "not a library");
    EXPECT_EQ(resolve_plugin("Gradient", tmp.path()), tmp.file("other.so"));
    EXPECT_EQ(scan_plugins(tmp.path()),
              (std::vector<std::string>{tmp.file("broken.so"), tmp.file("other.so")}));
    EXPECT_TRUE(scan_plugins(tmp.file("missing")).empty());
}

TEST(Loader, PluginFolderFromTheEnvironment)
{
    setenv("TEXHOST_PLUGIN_DIR", "/some/where", 1);
    EXPECT_EQ(default_plugin_dir(), "/some/where");
    unsetenv("TEXHOST_PLUGIN_DIR");
    EXPECT_NE(default_plugin_dir(), "/some/where");
}

TEST(Loader, FloatTextReadsBackExactly)
{
    for (float v : {0.15f, 0.0001f, 1.0f, 100.0f, -1.0f, 0.1f + 0.2f, 1e-10f, 3.4e38f, 0.0f}) {
        std::string t = float_text(v);
        EXPECT_EQ(std::strtof(t.c_str(), nullptr), v) << t;
    }
    EXPECT_EQ(float_text(0.15f), "0.15");
    EXPECT_EQ(float_text(0.0001f), "0.0001");
    EXPECT_EQ(normalized_name(" Two-way  filter "), "two_way_filter");
}
