// The tables, the reproducible random number, the turbulence, and the choice
// of the machine path that evaluates the noise (noise_lanes_*.cpp).
#include "noise.h"
#include "noise_paths.h"

#include <atomic>
#include <cstring>

// The permutation of 0..255 behind every table lookup.
#define HASH_VALUES                                                                                \
    198, 12,  146, 95,  44,  18,  240, 28,  151, 32,  45,  20,  30,  23,  141, 248,                \
    168, 254, 178, 85,  92,  216, 236, 175, 47,  88,  67,  136, 234, 1,   72,  106,                \
    79,  220, 24,  171, 26,  224, 128, 137, 223, 16,  105, 195, 231, 183, 29,  132,                \
    241, 122, 252, 135, 5,   181, 130, 213, 49,  204, 70,  176, 144, 35,  64,  104,                \
    19,  39,  46,  13,  246, 233, 9,   177, 31,  61,  154, 117, 129, 75,  139, 118,                \
    68,  42,  207, 86,  112, 27,  158, 8,   247, 250, 109, 163, 242, 52,  160, 164,                \
    43,  83,  62,  190, 57,  155, 169, 98,  6,   51,  38,  150, 80,  84,  114, 14,                 \
    253, 194, 4,   138, 101, 25,  60,  97,  167, 188, 148, 209, 77,  192, 131, 227,                \
    36,  191, 237, 76,  214, 17,  251, 81,  71,  123, 119, 232, 0,   244, 87,  53,                 \
    66,  126, 187, 110, 107, 2,   212, 93,  74,  211, 249, 63,  102, 113, 255, 11,                 \
    173, 197, 166, 157, 226, 124, 90,  199, 59,  10,  100, 140, 89,  208, 221, 37,                 \
    33,  230, 121, 174, 189, 165, 149, 34,  179, 15,  108, 40,  55,  91,  7,   200,                \
    147, 120, 134, 56,  184, 133, 115, 202, 245, 94,  82,  152, 116, 143, 210, 206,                \
    145, 203, 193, 127, 180, 125, 22,  159, 142, 156, 219, 111, 99,  217, 96,  41,                 \
    162, 228, 3,   161, 58,  229, 153, 235, 215, 54,  205, 50,  218, 103, 69,  21,                 \
    48,  186, 170, 73,  65,  222, 238, 225, 78,  172, 185, 196, 182, 239, 201, 243

const unsigned char hash[256] = {HASH_VALUES};

// The permutation twice over, and the offset of gradient row hash[i & 255]
// in hashvectf_wide: indexed by the sum of two bytes, they need no wrapping.
const unsigned char hash_twice[512] = {HASH_VALUES, HASH_VALUES};
namespace {
constexpr unsigned char hash_values[256] = {HASH_VALUES};
struct RowOffsets {
    uint32_t offset[512];
};
constexpr RowOffsets row_offsets()
{
    RowOffsets r{};
    for (int i = 0; i < 512; i++)
        r.offset[i] = 4u * hash_values[i & 255];
    return r;
}
constexpr RowOffsets gradient_rows = row_offsets();
} // namespace
const uint32_t *const gradient_row_twice = gradient_rows.offset;

namespace {

const NoisePath *path_of(NoiseLanes lanes)
{
#ifdef NOISE_X86_PATHS
    if (lanes == NoiseLanes::avx2)
        return &avx2_noise_path;
    if (lanes == NoiseLanes::avx512)
        return &avx512_noise_path;
#endif
    return lanes == NoiseLanes::portable ? &portable_noise_path : nullptr;
}

bool processor_has(NoiseLanes lanes)
{
#ifdef NOISE_X86_PATHS
    __builtin_cpu_init();
    if (lanes == NoiseLanes::avx2)
        return __builtin_cpu_supports("avx2");
    if (lanes == NoiseLanes::avx512)
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
#endif
    return lanes == NoiseLanes::portable;
}

NoiseLanes widest_available()
{
    NoiseLanes best = NoiseLanes::portable;
    for (NoiseLanes lanes : all_noise_lanes)
        if (noise_lanes_available(lanes))
            best = lanes;
    return best;
}

std::atomic<const NoisePath *> chosen_path{nullptr};

const NoisePath &active_path()
{
    const NoisePath *p = chosen_path.load(std::memory_order_relaxed);
    if (!p) {
        p = path_of(widest_available());
        chosen_path.store(p, std::memory_order_relaxed);
    }
    return *p;
}

} // namespace

const char *noise_lanes_name(NoiseLanes lanes)
{
    switch (lanes) {
    case NoiseLanes::portable:
        return "portable";
    case NoiseLanes::avx2:
        return "avx2";
    case NoiseLanes::avx512:
        return "avx512";
    }
    return "?";
}

