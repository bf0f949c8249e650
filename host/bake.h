// Bakes: a texture rendered in bands of rows on every core and streamed to
// its image files as the bands are done, so that memory stays bounded for
// any image size. Outputs: the intensity as 8-bit or 16-bit grayscale PNG or
// as 32-bit float OpenEXR, a tangent-space normal map (PNG RGB) and a packed
// image for engines (PNG RGBA: the normal map in RGB, the intensity in A).
#pragma once

#include "exr.h"
#include "render.h"

#include <string>

namespace texhost {

// The tool's version, recorded in the files it bakes.
extern const char texhost_version[];

// Largest side and pixel count of a bake; in-memory renders have their own
// limits (max_image_side, max_image_pixels).
constexpr int max_bake_side = 32768;
constexpr long long max_bake_pixels = 32768LL * 32768;

enum class ImageFormat { png, exr };
// ".exr" in any case is OpenEXR; anything else PNG.
ImageFormat format_of_path(const std::string &path);
// "png" or "exr"; throws HostError otherwise.
ImageFormat parse_format(const std::string &s);

struct BakeOutputs {
    std::string image;                        // the intensity (or shaded intensity)
    ImageFormat image_format = ImageFormat::png;
    int bits = 8;                             // PNG intensity and packed image: 8 or 16
    ExrCompression exr_compression = ExrCompression::piz;
    std::string normal_map;                   // PNG RGB, 8 bits
    std::string pack;                         // PNG RGBA, `bits` bits
};

struct BakeResult {
    int threads = 1;
    long samples = 0;   // plug-in calls made
    double seconds = 0;
    int bands = 0;
};

// Renders the view and writes every output `outputs` names, with exactly
// the pixels render() gives the image. Each output is created first, under a
// temporary name beside it, so that an unwritable one fails before any
// rendering; all of them get their names only once every one is complete.
// On any failure, and on RenderCancelled, the temporaries are removed and
// nothing appears under the requested names. `band_rows` sets the rows
// rendered at a time (0: about a million pixels' worth).
BakeResult bake(const Plugin &plugin, const ParamBlock &block, const View &view,
                const RenderOptions &options, const BakeOutputs &outputs, int band_rows = 0);

} // namespace texhost
