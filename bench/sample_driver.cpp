// Runs a given number of shading samples of one plug-in through its host
// entry, with its defaults, on the benchmarks' stream of points. Used under
// callgrind to count instructions per sample: two runs of different lengths,
// and the difference divided by the difference in samples.
#include "bench_points.h"
#include "plugin_api.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s PLUGIN.so SAMPLES FOOTPRINT(0|1) STYPE\n", argv[0]);
        return 2;
    }
    void *handle = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    auto getinfo = (void (*)(PluginInfo *))dlsym(handle, "plugin_getinfo");
    PluginInfo info{};
    getinfo(&info);
    std::vector<int> block = default_block(info);
    const long samples = std::atol(argv[2]);
    const bool footprint = std::atoi(argv[3]) != 0;
    const int stype = std::atoi(argv[4]);
    float dxt[3] = {0.004f, 0.001f, 0.0f}, dyt[3] = {-0.001f, 0.004f, 0.0005f};
    const auto &pts = bench_points();
    double sum = 0;
    for (long i = 0; i < samples; i++) {
        const BenchPoint &p = pts[i & 4095];
        float texvec[3] = {p.x * 0.1f, p.y * 0.1f, p.z * 0.1f};
        info.tex_doit(stype, block.data(), texvec, footprint ? dxt : nullptr,
                      footprint ? dyt : nullptr);
        sum += info.result[0];
    }
    std::printf("%g\n", sum);
    return 0;
}
