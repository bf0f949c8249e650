// Rendering a texture through a loaded plug-in: a flat slice of texture
// space, a lit sphere or a lit height field, optionally with a tangent-space
// normal map baked from the bump vector; rows are shared among threads.
#pragma once

#include "loader.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace texhost {

enum class Shape { plane, sphere, terrain };
const char *shape_name(Shape shape);
// "plane", "sphere" or "terrain"; throws HostError otherwise.
Shape parse_shape(const std::string &s);

// What is seen and how it maps to texture space.
struct View {
    int width = 256, height = 256;
    double extent = 4.0;             // texture-space width of the square (plane, terrain)
                                     // or diameter of the sphere
    double center[3] = {0, 0, 0};    // texture-space point at the image centre
    Shape shape = Shape::plane;
    bool footprint = false;          // plane: pass the pixel's size as dxt, dyt
    double relief = -1;              // terrain: amplitude of the hills; below 0: extent / 4
};

// One pixel's sample: where it hits the surface and what the plug-in gets.
struct SurfacePoint {
    bool hit = false;                // false outside the sphere
    float texvec[3] = {0, 0, 0};
    bool has_footprint = false;
    float dxt[3] = {0, 0, 0}, dyt[3] = {0, 0, 0};
    double normal[3] = {0, 0, 1};    // unit surface normal, towards the viewer
};

// The sample of pixel (column, row), row 0 at the top. Plane and terrain look
// down the z axis with x to the right and y up; the sphere is seen from +z.
// Sphere and terrain always carry a footprint: the pixel's extent along the
// surface's two tangent directions, ordered so that dxt x dyt points outwards.
SurfacePoint surface_point(const View &view, int column, int row);

// The terrain's height above center z at (x, y), and its slope.
double terrain_height(const View &view, double x, double y, double *dhdx, double *dhdy);

// Direction towards the light of the shaded previews, unit length.
extern const double light_direction[3];
constexpr double ambient_light = 0.15;

// The surface normal tilted by the bump vector: its part across the normal is
// taken off, so the surface rises where the intensity grows.
void perturbed_normal(const double normal[3], const float bump[3], double scale, double out[3]);
// Lambert shading with the ambient floor, for a unit normal.
double diffuse(const double normal[3]);

// Thrown by render when options.cancel became true; the render stops within a row.
class RenderCancelled : public HostError {
public:
    RenderCancelled();
};

struct RenderOptions {
    int stype = 0;
    int threads = 0;           // 0: every core
    bool normal_map = false;   // plane only
    bool host_entry = false;   // use plugin_tex_doit and `result` even if plugin_tex_doit_r exists
    double bump_scale = 1.0;   // strength of the bump vector in shading and normal maps
    bool bump = false;         // keep the bump vector per pixel (Rendering::bump)
    // Called now and then with the rows done so far, from any render thread.
    std::function<void(int done, int total)> progress;
    const std::atomic<bool> *cancel = nullptr; // checked at least once per row
    // Plane only: the image repeats without a seam when laid edge to edge.
    // Every pixel mixes the texture at its own point and at the points one
    // image width to the left, one image height up and both, with weights
    // that go linearly across the image (see tileable_weights).
    bool tileable = false;
};

struct Rendering {
    int width = 0, height = 0;
    // Per pixel: the plug-in's intensity (plane; the bits of `result` element
    // 0, which lies in [0, 1]; anything outside is clipped, NaN reads as 0),
    // or the shaded intensity (sphere, terrain).
    std::vector<float> value;
    std::vector<float> normal; // with normal_map: tangent-space x, y, z per pixel
    std::vector<float> bump;   // with bump: `result` elements 5 to 7 per pixel (0 without them)
    int threads = 1;
    long samples = 0;          // plug-in calls made
    double seconds = 0;
};

// Throws HostError for a view or option that cannot be rendered, and
// RenderCancelled when options.cancel becomes true.
Rendering render(const Plugin &plugin, const ParamBlock &block, const View &view,
                 const RenderOptions &options);

// Throws HostError when the view or options cannot be rendered at all, or
// when a side exceeds `max_side` or the image `max_pixels`.
void check_renderable(const Plugin &plugin, const View &view, const RenderOptions &options,
                      int max_side, long long max_pixels);

// Renders rows first_row .. first_row + band.height - 1 of the view into
// `band` (band.width must be view.width; the buffers are resized), with the
// same values the whole image has there. options.progress receives the rows
// of this band done. Stops with RenderCancelled when options.cancel or
// `stop` becomes true. Does not check the view: see check_renderable.
void render_band(const Plugin &plugin, const ParamBlock &block, const View &view,
                 const RenderOptions &options, int first_row, Rendering &band,
                 const std::atomic<bool> *stop = nullptr);

// Rows of a band for images `width` pixels wide: about a million pixels, so
// that a streamed image holds little memory and every band keeps all cores busy.
inline int band_rows_for(int width) { return width >= (1 << 20) ? 1 : (1 << 20) / width; }

// The weights of a tileable image's four points for pixel (column, row):
// the pixel's own point, one width to the left (x - W), one height up the
// image (texture y + H) and both. They go linearly from the top left corner,
// where the pixel's own point has nearly all the weight, to the bottom right,
// where the point shifted both ways has it, so that the last column flows
// into the first and the last row into the first.
void tileable_weights(int width, int height, int column, int row, double weights[4]);

// Normal map texels: each component mapped from [-1, 1] to 0..255.
std::vector<uint8_t> encode_normals(const std::vector<float> &normal);

// Largest image side and pixel count accepted.
constexpr int max_image_side = 16384;
constexpr long max_image_pixels = 64L * 1024 * 1024;

} // namespace texhost
