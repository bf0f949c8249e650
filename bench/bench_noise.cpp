// turb per call, beside one-octave gradient noise from two well-known
// libraries, on the same points and at the same lattice density; turb on the
// noise path chosen automatically (path:-1) and on each path this processor
// has.
#include "bench_main.h"
#include "bench_points.h"
#include "noise.h"

#include <benchmark/benchmark.h>

#ifdef HAVE_STB_PERLIN
#define STB_PERLIN_IMPLEMENTATION
#include <stb_perlin.h>
#endif
#ifdef HAVE_LIBNOISE
#include <libnoise/noise.h>
#endif

namespace {

constexpr float kNoiseSize = 0.25f; // cells per unit: 4

// The noise path a benchmark runs on: its argument, or the automatic choice.
bool use_path(benchmark::State &state)
{
    if (state.range(0) < 0)
        return use_noise_lanes(automatic_noise_lanes);
    if (use_noise_lanes((NoiseLanes)state.range(0)))
        return true;
    state.SkipWithError("noise path not available here");
    return false;
}

void noise_paths(benchmark::internal::Benchmark *b)
{
    b->ArgName("path")->Arg(-1);
    for (NoiseLanes lanes : all_noise_lanes)
        b->Arg((int)lanes);
}

void BM_turb(benchmark::State &state)
{
    if (!use_path(state))
        return;
    const auto &pts = bench_points();
    size_t i = 0;
    float vec[3];
    for (auto _ : state) {
        const BenchPoint &p = pts[i++ & 4095];
        turb(kNoiseSize, p.x, p.y, p.z, vec, 0);
        benchmark::DoNotOptimize(vec);
    }
}
BENCHMARK(BM_turb)->Apply(noise_paths);

void BM_recursive_turb_3_octaves(benchmark::State &state)
{
    use_noise_lanes(automatic_noise_lanes);
    const auto &pts = bench_points();
    size_t i = 0;
    float vec[3];
    for (auto _ : state) {
        const BenchPoint &p = pts[i++ & 4095];
        recursive_turb(kNoiseSize, 0.5f, 0, p.x, p.y, p.z, vec, 2, 0);
        benchmark::DoNotOptimize(vec);
    }
}
BENCHMARK(BM_recursive_turb_3_octaves);

#ifdef HAVE_STB_PERLIN
void BM_peer_stb_perlin_noise3(benchmark::State &state)
{
    const auto &pts = bench_points();
    size_t i = 0;
    for (auto _ : state) {
        const BenchPoint &p = pts[i++ & 4095];
        float v = stb_perlin_noise3(p.x * 4.0f, p.y * 4.0f, p.z * 4.0f, 0, 0, 0);
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_peer_stb_perlin_noise3);
#endif

#ifdef HAVE_LIBNOISE
void BM_peer_libnoise_perlin_1_octave(benchmark::State &state)
{
    const auto &pts = bench_points();
    noise::module::Perlin perlin;
    perlin.SetOctaveCount(1);
    perlin.SetFrequency(4.0);
    size_t i = 0;
    for (auto _ : state) {
        const BenchPoint &p = pts[i++ & 4095];
        double v = perlin.GetValue(p.x, p.y, p.z);
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_peer_libnoise_perlin_1_octave);
#endif

} // namespace

namespace {
// turb per call when independent calls are evaluated together, as the
// plug-ins do for the points of one shading sample.
void BM_turb_batched_8(benchmark::State &state)
{
    if (!use_path(state))
        return;
    const auto &pts = bench_points();
    float x[8], y[8], z[8], vec[8][3];
    size_t i = 0;
    for (auto _ : state) {
        for (int l = 0; l < 8; l++) {
            const BenchPoint &p = pts[(i + l) & 4095];
            x[l] = p.x;
            y[l] = p.y;
            z[l] = p.z;
        }
        i += 8;
        turb_batch(8, kNoiseSize, x, y, z, vec, 0);
        benchmark::DoNotOptimize(vec);
    }
    state.SetItemsProcessed(state.iterations() * 8);
}
BENCHMARK(BM_turb_batched_8)->Apply(noise_paths);
} // namespace
