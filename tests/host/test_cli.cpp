// The texhost tool run as a subprocess: what it prints, the images it writes
// (decoded with libpng and compared with values computed through the
// loader) and its one-line errors for bad input.
#include "host_test_util.h"
#include "loader.h"
#include "render.h"

#include <cmath>
#include <map>

using namespace texhost;
using namespace hosttest;

namespace {

// Intensity of pixel (col, row) on the plane, through the loader.
float loader_value(const Plugin &p, const ParamBlock &b, int stype, int w, int h, double extent,
                   int col, int row, bool footprint)
{
    double ps = extent / std::max(w, h);
    float tv[3] = {(float)((col + 0.5 - w / 2.0) * ps), (float)((h / 2.0 - row - 0.5) * ps), 0.0f};
    float dx[3] = {(float)ps, 0, 0}, dy[3] = {0, (float)ps, 0}, out[8];
    p.sample(stype, b, tv, footprint ? dx : nullptr, footprint ? dy : nullptr, out);
    return out[0];
}

const std::map<std::string, std::vector<std::string>> &subtypes_of()
{
    static const std::map<std::string, std::vector<std::string>> m = {
        {"harvoske", {}},
        {"quelmi", {}},
        {"pellosca", {"Bands", "Rings", "Vertical"}},
        {"delmorasquintava", {"Bands", "Rings", "Horizontal"}},
        {"vamorela", {"3D", "2D"}}};
    return m;
}

} // namespace

TEST(Cli, InfoShowsTheWidgetTable)
{
    REQUIRE_PLUGIN("harvoske");
    RunResult r = run_texhost({"info", plugin_file("harvoske")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const char *s : {"Harvoske", "interface version 3", "12 parameters", "no sub-types",
                          "Noise Size", "Two-way filter", "Generate bump map", "0.0001",
                          "Lower means better accuracy, higher means less artefacts", "plugin_tex_doit_r"})
        EXPECT_NE(r.out.find(s), std::string::npos) << s << " missing from:\n" << r.out;
    // One line per widget after the header and the column titles.
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3 + 1 + 12) << r.out;

    r = run_texhost({"info", fake_file("gradient")});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *s : {"sub-types: 0 \"Ramp\", 1 \"Rise\", 2 \"Constant\"", "Levels 1 (no label)",
                          "\"Levels\"", "plugin_tex_doit only"})
        EXPECT_NE(r.out.find(s), std::string::npos) << s << " missing from:\n" << r.out;
}

