#include "noise.h"

#include <cmath>
#include <cstring>

// SSE2 is part of every x86-64 processor, and of 32-bit x86 builds made with
// -msse2; without it (and on every other processor) turb takes the portable
// lane path, which gives the same bits.
#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#include <immintrin.h>
#if defined(__SSE2__)
#define HAVE_SSE2_TURB 1
#endif
#endif

const unsigned char hash[256] = {
    198, 12,  146, 95,  44,  18,  240, 28,  151, 32,  45,  20,  30,  23,  141, 248,
    168, 254, 178, 85,  92,  216, 236, 175, 47,  88,  67,  136, 234, 1,   72,  106,
    79,  220, 24,  171, 26,  224, 128, 137, 223, 16,  105, 195, 231, 183, 29,  132,
    241, 122, 252, 135, 5,   181, 130, 213, 49,  204, 70,  176, 144, 35,  64,  104,
    19,  39,  46,  13,  246, 233, 9,   177, 31,  61,  154, 117, 129, 75,  139, 118,
    68,  42,  207, 86,  112, 27,  158, 8,   247, 250, 109, 163, 242, 52,  160, 164,
    43,  83,  62,  190, 57,  155, 169, 98,  6,   51,  38,  150, 80,  84,  114, 14,
    253, 194, 4,   138, 101, 25,  60,  97,  167, 188, 148, 209, 77,  192, 131, 227,
    36,  191, 237, 76,  214, 17,  251, 81,  71,  123, 119, 232, 0,   244, 87,  53,
    66,  126, 187, 110, 107, 2,   212, 93,  74,  211, 249, 63,  102, 113, 255, 11,
    173, 197, 166, 157, 226, 124, 90,  199, 59,  10,  100, 140, 89,  208, 221, 37,
    33,  230, 121, 174, 189, 165, 149, 34,  179, 15,  108, 40,  55,  91,  7,   200,
    147, 120, 134, 56,  184, 133, 115, 202, 245, 94,  82,  152, 116, 143, 210, 206,
    145, 203, 193, 127, 180, 125, 22,  159, 142, 156, 219, 111, 99,  217, 96,  41,
    162, 228, 3,   161, 58,  229, 153, 235, 215, 54,  205, 50,  218, 103, 69,  21,
    48,  186, 170, 73,  65,  222, 238, 225, 78,  172, 185, 196, 182, 239, 201, 243,
};

