// The noise paths compiled for AVX2: four lanes, each conversion between
// float and double one instruction. Only on x86; chosen at run time.
#if defined(__x86_64__) || defined(__i386__)
#include "noise.h"
#include "noise_paths.h"

#include <cstdint>
#include <cstring>
#include <immintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#define NOISE_FLOOR4(v) ((v4f)_mm_floor_ps((__m128)(v)))
#define NOISE_FLOOR8(v) ((v8f)_mm256_floor_ps((__m256)(v)))
#define NOISE_WIDEN_LOW(v) ((v2d)_mm_cvtps_pd((__m128)(v)))
#define NOISE_NARROW_LOW(v) ((v4f)_mm_cvtpd_ps((__m128d)(v)))
#define NOISE_WIDEN4(v) ((v4d)_mm256_cvtps_pd((__m128)(v)))
#include "noise_lanes.h"

// The paths are instantiated here, inside the region compiled for them.
const NoisePath avx2_noise_path = {NoiseLanes::avx2, LanePath<4, 3>::turb,
                                   LanePath<4, 3>::noise, LanePath<4, 3>::turbulence};

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif
