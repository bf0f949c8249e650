// The machine paths of the noise, one per instruction set (noise_lanes_*.cpp),
// and what noise.cpp hands them. Internal to the kit.
#pragma once

#include "noise.h"

#include <cstdint>

// hash[i & 255] and 4 * hash[i & 255] (the offset of that gradient row in
// hashvectf_wide) for i in 0..511, so that a byte plus a byte needs no mask.
extern const unsigned char hash_twice[512];
extern const uint32_t *const gradient_row_twice;

// turb at `points` points (at most 64) for each of `octaves` cell sizes:
// octave k of point i writes out_x, out_y and out_z at k * P + i, where P is
// `points` rounded up to a multiple of 4.
struct NoiseLaneJob {
    int octaves;
    const float *size;
    int points;
    const float *x, *y, *z;
    float *out_x, *out_y, *out_z;
    int seed;
};

// Four lanes: four consecutive points (x[0..3], y[0..3], z[0..3]), one cell size.
struct LaneQuad {
    const float *x, *y, *z;
    float size;
};

// point_turbulance at 1 .. max_turbulence_batch points, with the octave
// count (1 .. max_noise_depth + 1), cell sizes and weights already worked out
// (the first weight is always 1).
struct TurbulenceJob {
    int octaves;
    const float *size, *weight;
    int hard;
    const TurbulencePoints *points;
    float (*vec)[3];
    int seed;
};

struct NoisePath {
    NoiseLanes lanes;
    void (*turb)(float noisesize, float xc, float yc, float zc, float *vec, int seed);
    void (*noise)(const NoiseLaneJob &job);
    void (*turbulence)(const TurbulenceJob &job);
};

extern const NoisePath portable_noise_path;
#if defined(__x86_64__) || defined(__i386__)
#define NOISE_X86_PATHS 1
extern const NoisePath avx2_noise_path;
extern const NoisePath avx512_noise_path;
#endif