namespace {

// Table lookup with the index wrapped to its low eight bits. Index sums are
// formed in unsigned arithmetic so that any int wraps instead of overflowing.
inline unsigned perm(unsigned index) { return hash[index & 255u]; }

// One axis of the scaled point: its cell and its offsets from the near corner
// (in [0, 1)) and from the far corner (in [-1, 0)). Inside int range the floor
// is taken by truncation, which is exact; beyond it lattice_cell keeps the
// low bits defined.
struct Axis {
    unsigned cell;
    float near, far;
};

inline Axis split_axis(float v)
{
    double f;
    Axis a;
    if (v >= -2147483648.0f && v < 2147483648.0f) {
        int i = (int)v;
        if ((float)i > v)
            i -= 1;
        f = (double)i;
        a.cell = (unsigned)i;
    } else {
        f = std::floor(v);
        a.cell = (unsigned)lattice_cell(f);
    }
    a.near = (float)(v - f);
    a.far = (float)(a.near - 1.0);
    return a;
}

// Corner weight w(t) = 1 - 3t^2 + 2|t|^3 for an offset from the near corner
// (t >= 0) and from the far corner (t < 0); t^2 is rounded to float first.
inline float near_weight(float t)
{
    float t2 = (float)((double)t * t);
    return (float)(1.0 - 3.0 * t2 + 2.0 * t2 * t);
}

inline float far_weight(float t)
{
    float t2 = (float)((double)t * t);
    return (float)(1.0 - 3.0 * t2 - 2.0 * t2 * t);
}

inline float product(float a, float b, float c) { return (float)((double)a * b * c); }

// N independent noise evaluations side by side, one per lane, each with its
// own point, all with one cell size (not zero). Every lane performs exactly the operations of
// turb_reference, so the bits are the same; working on several lanes at once
// lets the float rounding chains of independent evaluations overlap.
template <int N>
void turb_lanes(float size, const float *xc, const float *yc, const float *zc, float (*vec)[3],
                int seed)
{
    Axis ax[N], ay[N], az[N];
    const double s = size;
    for (int l = 0; l < N; l++) {
        ax[l] = split_axis((float)((xc[l] + 1.0) / s));
        ay[l] = split_axis((float)((yc[l] + 1.0) / s));
        az[l] = split_axis((float)((zc[l] + 1.0) / s));
    }
    float weight[8][N];
    for (int l = 0; l < N; l++) {
        const float cn1 = near_weight(ax[l].near), cn2 = near_weight(ay[l].near),
                    cn3 = near_weight(az[l].near);
        const float cn4 = far_weight(ax[l].far), cn5 = far_weight(ay[l].far),
                    cn6 = far_weight(az[l].far);
        weight[0][l] = product(cn1, cn2, cn3);
        weight[1][l] = product(cn1, cn2, cn6);
        weight[2][l] = product(cn1, cn5, cn3);
        weight[3][l] = product(cn1, cn5, cn6);
        weight[4][l] = product(cn4, cn2, cn3);
        weight[5][l] = product(cn4, cn2, cn6);
        weight[6][l] = product(cn4, cn5, cn3);
        weight[7][l] = product(cn4, cn5, cn6);
    }
    const double *gradient[8][N];
    for (int l = 0; l < N; l++) {
        const unsigned hx = perm(ax[l].cell), hk = perm(ax[l].cell + 1u);
        const unsigned column[4] = {perm(hx + ay[l].cell), perm(hx + ay[l].cell + 1u),
                                    perm(hk + ay[l].cell), perm(hk + ay[l].cell + 1u)};
        const unsigned z0 = az[l].cell + (unsigned)seed;
#pragma GCC unroll 8
        for (int c = 0; c < 8; c++)
            gradient[c][l] = &hashvectf_wide[4 * perm(column[c >> 1] + z0 + (unsigned)(c & 1))];
    }
    // The eight corners in their fixed order of accumulation (x side, then
    // y side, then z side, near before far); each sum is rounded to float.
    float v0[N], v1[N], v2[N];
    for (int l = 0; l < N; l++)
        v0[l] = v1[l] = v2[l] = 0.0f;
#pragma GCC unroll 8
    for (int c = 0; c < 8; c++) {
        for (int l = 0; l < N; l++) {
            const double *h = gradient[c][l];
            const double w = weight[c][l];
            const double dx = (c & 4) ? ax[l].far : ax[l].near;
            const double dy = (c & 2) ? ay[l].far : ay[l].near;
            const double dz = (c & 1) ? az[l].far : az[l].near;
            v0[l] = (float)(v0[l] + h[0] * dx * w);
            v1[l] = (float)(v1[l] + h[1] * dy * w);
            v2[l] = (float)(v2[l] + h[2] * dz * w);
        }
    }
    for (int l = 0; l < N; l++) {
        vec[l][0] = v0[l];
        vec[l][1] = v1[l];
        vec[l][2] = v2[l];
    }
}

} // namespace

#ifdef HAVE_SSE2_TURB
namespace {

// Pairs of doubles in one SSE2 register (part of every x86-64 processor):
// the x and y components side by side, z beside a zero.
inline __m128d round_to_float2(__m128d v) { return _mm_cvtps_pd(_mm_cvtpd_ps(v)); }

// Corner weight w(t) = 1 - 3t^2 + 2|t|^3 of two offsets at once, t^2 rounded
// to float first; for a far offset (t < 0) adding 2t^2|t| is exactly the
// subtraction of 2t^2 t.
inline __m128d corner_weight2(__m128d t)
{
    const __m128d t2 = round_to_float2(_mm_mul_pd(t, t));
    const __m128d magnitude = _mm_andnot_pd(_mm_set1_pd(-0.0), t);
    const __m128d a = _mm_sub_pd(_mm_set1_pd(1.0), _mm_mul_pd(_mm_set1_pd(3.0), t2));
    const __m128d b = _mm_mul_pd(_mm_mul_pd(_mm_set1_pd(2.0), t2), magnitude);
    return round_to_float2(_mm_add_pd(a, b));
}

} // namespace

