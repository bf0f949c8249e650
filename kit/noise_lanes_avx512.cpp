// The noise paths compiled for AVX-512: eight lanes per instruction, the
// last few lanes of a run as a group of four. Only on x86; chosen at run time.
#if defined(__x86_64__) || defined(__i386__)
#include "noise.h"
#include "noise_paths.h"

#include <cstdint>
#include <cstring>
#include <immintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512vl"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512vl")
// GCC's own _mm512_cvtps_pd starts from an undefined vector it then overwrites.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define NOISE_FLOOR4(v) ((v4f)_mm_floor_ps((__m128)(v)))
#define NOISE_FLOOR8(v) ((v8f)_mm256_floor_ps((__m256)(v)))
#define NOISE_WIDEN_LOW(v) ((v2d)_mm_cvtps_pd((__m128)(v)))
#define NOISE_NARROW_LOW(v) ((v4f)_mm_cvtpd_ps((__m128d)(v)))
#define NOISE_WIDEN4(v) ((v4d)_mm256_cvtps_pd((__m128)(v)))
#define NOISE_WIDEN8(v) ((v8d)_mm512_cvtps_pd((__m256)(v)))
#include "noise_lanes.h"

// The paths are instantiated here, inside the region compiled for them.
const NoisePath avx512_noise_path = {NoiseLanes::avx512, LanePath<8, 2>::turb,
                                     LanePath<8, 2>::noise, LanePath<8, 2>::turbulence};

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif
