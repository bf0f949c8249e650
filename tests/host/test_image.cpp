// Images as the host writes them: PNG in memory and in files byte for byte
// alike, the pixels of a rendering, and files that appear only complete.
#include "host_test_util.h"
#include "image.h"
#include "render.h"

#include <cmath>
#include <sys/stat.h>

using namespace texhost;
using namespace hosttest;

namespace {

// A small rendering with values across [0, 1] and beyond, and normals.
Rendering sample_rendering(int w, int h)
{
    Rendering r;
    r.width = w;
    r.height = h;
    for (int i = 0; i < w * h; i++) {
        r.value.push_back((float)(i * 0.37 - 0.2 - std::floor(i * 0.37)));
        double a = i * 0.7, b = i * 0.3, n[3] = {std::cos(a) * std::sin(b), std::sin(a) * std::sin(b), std::cos(b)};
        for (double c : n)
            r.normal.push_back((float)c);
    }
    r.value[1] = 1.0f;
    r.value[2] = 0.0f;
    return r;
}

} // namespace

TEST(Image, MemoryEncodersWriteTheFileWritersBytes)
{
    TempDir tmp;
    const int w = 7, h = 5;
    Rendering r = sample_rendering(w, h);

    write_png_gray8(tmp.file("g8.png"), w, h, gray8_pixels(r));
    EXPECT_EQ(encode_png_gray8(w, h, gray8_pixels(r)), file_bytes(tmp.file("g8.png")));
    write_png_gray16(tmp.file("g16.png"), w, h, gray16_pixels(r));
    EXPECT_EQ(encode_png_gray16(w, h, gray16_pixels(r)), file_bytes(tmp.file("g16.png")));
    write_png_rgb8(tmp.file("n.png"), w, h, normal_map_pixels(r));
    EXPECT_EQ(encode_png_rgb8(w, h, normal_map_pixels(r)), file_bytes(tmp.file("n.png")));

    // What the files hold, decoded by libpng: the documented quantisation.
    Png g8 = read_png(tmp.file("g8.png")), g16 = read_png(tmp.file("g16.png"));
    Png n = read_png(tmp.file("n.png"));
    ASSERT_EQ(g8.bit_depth, 8);
    ASSERT_EQ(g16.bit_depth, 16);
    ASSERT_EQ(n.channels, 3);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            float v = r.value[y * w + x];
            double c = v < 0 ? 0 : v > 1 ? 1 : v;
            EXPECT_EQ(g8.at(x, y), (int)std::floor(c * 255 + 0.5));
            EXPECT_EQ(g16.at(x, y), (int)std::floor(c * 65535 + 0.5));
            for (int k = 0; k < 3; k++)
                EXPECT_EQ(n.at(x, y, k),
                          (int)std::floor((r.normal[(y * w + x) * 3 + k] + 1.0) / 2 * 255 + 0.5));
        }
    EXPECT_EQ(g16.at(1, 0), 65535);
    EXPECT_EQ(g16.at(2, 0), 0);
}

TEST(Image, PackedPixelsHoldTheNormalMapAndTheIntensity)
{
    TempDir tmp;
    const int w = 6, h = 3;
    Rendering r = sample_rendering(w, h);
    std::vector<uint8_t> rgb = normal_map_pixels(r), gray = gray8_pixels(r);
    std::vector<uint8_t> p8 = packed8_pixels(r);
    std::vector<uint16_t> p16 = packed16_pixels(r), g16 = gray16_pixels(r);
    ASSERT_EQ(p8.size(), (size_t)w * h * 4);
    for (int i = 0; i < w * h; i++) {
        for (int k = 0; k < 3; k++) {
            EXPECT_EQ(p8[4 * i + k], rgb[3 * i + k]);
            EXPECT_EQ(p16[4 * i + k], to_16bit((r.normal[3 * i + k] + 1.0) * 0.5));
        }
        EXPECT_EQ(p8[4 * i + 3], gray[i]);
        EXPECT_EQ(p16[4 * i + 3], g16[i]);
    }
    std::vector<uint8_t> png = encode_png_rgba16(w, h, p16);
    write_text(tmp.file("p.png"), std::string(png.begin(), png.end()));
    Png back = read_png(tmp.file("p.png"));
    ASSERT_EQ(back.channels, 4);
    ASSERT_EQ(back.bit_depth, 16);
    EXPECT_EQ(back.samples, p16);
    png = encode_png_rgba8(w, h, p8);
    write_text(tmp.file("p8.png"), std::string(png.begin(), png.end()));
    back = read_png(tmp.file("p8.png"));
    ASSERT_EQ(back.channels, 4);
    EXPECT_EQ(back.samples, std::vector<uint16_t>(p8.begin(), p8.end()));
    // Without a normal map there is nothing to pack.
    r.normal.clear();
    EXPECT_THROW(packed8_pixels(r), HostError);
}

