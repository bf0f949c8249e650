// Rendering through the loader: the plane's mapping of pixels to texture
// space, thread count, the sphere's and the terrain's geometry and shading,
// and normal maps.
#include "host_test_util.h"
#include "image.h"
#include "loader.h"
#include "render.h"

#include <atomic>
#include <cmath>
#include <dlfcn.h>

using namespace texhost;
using namespace hosttest;

namespace {

double dot3(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double len3(const double a[3]) { return std::sqrt(dot3(a, a)); }
void cross3(const double a[3], const double b[3], double out[3])
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}
void to_double(const float f[3], double d[3])
{
    for (int k = 0; k < 3; k++)
        d[k] = f[k];
}

// Texture coordinate of a pixel centre on the plane: square pixels of
// extent / (longer side), x to the right, y up, centred on `c`.
void plane_point(const View &v, int col, int row, float out[3])
{
    double ps = v.extent / std::max(v.width, v.height);
    out[0] = (float)(v.center[0] + (col + 0.5 - v.width / 2.0) * ps);
    out[1] = (float)(v.center[1] + (v.height / 2.0 - row - 0.5) * ps);
    out[2] = (float)v.center[2];
}

float clipped(float v) { return v > 1.0f ? 1.0f : (v >= 0.0f ? v : 0.0f); }

} // namespace

TEST(Render, PlaneMatchesTheLoaderPixelByPixel)
{
    REQUIRE_PLUGIN("harvoske");
    auto p = Plugin::open(plugin_file("harvoske"));
    ParamBlock b = p->defaults();
    b.set("OSA", "3");
    for (bool footprint : {false, true}) {
        View v;
        v.width = 13;
        v.height = 9;
        v.extent = 1.5;
        v.center[0] = 0.3;
        v.center[1] = -0.2;
        v.center[2] = 0.7;
        v.footprint = footprint;
        Rendering r = render(*p, b, v, RenderOptions{});
        ASSERT_EQ(r.value.size(), 13u * 9u);
        EXPECT_EQ(r.samples, 13 * 9);
        const float ps = (float)(1.5 / 13);
        const float dx[3] = {ps, 0, 0}, dy[3] = {0, ps, 0};
        for (int row = 0; row < 9; row++)
            for (int col = 0; col < 13; col++) {
                float tv[3], out[8];
                plane_point(v, col, row, tv);
                p->sample(0, b, tv, footprint ? dx : nullptr, footprint ? dy : nullptr, out);
                ASSERT_EQ(r.value[row * 13 + col], clipped(out[0]))
                    << "pixel " << col << "," << row << " footprint " << footprint;
            }
    }
}

TEST(Render, PlaneMapsColumnsToXAndRowsToYUpwards)
{
    auto g = Plugin::open(fake_file("gradient"));
    ParamBlock b = g->defaults();
    View v;
    v.width = 8;
    v.height = 4;
    v.extent = 1.0;
    // Ramp: 0.5 + x, so column c shows (c + 0.5) / 8.
    Rendering r = render(*g, b, v, RenderOptions{});
    for (int row = 0; row < 4; row++)
        for (int col = 0; col < 8; col++)
            EXPECT_FLOAT_EQ(r.value[row * 8 + col], (col + 0.5f) / 8);
    // Rise: 0.5 + y, with y = 0.1875 on the top row and falling by 1/8 a row.
    RenderOptions rise;
    rise.stype = 1;
    r = render(*g, b, v, rise);
    for (int row = 0; row < 4; row++)
        for (int col = 0; col < 8; col++)
            EXPECT_FLOAT_EQ(r.value[row * 8 + col], 0.6875f - row * 0.125f);
}

