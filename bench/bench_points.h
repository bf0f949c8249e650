// A fixed stream of points that changes lattice cell on almost every call,
// so that the benchmarks measure noise evaluation, not one cached cell.
#pragma once

#include "plugin_api.h"

#include <cstdint>
#include <cstring>
#include <vector>

struct BenchPoint {
    float x, y, z;
};

inline const std::vector<BenchPoint> &bench_points()
{
    static const std::vector<BenchPoint> points = [] {
        std::vector<BenchPoint> p(4096);
        uint64_t state = 0x9E3779B97F4A7C15ull;
        auto next = [&] {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            return (float)((state >> 40) * (1.0 / 16777216.0)) * 40.0f - 20.0f;
        };
        for (auto &q : p)
            q = {next(), next(), next()};
        return p;
    }();
    return points;
}

// The parameter block a host builds from the widget defaults: floats as
// floats, ints from the float default.
inline std::vector<int> default_block(const PluginInfo &info)
{
    std::vector<int> block(info.nvars);
    for (int i = 0; i < info.nvars; i++) {
        const VarStruct &v = info.varstr[i];
        if (v.type == VT_FLOAT_NUMBER)
            std::memcpy(&block[i], &v.def, 4);
        else
            block[i] = (int)v.def;
    }
    return block;
}