TEST(Image, AtomicFileAppearsOnlyWhenCommitted)
{
    TempDir tmp;
    const std::string path = tmp.file("a.png");
    write_text(path, "old");
    chmod(path.c_str(), 0640);
    {
        AtomicFile f(path);
        EXPECT_EQ(f.temp_path().rfind(path + ".tmp-", 0), 0u) << f.temp_path();
        std::fputs("new contents", f.stream());
        std::fflush(f.stream());
        EXPECT_EQ(read_text(path), "old") << "the old file stays until the new one is complete";
        f.commit();
    }
    EXPECT_EQ(read_text(path), "new contents");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "a replaced file keeps its mode";
    EXPECT_EQ(files_in(tmp.path()), std::vector<std::string>{"a.png"});

    // Dropped without commit: the temporary goes, the old file stays.
    {
        AtomicFile f(tmp.file("a.png"));
        std::fputs("half", f.stream());
    }
    EXPECT_EQ(read_text(path), "new contents");
    {
        AtomicFile f(tmp.file("b.png"));
        std::fputs("half", f.stream());
    }
    EXPECT_FALSE(exists(tmp.file("b.png")));
    EXPECT_EQ(files_in(tmp.path()), std::vector<std::string>{"a.png"});

    // A new file gets the mode the file creation mask allows.
    mode_t mask = umask(027);
    {
        AtomicFile f(tmp.file("c.png"));
        f.commit();
    }
    umask(mask);
    ASSERT_EQ(stat(tmp.file("c.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(Image, UnwritablePlacesFailWithTheirReason)
{
    TempDir tmp;
    write_text(tmp.file("blocker"), "a file where a folder should be");
    auto fails = [](const std::string &path, const std::string &part) {
        try {
            AtomicFile f(path);
            ADD_FAILURE() << "no error for " << path;
        } catch (const HostError &e) {
            EXPECT_NE(std::string(e.what()).find("cannot write \"" + path + "\": " + part),
                      std::string::npos)
                << e.what();
        }
    };
    fails(tmp.file("none/x.png"), "No such file");
    fails(tmp.file("blocker/x.png"), "Not a directory");
    fails(tmp.path(), "it is a folder");
    EXPECT_THROW(write_png_gray8(tmp.file("none/x.png"), 1, 1, {0}), HostError);
    EXPECT_EQ(files_in(tmp.path()), std::vector<std::string>{"blocker"});
    // A device is written in place, not replaced.
    write_png_gray8("/dev/null", 2, 1, {1, 2});
    struct stat st;
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST(Image, PngWriterTakesRowsInBands)
{
    // Rows given one band at a time make the same file as all at once.
    const int w = 5, h = 9;
    std::vector<uint16_t> px(w * h);
    for (int i = 0; i < w * h; i++)
        px[i] = (uint16_t)(i * 1237);
    std::vector<uint8_t> bands;
    {
        PngWriter pw(&bands, w, h, 16, 1);
        pw.write_rows(px.data(), 2);
        pw.write_rows(px.data() + 2 * w, 4);
        pw.write_rows(px.data() + 6 * w, 3);
        pw.finish();
    }
    EXPECT_EQ(bands, encode_png_gray16(w, h, px));
    // Too many rows, too few, or the wrong sample size are refused.
    std::vector<uint8_t> sink;
    PngWriter pw(&sink, w, 2, 8, 1);
    std::vector<uint8_t> row(w * 3);
    EXPECT_THROW(pw.write_rows(row.data(), 3), HostError);
    EXPECT_THROW(pw.write_rows(px.data(), 1), HostError);
    pw.write_rows(row.data(), 1);
    EXPECT_THROW(pw.finish(), HostError);
}