TEST(Render, PluginWithoutReentrantEntryRendersOnOneThread)
{
    auto g = Plugin::open(fake_file("gradient"));
    void *h = dlopen(fake_file("gradient").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr);
    auto *calls = (std::atomic<int> *)dlsym(h, "fake_calls");
    auto *overlaps = (std::atomic<int> *)dlsym(h, "fake_overlaps");
    ASSERT_TRUE(calls && overlaps);
    View v;
    v.width = 40;
    v.height = 30;
    RenderOptions o;
    o.threads = 4;
    int before = *calls;
    Rendering r = render(*g, g->defaults(), v, o);
    EXPECT_EQ(r.threads, 1);
    EXPECT_EQ(*calls - before, 40 * 30);
    EXPECT_EQ(overlaps->load(), 0);
    dlclose(h);
}

TEST(Render, ThreadCountDoesNotChangeTheImage)
{
    REQUIRE_PLUGIN("harvoske");
    auto p = Plugin::open(plugin_file("harvoske"));
    ParamBlock b = p->defaults();
    b.set("OSA", "4");
    b.set("Two-way filter", "1");
    View v;
    v.width = 37;
    v.height = 23;
    v.footprint = true;
    RenderOptions o;
    o.normal_map = true;
    o.threads = 1;
    Rendering one = render(*p, b, v, o);
    EXPECT_EQ(one.threads, 1);
    for (int t : {2, 3, 8}) {
        o.threads = t;
        Rendering many = render(*p, b, v, o);
        EXPECT_EQ(many.threads, t);
        EXPECT_EQ(0, std::memcmp(one.value.data(), many.value.data(), one.value.size() * 4))
            << t << " threads";
        EXPECT_EQ(0, std::memcmp(one.normal.data(), many.normal.data(), one.normal.size() * 4))
            << t << " threads";
    }
    // The host entry with its shared result gives the same image.
    o.threads = 4;
    o.host_entry = true;
    Rendering shared = render(*p, b, v, o);
    EXPECT_EQ(shared.threads, 1);
    EXPECT_EQ(0, std::memcmp(one.value.data(), shared.value.data(), one.value.size() * 4));
    for (Shape s : {Shape::sphere, Shape::terrain}) {
        v.shape = s;
        o.normal_map = false;
        o.host_entry = false;
        o.threads = 1;
        Rendering a = render(*p, b, v, o);
        o.threads = 3;
        Rendering c = render(*p, b, v, o);
        EXPECT_EQ(0, std::memcmp(a.value.data(), c.value.data(), a.value.size() * 4))
            << shape_name(s);
    }
}

TEST(Render, SphereFootprintLiesInTheTangentPlaneAndPointsOut)
{
    View v;
    v.shape = Shape::sphere;
    v.width = 64;
    v.height = 48;
    v.extent = 3.0;
    v.center[0] = 1;
    v.center[1] = 2;
    v.center[2] = -3;
    const double radius = 1.5, step = 1.5 / 24; // the sphere fills the 48 rows
    int hits = 0;
    for (int row = 0; row < 48; row += 3)
        for (int col = 0; col < 64; col += 3) {
            SurfacePoint sp = surface_point(v, col, row);
            double sx = (col + 0.5 - 32) / 24, sy = (24 - row - 0.5) / 24;
            EXPECT_EQ(sp.hit, sx * sx + sy * sy < 1) << col << "," << row;
            if (!sp.hit)
                continue;
            hits++;
            double p[3], dx[3], dy[3], rel[3], n[3];
            to_double(sp.texvec, p);
            to_double(sp.dxt, dx);
            to_double(sp.dyt, dy);
            for (int k = 0; k < 3; k++)
                rel[k] = p[k] - v.center[k];
            EXPECT_NEAR(len3(rel), radius, 1e-6);
            EXPECT_NEAR(rel[0], sx * radius, 1e-6);
            EXPECT_NEAR(rel[1], sy * radius, 1e-6);
            EXPECT_GT(rel[2], 0) << "the visible half faces +z";
            EXPECT_NEAR(len3(sp.normal), 1.0, 1e-12);
            for (int k = 0; k < 3; k++)
                EXPECT_NEAR(sp.normal[k], rel[k] / radius, 1e-6);
            ASSERT_TRUE(sp.has_footprint);
            // One pixel across the screen in each direction, on the surface.
            EXPECT_NEAR(dx[0], step, 1e-7);
            EXPECT_EQ(dx[1], 0.0);
            EXPECT_NEAR(dy[1], step, 1e-7);
            EXPECT_EQ(dy[0], 0.0);
            EXPECT_NEAR(dot3(dx, sp.normal) / len3(dx), 0.0, 1e-5);
            EXPECT_NEAR(dot3(dy, sp.normal) / len3(dy), 0.0, 1e-5);
            cross3(dx, dy, n);
            EXPECT_GT(dot3(n, sp.normal), 0.999 * len3(n)) << "dxt x dyt must point outwards";
        }
    EXPECT_GT(hits, 100);
}