TEST(Cli, RenderDecodesToTheLoaderValues)
{
    REQUIRE_PLUGIN("harvoske");
    TempDir tmp;
    RunResult r = run_texhost({"render", "harvoske", "-o", tmp.file("c.png"), "--size", "21x13",
                               "--extent", "3", "--set", "Noise Size=0.5", "--set", "osa=5",
                               "--footprint", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    Png png = read_png(tmp.file("c.png"));
    ASSERT_EQ(png.width, 21);
    ASSERT_EQ(png.height, 13);
    ASSERT_EQ(png.bit_depth, 8);
    ASSERT_EQ(png.channels, 1);
    auto p = Plugin::open(plugin_file("harvoske"));
    ParamBlock b = p->defaults();
    b.set("Noise Size", "0.5");
    b.set("OSA", "5");
    for (int row = 0; row < 13; row++)
        for (int col = 0; col < 21; col++) {
            float v = loader_value(*p, b, 0, 21, 13, 3.0, col, row, true);
            ASSERT_EQ(png.at(col, row), (uint16_t)std::floor(v * 255.0 + 0.5)) << col << "," << row;
        }
}

TEST(Cli, SixteenBitIntensity)
{
    TempDir tmp;
    // Ramp with scale 1 over extent 1: column c of 8 holds (c + 0.5) / 8.
    RunResult r = run_texhost({"render", fake_file("gradient"), "-o", tmp.file("g.png"), "--size",
                               "8x2", "--extent", "1", "--bits", "16", "--stype", "ramp"});
    ASSERT_EQ(r.status, 0) << r.err;
    Png png = read_png(tmp.file("g.png"));
    ASSERT_EQ(png.bit_depth, 16);
    ASSERT_EQ(png.channels, 1);
    for (int col = 0; col < 8; col++) {
        EXPECT_EQ(png.at(col, 0), (uint16_t)std::floor((col + 0.5) / 8 * 65535 + 0.5));
        EXPECT_EQ(png.at(col, 1), png.at(col, 0));
    }
    EXPECT_NE(r.out.find("16-bit"), std::string::npos) << r.out;
}

TEST(Cli, SummaryLineAndNoProgressBarWithoutATerminal)
{
    REQUIRE_PLUGIN("harvoske");
    TempDir tmp;
    RunResult r = run_texhost({"render", "harvoske", "-o", tmp.file("c.png"), "--size", "40",
                               "--threads", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "") << "stderr is not a terminal here";
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    for (const char *s : {"wrote ", "c.png", "Harvoske", "plane 40x40", "8-bit", "1600 samples",
                          "samples/s", "2 threads"})
        EXPECT_NE(r.out.find(s), std::string::npos) << s << " missing from: " << r.out;
}

TEST(Cli, ThreadCountDoesNotChangeTheFile)
{
    REQUIRE_PLUGIN("harvoske");
    TempDir tmp;
    for (const char *t : {"1", "3"}) {
        RunResult r = run_texhost({"render", "harvoske", "-o", tmp.file(std::string("t") + t + ".png"),
                                   "--size", "33x17", "--footprint", "--set", "OSA=3", "--threads",
                                   t, "--normal-map", tmp.file(std::string("n") + t + ".png"),
                                   "--quiet"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    EXPECT_EQ(read_png(tmp.file("t1.png")).samples, read_png(tmp.file("t3.png")).samples);
    EXPECT_EQ(read_png(tmp.file("n1.png")).samples, read_png(tmp.file("n3.png")).samples);
}

TEST(Cli, NormalMapOfAConstantTextureIsFlat)
{
    REQUIRE_PLUGIN("harvoske");
    TempDir tmp;
    RunResult r = run_texhost({"render", "harvoske", "-o", tmp.file("i.png"), "--normal-map",
                               tmp.file("n.png"), "--size", "16", "--set", "Map Max=0", "--set",
                               "Map Min=0", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    Png i = read_png(tmp.file("i.png"));
    for (uint16_t v : i.samples)
        ASSERT_EQ(v, 255) << "the texture should be constant";
    Png n = read_png(tmp.file("n.png"));
    ASSERT_EQ(n.channels, 3);
    ASSERT_EQ(n.bit_depth, 8);
    ASSERT_EQ(n.width, 16);
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++) {
            ASSERT_EQ(n.at(x, y, 0), 128);
            ASSERT_EQ(n.at(x, y, 1), 128);
            ASSERT_EQ(n.at(x, y, 2), 255);
        }
}

TEST(Cli, ParameterFilesRoundTrip)
{
    REQUIRE_PLUGIN("harvoske");
    TempDir tmp;
    RunResult r = run_texhost({"render", "harvoske", "--set", "Noise Size=0.4", "--set",
                               "detail_size=0.3", "--set", "seed=17", "--set", "BumpMap=off",
                               "--save-params", tmp.file("a.txt")});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_texhost({"render", "harvoske", "--params", tmp.file("a.txt"), "--save-params",
                     tmp.file("b.txt")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_text(tmp.file("a.txt")), read_text(tmp.file("b.txt")));
    EXPECT_NE(read_text(tmp.file("a.txt")).find("Seed = 17\n"), std::string::npos);
    // Rendering from the file equals rendering with the same --set options.
    r = run_texhost({"render", "harvoske", "--params", tmp.file("a.txt"), "-o", tmp.file("a.png"),
                     "--size", "12", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_texhost({"render", "harvoske", "--set", "noise_size=0.4", "--set", "falloff=0.3",
                     "--set", "Seed=17", "--set", "do_bump=0", "-o", tmp.file("b.png"), "--size",
                     "12", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_png(tmp.file("a.png")).samples, read_png(tmp.file("b.png")).samples);
    // --set is applied after --params, wherever it stands.
    r = run_texhost({"render", "harvoske", "--set", "Seed=3", "--params", tmp.file("a.txt"),
                     "--save-params", tmp.file("c.txt")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(read_text(tmp.file("c.txt")).find("Seed = 3\n"), std::string::npos);
    EXPECT_NE(read_text(tmp.file("c.txt")).find("Noise Size = 0.4\n"), std::string::npos);
}

TEST(Cli, PluginFolderFromOptionEnvironmentOrBesideTheTool)
{
    TempDir tmp;
    RunResult r = run_texhost({"info", "gradient", "--plugin-dir", TEST_PLUGIN_DIR});
    EXPECT_EQ(r.status, 0) << r.err;
    r = run_texhost({"info", "Gradient"}, {{"TEXHOST_PLUGIN_DIR", TEST_PLUGIN_DIR}});
    EXPECT_EQ(r.status, 0) << r.err;
    if (exists(plugin_file("harvoske"))) {
        r = run_texhost({"info", "harvoske"}, {{"TEXHOST_PLUGIN_DIR", ""}});
        EXPECT_EQ(r.status, 0) << r.err;
    }
    r = run_texhost({"plugins", "--plugin-dir", TEST_PLUGIN_DIR});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Gradient"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(not usable)"), std::string::npos) << r.out;
}

TEST(Cli, BadInputGivesOneLineAndNonZeroExit)
{
    TempDir tmp;
    const std::string out = tmp.file("out.png");
    const std::string g = fake_file("gradient");
    write_text(tmp.file("garbage.so"), "not a library\n");
    write_text(tmp.file("blocker"), "a file where a folder should be");
    write_text(tmp.file("bad.txt"), "Scale = 2\nScale two\n");
    write_text(tmp.file("range.txt"), "Steps = 9\n");

    expect_one_line_error(run_texhost({"render", tmp.file("garbage.so"), "-o", out}),
                          "is not a plug-in");
    expect_one_line_error(run_texhost({"info", fake_file("not_plugin")}), "not a texture plug-in");
    expect_one_line_error(run_texhost({"render", fake_file("version2"), "-o", out}),
                          "interface version 2");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--set", "Scael=2"}),
                          "unknown parameter \"Scael\" for Gradient; valid: \"Scale\", \"Steps\"");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--set", "Scale=12"}),
                          "\"Scale\" = 12 is out of range: 0 to 10");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--set", "Steps=-1"}),
                          "out of range: 0 to 8");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--stype", "Bands"}),
                          "unknown sub-type \"Bands\" for Gradient; valid: Ramp (0), Rise (1), Constant (2)");
    expect_one_line_error(run_texhost({"render", g, "-o", tmp.file("blocker") + "/x.png"}),
                          "cannot write");
    expect_one_line_error(run_texhost({"render", g, "-o", tmp.path()}), "it is a folder");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--normal-map",
                                       "/nonexistent/folder/n.png"}),
                          "cannot write \"/nonexistent/folder/n.png\"");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--params", tmp.file("bad.txt")}),
                          "bad.txt:2: expected \"label = value\"");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--params", tmp.file("range.txt")}),
                          "range.txt:1: \"Steps\" = 9 is out of range: 0 to 8");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--params", tmp.file("none.txt")}),
                          "cannot read parameter file");
    expect_one_line_error(run_texhost({"render", "nosuchplugin", "-o", out, "--plugin-dir",
                                       TEST_PLUGIN_DIR}),
                          "unknown plug-in \"nosuchplugin\"");
    expect_one_line_error(run_texhost({"info", "x", "--plugin-dir", tmp.file("none")}),
                          "does not exist");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--set", "Scale"}),
                          "--set needs \"LABEL=VALUE\"");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--set", "Scale=1\nSteps=2"}),
                          "needs a number");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--shape", "cube"}),
                          "unknown shape \"cube\"");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--shape", "sphere", "--normal-map",
                                       tmp.file("n.png")}),
                          "plane only");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--bits", "12"}), "--bits is 8 or 16");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--size", "0"}), "--size");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--size", "99999"}), "--size");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--threads", "0"}), "--threads");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--extent", "-1"}), "--extent");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--center", "1,2"}), "--center");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--frobnicate"}), "unknown option");
    expect_one_line_error(run_texhost({"render", g}), "render needs -o");
    expect_one_line_error(run_texhost({"render", g, "-o"}), "needs a value");
    expect_one_line_error(run_texhost({"render"}), "needs a plug-in");
    expect_one_line_error(run_texhost({"explode"}), "unknown command");
    expect_one_line_error(run_texhost({}), "no command");
    expect_one_line_error(run_texhost({"gallery", tmp.file("blocker"), "--plugin-dir",
                                       TEST_PLUGIN_DIR}),
                          "cannot create folder");
    EXPECT_FALSE(exists(out)) << "no image may be left behind by a failed render";
}

