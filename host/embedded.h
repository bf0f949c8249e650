// Files built into the tool (see embed.cmake): the presets and the pages of
// the preview server, so that the installed tool needs no files beside it.
#pragma once

#include <cstddef>
#include <string>

namespace texhost {

struct EmbeddedFile {
    const char *name;            // path relative to its folder in the sources
    const unsigned char *data;
    size_t size;

    std::string text() const { return std::string((const char *)data, size); }
};

// Each table ends with an entry whose name is null.
extern const EmbeddedFile *embedded_presets; // presets/<library>/<name>.txt
extern const EmbeddedFile *embedded_web;     // web/<file> (only in the texhost tool)

} // namespace texhost
