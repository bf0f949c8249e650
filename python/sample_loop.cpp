// The yardstick for texhost.Plugin.sample: the plain C loop over the same
// points, plugin_tex_doit_r once per point with the default block, on every
// core, chunks handed to threads as they come free. Prints the wall-clock and
// the processor seconds the loop took (loading and file input excluded, the
// processor time of all threads together) and writes the intensities
// and bump vectors, so that the benchmark can check both give the same bits.
//
//   sample_loop PLUGIN.so POINTS.f32 OUT.f32 [THREADS]
//
// POINTS.f32 holds N x 3 native float32; OUT.f32 receives N intensities,
// then N x 3 bump floats (zero where the call did not return a normal).
#include "../bench/bench_points.h"
#include "plugin_api.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <thread>
#include <vector>

namespace {

std::vector<float> read_floats(const char *path)
{
    std::vector<float> v;
    FILE *f = std::fopen(path, "rb");
    if (!f)
        return v;
    float buf[4096];
    size_t n;
    while ((n = std::fread(buf, sizeof(float), 4096, f)) > 0)
        v.insert(v.end(), buf, buf + n);
    std::fclose(f);
    return v;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s PLUGIN.so POINTS.f32 OUT.f32 [THREADS]\n", argv[0]);
        return 2;
    }
    void *handle = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    auto getinfo = handle ? (void (*)(PluginInfo *))dlsym(handle, "plugin_getinfo") : nullptr;
    auto doit_r = handle ? (TexDoitR)dlsym(handle, "plugin_tex_doit_r") : nullptr;
    if (!getinfo || !doit_r) {
        std::fprintf(stderr, "%s: not a plug-in with plugin_tex_doit_r\n", argv[1]);
        return 1;
    }
    PluginInfo info{};
    getinfo(&info);
    if (info.init)
        info.init();
    const std::vector<int> block = default_block(info);
    const std::vector<float> points = read_floats(argv[2]);
    const size_t n = points.size() / 3;
    int threads = argc == 5 ? std::atoi(argv[4]) : 0;
    if (threads < 1)
        threads = std::max(1u, std::thread::hardware_concurrency());

    std::vector<float> out(n * 4);
    float *intensity = out.data(), *bump = out.data() + n;
    constexpr size_t chunk = 4096;
    const size_t chunks = (n + chunk - 1) / chunk;
    std::atomic<size_t> next{0};
    auto work = [&]() {
        std::vector<int> own = block;
        for (size_t c; (c = next.fetch_add(1)) < chunks;)
            for (size_t i = c * chunk; i < std::min(n, (c + 1) * chunk); i++) {
                float p[3] = {points[3 * i], points[3 * i + 1], points[3 * i + 2]};
                float r[8] = {0};
                int ret = doit_r(0, own.data(), p, nullptr, nullptr, r);
                intensity[i] = r[0];
                for (int k = 0; k < 3; k++)
                    bump[3 * i + k] = ret == RESULT_HAS_NORMAL ? r[5 + k] : 0.0f;
            }
    };
    auto cpu = []() {
        timespec t;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return t.tv_sec + t.tv_nsec * 1e-9;
    };
    const double cpu_start = cpu();
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; t++)
        pool.emplace_back(work);
    work();
    for (std::thread &t : pool)
        t.join();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double cpu_seconds = cpu() - cpu_start;

    FILE *f = std::fopen(argv[3], "wb");
    if (!f || std::fwrite(out.data(), sizeof(float), out.size(), f) != out.size() || std::fclose(f)) {
        std::fprintf(stderr, "cannot write %s\n", argv[3]);
        return 1;
    }
    std::printf("%.6f %.6f\n", seconds, cpu_seconds);
    return 0;
}