TEST(Render, SpherePixelsMatchTheLoader)
{
    REQUIRE_PLUGIN("harvoske");
    auto p = Plugin::open(plugin_file("harvoske"));
    ParamBlock b = p->defaults();
    View v;
    v.shape = Shape::sphere;
    v.width = v.height = 48;
    v.extent = 2.0;
    RenderOptions o;
    o.bump_scale = 2.0;
    Rendering r = render(*p, b, v, o);
    const int pixels[][2] = {{24, 24}, {10, 30}, {40, 12}, {2, 24}, {24, 46}, {0, 0}, {47, 47}};
    for (const auto &px : pixels) {
        int col = px[0], row = px[1];
        double sx = (col + 0.5 - 24) / 24, sy = (24 - row - 0.5) / 24, d2 = sx * sx + sy * sy;
        float got = r.value[row * 48 + col];
        if (d2 >= 1) {
            EXPECT_EQ(got, 0.0f) << "background at " << col << "," << row;
            continue;
        }
        double nz = std::sqrt(1 - d2), step = 1.0 / 24;
        double n[3] = {sx, sy, nz};
        float tv[3] = {(float)sx, (float)sy, (float)nz};
        float dx[3] = {(float)step, 0, (float)(-step * sx / nz)};
        float dy[3] = {0, (float)step, (float)(-step * sy / nz)};
        float out[8];
        ASSERT_EQ(p->sample(0, b, tv, dx, dy, out), RESULT_HAS_NORMAL);
        double shaded_normal[3];
        perturbed_normal(n, out + 5, 2.0, shaded_normal);
        double want = clipped(out[0]) * diffuse(shaded_normal);
        EXPECT_NEAR(got, want, 1e-6) << "pixel " << col << "," << row;
    }
}

TEST(Render, ShadingOfAPerturbedNormal)
{
    const double up[3] = {0, 0, 1};
    const float bump[3] = {0.1f, -0.2f, 0.3f};
    double n[3];
    perturbed_normal(up, bump, 1.0, n);
    // The part along the normal is dropped; the surface tilts against the gradient.
    double l = std::sqrt(0.1 * 0.1 + 0.2 * 0.2 + 1);
    EXPECT_NEAR(n[0], -0.1 / l, 1e-7);
    EXPECT_NEAR(n[1], 0.2 / l, 1e-7);
    EXPECT_NEAR(n[2], 1 / l, 1e-7);
    const float none[3] = {0, 0, 0};
    perturbed_normal(up, none, 5.0, n);
    EXPECT_EQ(n[2], 1.0);
    // Light from above-left-front: straight up gets ambient + 0.85 * 0.8.
    EXPECT_NEAR(diffuse(up), 0.15 + 0.85 * 0.8, 1e-12);
    const double away[3] = {0.4242640687119285, -0.4242640687119285, -0.8};
    EXPECT_EQ(diffuse(away), ambient_light);
}

