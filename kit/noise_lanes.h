// The fast copies of the lattice noise: one evaluation with its axes side by
// side in vector lanes, and groups of 4 or 8 independent evaluations, one per
// lane, each with its own point and cell size. turb_reference
// (noise_reference.cpp) is the definition: every lane performs exactly its
// operations and roundings, so every copy gives the same bits, and the tests
// compare each copy with it.
//
// Each noise_lanes_<set>.cpp includes this file once (for x86 sets inside a
// region compiled for that instruction set), so the same source becomes one
// machine path per set; noise.cpp picks one at run time. Everything here has
// internal linkage, so the copies never mix.
//
// Three identities let the lanes stay in float where the definition rounds
// a double to float after a single operation on floats (the offsets from the
// corners and the squared offset): for + - * / on floats, rounding the exact
// double result to float equals the float operation, because double has more
// than twice float's precision. Everything else is done in double and
// rounded exactly where turb_reference rounds.
#pragma once

#include "noise.h"
#include "noise_paths.h"

#include <cstdint>
#include <cstring>

namespace {

// The vector helpers are always inlined; their ABI never crosses a function.
#pragma GCC diagnostic ignored "-Wpsabi"

#define VECTOR_INLINE __attribute__((always_inline)) inline

typedef double v2d __attribute__((vector_size(16)));
typedef double v4d __attribute__((vector_size(32)));
typedef double v8d __attribute__((vector_size(64)));
typedef float v2f __attribute__((vector_size(8)));
typedef float v4f __attribute__((vector_size(16)));
typedef float v8f __attribute__((vector_size(32)));
typedef int32_t v4i __attribute__((vector_size(16)));
typedef int32_t v8i __attribute__((vector_size(32)));

// Lane types of a group of N evaluations.
template <int N> struct Lanes;
template <> struct Lanes<4> {
    typedef v4d d;
    typedef v4f f;
    typedef v4i i;
};
template <> struct Lanes<8> {
    typedef v8d d;
    typedef v8f f;
    typedef v8i i;
};

// Float to double in every lane. GCC splits the generic conversion of four
// or eight lanes in halves through memory, so a file compiled for x86 vector
// extensions names the one instruction that does it (NOISE_WIDEN4/8).
VECTOR_INLINE v2d widen(v2f v) { return __builtin_convertvector(v, v2d); }
#ifdef NOISE_WIDEN4
VECTOR_INLINE v4d widen(v4f v) { return NOISE_WIDEN4(v); }
#else
VECTOR_INLINE v4d widen(v4f v) { return __builtin_convertvector(v, v4d); }
#endif
#ifdef NOISE_WIDEN8
VECTOR_INLINE v8d widen(v8f v) { return NOISE_WIDEN8(v); }
#else
VECTOR_INLINE v8d widen(v8f v) { return __builtin_convertvector(v, v8d); }
#endif
VECTOR_INLINE v2f narrow(v2d v) { return __builtin_convertvector(v, v2f); }
VECTOR_INLINE v4f narrow(v4d v) { return __builtin_convertvector(v, v4f); }
VECTOR_INLINE v8f narrow(v8d v) { return __builtin_convertvector(v, v8f); }
VECTOR_INLINE v4i truncate(v4f v) { return __builtin_convertvector(v, v4i); }
VECTOR_INLINE v8i truncate(v8f v) { return __builtin_convertvector(v, v8i); }
VECTOR_INLINE v4f to_float(v4i v) { return __builtin_convertvector(v, v4f); }
VECTOR_INLINE v8f to_float(v8i v) { return __builtin_convertvector(v, v8f); }

// The value a float variable would hold, kept in double.
template <class D> VECTOR_INLINE D round_to_float(D v) { return widen(narrow(v)); }

template <class V> VECTOR_INLINE V load(const float *p)
{
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class V> VECTOR_INLINE void store(float *p, V v) { std::memcpy(p, &v, sizeof v); }

// True when every lane of a comparison result is set.
template <class I> VECTOR_INLINE bool all_lanes(I mask)
{
    uint64_t word[sizeof(I) / 8];
    std::memcpy(word, &mask, sizeof mask);
    uint64_t all = ~0ull;
    for (uint64_t w : word)
        all &= w;
    return all == ~0ull;
}

// The cells and offsets of one axis of N scaled coordinates: floor by
// truncation (exact inside int range), near = v - floor(v) in [0, 1] and
// far = near - 1, both exact float operations. False when a lane lies outside
// int range or is NaN; the caller then evaluates those lanes one by one.
template <class F, class I> VECTOR_INLINE bool split_axis(F v, I &cell, F &near, F &far)
{
    if (!all_lanes((I)((v >= -2147483648.0f) & (v < 2147483648.0f))))
        return false;
    const I t = truncate(v);
    const F ft = to_float(t);
    const I up = ft > v; // -1 where truncation went up (negative non-integers)
    cell = t + up;
    const I one = (I)(F{} + 1.0f);
    near = v - (ft - (F)(up & one));
    far = near - 1.0f;
    return true;
}

// Lanes of a where the mask is set, of b elsewhere.
template <class F, class I> VECTOR_INLINE F select(I mask, F a, F b)
{
    return (F)((mask & (I)a) | (~mask & (I)b));
}

// Corner weight w(t) = 1 - 3t^2 + 2|t|^3, t^2 rounded to float first, in
// double as turb_reference forms it. For a far offset (t <= 0) adding
// 2t^2|t| is exactly the subtraction of 2t^2 t.
template <class F> VECTOR_INLINE auto corner_weight(F t)
{
    typedef decltype(t < t) I;
    const auto t2 = widen(t * t);
    const auto magnitude = widen((F)((I)t & 0x7fffffff));
    return widen(narrow((1.0 - 3.0 * t2) + 2.0 * t2 * magnitude));
}

// Offsets of the eight gradient rows (x, y, z, 0) of one lattice cell, in
// the order of accumulation (x side, then y, then z, near before far), from
// the low eight bits of the cell's x and y and of its z plus the seed.
VECTOR_INLINE void corner_rows(unsigned x8, unsigned y8, unsigned z8, unsigned *row, int stride)
{
    const unsigned hx = hash_twice[x8], hk = hash_twice[x8 + 1];
    const unsigned column[4] = {hash_twice[hx + y8], hash_twice[hx + y8 + 1],
                                hash_twice[hk + y8], hash_twice[hk + y8 + 1]};
#pragma GCC unroll 8
    for (int c = 0; c < 8; c++)
        row[c * stride] = gradient_row_twice[column[c >> 1] + z8 + (unsigned)(c & 1)];
}

VECTOR_INLINE v4d load_row(unsigned offset)
{
    v4d r;
    std::memcpy(&r, hashvectf_wide + offset, sizeof r);
    return r;
}

// x, y and z of the gradient rows at the given offsets, one lane each.
VECTOR_INLINE void gradients(const unsigned *offset, v4d &x, v4d &y, v4d &z)
{
    const v4d r0 = load_row(offset[0]), r1 = load_row(offset[1]);
    const v4d r2 = load_row(offset[2]), r3 = load_row(offset[3]);
    const v4d t0 = __builtin_shufflevector(r0, r1, 0, 4, 2, 6); // x0 x1 z0 z1
    const v4d t1 = __builtin_shufflevector(r0, r1, 1, 5, 3, 7); // y0 y1 .  .
    const v4d t2 = __builtin_shufflevector(r2, r3, 0, 4, 2, 6); // x2 x3 z2 z3
    const v4d t3 = __builtin_shufflevector(r2, r3, 1, 5, 3, 7); // y2 y3 .  .
    x = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    y = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    z = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
}

VECTOR_INLINE void gradients(const unsigned *offset, v8d &x, v8d &y, v8d &z)
{
    v8d pair[4]; // rows 2k and 2k + 1: x y z 0 x y z 0
    for (int k = 0; k < 4; k++)
        pair[k] = __builtin_shufflevector(load_row(offset[2 * k]), load_row(offset[2 * k + 1]),
                                          0, 1, 2, 3, 4, 5, 6, 7);
    // x0..x3 y0..y3 and x4..x7 y4..y7, then z0..z3 and z4..z7.
    const v8d xy_lo = __builtin_shufflevector(pair[0], pair[1], 0, 4, 8, 12, 1, 5, 9, 13);
    const v8d xy_hi = __builtin_shufflevector(pair[2], pair[3], 0, 4, 8, 12, 1, 5, 9, 13);
    const v8d z_lo = __builtin_shufflevector(pair[0], pair[1], 2, 6, 10, 14, 2, 6, 10, 14);
    const v8d z_hi = __builtin_shufflevector(pair[2], pair[3], 2, 6, 10, 14, 2, 6, 10, 14);
    x = __builtin_shufflevector(xy_lo, xy_hi, 0, 1, 2, 3, 8, 9, 10, 11);
    y = __builtin_shufflevector(xy_lo, xy_hi, 4, 5, 6, 7, 12, 13, 14, 15);
    z = __builtin_shufflevector(z_lo, z_hi, 0, 1, 2, 3, 8, 9, 10, 11);
}

// N evaluations of turb, lane l at (xc[l], yc[l], zc[l]) with cell size
// size[l] (not zero), results to out_x[l], out_y[l], out_z[l]. Returns false,
// writing nothing, if a scaled coordinate lies outside int range.
template <int N>
VECTOR_INLINE bool noise_group(const float *size, const float *xc, const float *yc,
                               const float *zc, unsigned seed, float *out_x, float *out_y,
                               float *out_z)
{
    typedef typename Lanes<N>::d D;
    typedef typename Lanes<N>::f F;
    typedef typename Lanes<N>::i I;
    const D s = widen(load<F>(size));
    I ix, iy, iz;
    F nx, ny, nz, fx, fy, fz;
    if (!split_axis(narrow((widen(load<F>(xc)) + 1.0) / s), ix, nx, fx) ||
        !split_axis(narrow((widen(load<F>(yc)) + 1.0) / s), iy, ny, fy) ||
        !split_axis(narrow((widen(load<F>(zc)) + 1.0) / s), iz, nz, fz))
        return false;

    // Weights cn1..cn6, then the eight corner weights (cx * cy) * cz.
    const D cn1 = corner_weight(nx), cn2 = corner_weight(ny), cn3 = corner_weight(nz);
    const D cn4 = corner_weight(fx), cn5 = corner_weight(fy), cn6 = corner_weight(fz);
    const D xy[4] = {cn1 * cn2, cn1 * cn5, cn4 * cn2, cn4 * cn5};
    D weight[8];
    for (int k = 0; k < 4; k++) {
        weight[2 * k] = round_to_float(xy[k] * cn3);
        weight[2 * k + 1] = round_to_float(xy[k] * cn6);
    }

    // Only the low eight bits of a cell index reach the tables.
    unsigned row[8][N];
    int32_t cx[N], cy[N], cz[N];
    const I low8 = (I)(I{} + 255);
    const I x8 = ix & low8, y8 = iy & low8, z8 = (iz + (int32_t)seed) & low8;
    std::memcpy(cx, &x8, sizeof cx);
    std::memcpy(cy, &y8, sizeof cy);
    std::memcpy(cz, &z8, sizeof cz);
    for (int l = 0; l < N; l++)
        corner_rows((unsigned)cx[l], (unsigned)cy[l], (unsigned)cz[l], &row[0][l], N);

    const D ox = widen(nx), oy = widen(ny), oz = widen(nz);
    const D jx = widen(fx), jy = widen(fy), jz = widen(fz);
    // The eight corners in their fixed order; every sum is rounded to float.
    D v0 = {}, v1 = {}, v2 = {};
#pragma GCC unroll 8
    for (int c = 0; c < 7; c++) {
        D gx, gy, gz;
        gradients(row[c], gx, gy, gz);
        v0 = round_to_float(v0 + gx * ((c & 4) ? jx : ox) * weight[c]);
        v1 = round_to_float(v1 + gy * ((c & 2) ? jy : oy) * weight[c]);
        v2 = round_to_float(v2 + gz * ((c & 1) ? jz : oz) * weight[c]);
    }
    D gx, gy, gz;
    gradients(row[7], gx, gy, gz);
    store(out_x, narrow(v0 + gx * jx * weight[7]));
    store(out_y, narrow(v1 + gy * jy * weight[7]));
    store(out_z, narrow(v2 + gz * jz * weight[7]));
    return true;
}

// Lanes the group could not take, one at a time by the definition itself.
inline void noise_one_by_one(int n, const float *size, const float *x, const float *y,
                             const float *z, unsigned seed, float *out_x, float *out_y,
                             float *out_z)
{
    for (int l = 0; l < n; l++) {
        float v[3];
        turb_reference(size[l], x[l], y[l], z[l], v, (int)seed);
        out_x[l] = v[0];
        out_y[l] = v[1];
        out_z[l] = v[2];
    }
}

template <int N>
VECTOR_INLINE void noise_group_or_one_by_one(const float *size, const float *x, const float *y,
                                             const float *z, unsigned seed, float *out_x,
                                             float *out_y, float *out_z)
{
    if (!noise_group<N>(size, x, y, z, seed, out_x, out_y, out_z))
        noise_one_by_one(N, size, x, y, z, seed, out_x, out_y, out_z);
}

// The last n < N lanes as a group of N, the spare lanes at a point that
// always lies in range.
template <int N>
VECTOR_INLINE void noise_partial_group(int n, const float *size, const float *x, const float *y,
                                       const float *z, unsigned seed, float *out_x,
                                       float *out_y, float *out_z)
{
    float s[N], px[N], py[N], pz[N], ox[N], oy[N], oz[N];
    for (int l = 0; l < N; l++) {
        const bool used = l < n;
        s[l] = used ? size[l] : 1.0f;
        px[l] = used ? x[l] : 0.0f;
        py[l] = used ? y[l] : 0.0f;
        pz[l] = used ? z[l] : 0.0f;
    }
    noise_group_or_one_by_one<N>(s, px, py, pz, seed, ox, oy, oz);
    for (int l = 0; l < n; l++) {
        out_x[l] = ox[l];
        out_y[l] = oy[l];
        out_z[l] = oz[l];
    }
}

// n evaluations in groups of WIDE lanes, the rest in one group of WIDE or
// NARROW lanes, whichever it fills better. Sizes must not be zero.
template <int WIDE, int NARROW>
VECTOR_INLINE void noise_lanes(const NoiseLaneJob &job)
{
    const int n = job.n;
    const unsigned seed = (unsigned)job.seed;
    int l = 0;
    for (; l + WIDE <= n; l += WIDE)
        noise_group_or_one_by_one<WIDE>(job.size + l, job.x + l, job.y + l, job.z + l, seed,
                                        job.out_x + l, job.out_y + l, job.out_z + l);
    const int rest = n - l;
    if (rest == 0)
        return;
    if (rest > NARROW)
        noise_partial_group<WIDE>(rest, job.size + l, job.x + l, job.y + l, job.z + l, seed,
                                  job.out_x + l, job.out_y + l, job.out_z + l);
    else
        noise_partial_group<NARROW>(rest, job.size + l, job.x + l, job.y + l, job.z + l, seed,
                                    job.out_x + l, job.out_y + l, job.out_z + l);
}

// One evaluation, for a caller with a single point: the x and y of each
// corner side by side in one pair of lanes, z in a second pair, which keeps
// the rounding chain of the eight corners as short as the processor allows.
VECTOR_INLINE void turb_one(float noisesize, float xc, float yc, float zc, float *vec, int seed)
{
    if (noisesize == 0.0f) {
        vec[0] = vec[1] = vec[2] = 0.0f;
        return;
    }
    const v4d s = {noisesize, noisesize, noisesize, noisesize};
    const v4f p = {xc, yc, zc, xc};
    v4i cell;
    v4f near, far;
    if (!split_axis(narrow((widen(p) + 1.0) / s), cell, near, far)) {
        turb_reference(noisesize, xc, yc, zc, vec, seed);
        return;
    }
    // Weights: (cn1, cn2), (cn4, cn5) and (cn3, cn6).
    const v4f xy_sides = __builtin_shufflevector(near, far, 0, 1, 4, 5);
    const v2f z_sides = __builtin_shufflevector(near, far, 2, 6);
    const v4d cn_xy = corner_weight(xy_sides);
    const v2d cn_z = corner_weight(z_sides);
    // (cx * cy) * cz for the corners in order, two at a time (z near, z far).
    const v2d y_pair = __builtin_shufflevector(cn_xy, cn_xy, 1, 3); // cn2, cn5
    const v2d cn1 = __builtin_shufflevector(cn_xy, cn_xy, 0, 0);
    const v2d cn4 = __builtin_shufflevector(cn_xy, cn_xy, 2, 2);
    const v2d xy_near = cn1 * y_pair, xy_far = cn4 * y_pair;
    const v2d weight[4] = {round_to_float(__builtin_shufflevector(xy_near, xy_near, 0, 0) * cn_z),
                           round_to_float(__builtin_shufflevector(xy_near, xy_near, 1, 1) * cn_z),
                           round_to_float(__builtin_shufflevector(xy_far, xy_far, 0, 0) * cn_z),
                           round_to_float(__builtin_shufflevector(xy_far, xy_far, 1, 1) * cn_z)};

    // Offsets as (x, y) pairs for the four x/y sides, (z, 0) for the two z sides.
    const v4d o = widen(near), j = widen(far);
    const v2d offset_xy[4] = {__builtin_shufflevector(o, j, 0, 1), __builtin_shufflevector(o, j, 0, 5),
                              __builtin_shufflevector(o, j, 4, 1), __builtin_shufflevector(o, j, 4, 5)};
    const v2d offset_z[2] = {v2d{o[2], 0.0}, v2d{j[2], 0.0}};

    unsigned row[8];
    corner_rows((unsigned)cell[0] & 255u, (unsigned)cell[1] & 255u,
                ((unsigned)cell[2] + (unsigned)seed) & 255u, row, 1);
    v2d v_xy = {}, v_z = {};
#pragma GCC unroll 8
    for (int c = 0; c < 8; c++) {
        v2d g_xy, g_z;
        std::memcpy(&g_xy, hashvectf_wide + row[c], sizeof g_xy);
        std::memcpy(&g_z, hashvectf_wide + row[c] + 2, sizeof g_z);
        const double wc = weight[c >> 1][c & 1];
        const v2d w = {wc, wc};
        v_xy = round_to_float(v_xy + g_xy * offset_xy[c >> 1] * w);
        v_z = round_to_float(v_z + g_z * offset_z[c & 1] * w);
    }
    vec[0] = (float)v_xy[0];
    vec[1] = (float)v_xy[1];
    vec[2] = (float)v_z[0];
}

// Turbulence of n points: every (octave, point) pair is an independent
// evaluation with its own cell size, all taken in one run of lanes; then each
// point's octaves are folded and summed in order, N points at a time.
template <int WIDE, int NARROW> VECTOR_INLINE void turbulence_lanes(const TurbulenceJob &job)
{
    typedef typename Lanes<NARROW>::d D;
    typedef typename Lanes<NARROW>::f F;
    constexpr int capacity = (max_noise_depth + 1) * max_turbulence_batch + WIDE;
    const int n = job.n, lanes = job.octaves * n;
    alignas(64) float size[capacity], x[capacity], y[capacity], z[capacity];
    alignas(64) float tx[capacity], ty[capacity], tz[capacity];
    for (int k = 0; k < job.octaves; k++)
        for (int i = 0; i < n; i++) {
            size[k * n + i] = job.size[k];
            x[k * n + i] = job.x[i];
            y[k * n + i] = job.y[i];
            z[k * n + i] = job.z[i];
        }
    noise_lanes<WIDE, NARROW>({lanes, size, x, y, z, tx, ty, tz, job.seed});
    // The sums below read whole groups; the lanes past the end hold zeros.
    for (int l = lanes; l < lanes + NARROW; l++)
        tx[l] = ty[l] = tz[l] = 0.0f;

    if (job.hard) {
        // Each octave scaled by (|s| + 2) with the sign of its component sum s.
        for (int l = 0; l < lanes; l += NARROW) {
            const F a = load<F>(tx + l), b = load<F>(ty + l), c = load<F>(tz + l);
            const F total = narrow(widen(a) + widen(b) + widen(c));
            const F scale = select(total < 0.0f, total - 2.0f, total + 2.0f);
            store(tx + l, a * scale);
            store(ty + l, b * scale);
            store(tz + l, c * scale);
        }
    }

    // Each point's octaves in order, rounded to float after every one.
    for (int i = 0; i < n; i += NARROW) {
        D v0 = {}, v1 = {}, v2 = {};
        float div = 0.0f;
        for (int k = 0; k < job.octaves; k++) {
            const double w = job.weight[k];
            const int l = k * n + i;
            v0 = round_to_float(widen(load<F>(tx + l)) * w + v0);
            v1 = round_to_float(widen(load<F>(ty + l)) * w + v1);
            v2 = round_to_float(widen(load<F>(tz + l)) * w + v2);
            div = div + job.weight[k];
        }
        const F r0 = narrow(v0) / div, r1 = narrow(v1) / div, r2 = narrow(v2) / div;
        for (int l = 0; l < NARROW && i + l < n; l++) {
            job.vec[i + l][0] = r0[l];
            job.vec[i + l][1] = r1[l];
            job.vec[i + l][2] = r2[l];
        }
    }
}

} // namespace