void turb(float noisesize, float xc, float yc, float zc, float *vec, int seed)
{
    if (noisesize == 0.0f) {
        vec[0] = vec[1] = vec[2] = 0.0f;
        return;
    }
    const double s = noisesize;
    const Axis ax = split_axis((float)((xc + 1.0) / s));
    const Axis ay = split_axis((float)((yc + 1.0) / s));
    const Axis az = split_axis((float)((zc + 1.0) / s));

    // Offsets as (x, y) pairs for the four x/y sides, and (z, 0) for the two
    // z sides; the same as turb_reference's, widened exactly.
    const __m128d near_xy = _mm_set_pd(ay.near, ax.near), far_xy = _mm_set_pd(ay.far, ax.far);
    const __m128d offset_xy[4] = {near_xy, _mm_set_pd(ay.far, ax.near),
                                  _mm_set_pd(ay.near, ax.far), far_xy};
    const __m128d offset_z[2] = {_mm_set_sd(az.near), _mm_set_sd(az.far)};

    // Weights: cn1, cn2 (near x, y), cn4, cn5 (far x, y), cn3, cn6 (z).
    const __m128d cn_near = corner_weight2(near_xy), cn_far = corner_weight2(far_xy);
    const __m128d cn_z = corner_weight2(_mm_set_pd(az.far, az.near));
    // (cx * cy) * cz for the corners in order, two at a time (z near, z far).
    const __m128d y_pair = _mm_unpacklo_pd(_mm_unpackhi_pd(cn_near, cn_near),
                                           _mm_unpackhi_pd(cn_far, cn_far)); // (cn2, cn5)
    const __m128d xy_near = _mm_mul_pd(_mm_unpacklo_pd(cn_near, cn_near), y_pair); // cn1*cn2, cn1*cn5
    const __m128d xy_far = _mm_mul_pd(_mm_unpacklo_pd(cn_far, cn_far), y_pair);   // cn4*cn2, cn4*cn5
    const __m128d weight[4] = {
        round_to_float2(_mm_mul_pd(_mm_unpacklo_pd(xy_near, xy_near), cn_z)),
        round_to_float2(_mm_mul_pd(_mm_unpackhi_pd(xy_near, xy_near), cn_z)),
        round_to_float2(_mm_mul_pd(_mm_unpacklo_pd(xy_far, xy_far), cn_z)),
        round_to_float2(_mm_mul_pd(_mm_unpackhi_pd(xy_far, xy_far), cn_z))};

    const unsigned hx = perm(ax.cell), hk = perm(ax.cell + 1u);
    const unsigned column[4] = {perm(hx + ay.cell), perm(hx + ay.cell + 1u), perm(hk + ay.cell),
                                perm(hk + ay.cell + 1u)};
    const unsigned z0 = az.cell + (unsigned)seed;

    // The eight corners in their fixed order, each sum rounded to float.
    __m128d v_xy = _mm_setzero_pd(), v_z = _mm_setzero_pd();
#pragma GCC unroll 8
    for (int c = 0; c < 8; c++) {
        const double *g = &hashvectf_wide[4 * perm(column[c >> 1] + z0 + (unsigned)(c & 1))];
        const __m128d w = (c & 1) ? _mm_unpackhi_pd(weight[c >> 1], weight[c >> 1])
                                  : _mm_unpacklo_pd(weight[c >> 1], weight[c >> 1]);
        const __m128d p_xy = _mm_mul_pd(_mm_mul_pd(_mm_load_pd(g), offset_xy[c >> 1]), w);
        const __m128d p_z = _mm_mul_pd(_mm_mul_pd(_mm_load_pd(g + 2), offset_z[c & 1]), w);
        v_xy = round_to_float2(_mm_add_pd(v_xy, p_xy));
        v_z = round_to_float2(_mm_add_pd(v_z, p_z));
    }
    const __m128 xy = _mm_cvtpd_ps(v_xy);
    _mm_storel_pi((__m64 *)vec, xy);
    vec[2] = (float)_mm_cvtsd_f64(v_z);
}
#else
void turb(float noisesize, float xc, float yc, float zc, float *vec, int seed)
{
    if (noisesize == 0.0f) {
        vec[0] = vec[1] = vec[2] = 0.0f;
        return;
    }
    turb_lanes<1>(noisesize, &xc, &yc, &zc, reinterpret_cast<float(*)[3]>(vec), seed);
}
#endif

