// One plugin_tex_doit call per shading sample, through the loaded library as
// a host calls it, with each plug-in's defaults, with and without footprint.
#include "bench_points.h"
#include "plugin_api.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <dlfcn.h>
#include <string>
#include <vector>

namespace {

struct Plugin {
    void *handle = nullptr;
    PluginInfo info{};
    std::vector<int> block;

    explicit Plugin(const char *deliverable)
    {
        std::string path = std::string(PLUGIN_DIR) + "/" + deliverable + ".so";
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return;
        auto getinfo = (void (*)(PluginInfo *))dlsym(handle, "plugin_getinfo");
        getinfo(&info);
        block = default_block(info);
    }
};

void run(benchmark::State &state, const char *deliverable, bool footprint)
{
    static Plugin *loaded[8] = {};
    static const char *names[8] = {};
    Plugin *plugin = nullptr;
    for (int k = 0; k < 8 && !plugin; k++) {
        if (names[k] && std::strcmp(names[k], deliverable) == 0)
            plugin = loaded[k];
        else if (!names[k]) {
            names[k] = deliverable;
            plugin = loaded[k] = new Plugin(deliverable);
        }
    }
    if (!plugin->handle) {
        state.SkipWithError("plug-in not built");
        return;
    }
    const auto &pts = bench_points();
    float dxt[3] = {0.004f, 0.001f, 0.0f}, dyt[3] = {-0.001f, 0.004f, 0.0005f};
    size_t i = 0;
    for (auto _ : state) {
        const BenchPoint &p = pts[i++ & 4095];
        float texvec[3] = {p.x * 0.1f, p.y * 0.1f, p.z * 0.1f};
        int r = plugin->info.tex_doit(0, plugin->block.data(), texvec, footprint ? dxt : nullptr,
                                      footprint ? dyt : nullptr);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(plugin->info.result[0]);
    }
}

#define PLUGIN_BENCH(deliverable)                                                                  \
    BENCHMARK_CAPTURE(run, deliverable##_footprint, #deliverable, true);                           \
    BENCHMARK_CAPTURE(run, deliverable##_no_footprint, #deliverable, false);

PLUGIN_BENCH(harvoske)
PLUGIN_BENCH(quelmi)
PLUGIN_BENCH(pellosca)
PLUGIN_BENCH(delmorasquintava)
PLUGIN_BENCH(vamorela)

} // namespace
