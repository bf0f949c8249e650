// Bakes: images streamed band by band are the one-piece images byte for
// byte, OpenEXR files hold the plug-in's bits and describe the bake, and a
// bake that fails or is interrupted leaves nothing under the names asked for.
#include "bake.h"
#include "host_test_util.h"
#include "image.h"
#include "loader.h"
#include "render.h"

#include <ImfChannelList.h>
#include <ImfDoubleAttribute.h>
#include <ImfFloatAttribute.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfIntAttribute.h>
#include <ImfStandardAttributes.h>
#include <ImfStringAttribute.h>
#include <ImfVecAttribute.h>

#include <csignal>
#include <cstring>

using namespace texhost;
using namespace hosttest;

namespace {

struct ExrImage {
    int width = 0, height = 0;
    std::vector<std::string> channels;
    std::vector<std::vector<float>> planes;  // in the order of `channels`
    Imf::Header header;
};

ExrImage read_exr(const std::string &path)
{
    ExrImage img;
    Imf::InputFile in(path.c_str());
    img.header = in.header();
    const Imath::Box2i dw = in.header().dataWindow();
    img.width = dw.max.x - dw.min.x + 1;
    img.height = dw.max.y - dw.min.y + 1;
    Imf::FrameBuffer fb;
    for (auto c = in.header().channels().begin(); c != in.header().channels().end(); ++c) {
        EXPECT_EQ(c.channel().type, Imf::FLOAT) << c.name();
        img.channels.push_back(c.name());
    }
    img.planes.resize(img.channels.size());
    for (size_t i = 0; i < img.channels.size(); i++) {
        img.planes[i].assign((size_t)img.width * img.height, -7.0f);
        fb.insert(img.channels[i],
                  Imf::Slice(Imf::FLOAT, (char *)img.planes[i].data(), 4, 4 * (size_t)img.width));
    }
    in.setFrameBuffer(fb);
    in.readPixels(dw.min.y, dw.max.y);
    return img;
}

template <typename T>
T attribute(const Imf::Header &h, const std::string &name)
{
    const auto *a = h.findTypedAttribute<Imf::TypedAttribute<T>>(name);
    EXPECT_NE(a, nullptr) << name;
    return a ? a->value() : T();
}

struct Scene {
    std::unique_ptr<Plugin> plugin;
    ParamBlock block;
    View view;
    RenderOptions options;
    explicit Scene(const std::string &lib) : plugin(Plugin::open(lib)), block(plugin->defaults())
    {
        options.threads = 2;
    }
};

} // namespace

TEST(Bake, BandsGiveTheOnePieceImageByteForByte)
{
    REQUIRE_PLUGIN("harvoske");
    TempDir tmp;
    Scene s(plugin_file("harvoske"));
    s.block.set("OSA", "2");
    s.view.width = 37;
    s.view.height = 23;
    s.view.footprint = true;
    for (bool tileable : {false, true}) {
        SCOPED_TRACE(tileable ? "tileable" : "plain");
        s.options.tileable = tileable;
        RenderOptions whole = s.options;
        whole.normal_map = true;
        Rendering r = render(*s.plugin, s.block, s.view, whole);
        const int w = r.width, h = r.height;
        for (int bits : {8, 16}) {
            for (int band_rows : {1, 4, 23}) {
                BakeOutputs o;
                o.image = tmp.file("i.png");
                o.normal_map = tmp.file("n.png");
                o.pack = tmp.file("p.png");
                o.bits = bits;
                BakeResult b = bake(*s.plugin, s.block, s.view, s.options, o, band_rows);
                EXPECT_EQ(b.bands, (h + band_rows - 1) / band_rows);
                EXPECT_EQ(b.samples, (tileable ? 4L : 1L) * w * h);
                std::vector<uint8_t> image = bits == 8 ? encode_png_gray8(w, h, gray8_pixels(r))
                                                       : encode_png_gray16(w, h, gray16_pixels(r));
                std::vector<uint8_t> pack = bits == 8 ? encode_png_rgba8(w, h, packed8_pixels(r))
                                                      : encode_png_rgba16(w, h, packed16_pixels(r));
                EXPECT_EQ(file_bytes(o.image), image) << bits << " bits, bands of " << band_rows;
                EXPECT_EQ(file_bytes(o.normal_map), encode_png_rgb8(w, h, normal_map_pixels(r)))
                    << band_rows;
                EXPECT_EQ(file_bytes(o.pack), pack) << bits << " bits, bands of " << band_rows;
            }
        }
        // OpenEXR files alike, whatever the bands.
        BakeOutputs e;
        e.image = tmp.file("a.exr");
        e.image_format = ImageFormat::exr;
        bake(*s.plugin, s.block, s.view, s.options, e, 23);
        e.image = tmp.file("b.exr");
        bake(*s.plugin, s.block, s.view, s.options, e, 2);
        EXPECT_EQ(file_bytes(tmp.file("a.exr")), file_bytes(tmp.file("b.exr")));
        ExrImage x = read_exr(tmp.file("b.exr"));
        ASSERT_EQ(x.planes[0].size(), r.value.size());
        EXPECT_EQ(0, std::memcmp(x.planes[0].data(), r.value.data(), r.value.size() * 4));
    }
    EXPECT_EQ(files_in(tmp.path()),
              (std::vector<std::string>{"a.exr", "b.exr", "i.png", "n.png", "p.png"}));
}

TEST(Bake, ExrHoldsThePluginsBitsAndDescribesTheBake)
{
    REQUIRE_PLUGIN("pellosca");
    TempDir tmp;
    Scene s(plugin_file("pellosca"));
    s.block.set("Noise Size", "0.375");
    s.block.set("OSA", "3");
    s.options.stype = s.plugin->subtype("Rings");
    s.view.width = 19;
    s.view.height = 11;
    s.view.extent = 2.5;
    s.view.center[0] = 0.25;
    s.view.center[1] = -1.5;
    s.view.center[2] = 0.125;
    s.view.footprint = true;
    for (ExrCompression c : {ExrCompression::none, ExrCompression::zip, ExrCompression::piz}) {
        BakeOutputs o;
        o.image = tmp.file("m.exr");
        o.image_format = ImageFormat::exr;
        o.exr_compression = c;
        bake(*s.plugin, s.block, s.view, s.options, o, 4);
        ExrImage x = read_exr(o.image);
        ASSERT_EQ(x.width, 19);
        ASSERT_EQ(x.height, 11);
        // The intensity and the bump vector, named for compositors.
        ASSERT_EQ(x.channels, (std::vector<std::string>{"Y", "bump.X", "bump.Y", "bump.Z"}));
        int differ = 0;
        for (int row = 0; row < 11; row++)
            for (int col = 0; col < 19; col++) {
                SurfacePoint sp = surface_point(s.view, col, row);
                float out[8];
                ASSERT_EQ(s.plugin->sample(s.options.stype, s.block, sp.texvec, sp.dxt, sp.dyt, out),
                          RESULT_HAS_NORMAL);
                const size_t at = (size_t)row * 19 + col;
                for (int k = 0; k < 4; k++)
                    differ += bits_of(x.planes[k][at]) != bits_of(out[k == 0 ? 0 : 4 + k]);
            }
        EXPECT_EQ(differ, 0) << "compression " << (int)c;
    }
    const Imf::Header &h = read_exr(tmp.file("m.exr")).header;
    EXPECT_EQ(attribute<std::string>(h, "plugin"), "Pellosca");
    EXPECT_EQ(attribute<std::string>(h, "pluginLibrary"), "pellosca.so");
    EXPECT_EQ(attribute<std::string>(h, "pluginSubtype"), "Rings");
    EXPECT_EQ(attribute<int>(h, "pluginSubtypeIndex"), 1);
    EXPECT_EQ(attribute<std::string>(h, "software"), std::string("texhost ") + texhost_version);
    // Every parameter: as a parameter file that reads back to the same block,
    // and typed, one by one.
    ParamBlock back = s.plugin->defaults();
    back.apply_text(attribute<std::string>(h, "parameters"), "header");
    EXPECT_EQ(back.slots(), s.block.slots());
    EXPECT_EQ(attribute<float>(h, "parameter:Noise Size"), 0.375f);
    EXPECT_EQ(attribute<int>(h, "parameter:OSA"), 3);
    int typed = 0;
    for (const Widget &w : s.plugin->widgets())
        typed += w.has_value() && h.find("parameter:" + w.key) != h.end();
    EXPECT_EQ(typed, (int)std::count_if(s.plugin->widgets().begin(), s.plugin->widgets().end(),
                                        [](const Widget &w) { return w.has_value(); }));
    EXPECT_EQ(attribute<Imath::V3d>(h, "viewCenter"), Imath::V3d(0.25, -1.5, 0.125));
    EXPECT_EQ(attribute<double>(h, "viewExtent"), 2.5);
    EXPECT_EQ(attribute<std::string>(h, "viewShape"), "plane");
    EXPECT_EQ(attribute<int>(h, "viewFootprint"), 1);
    EXPECT_EQ(attribute<int>(h, "tileable"), 0);
    EXPECT_FALSE(Imf::hasWrapmodes(h));

    // BumpMap off: the intensity alone. Tileable: marked as repeating.
    s.block.set("BumpMap", "0");
    s.options.tileable = true;
    BakeOutputs o;
    o.image = tmp.file("t.exr");
    o.image_format = ImageFormat::exr;
    bake(*s.plugin, s.block, s.view, s.options, o);
    ExrImage t = read_exr(o.image);
    EXPECT_EQ(t.channels, std::vector<std::string>{"Y"});
    EXPECT_EQ(Imf::wrapmodes(t.header), "periodic");
    EXPECT_EQ(attribute<int>(t.header, "tileable"), 1);
    Rendering r = render(*s.plugin, s.block, s.view, s.options);
    EXPECT_EQ(0, std::memcmp(t.planes[0].data(), r.value.data(), r.value.size() * 4));
}