namespace {

// Every function that takes or returns a vector is inlined into the batch
// entry, so it is compiled once per instruction set that entry is cloned for
// (vector arguments are passed differently with and without AVX).
#define VECTOR_INLINE __attribute__((always_inline)) inline

typedef double v4d __attribute__((vector_size(32)));
typedef int64_t v4l __attribute__((vector_size(32)));
#if defined(__clang__)
#define SHUFFLE4(a, b, i, j, k, l) __builtin_shufflevector(a, b, i, j, k, l)
#else
#define SHUFFLE4(a, b, i, j, k, l) __builtin_shuffle(a, b, (v4l){i, j, k, l})
#endif
typedef float v4f __attribute__((vector_size(16)));
typedef int32_t v4i __attribute__((vector_size(16)));

namespace portable {
#define WIDEN(v) __builtin_convertvector(v, v4d)
#define NARROW(v) __builtin_convertvector(v, v4f)
#include "noise_lanes.inc"
#undef WIDEN
#undef NARROW
} // namespace portable

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
// The same code compiled for AVX2, where each conversion of four lanes is
// one instruction (the generic form splits it in halves through memory).
#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
#define WIDEN(v) ((v4d)_mm256_cvtps_pd((__m128)(v)))
#define NARROW(v) ((v4f)_mm256_cvtpd_ps((__m256d)(v)))
#include "noise_lanes.inc"
#undef WIDEN
#undef NARROW
} // namespace avx2
#pragma GCC pop_options
#define HAVE_AVX2_LANES 1
#endif

} // namespace

void turb_batch(int n, float size, const float *x, const float *y, const float *z,
                float (*vec)[3], int seed)
{
    if (size == 0.0f) {
        for (int i = 0; i < n; i++)
            vec[i][0] = vec[i][1] = vec[i][2] = 0.0f;
        return;
    }
#ifdef HAVE_AVX2_LANES
    static const bool use_avx2 = __builtin_cpu_supports("avx2");
    if (use_avx2) {
        avx2::turb_batch_lanes(n, size, x, y, z, vec, seed);
        return;
    }
#endif
    portable::turb_batch_lanes(n, size, x, y, z, vec, seed);
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

void point_turbulance_batch(float noise_size, float falloff, int hard, int n, const float *x,
                            const float *y, const float *z, float (*vec)[3], int depth, int seed)
{
    if (depth < 0)
        depth = 0;
    if (depth > max_noise_depth)
        depth = max_noise_depth;
    if (n > max_turbulence_batch)
        n = max_turbulence_batch;
    if (n <= 0)
        return;
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

    // Every (octave, point) pair is an independent turb: a batch per octave.
    float lv[max_noise_depth + 1][max_turbulence_batch][3];
    for (int k = 0; k < octaves; k++)
        turb_batch(n, size[k], x, y, z, lv[k], seed);

    // Sum each point's octaves in order, exactly as recursive_turb does.
    for (int i = 0; i < n; i++) {
        float v0 = 0.0f, v1 = 0.0f, v2 = 0.0f, div = 0.0f;
        for (int k = 0; k < octaves; k++) {
            float *t = lv[k][i];
            if (hard)
                hard_fold(t);
            const float w = weight[k];
            v0 = (float)((double)t[0] * w + v0);
            v1 = (float)((double)t[1] * w + v1);
            v2 = (float)((double)t[2] * w + v2);
            div = div + w;
        }
        vec[i][0] = v0 / div;
        vec[i][1] = v1 / div;
        vec[i][2] = v2 / div;
    }
}

namespace {
// Sum of the four bytes of a float's bit pattern, modulo 256.
inline unsigned byte_sum(float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return (bits + (bits >> 8) + (bits >> 16) + (bits >> 24)) & 255u;
}
} // namespace

float fixed_rand(int seed, float x, float y, float z)
{
    unsigned r = perm(byte_sum(x) + (unsigned)seed);
    r = perm(byte_sum(y) + r);
    r = perm(byte_sum(z) + r);
    return (float)r / 256.0f;
}