TEST(Render, TerrainFootprintFollowsTheSurface)
{
    View v;
    v.shape = Shape::terrain;
    v.width = v.height = 32;
    v.extent = 4.0;
    v.relief = 1.5;
    v.center[2] = 10;
    const double ps = 4.0 / 32, e = 1e-6;
    double steepest = 0;
    for (int row = 0; row < 32; row += 5)
        for (int col = 0; col < 32; col += 5) {
            SurfacePoint sp = surface_point(v, col, row);
            ASSERT_TRUE(sp.hit);
            ASSERT_TRUE(sp.has_footprint);
            float flat[3];
            View plane = v;
            plane.shape = Shape::plane;
            plane_point(plane, col, row, flat);
            EXPECT_EQ(sp.texvec[0], flat[0]);
            EXPECT_EQ(sp.texvec[1], flat[1]);
            double x = flat[0], y = flat[1], hx, hy;
            double h = terrain_height(v, x, y, &hx, &hy);
            EXPECT_EQ(sp.texvec[2], (float)(10 + h));
            EXPECT_LE(std::fabs(h), 1.5);
            // The slope agrees with the heights around the point.
            EXPECT_NEAR(hx, (terrain_height(v, x + e, y, 0, 0) - terrain_height(v, x - e, y, 0, 0)) / (2 * e), 1e-5);
            EXPECT_NEAR(hy, (terrain_height(v, x, y + e, 0, 0) - terrain_height(v, x, y - e, 0, 0)) / (2 * e), 1e-5);
            double dx[3], dy[3], n[3];
            to_double(sp.dxt, dx);
            to_double(sp.dyt, dy);
            EXPECT_NEAR(dx[0], ps, 1e-7);
            EXPECT_NEAR(dx[2], hx * ps, 1e-6);
            EXPECT_NEAR(dy[1], ps, 1e-7);
            EXPECT_NEAR(dy[2], hy * ps, 1e-6);
            cross3(dx, dy, n);
            EXPECT_GT(n[2], 0) << "dxt x dyt must point up, out of the ground";
            EXPECT_GT(dot3(n, sp.normal), 0.9999 * len3(n));
            steepest = std::max(steepest, std::hypot(hx, hy));
        }
    EXPECT_GT(steepest, 1.0) << "the terrain should have slopes beyond 45 degrees";
}

TEST(Render, TerrainPixelsMatchTheLoader)
{
    std::string lib = exists(plugin_file("delmorasquintava")) ? plugin_file("delmorasquintava")
                                                               : plugin_file("harvoske");
    if (!exists(lib))
        GTEST_SKIP() << "no plug-in built yet";
    auto p = Plugin::open(lib);
    ParamBlock b = p->defaults();
    View v;
    v.shape = Shape::terrain;
    v.width = v.height = 24;
    Rendering r = render(*p, b, v, RenderOptions{});
    for (const auto &px : {std::pair<int, int>{0, 0}, {5, 17}, {12, 12}, {23, 3}}) {
        SurfacePoint sp = surface_point(v, px.first, px.second);
        float out[8];
        int ret = p->sample(0, b, sp.texvec, sp.dxt, sp.dyt, out);
        float bump[3] = {0, 0, 0};
        if (ret == RESULT_HAS_NORMAL)
            std::memcpy(bump, out + 5, sizeof bump);
        double n[3];
        perturbed_normal(sp.normal, bump, 1.0, n);
        EXPECT_NEAR(r.value[px.second * 24 + px.first], clipped(out[0]) * diffuse(n), 1e-6);
    }
}