TEST(Bake, RefusesWhatItCannotWriteBeforeRendering)
{
    TempDir tmp;
    Scene s(fake_file("gradient"));
    write_text(tmp.file("blocker"), "a file where a folder should be");
    write_text(tmp.file("old.png"), "old");
    auto fails = [&](const BakeOutputs &o, const std::string &part, View v = View{}) {
        try {
            bake(*s.plugin, s.block, v, s.options, o);
            ADD_FAILURE() << "no error for " << part;
        } catch (const HostError &e) {
            EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
        EXPECT_EQ(files_in(tmp.path()), (std::vector<std::string>{"blocker", "old.png"})) << part;
    };
    BakeOutputs o;
    o.image = tmp.file("old.png");
    o.normal_map = tmp.file("none/n.png");
    fails(o, "cannot write \"" + tmp.file("none/n.png") + "\": No such file");
    o.normal_map = tmp.file("blocker/n.png");
    fails(o, "Not a directory");
    o.normal_map = tmp.path();
    fails(o, "it is a folder");
    o.normal_map = tmp.file("old.png");
    fails(o, "named for two outputs");
    o.normal_map = tmp.file("n.exr");
    fails(o, "normal maps and packed images are PNG files");
    o.normal_map.clear();
    o.bits = 12;
    fails(o, "8 or 16 bits");
    fails(BakeOutputs{}, "at least one output");
    o.bits = 8;
    View huge;
    huge.width = max_bake_side + 1;
    fails(o, "image size", huge);
    huge.width = huge.height = max_bake_side;
    huge.shape = Shape::sphere;
    o.pack = tmp.file("p.png");
    fails(o, "plane only", huge);
    EXPECT_EQ(read_text(tmp.file("old.png")), "old");
}

TEST(Bake, CancelledBakeLeavesNothingBehind)
{
    REQUIRE_PLUGIN("harvoske");
    TempDir tmp;
    Scene s(plugin_file("harvoske"));
    write_text(tmp.file("c.exr"), "the previous bake");
    std::atomic<bool> cancel{false};
    int rows_after = 0;
    s.view.width = s.view.height = 64;
    s.options.cancel = &cancel;
    s.options.progress = [&](int done, int total) {
        EXPECT_EQ(total, 64);
        rows_after += cancel;
        if (done == 20)
            cancel = true;
    };
    BakeOutputs o;
    o.image = tmp.file("c.exr");
    o.image_format = ImageFormat::exr;
    o.pack = tmp.file("p.png");
    EXPECT_THROW(bake(*s.plugin, s.block, s.view, s.options, o, 8), RenderCancelled);
    EXPECT_LE(rows_after, 1) << "each render thread finishes at most its row";
    EXPECT_EQ(files_in(tmp.path()), std::vector<std::string>{"c.exr"});
    EXPECT_EQ(read_text(tmp.file("c.exr")), "the previous bake");
}

TEST(Cli, BakesOpenExrAndPackedImages)
{
    REQUIRE_PLUGIN("harvoske");
    TempDir tmp;
    RunResult r = run_texhost({"render", "harvoske", "-o", tmp.file("c.EXR"), "--pack",
                               tmp.file("p.png"), "--size", "24x10", "--tileable", "--bits", "16"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *part : {"c.EXR and ", "p.png: Harvoske", "32-bit float", "tileable",
                             "960 samples"})
        EXPECT_NE(r.out.find(part), std::string::npos) << part << " missing from " << r.out;
    ExrImage x = read_exr(tmp.file("c.EXR"));
    EXPECT_EQ(x.channels.size(), 4u);
    Png p = read_png(tmp.file("p.png"));
    ASSERT_EQ(p.channels, 4);
    ASSERT_EQ(p.bit_depth, 16);
    for (int y = 0; y < 10; y++)
        for (int c = 0; c < 24; c++)
            ASSERT_EQ(p.at(c, y, 3), to_16bit(x.planes[0][y * 24 + c])) << c << "," << y;
    // --format decides over the name.
    r = run_texhost({"render", "harvoske", "-o", tmp.file("c.img"), "--format", "exr", "--size",
                     "4", "--quiet", "--exr-compression", "zip"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_exr(tmp.file("c.img")).width, 4);
    // The pack alone is an output of its own.
    r = run_texhost({"render", "harvoske", "--pack", tmp.file("q.png"), "--size", "4", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_png(tmp.file("q.png")).channels, 4);

    const std::string out = tmp.file("x.png"), g = fake_file("gradient");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--format", "tiff"}),
                          "unknown format \"tiff\"");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--exr-compression", "b44"}),
                          "valid: none, zip, piz");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--size", "32769"}), "32768");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--pack", tmp.file("q.exr")}),
                          "are PNG files");
    expect_one_line_error(run_texhost({"render", g, "-o", out, "--shape", "sphere", "--tileable"}),
                          "plane only");
    expect_one_line_error(run_texhost({"render", g, "--shape", "sphere", "--pack", out}),
                          "plane only");
    EXPECT_FALSE(exists(out));
}

