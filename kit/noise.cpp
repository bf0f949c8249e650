#include "noise.h"

#include <cmath>
#include <emmintrin.h>
#include <cstring>

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
// own cell size and point. Every lane performs exactly the operations of
// turb_reference, so the bits are the same; working on several lanes at once
// lets the float rounding chains of independent evaluations overlap.
template <int N>
void turb_lanes(const float *size, const float *xc, const float *yc, const float *zc,
                float (*vec)[3], int seed)
{
    Axis ax[N], ay[N], az[N];
    for (int l = 0; l < N; l++) {
        // A zero size gives the zero vector; compute the lane with size 1 and drop it.
        const double s = size[l] == 0.0f ? 1.0 : (double)size[l];
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
        const bool zero = size[l] == 0.0f;
        vec[l][0] = zero ? 0.0f : v0[l];
        vec[l][1] = zero ? 0.0f : v1[l];
        vec[l][2] = zero ? 0.0f : v2[l];
    }
}

} // namespace

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

VECTOR_INLINE v4d widen(v4f v) { return __builtin_convertvector(v, v4d); }
VECTOR_INLINE v4f narrow(v4d v) { return __builtin_convertvector(v, v4f); }
// The value a float variable would hold, kept in double.
VECTOR_INLINE v4d round_to_float(v4d v) { return widen(narrow(v)); }

// Cells and offsets of one axis for four lanes; false when a lane lies
// outside int range (or is NaN), which the lane-by-lane path then handles.
VECTOR_INLINE bool split_axis4(v4f v, v4i &cell, v4d &near, v4d &far)
{
    const v4i ok = (v >= -2147483648.0f) & (v < 2147483648.0f);
    if (!(ok[0] & ok[1] & ok[2] & ok[3]))
        return false;
    cell = __builtin_convertvector(v, v4i); // truncation
    cell += __builtin_convertvector(cell, v4f) > v; // -1 where truncation went up
    near = round_to_float(widen(v) - __builtin_convertvector(cell, v4d));
    far = round_to_float(near - 1.0);
    return true;
}

VECTOR_INLINE v4d load_row(unsigned offset)
{
    v4d r;
    __builtin_memcpy(&r, hashvectf_wide + offset, sizeof r);
    return r;
}

// x, y and z of the gradient rows at the four offsets, one lane each.
VECTOR_INLINE void transpose_rows(const unsigned *offset, v4d &x, v4d &y, v4d &z)
{
    const v4d r0 = load_row(offset[0]), r1 = load_row(offset[1]);
    const v4d r2 = load_row(offset[2]), r3 = load_row(offset[3]);
    const v4d t0 = SHUFFLE4(r0, r1, 0, 4, 2, 6); // x0 x1 z0 z1
    const v4d t1 = SHUFFLE4(r0, r1, 1, 5, 3, 7); // y0 y1 .  .
    const v4d t2 = SHUFFLE4(r2, r3, 0, 4, 2, 6); // x2 x3 z2 z3
    const v4d t3 = SHUFFLE4(r2, r3, 1, 5, 3, 7); // y2 y3 .  .
    x = SHUFFLE4(t0, t2, 0, 1, 4, 5);
    y = SHUFFLE4(t1, t3, 0, 1, 4, 5);
    z = SHUFFLE4(t0, t2, 2, 3, 6, 7);
}

VECTOR_INLINE v4d near_weight4(v4d t)
{
    const v4d t2 = round_to_float(t * t);
    return round_to_float(1.0 - 3.0 * t2 + 2.0 * t2 * t);
}

VECTOR_INLINE v4d far_weight4(v4d t)
{
    const v4d t2 = round_to_float(t * t);
    return round_to_float(1.0 - 3.0 * t2 - 2.0 * t2 * t);
}

