// The noise paths in plain vector code, for any processor: four lanes.
// On x86 the float <-> double conversions are spelled with the SSE2
// instructions every x86-64 processor has (see noise_lanes.h, widen).
#if defined(__SSE2__)
#include "noise.h"
#include "noise_paths.h"

#include <cstdint>
#include <cstring>
#include <emmintrin.h>

#define NOISE_WIDEN_LOW(v) ((v2d)_mm_cvtps_pd((__m128)(v)))
#define NOISE_NARROW_LOW(v) ((v4f)_mm_cvtpd_ps((__m128d)(v)))
#define NOISE_WIDEN4(v)                                                                        \
    (__builtin_shufflevector((v2d)_mm_cvtps_pd((__m128)(v)),                                   \
                             (v2d)_mm_cvtps_pd(_mm_movehl_ps((__m128)(v), (__m128)(v))), 0, 1, \
                             2, 3))
#endif
#include "noise_lanes.h"

const NoisePath portable_noise_path = {NoiseLanes::portable, LanePath<4, 3>::turb,
                                       LanePath<4, 3>::noise, LanePath<4, 3>::turbulence};

