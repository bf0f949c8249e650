// The gallery command: one swatch per plug-in and sub-type, the labelled
// contact sheet and index.html; and the built-in bitmap font it labels with.
#include <algorithm>
#include "font.h"
#include "gallery.h"
#include "host_test_util.h"
#include "loader.h"
#include "presets.h"

#include <map>
#include <set>

using namespace texhost;
using namespace hosttest;

namespace {

const std::map<std::string, std::vector<std::string>> swatches_of = {
    {"harvoske", {"harvoske.png"}},
    {"quelmi", {"quelmi.png"}},
    {"pellosca", {"pellosca_bands.png", "pellosca_rings.png", "pellosca_vertical.png"}},
    {"delmorasquintava",
     {"delmorasquintava_bands.png", "delmorasquintava_rings.png", "delmorasquintava_horizontal.png"}},
    {"vamorela", {"vamorela_3d.png", "vamorela_2d.png"}}};

const std::map<std::string, std::vector<std::string>> stypes_of = {
    {"harvoske", {"0"}},
    {"quelmi", {"0"}},
    {"pellosca", {"Bands", "Rings", "Vertical"}},
    {"delmorasquintava", {"Bands", "Rings", "Horizontal"}},
    {"vamorela", {"3D", "2D"}}};

} // namespace

TEST(Gallery, WritesEveryExpectedFile)
{
    std::vector<std::string> present;
    for (const std::string &d : deliverables())
        if (exists(plugin_file(d)))
            present.push_back(d);
    if (present.empty())
        GTEST_SKIP() << "no plug-in built yet";
    TempDir tmp;
    const std::string out = tmp.file("gallery/nested");
    RunResult r = run_texhost({"gallery", out, "--size", "24", "--plugin-dir", PLUGIN_DIR});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("contact_sheet.png and index.html"), std::string::npos) << r.out;

    std::string html = read_text(out + "/index.html");
    int swatches = 0;
    for (const std::string &d : present) {
        SCOPED_TRACE(d);
        const auto &files = swatches_of.at(d);
        for (size_t i = 0; i < files.size(); i++) {
            Png png = read_png(out + "/" + files[i]);
            EXPECT_EQ(png.width, 24);
            EXPECT_EQ(png.height, 24);
            EXPECT_EQ(png.channels, 1);
            EXPECT_NE(html.find("src=\"" + files[i] + "\""), std::string::npos) << files[i];
            // A swatch is the plug-in's default render of that sub-type.
            RunResult single = run_texhost({"render", d, "-o", tmp.file("one.png"), "--size", "24",
                                            "--stype", stypes_of.at(d)[i], "--quiet"});
            ASSERT_EQ(single.status, 0) << single.err;
            std::vector<uint16_t> plane = read_png(tmp.file("one.png")).samples;
            // A slice without any change is shown on the height field instead.
            if (std::all_of(plane.begin(), plane.end(), [&](uint16_t v) { return v == plane[0]; })) {
                single = run_texhost({"render", d, "-o", tmp.file("one.png"), "--size", "24",
                                      "--stype", stypes_of.at(d)[i], "--shape", "terrain",
                                      "--quiet"});
                ASSERT_EQ(single.status, 0) << single.err;
            }
            EXPECT_EQ(png.samples, read_png(tmp.file("one.png")).samples) << files[i];
            swatches++;
        }
        // Each preset beside the defaults: what --preset renders.
        for (const Preset &preset : presets_for(d)) {
            const std::string file = preset_swatch_file_name(d + ".so", preset.name);
            EXPECT_NE(html.find("src=\"" + file + "\""), std::string::npos) << file;
            RunResult single = run_texhost({"render", d, "-o", tmp.file("one.png"), "--size", "24",
                                            "--preset", preset.name, "--quiet"});
            ASSERT_EQ(single.status, 0) << single.err;
            EXPECT_EQ(read_png(out + "/" + file).samples, read_png(tmp.file("one.png")).samples)
                << file;
            swatches++;
        }
        auto p = Plugin::open(plugin_file(d));
        EXPECT_NE(html.find(">" + p->name() + "</h2>"), std::string::npos);
        for (const Widget &w : p->widgets()) {
            EXPECT_NE(html.find("<td>" + w.label + "</td>"), std::string::npos) << w.label;
            if (!w.tip.empty()) {
                EXPECT_NE(html.find(w.tip), std::string::npos) << w.tip;
            }
        }
    }
    // Nothing but the swatches, the sheet and the page.
    std::set<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(out))
        names.insert(e.path().filename().string());
    EXPECT_EQ(names.size(), (size_t)swatches + 2);
    EXPECT_TRUE(names.count("index.html"));

    Png sheet = read_png(out + "/contact_sheet.png");
    EXPECT_EQ(sheet.channels, 1);
    int columns = std::min(swatches, 4), rows = (swatches + 3) / 4;
    EXPECT_GE(sheet.width, columns * 24);
    EXPECT_GE(sheet.height, rows * (24 + 2 * glyph_height));
    // The labels: text-coloured pixels below the first swatch.
    int ink = 0;
    for (int y = 0; y < sheet.height; y++)
        for (int x = 0; x < sheet.width; x++)
            ink += sheet.at(x, y) == 235;
    EXPECT_GT(ink, 50);
}

