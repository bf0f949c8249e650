// Writes the seed corpus of one plug-in: a few in-range inputs built from the
// plug-in's own parameter table (defaults, limits, every toggle both ways),
// with and without a footprint, on each sub-type.
//
//   fuzz_make_seeds <plugin.so> <output directory>
//
// The corpus is committed; run this again only when the input layout or a
// parameter table changes (fuzz/README.md).
#include "fuzz_input.h"
#include "plugin_api.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

uint32_t slot_of(const VarStruct &v, double value)
{
    uint32_t s = 0;
    if (v.type == VT_FLOAT_NUMBER) {
        float f = (float)value;
        std::memcpy(&s, &f, 4);
    } else {
        int n = v.type == VT_LABEL ? 0 : (int)value;
        std::memcpy(&s, &n, 4);
    }
    return s;
}

// t = 0 gives every minimum, 1 every maximum, -1 the defaults.
std::vector<uint32_t> block(const PluginInfo &info, double t)
{
    std::vector<uint32_t> cast(info.nvars);
    for (int i = 0; i < info.nvars; i++) {
        const VarStruct &v = info.varstr[i];
        double value = t < 0 ? v.def : v.min + t * ((double)v.max - v.min);
        cast[i] = slot_of(v, value);
    }
    return cast;
}

void set(const PluginInfo &info, std::vector<uint32_t> &cast, const char *label, double value)
{
    for (int i = 0; i < info.nvars; i++)
        if (std::strcmp(info.varstr[i].name, label) == 0)
            cast[i] = slot_of(info.varstr[i], value);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <plugin.so> <output directory>\n", argv[0]);
        return 2;
    }
    void *h = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        std::fprintf(stderr, "dlopen: %s\n", dlerror());
        return 1;
    }
    auto getinfo = (void (*)(PluginInfo *))dlsym(h, "plugin_getinfo");
    if (!getinfo) {
        std::fprintf(stderr, "no plugin_getinfo in %s\n", argv[1]);
        return 1;
    }
    PluginInfo info{};
    getinfo(&info);
    const int last_stype = info.stypes > 0 ? info.stypes - 1 : 0;

    std::vector<FuzzInput> seeds;
    auto add = [&](int stype, std::vector<uint32_t> cast, float x, float y, float z, bool dx,
                   bool dy) {
        FuzzInput in;
        in.stype = stype;
        in.cast = std::move(cast);
        in.texvec[0] = x, in.texvec[1] = y, in.texvec[2] = z;
        in.pass_dxt = dx, in.pass_dyt = dy;
        const float fdx[3] = {0.02f, 0.005f, 0.0f}, fdy[3] = {0.0f, 0.015f, 0.03f};
        std::memcpy(in.dxt, fdx, 12);
        std::memcpy(in.dyt, fdy, 12);
        seeds.push_back(in);
    };

    // The host's default block, one sample and a footprint of four.
    add(0, block(info, -1), 0.1f, 0.2f, 0.3f, false, false);
    auto osa = block(info, -1);
    set(info, osa, "OSA", 4);
    add(last_stype, osa, -1.7f, 4.2f, 0.9f, true, true);
    // Two-way bump, hard noise, the deepest turbulence and a narrow map range.
    auto busy = block(info, -1);
    set(info, busy, "Double Sample", 1);
    set(info, busy, "Two-way filter", 1);
    set(info, busy, "Two-way Filter", 1);
    set(info, busy, "Hard Noise", 1);
    set(info, busy, "Noise Depth", 6);
    set(info, busy, "Seed", 200);
    set(info, busy, "Map Min", 0.2);
    set(info, busy, "Map Max", 0.8);
    add(info.stypes > 1 ? 1 : 0, busy, 12.5f, -3.25f, -7.0f, true, true);
    // Every parameter at its maximum, far from the origin, bump off.
    auto high = block(info, 1);
    set(info, high, "BumpMap", 0);
    add(last_stype, high, -37.5f, 12.25f, 101.0f, false, false);
    // Every parameter at its minimum, a footprint without dyt.
    add(0, block(info, 0), 0.75f, -0.5f, 2.0f, true, false);

    std::filesystem::create_directories(argv[2]);
    for (size_t i = 0; i < seeds.size(); i++) {
        auto bytes = encode_fuzz_input(seeds[i]);
        std::string path = std::string(argv[2]) + "/seed-" + std::to_string(i + 1);
        std::ofstream(path, std::ios::binary).write((const char *)bytes.data(), bytes.size());
    }
    std::printf("%zu seeds for %s in %s\n", seeds.size(), info.name, argv[2]);
    return 0;
}
