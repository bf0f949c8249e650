// Parameter files: a whole setting saved as "label = value" lines and read
// back to the same block, and the errors for files that cannot be used.
#include "host_test_util.h"
#include "loader.h"

using namespace texhost;
using namespace hosttest;

namespace {

std::string error_of(const std::function<void()> &f)
{
    try {
        f();
    } catch (const HostError &e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(ParamFile, TextRoundTripKeepsEveryBit)
{
    REQUIRE_PLUGIN("harvoske");
    auto p = Plugin::open(plugin_file("harvoske"));
    ParamBlock b = p->defaults();
    b.set("Noise Size", "0.3000000417232513"); // the float after 0.3f
    b.set("Detail Size", "0.123456789");
    b.set("Seed", "201");
    b.set("BumpMap", "0");
    b.set("Two-way filter", "1");
    b.set("OSA", "9");
    b.set("Map Max", "0.7");
    b.set("Map Min", "0.0001");
    std::string text = b.to_text();
    ParamBlock back = p->defaults();
    back.apply_text(text, "saved");
    EXPECT_EQ(back.slots(), b.slots()) << text;
    EXPECT_NE(back.slots(), p->defaults().slots());
    EXPECT_NE(text.find("Noise Size = 0.30000004\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("\" \""), std::string::npos) << "captions have no value to save";
}

TEST(ParamFile, DefaultsOfEveryPluginRoundTrip)
{
    std::vector<std::string> files = {fake_file("gradient")};
    for (const std::string &d : deliverables())
        if (exists(plugin_file(d)))
            files.push_back(plugin_file(d));
    for (const std::string &f : files) {
        SCOPED_TRACE(f);
        auto p = Plugin::open(f);
        ParamBlock b = p->defaults();
        // Move every value off its default where the range allows.
        for (const Widget &w : p->widgets())
            if (w.has_value() && w.max > w.def)
                b.set_index(w.index, w.is_float() ? float_text(w.def + (w.max - w.def) / 3)
                                                  : std::to_string((int)w.def + 1));
        ParamBlock back = p->defaults();
        back.apply_text(b.to_text(), "saved");
        EXPECT_EQ(back.slots(), b.slots()) << b.to_text();
    }
}

TEST(ParamFile, FileRoundTripAndLayout)
{
    auto g = Plugin::open(fake_file("gradient"));
    ParamBlock b = g->defaults();
    b.set("Scale", "2.5");
    b.set("Levels 2", "0.1");
    TempDir tmp;
    b.save_file(tmp.file("look.txt"));
    EXPECT_EQ(read_text(tmp.file("look.txt")), "# Gradient parameters: label = value\n"
                                               "Scale = 2.5\n"
                                               "Steps = 0\n"
                                               "Levels 1 = 0.25\n"
                                               "Levels 2 = 0.1\n"
                                               "BumpMap = 1\n");
    ParamBlock back = g->defaults();
    back.load_file(tmp.file("look.txt"));
    EXPECT_EQ(back.slots(), b.slots());
}

TEST(ParamFile, AcceptsCommentsBlankLinesAndSpacing)
{
    auto g = Plugin::open(fake_file("gradient"));
    ParamBlock b = g->defaults();
    b.apply_text("# a look\r\n\n   \nscale=3\r\n  steps   =   4  \n# Steps = 5\nbumpmap = off\n",
                 "look");
    EXPECT_EQ(b.get_float(0), 3.0f);
    EXPECT_EQ(b.get_int(1), 4);
    EXPECT_EQ(b.get_int(5), 0);
}

TEST(ParamFile, MalformedFilesNameTheLine)
{
    auto g = Plugin::open(fake_file("gradient"));
    ParamBlock b = g->defaults();
    std::string e = error_of([&] { b.apply_text("Scale = 2\n\nScale 3\n", "look.txt"); });
    EXPECT_NE(e.find("look.txt:3: expected \"label = value\""), std::string::npos) << e;
    e = error_of([&] { b.apply_text("Scale = 2\nSclae = 3\n", "look.txt"); });
    EXPECT_NE(e.find("look.txt:2: unknown parameter \"Sclae\""), std::string::npos) << e;
    EXPECT_NE(e.find("\"Scale\""), std::string::npos) << e;
    e = error_of([&] { b.apply_text("Scale = 11\n", "look.txt"); });
    EXPECT_NE(e.find("look.txt:1: \"Scale\" = 11 is out of range: 0 to 10"), std::string::npos) << e;
    e = error_of([&] { b.apply_text(" = 2\n", "look.txt"); });
    EXPECT_NE(e.find("look.txt:1:"), std::string::npos) << e;
    EXPECT_NE(e.find("label is missing"), std::string::npos) << e;
    e = error_of([&] { b.apply_text("Steps = 2.5\n", "look.txt"); });
    EXPECT_NE(e.find("whole number"), std::string::npos) << e;
    e = error_of([&] { b.apply_text("Scale =\n", "look.txt"); });
    EXPECT_NE(e.find("no value"), std::string::npos) << e;
    // A file that failed on line 2 has applied line 1 only.
    ParamBlock c = g->defaults();
    error_of([&] { c.apply_text("Scale = 2\nbogus\n", "x"); });
    EXPECT_EQ(c.get_float(0), 2.0f);
}

TEST(ParamFile, UnreadableAndUnwritableFiles)
{
    auto g = Plugin::open(fake_file("gradient"));
    ParamBlock b = g->defaults();
    TempDir tmp;
    std::string e = error_of([&] { b.load_file(tmp.file("missing.txt")); });
    EXPECT_NE(e.find("cannot read parameter file"), std::string::npos) << e;
    write_text(tmp.file("binary.txt"), std::string("Scale = 1\0\1\2", 12));
    e = error_of([&] { b.load_file(tmp.file("binary.txt")); });
    EXPECT_NE(e.find("not a parameter file"), std::string::npos) << e;
    write_text(tmp.file("plain"), "x");
    e = error_of([&] { b.save_file(tmp.file("plain") + "/look.txt"); });
    EXPECT_NE(e.find("cannot write parameter file"), std::string::npos) << e;
}
