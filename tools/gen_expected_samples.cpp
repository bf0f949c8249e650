// Renders the fixed sample set of every plug-in through dlopen, as the host
// does, and writes the expected-samples file that the determinism test
// compares with bit for bit. Regenerating that file is a deliberate step
// (tests/data/README.md): any change it shows is a change in results.
//
//   gen_expected_samples <plugin dir> <output file> [--partial]
//
// All five plug-ins must be built unless --partial is given, which writes
// the ones that are and names the others.
#include "gen_expected_samples.h"

#include <dlfcn.h>
#include <fstream>
#include <iostream>

int main(int argc, char **argv)
{
    if (argc < 3 || argc > 4 || (argc == 4 && std::string(argv[3]) != "--partial")) {
        std::cerr << "usage: " << argv[0] << " <plugin dir> <output file> [--partial]\n";
        return 2;
    }
    const bool partial = argc == 4;
    std::ofstream out(argv[2]);
    if (!out) {
        std::cerr << "cannot write " << argv[2] << "\n";
        return 1;
    }
    out << "# Expected output of every plug-in on a fixed sample set, bit for bit.\n"
           "# Written by gen_expected_samples; see tests/data/README.md before regenerating.\n"
           "# plugin stype case block texvec dxt dyt ret r0 r5 r6 r7\n";
    int missing = 0;
    size_t lines = 0;
    for (const std::string &plugin : samples::deliverables()) {
        const std::string path = std::string(argv[1]) + "/" + plugin + ".so";
        void *h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!h) {
            std::cerr << (partial ? "skipping " : "missing ") << plugin << ": " << dlerror()
                      << "\n";
            missing++;
            continue;
        }
        auto getinfo = (void (*)(PluginInfo *))dlsym(h, "plugin_getinfo");
        if (!getinfo) {
            std::cerr << plugin << " has no plugin_getinfo\n";
            return 1;
        }
        PluginInfo info{};
        getinfo(&info);
        for (const samples::Sample &s : samples::sample_set(info)) {
            out << samples::format_line(plugin, s, samples::render(info, s)) << "\n";
            lines++;
        }
        dlclose(h);
    }
    std::cerr << "wrote " << lines << " samples to " << argv[2] << "\n";
    return missing > 0 && !partial ? 1 : 0;
}