int noise_lane_width(NoiseLanes lanes) { return lanes == NoiseLanes::avx512 ? 8 : 4; }

bool noise_lanes_available(NoiseLanes lanes)
{
    return path_of(lanes) != nullptr && processor_has(lanes);
}

NoiseLanes noise_lanes() { return active_path().lanes; }

bool use_noise_lanes(NoiseLanes lanes)
{
    if (!noise_lanes_available(lanes))
        return false;
    chosen_path.store(path_of(lanes), std::memory_order_relaxed);
    return true;
}

void turb(float noisesize, float xc, float yc, float zc, float *vec, int seed)
{
    active_path().turb(noisesize, xc, yc, zc, vec, seed);
}

void turb_batch(int n, float size, const float *x, const float *y, const float *z,
                float (*vec)[3], int seed)
{
    if (size == 0.0f) {
        for (int i = 0; i < n; i++)
            vec[i][0] = vec[i][1] = vec[i][2] = 0.0f;
        return;
    }
    const NoisePath &path = active_path();
    constexpr int chunk = 64;
    float ox[chunk], oy[chunk], oz[chunk];
    for (int i = 0; i < n; i += chunk) {
        const int m = n - i < chunk ? n - i : chunk;
        path.noise({1, &size, m, x + i, y + i, z + i, ox, oy, oz, seed});
        for (int l = 0; l < m; l++) {
            vec[i + l][0] = ox[l];
            vec[i + l][1] = oy[l];
            vec[i + l][2] = oz[l];
        }
    }
}

namespace {
// Fold an octave: scale by (|sum| + 2) with the sum's sign, so the octave's
// component sum is never negative.
inline void hard_fold(float *tvec)
{
    float total = (float)((double)tvec[0] + tvec[1] + tvec[2]);
    total = total < 0.0f ? (float)(total - 2.0) : (float)(total + 2.0);
    tvec[0] = tvec[0] * total;
    tvec[1] = tvec[1] * total;
    tvec[2] = tvec[2] * total;
}
} // namespace

void recursive_turb(float noisesize, float falloff, int hard, float x, float y, float z, float *vec,
                    int nr, int seed)
{
    if (nr < 0)
        nr = 0;
    if (nr > max_noise_depth)
        nr = max_noise_depth;

    float d = 1.0f, div = 0.0f;
    vec[0] = vec[1] = vec[2] = 0.0f;
    while (nr >= 0) {
        float tvec[3];
        turb(noisesize * d, x, y, z, tvec, seed);
        if (hard)
            hard_fold(tvec);
        vec[0] = (float)((double)tvec[0] * d + vec[0]);
        vec[1] = (float)((double)tvec[1] * d + vec[1]);
        vec[2] = (float)((double)tvec[2] * d + vec[2]);
        div = div + d;
        d = d * falloff;
        // Every octave after the second shrinks by 0.61, whatever the caller's falloff.
        falloff = 0.61f;
        nr--;
    }
    vec[0] = vec[0] / div;
    vec[1] = vec[1] / div;
    vec[2] = vec[2] / div;
}

void point_turbulance(float noise_size, float falloff, int hard, float x, float y, float z,
                      float *vec, int depth, int seed)
{
    recursive_turb(noise_size, falloff, hard, x, y, z, vec, depth, seed);
}

void point_turbulance_batch(float noise_size, float falloff, int hard, const TurbulencePoints &p,
                            float (*vec)[3], int depth, int seed)
{
    if (p.count <= 0 || p.count > max_turbulence_batch)
        return;
    if (depth < 0)
        depth = 0;
    if (depth > max_noise_depth)
        depth = max_noise_depth;
    const int octaves = depth + 1;

    // Octave weights and cell sizes, as recursive_turb steps through them.
    float weight[max_noise_depth + 1], size[max_noise_depth + 1];
    float d = 1.0f;
    for (int k = 0; k < octaves; k++) {
        weight[k] = d;
        size[k] = noise_size * d;
        d = d * falloff;
        falloff = 0.61f;
    }
    // Every (octave, point) pair is an independent turb, each lane with its
    // own cell size; the path then sums each point's octaves in order.
    active_path().turbulence({octaves, size, weight, hard, &p, vec, seed});
}

void point_turbulance_batch(float noise_size, float falloff, int hard, int n, const float *x,
                            const float *y, const float *z, float (*vec)[3], int depth, int seed)
{
    TurbulencePoints p;
    if (n > max_turbulence_batch)
        n = max_turbulence_batch;
    for (int i = 0; i < n; i++)
        p.add(x[i], y[i], z[i]);
    point_turbulance_batch(noise_size, falloff, hard, p, vec, depth, seed);
}