// Four evaluations of turb in vector lanes, the operations of turb_reference
// lane by lane. Returns false, writing nothing, if a scaled coordinate lies
// outside int range.
VECTOR_INLINE bool turb_vector4(const float *size, const float *xc, const float *yc, const float *zc,
                         float (*vec)[3], int seed)
{
    const v4f sz = {size[0], size[1], size[2], size[3]};
    const v4i zero_size = sz == 0.0f;
    const v4d s = widen(zero_size ? (v4f){1.0f, 1.0f, 1.0f, 1.0f} : sz);
    const v4d x = widen((v4f){xc[0], xc[1], xc[2], xc[3]});
    const v4d y = widen((v4f){yc[0], yc[1], yc[2], yc[3]});
    const v4d z = widen((v4f){zc[0], zc[1], zc[2], zc[3]});
    v4i ix, iy, iz;
    v4d ox, oy, oz, jx, jy, jz;
    if (!split_axis4(narrow((x + 1.0) / s), ix, ox, jx) ||
        !split_axis4(narrow((y + 1.0) / s), iy, oy, jy) ||
        !split_axis4(narrow((z + 1.0) / s), iz, oz, jz))
        return false;

    const v4d cn1 = near_weight4(ox), cn2 = near_weight4(oy), cn3 = near_weight4(oz);
    const v4d cn4 = far_weight4(jx), cn5 = far_weight4(jy), cn6 = far_weight4(jz);
    const v4d xy[4] = {cn1 * cn2, cn1 * cn5, cn4 * cn2, cn4 * cn5};
    v4d weight[8];
    for (int k = 0; k < 4; k++) {
        weight[2 * k] = round_to_float(xy[k] * cn3);
        weight[2 * k + 1] = round_to_float(xy[k] * cn6);
    }

    unsigned gradient[8][4];
    for (int l = 0; l < 4; l++) {
        const unsigned cx = (unsigned)ix[l], cy = (unsigned)iy[l];
        const unsigned hx = perm(cx), hk = perm(cx + 1u);
        const unsigned column[4] = {perm(hx + cy), perm(hx + cy + 1u), perm(hk + cy),
                                    perm(hk + cy + 1u)};
        const unsigned z0 = (unsigned)iz[l] + (unsigned)seed;
        for (int c = 0; c < 8; c++)
            gradient[c][l] = 4 * perm(column[c >> 1] + z0 + (unsigned)(c & 1));
    }

    v4d v0 = {0, 0, 0, 0}, v1 = v0, v2 = v0;
#pragma GCC unroll 8
    for (int c = 0; c < 8; c++) {
        // Each lane's gradient is one row (x, y, z, 0) of the padded table;
        // transposing the four rows gives the x, y and z of all lanes.
        v4d gx, gy, gz;
        transpose_rows(gradient[c], gx, gy, gz);
        v0 = round_to_float(v0 + gx * ((c & 4) ? jx : ox) * weight[c]);
        v1 = round_to_float(v1 + gy * ((c & 2) ? jy : oy) * weight[c]);
        v2 = round_to_float(v2 + gz * ((c & 1) ? jz : oz) * weight[c]);
    }
    const v4f r0 = narrow(v0), r1 = narrow(v1), r2 = narrow(v2);
    for (int l = 0; l < 4; l++) {
        vec[l][0] = zero_size[l] ? 0.0f : r0[l];
        vec[l][1] = zero_size[l] ? 0.0f : r1[l];
        vec[l][2] = zero_size[l] ? 0.0f : r2[l];
    }
    return true;
}

} // namespace

__attribute__((target_clones("avx2", "default"))) void turb_batch(int n, const float *size,
                                                                  const float *x, const float *y,
                                                                  const float *z, float (*vec)[3],
                                                                  int seed)
{
    int i = 0;
    for (; i + 4 <= n; i += 4)
        if (!turb_vector4(size + i, x + i, y + i, z + i, vec + i, seed))
            turb_lanes<4>(size + i, x + i, y + i, z + i, vec + i, seed);
    for (; i < n; i++)
        turb_lanes<1>(size + i, x + i, y + i, z + i, vec + i, seed);
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

    // Every (octave, point) pair is an independent turb: one batch for all.
    constexpr int max_lanes = max_turbulence_batch * (max_noise_depth + 1);
    float ls[max_lanes], lx[max_lanes], ly[max_lanes], lz[max_lanes], lv[max_lanes][3];
    for (int k = 0; k < octaves; k++)
        for (int i = 0; i < n; i++) {
            ls[k * n + i] = size[k];
            lx[k * n + i] = x[i];
            ly[k * n + i] = y[i];
            lz[k * n + i] = z[i];
        }
    turb_batch(octaves * n, ls, lx, ly, lz, lv, seed);

    // Sum each point's octaves in order, exactly as recursive_turb does.
    for (int i = 0; i < n; i++) {
        float v0 = 0.0f, v1 = 0.0f, v2 = 0.0f, div = 0.0f;
        for (int k = 0; k < octaves; k++) {
            float *t = lv[k * n + i];
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
