// The gallery: every plug-in of a folder rendered with its defaults, once per
// sub-type, and with each of its presets, as PNG swatches, one labelled contact sheet and an index.html
// that shows the swatches beside the plug-ins' widget tables.
#pragma once

#include "render.h"

#include <functional>
#include <string>
#include <vector>

namespace texhost {

struct GalleryOptions {
    std::string plugin_dir;
    std::string outdir;
    int size = 128;        // swatch side in pixels
    double extent = 4.0;   // texture-space side of each swatch
    int threads = 0;       // 0: every core
    Shape shape = Shape::plane;
};

struct Swatch {
    std::string plugin;    // display name
    std::string library;   // file name of the plug-in
    std::string subtype;   // "" for a plug-in without sub-types
    std::string preset;    // "" for the defaults
    std::string file;      // PNG file name inside outdir
};

struct GalleryResult {
    std::vector<Swatch> swatches;
    std::vector<std::string> files;     // every file written, inside outdir
    std::vector<std::string> problems;  // one line per plug-in that could not be shown
    int plugins = 0;                    // plug-ins shown
};

// File name of a swatch: the library's name without ".so", then the
// sub-type's name in lower case with '_' for anything but letters and digits.
std::string swatch_file_name(const std::string &library, const std::string &subtype);

// File name of a preset's swatch: "vamorela_preset_stone_floor.png".
std::string preset_swatch_file_name(const std::string &library, const std::string &preset);

// Throws HostError when the folder cannot be made or written or no plug-in is
// found; a plug-in that fails to load is reported in `problems` and skipped.
// `note` receives a line per swatch as it is written (may be empty).
GalleryResult make_gallery(const GalleryOptions &options,
                           const std::function<void(const std::string &)> &note);

} // namespace texhost
