#include "render.h"

#include "image.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

namespace texhost {

namespace {

constexpr double two_pi = 6.283185307179586;

double dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void normalize(double v[3])
{
    double l = std::sqrt(dot(v, v));
    if (l > 0) {
        v[0] /= l;
        v[1] /= l;
        v[2] /= l;
    }
}

double pixel_size(const View &v) { return v.extent / std::max(v.width, v.height); }

// Texture-space x, y of a pixel centre on the plane and the terrain.
void plane_xy(const View &v, int column, int row, double &x, double &y)
{
    double ps = pixel_size(v);
    x = v.center[0] + (column + 0.5 - v.width * 0.5) * ps;
    y = v.center[1] + (v.height * 0.5 - row - 0.5) * ps;
}

// The sphere's radius in pixels: it fills the shorter side.
double sphere_radius_px(const View &v) { return 0.5 * std::min(v.width, v.height); }

} // namespace

const double light_direction[3] = {-0.4242640687119285, 0.4242640687119285, 0.8};

const char *shape_name(Shape shape)
{
    switch (shape) {
    case Shape::plane: return "plane";
    case Shape::sphere: return "sphere";
    case Shape::terrain: return "terrain";
    }
    return "?";
}

Shape parse_shape(const std::string &s)
{
    if (s == "plane")
        return Shape::plane;
    if (s == "sphere")
        return Shape::sphere;
    if (s == "terrain")
        return Shape::terrain;
    throw HostError("unknown shape \"" + s + "\"; valid: plane, sphere, terrain");
}

double terrain_height(const View &v, double x, double y, double *dhdx, double *dhdy)
{
    // A few gentle waves across the view: heights within about ±relief,
    // slopes from flat to steep, the same for every plug-in.
    double a = v.relief < 0 ? v.extent * 0.25 : v.relief;
    double u = (x - v.center[0]) / v.extent, w = (y - v.center[1]) / v.extent;
    double p = two_pi * (1.1 * u + 0.15), q = two_pi * (0.9 * w - 0.1);
    double r = two_pi * (2.3 * u + 1.7 * w), s = two_pi * (3.1 * w - 1.3 * u);
    double h = 0.6 * std::sin(p) * std::cos(q) + 0.3 * std::sin(r) + 0.1 * std::cos(s);
    double k = a * two_pi / v.extent;
    if (dhdx)
        *dhdx = k * (0.66 * std::cos(p) * std::cos(q) + 0.69 * std::cos(r) + 0.13 * std::sin(s));
    if (dhdy)
        *dhdy = k * (-0.54 * std::sin(p) * std::sin(q) + 0.51 * std::cos(r) - 0.31 * std::sin(s));
    return a * h;
}

SurfacePoint surface_point(const View &v, int column, int row)
{
    SurfacePoint sp;
    double ps = pixel_size(v);
    switch (v.shape) {
    case Shape::plane: {
        double x, y;
        plane_xy(v, column, row, x, y);
        sp.hit = true;
        sp.texvec[0] = (float)x;
        sp.texvec[1] = (float)y;
        sp.texvec[2] = (float)v.center[2];
        if (v.footprint) {
            sp.has_footprint = true;
            sp.dxt[0] = (float)ps;
            sp.dyt[1] = (float)ps;
        }
        break;
    }
    case Shape::sphere: {
        double rpx = sphere_radius_px(v);
        double sx = (column + 0.5 - v.width * 0.5) / rpx;
        double sy = (v.height * 0.5 - row - 0.5) / rpx;
        double d2 = sx * sx + sy * sy;
        if (d2 >= 1.0)
            return sp;
        double nz = std::sqrt(1.0 - d2);
        double radius = v.extent * 0.5, step = radius / rpx;
        sp.hit = true;
        sp.normal[0] = sx;
        sp.normal[1] = sy;
        sp.normal[2] = nz;
        for (int k = 0; k < 3; k++)
            sp.texvec[k] = (float)(v.center[k] + radius * sp.normal[k]);
        // One pixel to the right and one up, carried onto the sphere: the
        // derivatives of the surface point along the screen axes, both in
        // the tangent plane, and (1, 0, -sx/nz) x (0, 1, -sy/nz) = N / nz.
        sp.has_footprint = true;
        sp.dxt[0] = (float)step;
        sp.dxt[2] = (float)(-step * sx / nz);
        sp.dyt[1] = (float)step;
        sp.dyt[2] = (float)(-step * sy / nz);
        break;
    }
    case Shape::terrain: {
        double x, y, hx, hy;
        plane_xy(v, column, row, x, y);
        double h = terrain_height(v, x, y, &hx, &hy);
        sp.hit = true;
        sp.texvec[0] = (float)x;
        sp.texvec[1] = (float)y;
        sp.texvec[2] = (float)(v.center[2] + h);
        // The surface's steps for one pixel along x and along y; their cross
        // product (-hx, -hy, 1) points up, out of the ground.
        sp.has_footprint = true;
        sp.dxt[0] = (float)ps;
        sp.dxt[2] = (float)(hx * ps);
        sp.dyt[1] = (float)ps;
        sp.dyt[2] = (float)(hy * ps);
        sp.normal[0] = -hx;
        sp.normal[1] = -hy;
        sp.normal[2] = 1.0;
        normalize(sp.normal);
        break;
    }
    }
    return sp;
}

void perturbed_normal(const double n[3], const float bump[3], double scale, double out[3])
{
    double b[3] = {bump[0] * scale, bump[1] * scale, bump[2] * scale};
    double along = dot(b, n);
    for (int k = 0; k < 3; k++)
        out[k] = n[k] - (b[k] - along * n[k]);
    normalize(out);
}

double diffuse(const double n[3])
{
    double l = dot(n, light_direction);
    return ambient_light + (1.0 - ambient_light) * (l > 0 ? l : 0.0);
}

std::vector<uint8_t> encode_normals(const std::vector<float> &normal)
{
    std::vector<uint8_t> rgb(normal.size());
    for (size_t i = 0; i < normal.size(); i++)
        rgb[i] = to_8bit((normal[i] + 1.0) * 0.5);
    return rgb;
}

RenderCancelled::RenderCancelled() : HostError("the render was cancelled") {}

void tileable_weights(int width, int height, int column, int row, double w[4])
{
    // The pixel centre's position across the image, from 0 at the top left
    // edge to 1 at the bottom right.
    double u = (column + 0.5) / width, v = (row + 0.5) / height;
    w[0] = (1.0 - u) * (1.0 - v);
    w[1] = u * (1.0 - v);
    w[2] = (1.0 - u) * v;
    w[3] = u * v;
}

void check_renderable(const Plugin &plugin, const View &view, const RenderOptions &options,
                      int max_side, long long max_pixels)
{
    if (view.width < 1 || view.height < 1 || view.width > max_side || view.height > max_side ||
        (long long)view.width * view.height > max_pixels)
        throw HostError("image size " + std::to_string(view.width) + "x" +
                        std::to_string(view.height) + " is not allowed (1 to " +
                        std::to_string(max_side) + " pixels a side, at most " +
                        std::to_string(max_pixels) + " pixels)");
    if (!(view.extent > 0) || !std::isfinite(view.extent))
        throw HostError("the extent must be a positive number");
    for (double c : view.center)
        if (!std::isfinite(c))
            throw HostError("the centre must be three finite numbers");
    if (options.normal_map && view.shape != Shape::plane)
        throw HostError("a normal map is baked on the plane only (use --shape plane)");
    if (options.tileable && view.shape != Shape::plane)
        throw HostError("tileable images are made on the plane only (use --shape plane)");
    if (options.stype < 0 ||
        (options.stype > 0 && options.stype >= (int)plugin.subtypes().size()))
        throw HostError("sub-type " + std::to_string(options.stype) + " does not exist");
}

namespace {

// What one plug-in call gives a pixel.
struct Sample {
    float intensity = 0;           // clipped to [0, 1], NaN as 0
    float bump[3] = {0, 0, 0};     // 0 unless the call wrote it; non-finite as 0
};

// Hands the plug-in one surface point; each thread passes its own block.
struct Sampler {
    const Plugin &plugin;
    ParamBlock block;
    int stype;
    bool shared;
    long calls = 0;