TEST(Cli, FullDiskLeavesNoFileUnderTheName)
{
    REQUIRE_PLUGIN("harvoske");
    TempDir tmp, io;
    // Enough for the first bands, not for the image: the write fails mid-bake.
    for (const char *name : {"c.png", "c.exr"}) {
        SCOPED_TRACE(name);
        pid_t pid = start_texhost({"render", "harvoske", "-o", tmp.file(name), "--size", "128",
                                   "--set", "BumpMap=0", "--exr-compression", "none", "--quiet"},
                                  io.path(), {}, 4000);
        RunResult r = finish_texhost(pid, io.path());
        expect_one_line_error(r, "cannot write \"" + tmp.file(name) + "\": File too large");
        EXPECT_EQ(files_in(tmp.path()), std::vector<std::string>{});
    }
}

TEST(Cli, InterruptedBakeStopsAndLeavesNothing)
{
    REQUIRE_PLUGIN("harvoske");
    TempDir tmp, io;
    write_text(tmp.file("big.png"), "the previous bake");
    // Far too long to finish before the signal arrives.
    pid_t pid = start_texhost({"render", "harvoske", "-o", tmp.file("big.png"), "--normal-map",
                               tmp.file("big_n.png"), "--size", "8192", "--tileable"},
                              io.path());
    // The outputs exist as temporaries once the render has begun.
    for (int i = 0; i < 3000 && files_in(tmp.path()).size() < 3; i++)
        usleep(10000);
    ASSERT_EQ(files_in(tmp.path()).size(), 3u) << "the bake did not start";
    usleep(100000);
    kill(pid, SIGINT);
    RunResult r = finish_texhost(pid, io.path());
    EXPECT_EQ(r.status, 128 + SIGINT);
    EXPECT_EQ(r.err, "texhost: interrupted; nothing was written\n");
    EXPECT_EQ(files_in(tmp.path()), std::vector<std::string>{"big.png"});
    EXPECT_EQ(read_text(tmp.file("big.png")), "the previous bake");
}
