// The stand-in host's render throughput, in shading samples per second, on
// one thread and on every core, with the clouds defaults and a footprint.
#include "loader.h"
#include "render.h"

#include <benchmark/benchmark.h>

#include <string>
#include <thread>

namespace {

void render_throughput(benchmark::State &state, const char *deliverable)
{
    auto plugin = texhost::Plugin::open(std::string(PLUGIN_DIR) + "/" + deliverable + ".so");
    texhost::ParamBlock block = plugin->defaults();
    texhost::View view;
    view.width = view.height = 256;
    view.footprint = true;
    texhost::RenderOptions options;
    options.threads = (int)state.range(0);
    long samples = 0;
    for (auto _ : state) {
        texhost::Rendering r = texhost::render(*plugin, block, view, options);
        samples += r.samples;
        benchmark::DoNotOptimize(r.value.data());
    }
    state.counters["samples_per_second"] =
        benchmark::Counter((double)samples, benchmark::Counter::kIsRate);
}

const int all_cores = (int)std::thread::hardware_concurrency();
BENCHMARK_CAPTURE(render_throughput, harvoske, "harvoske")
    ->Arg(1)
    ->Arg(all_cores)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