TEST(Cli, EveryPluginRendersEveryShapeAndBake)
{
    TempDir tmp;
    int rendered = 0;
    for (const std::string &d : deliverables()) {
        if (!exists(plugin_file(d)))
            continue;
        SCOPED_TRACE(d);
        std::vector<std::string> subs = subtypes_of().at(d);
        if (subs.empty())
            subs.push_back("0");
        for (const std::string &s : subs) {
            for (const char *shape : {"plane", "sphere", "terrain"}) {
                std::string base = tmp.file(d + "_" + s + "_" + shape);
                std::vector<std::string> args = {"render", d,      "-o",   base + ".png", "--size",
                                                 "20x14", "--shape", shape, "--stype",   s,
                                                 "--bits", "16", "--quiet"};
                if (std::string(shape) == "plane") {
                    args.push_back("--normal-map");
                    args.push_back(base + "_n.png");
                }
                RunResult r = run_texhost(args);
                ASSERT_EQ(r.status, 0) << shape << " " << s << ": " << r.err;
                Png png = read_png(base + ".png");
                EXPECT_EQ(png.width, 20);
                EXPECT_EQ(png.height, 14);
                EXPECT_EQ(png.bit_depth, 16);
                if (std::string(shape) == "plane") {
                    Png n = read_png(base + "_n.png");
                    EXPECT_EQ(n.channels, 3);
                    EXPECT_EQ(n.width, 20);
                }
            }
        }
        rendered++;
    }
    if (rendered == 0)
        GTEST_SKIP() << "no plug-in built yet";
}

TEST(Cli, ListShowsTheValuesInEffect)
{
    RunResult r = run_texhost({"render", fake_file("gradient"), "--list", "--set", "Scale=2.5",
                               "--set", "levels_2=0.125"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" value "), std::string::npos) << r.out;
    // The Scale row: default 1, range 0 to 10, value 2.5.
    size_t row = r.out.find("Scale");
    ASSERT_NE(row, std::string::npos);
    std::string line = r.out.substr(row, r.out.find('\n', row) - row);
    EXPECT_NE(line.find(" 2.5 "), std::string::npos) << line;
    EXPECT_NE(r.out.find("0.125"), std::string::npos) << r.out;
}