TEST(Gallery, SkipsLibrariesThatAreNotPluginsAndSaysSo)
{
    TempDir plugins, out;
    std::filesystem::copy_file(fake_file("gradient"), plugins.file("gradient.so"));
    std::filesystem::copy_file(fake_file("version2"), plugins.file("old.so"));
    RunResult r = run_texhost({"gallery", out.path(), "--size", "16", "--plugin-dir",
                               plugins.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find("texhost: skipped: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("old.so"), std::string::npos) << r.err;
    for (const char *f : {"gradient_ramp.png", "gradient_rise.png", "gradient_constant.png",
                          "contact_sheet.png", "index.html"})
        EXPECT_TRUE(exists(out.file(f))) << f;
    // Constant: the first level, 0.25, everywhere.
    Png c = read_png(out.file("gradient_constant.png"));
    for (uint16_t v : c.samples)
        ASSERT_EQ(v, 64);
    EXPECT_NE(read_text(out.file("index.html")).find("single-threaded"), std::string::npos);
}

TEST(Gallery, SwatchesOnTheSphere)
{
    TempDir plugins, out;
    std::filesystem::copy_file(fake_file("gradient"), plugins.file("gradient.so"));
    RunResult r = run_texhost({"gallery", out.path(), "--size", "20", "--shape", "sphere",
                               "--plugin-dir", plugins.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    RunResult one = run_texhost({"render", plugins.file("gradient.so"), "-o", out.file("one.png"),
                                 "--size", "20", "--shape", "sphere", "--stype", "Rise"});
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(read_png(out.file("gradient_rise.png")).samples, read_png(out.file("one.png")).samples);
}

TEST(Gallery, ErrorsForAnEmptyOrMissingFolder)
{
    TempDir empty, out;
    expect_one_line_error(run_texhost({"gallery", out.path(), "--plugin-dir", empty.path()}),
                          "no plug-ins in");
    expect_one_line_error(run_texhost({"gallery", out.path(), "--plugin-dir", empty.file("nope")}),
                          "no plug-ins in");
    expect_one_line_error(run_texhost({"gallery"}), "needs an output folder");
    expect_one_line_error(run_texhost({"gallery", out.path(), "--size", "3"}), "--size");
}

TEST(Gallery, SwatchFileNames)
{
    EXPECT_EQ(swatch_file_name("harvoske.so", ""), "harvoske.png");
    EXPECT_EQ(swatch_file_name("vamorela.so", "3D"), "vamorela_3d.png");
    EXPECT_EQ(swatch_file_name("x.so", "Two Words"), "x_two_words.png");
    EXPECT_EQ(swatch_file_name("x.so", "/../"), "x_subtype.png");
    EXPECT_EQ(preset_swatch_file_name("vamorela.so", "Stone floor"), "vamorela_preset_stone_floor.png");
}

TEST(Font, EveryPrintableCharacterHasItsOwnGlyph)
{
    std::set<std::string> seen;
    for (char c = 33; c < 127; c++) {
        std::string rows = glyph_rows(c);
        ASSERT_EQ(rows.size(), (size_t)glyph_width * glyph_height) << c;
        EXPECT_EQ(rows.find_first_not_of("#."), std::string::npos) << c;
        EXPECT_NE(rows.find('#'), std::string::npos) << "no ink in '" << c << "'";
        EXPECT_TRUE(seen.insert(rows).second) << "'" << c << "' looks like another character";
    }
    EXPECT_EQ(std::string(glyph_rows(' ')).find('#'), std::string::npos);
    EXPECT_EQ(std::string(glyph_rows('\x7f')), std::string(glyph_rows('?')));
}

TEST(Font, DrawsScaledAndClipped)
{
    EXPECT_EQ(text_width("", 1), 0);
    EXPECT_EQ(text_width("A", 1), 5);
    EXPECT_EQ(text_width("AB", 2), 22);
    std::vector<uint8_t> img(12 * 16, 0);
    draw_text(img, 12, 16, 1, 1, "L", 9, 2);
    // "L": the left column and the bottom row of the glyph, doubled.
    int ink = 0;
    for (uint8_t v : img)
        ink += v == 9;
    EXPECT_EQ(ink, (7 + 4) * 4);
    EXPECT_EQ(img[1 * 12 + 1], 9);
    EXPECT_EQ(img[14 * 12 + 10], 9);
    EXPECT_EQ(img[1 * 12 + 3], 0);
    // Partly outside: no write beyond the buffer.
    std::vector<uint8_t> small(4 * 4, 0);
    draw_text(small, 4, 4, -3, -3, "WW", 1, 3);
    draw_text(small, 4, 4, 2, 2, "@", 1, 1);
    EXPECT_EQ(small.size(), 16u);
}
