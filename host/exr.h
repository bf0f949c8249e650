// OpenEXR files of a bake, written band by band: 32-bit float channels "Y"
// (the intensity) and, with the bump vector, "bump.X", "bump.Y", "bump.Z";
// the header records the plug-in, its sub-type and parameters, the view
// and the tool's version.
#pragma once

#include "render.h"

#include <cstdio>
#include <memory>
#include <string>

namespace texhost {

// Lossless, all of them. Noise-like float data hardly compresses: PIZ saves
// about a sixth and ZIP a twentieth of a clouds image, at a cost in time
// near that of rendering it; flat patterns (bricks) shrink tenfold with both.
enum class ExrCompression { none, zip, piz };
// "none", "zip" or "piz"; throws HostError otherwise.
ExrCompression parse_exr_compression(const std::string &s);

class ExrWriter {
public:
    // Writes the header to `file` (which must allow seeking). `bump`: write
    // the bump channels from Rendering::bump.
    ExrWriter(FILE *file, const Plugin &plugin, const ParamBlock &block, const View &view,
              const RenderOptions &options, bool bump, ExrCompression compression);
    ~ExrWriter();
    ExrWriter(const ExrWriter &) = delete;
    ExrWriter &operator=(const ExrWriter &) = delete;

    // The next band of rows, top to bottom; `band` holds rows first_row on.
    void write_rows(const Rendering &band, int first_row);
    // Writes the offset table that completes the file.
    void finish();

    struct State;

private:
    std::unique_ptr<State> state_;
};

} // namespace texhost