TEST(Render, NormalMapOfAConstantTextureIsFlat)
{
    REQUIRE_PLUGIN("harvoske");
    auto p = Plugin::open(plugin_file("harvoske"));
    ParamBlock b = p->defaults();
    // An empty map range at 0 maps every raw value above 0 to 1.
    b.set("Map Max", "0");
    b.set("Map Min", "0");
    View v;
    v.width = v.height = 24;
    RenderOptions o;
    o.normal_map = true;
    Rendering r = render(*p, b, v, o);
    for (float x : r.value)
        ASSERT_EQ(x, 1.0f) << "the texture should be constant";
    std::vector<uint8_t> rgb = encode_normals(r.normal);
    for (size_t i = 0; i < rgb.size(); i += 3) {
        ASSERT_EQ(rgb[i], 128);
        ASSERT_EQ(rgb[i + 1], 128);
        ASSERT_EQ(rgb[i + 2], 255);
    }
    // Bump off: the vector left in `result` by earlier calls is not used.
    b.set("BumpMap", "0");
    b.set("Map Max", "1");
    o.host_entry = true;
    r = render(*p, b, v, o);
    rgb = encode_normals(r.normal);
    for (size_t i = 0; i < rgb.size(); i += 3)
        ASSERT_TRUE(rgb[i] == 128 && rgb[i + 1] == 128 && rgb[i + 2] == 255);
}

TEST(Render, NormalMapFollowsTheBumpVector)
{
    auto g = Plugin::open(fake_file("gradient"));
    ParamBlock b = g->defaults();
    b.set("Scale", "2");
    View v;
    v.width = 8;
    v.height = 2;
    v.extent = 0.4; // 0.5 + 2x stays inside (0, 1): the bump is (0.1, 0, 0) everywhere
    RenderOptions o;
    o.normal_map = true;
    std::vector<uint8_t> rgb = encode_normals(render(*g, b, v, o).normal);
    double l = std::sqrt(1 + 0.1 * 0.1);
    uint8_t want_r = (uint8_t)std::floor((1 - 0.1 / l) / 2 * 255 + 0.5);
    uint8_t want_b = (uint8_t)std::floor((1 + 1 / l) / 2 * 255 + 0.5);
    for (size_t i = 0; i < rgb.size(); i += 3) {
        EXPECT_EQ(rgb[i], want_r);
        EXPECT_EQ(rgb[i + 1], 128);
        EXPECT_EQ(rgb[i + 2], want_b);
    }
    o.stype = 1; // Rise: the bump is along y
    rgb = encode_normals(render(*g, b, v, o).normal);
    EXPECT_EQ(rgb[0], 128);
    EXPECT_EQ(rgb[1], want_r);
}