    Sample at(const SurfacePoint &sp)
    {
        float res[8];
        const float *dxt = sp.has_footprint ? sp.dxt : nullptr;
        const float *dyt = sp.has_footprint ? sp.dyt : nullptr;
        int r = shared ? plugin.sample_shared(stype, block, sp.texvec, dxt, dyt, res)
                       : plugin.sample(stype, block, sp.texvec, dxt, dyt, res);
        calls++;
        Sample s;
        s.intensity = res[0];
        if (!(s.intensity >= 0.0f))
            s.intensity = 0.0f;
        if (s.intensity > 1.0f)
            s.intensity = 1.0f;
        // Elements 5 to 7 are this sample's only when the call says so.
        if (r == RESULT_HAS_NORMAL)
            for (int k = 0; k < 3; k++)
                s.bump[k] = std::isfinite(res[5 + k]) ? res[5 + k] : 0.0f;
        return s;
    }
};

// The tileable pixel: the four points' samples mixed in double.
Sample tileable_sample(Sampler &sampler, const View &view, int col, int row)
{
    const int shift[4][2] = {{0, 0}, {-view.width, 0}, {0, -view.height}, {-view.width, -view.height}};
    double w[4], value = 0, bump[3] = {0, 0, 0};
    tileable_weights(view.width, view.height, col, row, w);
    for (int i = 0; i < 4; i++) {
        Sample s = sampler.at(surface_point(view, col + shift[i][0], row + shift[i][1]));
        value += w[i] * s.intensity;
        for (int k = 0; k < 3; k++)
            bump[k] += w[i] * s.bump[k];
    }
    Sample out;
    out.intensity = (float)value;
    for (int k = 0; k < 3; k++)
        out.bump[k] = (float)bump[k];
    return out;
}

void render_row(Sampler &sampler, const View &view, const RenderOptions &options, int row,
                Rendering &band, size_t first)
{
    for (int col = 0; col < view.width; col++) {
        const size_t at = first + (size_t)col;
        SurfacePoint sp = surface_point(view, col, row);
        if (!sp.hit)
            continue;
        Sample s = options.tileable ? tileable_sample(sampler, view, col, row) : sampler.at(sp);
        // The tilted normal shades sphere and terrain and makes the normal
        // map; a plain intensity image of the plane needs none.
        const bool shaded = view.shape != Shape::plane;
        double n[3];
        if (shaded || options.normal_map)
            perturbed_normal(sp.normal, s.bump, options.bump_scale, n);
        band.value[at] = shaded ? (float)(s.intensity * diffuse(n)) : s.intensity;
        if (options.normal_map)
            for (int k = 0; k < 3; k++)
                band.normal[at * 3 + k] = (float)n[k];
        if (options.bump)
            for (int k = 0; k < 3; k++)
                band.bump[at * 3 + k] = s.bump[k];
    }
}

} // namespace

void render_band(const Plugin &plugin, const ParamBlock &block, const View &view,
                 const RenderOptions &options, int first_row, Rendering &band,
                 const std::atomic<bool> *stop)
{
    band.width = view.width;
    const int rows = band.height;
    const size_t pixels = (size_t)view.width * rows;
    band.value.assign(pixels, 0.0f);
    band.normal.assign(options.normal_map ? pixels * 3 : 0, 0.0f);
    band.bump.assign(options.bump ? pixels * 3 : 0, 0.0f);

    // Several threads only through plugin_tex_doit_r; the shared `result`
    // allows one call at a time, so then a single thread does everything.
    bool shared = options.host_entry || !plugin.reentrant();
    int threads = options.threads > 0 ? options.threads : (int)std::thread::hardware_concurrency();
    if (threads < 1 || shared)
        threads = 1;
    threads = std::max(1, std::min(threads, rows));
    band.threads = threads;

    std::atomic<int> next_row{0}, rows_done{0};
    std::atomic<long> samples{0};
    std::atomic<bool> cancelled{false};
    std::mutex progress_lock;
    auto stopping = [&]() {
        return cancelled.load() || (options.cancel && options.cancel->load()) ||
               (stop && stop->load());
    };

    auto work = [&]() {
        Sampler sampler{plugin, block, options.stype, shared};
        for (int row; (row = next_row.fetch_add(1)) < rows;) {
            if (stopping()) {
                cancelled = true;
                break;
            }
            render_row(sampler, view, options, first_row + row, band, (size_t)row * view.width);
            int done = rows_done.fetch_add(1) + 1;
            if (options.progress) {
                std::lock_guard<std::mutex> hold(progress_lock);
                options.progress(done, rows);
            }
        }
        samples += sampler.calls;
    };

    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; t++)
        pool.emplace_back(work);
    work();
    for (std::thread &t : pool)
        t.join();
    band.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    band.samples = samples;
    if (cancelled)
        throw RenderCancelled();
}

Rendering render(const Plugin &plugin, const ParamBlock &block, const View &view,
                 const RenderOptions &options)
{
    check_renderable(plugin, view, options, max_image_side, max_image_pixels);
    Rendering out;
    out.height = view.height;
    render_band(plugin, block, view, options, 0, out);
    return out;
}

} // namespace texhost
