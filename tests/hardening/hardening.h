// What the hardening tests share: which plug-ins this build makes, and their
// fixed interface constants.
#pragma once

#include "plugin_fixture.h"

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace hardening {

struct Deliverable {
    const char *name;    // library file name without ".so"
    const char *display; // the exported `name`
    int stypes;
    int nvars;
};

// Test names and messages show the deliverable's name.
inline void PrintTo(const Deliverable &d, std::ostream *os) { *os << d.name; }

inline const std::vector<Deliverable> &five()
{
    static const std::vector<Deliverable> all = {
        {"harvoske", "Harvoske", 0, 12},
        {"quelmi", "Quelmi", 0, 13},
        {"pellosca", "Pellosca", 3, 14},
        {"delmorasquintava", "Delmorasquintava", 3, 24},
        {"vamorela", "Vamorela", 2, 20},
    };
    return all;
}

// The plug-ins this build defines (BUILT_PLUGINS, a comma-separated list set
// by CMake). A plug-in the build defines must exist as a library; one it
// does not define yet is skipped.
inline bool in_build(const std::string &name)
{
    std::istringstream in(BUILT_PLUGINS);
    std::string item;
    while (std::getline(in, item, ','))
        if (item == name)
            return true;
    return false;
}

inline std::vector<std::string> built()
{
    std::vector<std::string> out;
    for (const auto &d : five())
        if (in_build(d.name))
            out.push_back(d.name);
    return out;
}

} // namespace hardening