TEST(Render, RejectsWhatCannotBeRendered)
{
    auto g = Plugin::open(fake_file("gradient"));
    ParamBlock b = g->defaults();
    auto fails = [&](View v, RenderOptions o, const std::string &part) {
        try {
            render(*g, b, v, o);
            ADD_FAILURE() << "no error for " << part;
        } catch (const HostError &e) {
            EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
    };
    View v;
    RenderOptions o;
    View w = v;
    w.width = 0;
    fails(w, o, "image size");
    w = v;
    w.height = max_image_side + 1;
    fails(w, o, "image size");
    w = v;
    w.extent = 0;
    fails(w, o, "extent");
    w = v;
    w.extent = NAN;
    fails(w, o, "extent");
    w = v;
    w.center[1] = INFINITY;
    fails(w, o, "centre");
    w = v;
    w.shape = Shape::sphere;
    RenderOptions n = o;
    n.normal_map = true;
    fails(w, n, "plane only");
    RenderOptions s = o;
    s.stype = 3;
    fails(v, s, "sub-type 3");
}

TEST(Render, Quantisation)
{
    EXPECT_EQ(to_8bit(0.0), 0);
    EXPECT_EQ(to_8bit(1.0), 255);
    EXPECT_EQ(to_8bit(0.5), 128);
    EXPECT_EQ(to_8bit(0.5 / 255), 1);
    EXPECT_EQ(to_8bit(0.49 / 255), 0);
    EXPECT_EQ(to_8bit(-3), 0);
    EXPECT_EQ(to_8bit(7), 255);
    EXPECT_EQ(to_8bit(NAN), 0);
    EXPECT_EQ(to_16bit(1.0), 65535);
    EXPECT_EQ(to_16bit(0.5), 32768);
    EXPECT_EQ(to_16bit(NAN), 0);
}

TEST(Render, CancelStopsWithinARow)
{
    auto g = Plugin::open(fake_file("gradient"));
    void *h = dlopen(fake_file("gradient").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr);
    auto *calls = (std::atomic<int> *)dlsym(h, "fake_calls");
    ASSERT_NE(calls, nullptr);
    View v;
    v.width = 50;
    v.height = 40;
    std::atomic<bool> cancel{false};
    RenderOptions o;
    o.cancel = &cancel;
    o.progress = [&](int done, int) {
        if (done == 3)
            cancel = true;
    };
    int before = *calls;
    EXPECT_THROW(render(*g, g->defaults(), v, o), RenderCancelled);
    EXPECT_EQ(*calls - before, 3 * 50) << "no row may start after the cancel";
    // Cancelled before it starts: not one call.
    before = *calls;
    o.progress = nullptr;
    EXPECT_THROW(render(*g, g->defaults(), v, o), RenderCancelled);
    EXPECT_EQ(*calls - before, 0);
    dlclose(h);

    // On several threads each finishes at most the row it is in.
    REQUIRE_PLUGIN("harvoske");
    auto p = Plugin::open(plugin_file("harvoske"));
    std::atomic<int> after{0};
    cancel = false;
    o.threads = 2;
    o.progress = [&](int done, int) {
        if (cancel)
            after++;
        if (done == 5)
            cancel = true;
    };
    try {
        render(*p, p->defaults(), v, o);
        ADD_FAILURE() << "not cancelled";
    } catch (const HostError &e) { // RenderCancelled is a HostError
        EXPECT_NE(dynamic_cast<const RenderCancelled *>(&e), nullptr);
    }
    EXPECT_LE(after.load(), 1);
}

namespace {

// Mean absolute step from column j to column j + 1 (the last to the first
// for j = width - 1), over all rows; rows likewise with `rows`.
std::vector<double> column_steps(const std::vector<float> &img, int w, int h, int stride, int k)
{
    std::vector<double> d(w, 0.0);
    for (int j = 0; j < w; j++)
        for (int r = 0; r < h; r++)
            d[j] += std::fabs(img[((size_t)r * w + (j + 1) % w) * stride + k] -
                              img[((size_t)r * w + j) * stride + k]) / h;
    return d;
}

std::vector<double> row_steps(const std::vector<float> &img, int w, int h, int stride, int k)
{
    std::vector<double> d(h, 0.0);
    for (int r = 0; r < h; r++)
        for (int j = 0; j < w; j++)
            d[r] += std::fabs(img[((size_t)((r + 1) % h) * w + j) * stride + k] -
                              img[((size_t)r * w + j) * stride + k]) / w;
    return d;
}

// How much larger the step across the wrap (the last entry) is than the
// mean of the four steps on either side of it. Only the steps near the edge
// compare: a tileable image has less contrast, so smaller steps, inside.
double seam_ratio(const std::vector<double> &steps)
{
    const size_t n = steps.size();
    double near = 0;
    for (size_t i = 0; i < 4; i++)
        near += (steps[i] + steps[n - 2 - i]) / 8;
    return steps.back() / near;
}

} // namespace

TEST(Render, TileableImageContinuesAcrossItsEdges)
{
    REQUIRE_PLUGIN("harvoske");
    auto p = Plugin::open(plugin_file("harvoske"));
    ParamBlock b = p->defaults();
    b.set("Noise Depth", "0");
    b.set("Two-way filter", "1");
    View v;
    v.width = 96;
    v.height = 80;
    v.extent = 0.5;
    v.center[0] = 0.3;
    RenderOptions o;
    o.normal_map = true;
    Rendering plain = render(*p, b, v, o);
    o.tileable = true;
    Rendering tiled = render(*p, b, v, o);
    EXPECT_EQ(tiled.samples, 4L * 96 * 80);
    const int w = v.width, h = v.height;
    // Without the blend the wrap is a seam: here 9 to 80 times the steps
    // beside it. With the blend the wrap is a step like those (0.5 to 1.2).
    EXPECT_GT(seam_ratio(column_steps(plain.value, w, h, 1, 0)), 4.0);
    EXPECT_GT(seam_ratio(row_steps(plain.value, w, h, 1, 0)), 4.0);
    EXPECT_LT(seam_ratio(column_steps(tiled.value, w, h, 1, 0)), 1.6);
    EXPECT_LT(seam_ratio(row_steps(tiled.value, w, h, 1, 0)), 1.6);
    // The normal map alike, in its x and y components.
    for (int k = 0; k < 2; k++) {
        EXPECT_GT(seam_ratio(column_steps(plain.normal, w, h, 3, k)), 4.0) << k;
        EXPECT_GT(seam_ratio(row_steps(plain.normal, w, h, 3, k)), 4.0) << k;
        EXPECT_LT(seam_ratio(column_steps(tiled.normal, w, h, 3, k)), 1.6) << k;
        EXPECT_LT(seam_ratio(row_steps(tiled.normal, w, h, 3, k)), 1.6) << k;
    }
    // Any thread count, the same bits.
    o.threads = 1;
    Rendering one = render(*p, b, v, o);
    EXPECT_EQ(one.value, tiled.value);
    EXPECT_EQ(one.normal, tiled.normal);
}

TEST(Render, TileableMixesFourShiftedPoints)
{
    // The ramp 0.5 + s x: the point one tile width to the left is lower by
    // s * extent, and the linear weights take exactly that back, so a tiled
    // ramp is flat: a gradient across the whole tile is lost entirely.
    auto g = Plugin::open(fake_file("gradient"));
    ParamBlock b = g->defaults();
    b.set("Scale", "0.25");
    View v;
    v.width = 10;
    v.height = 6;
    v.extent = 1.0;
    RenderOptions o;
    o.tileable = true;
    o.normal_map = true;
    Rendering r = render(*g, b, v, o);
    for (int i = 0; i < 60; i++) {
        EXPECT_NEAR(r.value[i], 0.5 - 0.25 * 0.5, 1e-6) << i;
        // Every point lies on the slope, so the bump (0.0125, 0, 0) stays.
        EXPECT_NEAR(r.normal[3 * i], -0.0125 / std::sqrt(1 + 0.0125 * 0.0125), 1e-6);
    }
    // Pixel (3, 2) against the four points through the loader.
    double w[4];
    tileable_weights(10, 6, 3, 2, w);
    EXPECT_DOUBLE_EQ(w[0] + w[1] + w[2] + w[3], 1.0);
    EXPECT_DOUBLE_EQ(w[1], 0.35 * (1 - 2.5 / 6));
    EXPECT_DOUBLE_EQ(w[2], 0.65 * (2.5 / 6));
    RenderOptions rise = o;
    rise.stype = 1;
    r = render(*g, b, v, rise);
    const int shift[4][2] = {{0, 0}, {-10, 0}, {0, -6}, {-10, -6}};
    double want = 0;
    for (int i = 0; i < 4; i++) {
        float tv[3], out[8];
        plane_point(v, 3 + shift[i][0], 2 + shift[i][1], tv);
        g->sample(1, b, tv, nullptr, nullptr, out);
        want += w[i] * out[0];
    }
    EXPECT_EQ(r.value[2 * 10 + 3], (float)want);
}

TEST(Render, TileableOnlyOnThePlane)
{
    auto g = Plugin::open(fake_file("gradient"));
    View v;
    v.shape = Shape::terrain;
    RenderOptions o;
    o.tileable = true;
    EXPECT_THROW(render(*g, g->defaults(), v, o), HostError);
}
