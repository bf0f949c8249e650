// Presets: named looks of a plug-in, kept as parameter files in the
// repository's presets/<library>/<name>.txt and built into the tool. A
// preset is an ordinary parameter file ("label = value" lines); two optional
// comment lines say how it is best seen, and are read only here:
//   # sub-type: 2D
//   # shape: terrain
// Loaded as a plain parameter file (--params), it sets the values only.
#pragma once

#include "loader.h"
#include "render.h"

#include <string>
#include <vector>

namespace texhost {

struct Preset {
    std::string name;      // the file name without ".txt", e.g. "running_bond_wall"
    std::string subtype;   // "" when the preset names none
    std::string shape;     // "" when the preset names none
    std::string text;      // the whole file
    std::string origin;    // where it came from, for error messages
};

// The library's file name without folder and ".so" ("vamorela").
std::string library_stem(const std::string &path);

// Reads the preset header lines of `text`; throws HostError for a malformed one.
Preset parse_preset(const std::string &name, const std::string &text, const std::string &origin);

// The built-in presets of a library (by its stem), sorted by name.
std::vector<Preset> presets_for(const std::string &stem);

// A built-in preset by name (case-insensitive, spaces and '_' alike), or a
// preset file when `name_or_path` contains '/' or ends in ".txt"; throws
// HostError listing the names there are.
Preset find_preset(const std::string &stem, const std::string &name_or_path);

// Applies the preset's values on top of `block`; returns the sub-type it
// names, or -1 when it names none. Throws HostError for a value the plug-in
// does not accept, naming the preset.
int apply_preset(const Preset &preset, const Plugin &plugin, ParamBlock &block);

} // namespace texhost
