// Presets: the header lines a preset may carry, lookup by name or path, the
// built-in presets of every plug-in, and --preset on the command line.
#include "host_test_util.h"
#include "loader.h"
#include "presets.h"

using namespace texhost;
using namespace hosttest;

TEST(Presets, HeaderLinesNameTheSubtypeAndShape)
{
    Preset p = parse_preset("wall", "# A wall\n#  Sub-Type : 2D\n# shape: terrain\nSeed = 3\n", "x");
    EXPECT_EQ(p.name, "wall");
    EXPECT_EQ(p.subtype, "2D");
    EXPECT_EQ(p.shape, "terrain");
    // Ordinary comments, even with a colon, are comments.
    p = parse_preset("plain", "# note: nothing here\nSeed = 3\n", "x");
    EXPECT_EQ(p.subtype, "");
    EXPECT_EQ(p.shape, "");
    EXPECT_THROW(parse_preset("bad", "# shape: cube\n", "x"), HostError);
    EXPECT_THROW(parse_preset("bin", std::string("Seed = 1\0", 9), "x"), HostError);
}

TEST(Presets, LookupByNameOrFile)
{
    // Case, spaces and '_' are alike; an unknown name lists the names there are.
    EXPECT_EQ(find_preset("vamorela", "Running Bond wall").name, "running_bond_wall");
    try {
        find_preset("vamorela", "castle");
        FAIL() << "no error for an unknown preset";
    } catch (const HostError &e) {
        EXPECT_NE(std::string(e.what()).find("running_bond_wall, stone_floor"), std::string::npos)
            << e.what();
    }
    EXPECT_THROW(find_preset("no_such_library", "soft_sky"), HostError);

    TempDir tmp;
    write_text(tmp.file("mine.txt"), "# sub-type: Rise\nScale = 2\n");
    Preset p = find_preset("gradient", tmp.file("mine.txt"));
    EXPECT_EQ(p.name, "mine");
    EXPECT_EQ(p.subtype, "Rise");
    auto g = Plugin::open(fake_file("gradient"));
    ParamBlock b = g->defaults();
    EXPECT_EQ(apply_preset(p, *g, b), 1);
    EXPECT_EQ(b.get_float(0), 2.0f);
    EXPECT_THROW(find_preset("gradient", tmp.file("missing.txt")), HostError);
    // A sub-type the plug-in lacks names the preset in the error.
    write_text(tmp.file("odd.txt"), "# sub-type: Sideways\n");
    try {
        apply_preset(find_preset("gradient", tmp.file("odd.txt")), *g, b);
        FAIL() << "no error for an unknown sub-type";
    } catch (const HostError &e) {
        EXPECT_NE(std::string(e.what()).find("odd.txt"), std::string::npos) << e.what();
    }
}

// Every built-in preset loads into its plug-in and changes the look.
TEST(Presets, EveryBuiltInPresetFitsItsPlugin)
{
    for (const std::string &d : deliverables()) {
        SCOPED_TRACE(d);
        std::vector<Preset> all = presets_for(d);
        EXPECT_GE(all.size(), 1u);
        auto p = Plugin::open(plugin_file(d));
        for (const Preset &preset : all) {
            SCOPED_TRACE(preset.name);
            ParamBlock b = p->defaults();
            int stype = apply_preset(preset, *p, b);
            EXPECT_NE(b.slots(), p->defaults().slots());
            EXPECT_EQ(stype < 0, preset.subtype.empty());
        }
    }
}

TEST(Presets, CommandLineTakesValuesSubtypeAndShapeUnlessGiven)
{
    TempDir tmp;
    auto render = [&](std::vector<std::string> extra, const std::string &out) {
        std::vector<std::string> args = {"render", "vamorela", "--size", "24", "-o", tmp.file(out),
                                         "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        RunResult r = run_texhost(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return read_png(tmp.file(out)).samples;
    };
    std::vector<std::string> wall = {"--stype", "2D"};
    for (const char *line : {"Turbulance=0.04", "Noise Size=0.5", "Z Size=0.5", "Space width=0.08",
                             "Bevel width=0.1", "Random Color=0.35"}) {
        wall.push_back("--set");
        wall.push_back(line);
    }
    EXPECT_EQ(render({"--preset", "running_bond_wall"}, "p.png"), render(wall, "s.png"));
    // --stype and --set win over the preset.
    wall[1] = "3D";
    wall.push_back("--set");
    wall.push_back("Seed=9");
    EXPECT_EQ(render({"--preset", "running_bond_wall", "--stype", "3D", "--set", "seed=9"}, "p.png"),
              render(wall, "s.png"));

    // The terrain preset names its shape; --shape overrides it.
    RunResult r = run_texhost({"render", "delmorasquintava", "--preset", "ledges", "--size", "16",
                               "-o", tmp.file("t.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("terrain"), std::string::npos) << r.out;
    r = run_texhost({"render", "delmorasquintava", "--preset", "ledges", "--shape", "plane",
                     "--size", "16", "-o", tmp.file("t.png")});
    EXPECT_NE(r.out.find("plane"), std::string::npos) << r.out;

    expect_one_line_error(run_texhost({"render", "harvoske", "--preset", "castle", "-o",
                                        tmp.file("x.png")}),
                          "unknown preset \"castle\" for harvoske; presets: hard_smoke, soft_sky");
}
