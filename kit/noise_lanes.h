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
// Where the definition rounds to float the double result of one operation
// on floats (the offsets from the corners, the squared offset, a fold of the
// hard noise) the lanes use the float operation: for + - * / rounding the
// double result to float gives the same float, because double has more than
// twice float's precision. Everything else is done in double and rounded
// exactly where turb_reference rounds.
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
// or eight lanes in halves through memory, and converts pairs one by one, so
// a file compiled for x86 names the instructions that do it (NOISE_WIDEN4/8,
// NOISE_WIDEN_LOW and NOISE_NARROW_LOW for the low two lanes of four floats).
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
#ifdef NOISE_WIDEN_LOW
VECTOR_INLINE v2d widen_low(v4f v) { return NOISE_WIDEN_LOW(v); }
VECTOR_INLINE v4f narrow_low(v2d v) { return NOISE_NARROW_LOW(v); }
#else
VECTOR_INLINE v2d widen_low(v4f v)
{
    return __builtin_convertvector(__builtin_shufflevector(v, v, 0, 1), v2d);
}
VECTOR_INLINE v4f narrow_low(v2d v)
{
    const v2f f = __builtin_convertvector(v, v2f);
    return __builtin_shufflevector(f, f, 0, 1, 0, 1);
}
#endif
VECTOR_INLINE v4f narrow(v4d v) { return __builtin_convertvector(v, v4f); }
VECTOR_INLINE v8f narrow(v8d v) { return __builtin_convertvector(v, v8f); }
VECTOR_INLINE v4i truncate(v4f v) { return __builtin_convertvector(v, v4i); }
VECTOR_INLINE v8i truncate(v8f v) { return __builtin_convertvector(v, v8i); }
VECTOR_INLINE v4f to_float(v4i v) { return __builtin_convertvector(v, v4f); }
VECTOR_INLINE v8f to_float(v8i v) { return __builtin_convertvector(v, v8f); }

// The value a float variable would hold, kept in double.
template <class D> VECTOR_INLINE D round_to_float(D v) { return widen(narrow(v)); }
VECTOR_INLINE v2d round_to_float(v2d v) { return widen_low(narrow_low(v)); }

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

// The cells and offsets of one axis of N scaled coordinates: near =
// v - floor(v) in [0, 1] and far = near - 1, both exact float operations.
// Returns the lanes inside int range, the only ones whose results count; the
// caller evaluates the group one lane at a time if any lies outside. Inside
// int range the floor is exact by truncation, or by the processor's rounding
// instruction where the file names one (NOISE_FLOOR4/8).
#ifdef NOISE_FLOOR4
VECTOR_INLINE v4f round_down(v4f v) { return NOISE_FLOOR4(v); }
VECTOR_INLINE v8f round_down(v8f v) { return NOISE_FLOOR8(v); }
#endif
template <class F, class I> VECTOR_INLINE I split_axis(F v, I &cell, F &near, F &far)
{
    const I in_range = (I)((v >= -2147483648.0f) & (v < 2147483648.0f)); // false for NaN too
    v = (F)((I)v & in_range); // lanes outside become 0: no conversion may overflow
#ifdef NOISE_FLOOR4
    const F down = round_down(v);
    cell = truncate(down);
#else
    const I t = truncate(v);
    const F ft = to_float(t);
    const I up = ft > v; // -1 where truncation went up (negative non-integers)
    cell = t + up;
    const F down = ft - (F)(up & (I)(F{} + 1.0f));
#endif
    near = v - down;
    far = near - 1.0f;
    return in_range;
}

// Lanes of a where the mask is set, of b elsewhere.
template <class F, class I> VECTOR_INLINE F select(I mask, F a, F b)
{
    return (F)((mask & (I)a) | (~mask & (I)b));
}

// Corner weight w(t) = 1 - 3t^2 + 2|t|^3 of offsets t (also given widened),
// t^2 rounded to float first (t2, widened), in double as turb_reference forms
// it. For a far offset (t <= 0) adding 2t^2|t| is exactly the subtraction of
// 2t^2 t.
template <class D> VECTOR_INLINE D weight_of_square(D t2, D wide)
{
    const D magnitude = (D)((decltype(wide < wide))wide & 0x7fffffffffffffff);
    return round_to_float((1.0 - 3.0 * t2) + 2.0 * t2 * magnitude);
}

template <class F, class D> VECTOR_INLINE D corner_weight(F t, D wide)
{
    return weight_of_square(widen(t * t), wide);
}

// Offsets of the eight gradient rows (x, y, z, 0) of one lattice cell, in
// the order of accumulation (x side, then y, then z, near before far), from
// the low eight bits of the cell's x and y and of its z plus the seed. The
// sums are formed as size_t so that "+ 1" folds into the addressing.
VECTOR_INLINE void corner_rows(size_t x8, size_t y8, size_t z8, unsigned *row, int stride)
{
    const size_t hx = hash_twice[x8], hk = hash_twice[x8 + 1];
    const size_t column[4] = {hash_twice[hx + y8], hash_twice[hx + y8 + 1], hash_twice[hk + y8],
                              hash_twice[hk + y8 + 1]};
#pragma GCC unroll 8
    for (int c = 0; c < 8; c++)
        row[c * stride] = gradient_row_twice[column[c >> 1] + z8 + (size_t)(c & 1)];
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

// A group of N evaluations between the steps of noise_groups.
template <int N> struct Group {
    typedef typename Lanes<N>::d D;
    typedef typename Lanes<N>::f F;
    typedef typename Lanes<N>::i I;
    I cell[3];        // x, y, z
    F near[3], far[3];
    D o[3], j[3];     // near and far offsets, widened
    D weight[8];      // the corners in order of accumulation
    D v[3];           // the sums so far
    unsigned row[8][N];
};

// N coordinates (axis 0, 1 or 2) and cell sizes of the group's lanes, as
// loaded from its N / 4 quads.
template <class F> VECTOR_INLINE F load_lanes(int axis, const LaneQuad *quad);
template <class F> VECTOR_INLINE F quad_sizes(const LaneQuad *quad);
VECTOR_INLINE const float *quad_axis(const LaneQuad &q, int axis)
{
    return axis == 0 ? q.x : axis == 1 ? q.y : q.z;
}
template <> VECTOR_INLINE v4f load_lanes<v4f>(int axis, const LaneQuad *quad)
{
    return load<v4f>(quad_axis(quad[0], axis));
}
template <> VECTOR_INLINE v8f load_lanes<v8f>(int axis, const LaneQuad *quad)
{
    return __builtin_shufflevector(load<v4f>(quad_axis(quad[0], axis)),
                                   load<v4f>(quad_axis(quad[1], axis)), 0, 1, 2, 3, 4, 5, 6, 7);
}
template <> VECTOR_INLINE v4f quad_sizes<v4f>(const LaneQuad *quad) { return v4f{} + quad[0].size; }
template <> VECTOR_INLINE v8f quad_sizes<v8f>(const LaneQuad *quad)
{
    return v8f{quad[0].size, quad[0].size, quad[0].size, quad[0].size,
               quad[1].size, quad[1].size, quad[1].size, quad[1].size};
}

// Cells and offsets of the group's lanes; returns the lanes whose scaled
// coordinates all lie in int range.
template <int N>
VECTOR_INLINE typename Group<N>::I split_group(Group<N> &g, const LaneQuad *quad)
{
    typedef typename Group<N>::D D;
    typedef typename Group<N>::F F;
    typedef typename Group<N>::I I;
    const D s = widen(quad_sizes<F>(quad));
    I in_range = ~I{};
    for (int a = 0; a < 3; a++)
        in_range &= split_axis(narrow((widen(load_lanes<F>(a, quad)) + 1.0) / s), g.cell[a],
                               g.near[a], g.far[a]);
    return in_range;
}

// Weights cn1..cn6, then the eight corner weights (cx * cy) * cz.
template <int N> VECTOR_INLINE void weigh_group(Group<N> &g)
{
    typedef typename Group<N>::D D;
    D near_weight[3], far_weight[3];
    for (int a = 0; a < 3; a++) {
        g.o[a] = widen(g.near[a]);
        g.j[a] = widen(g.far[a]);
        near_weight[a] = corner_weight(g.near[a], g.o[a]);
        far_weight[a] = corner_weight(g.far[a], g.j[a]);
    }
    for (int c = 0; c < 8; c++) {
        const D cx = (c & 4) ? far_weight[0] : near_weight[0];
        const D cy = (c & 2) ? far_weight[1] : near_weight[1];
        const D cz = (c & 1) ? far_weight[2] : near_weight[2];
        g.weight[c] = round_to_float(cx * cy * cz);
    }
}

// The gradient rows of every lane's eight corners. Only the low eight bits
// of a cell index reach the tables.
template <int N> VECTOR_INLINE void hash_group(Group<N> &g, unsigned seed)
{
    typedef typename Group<N>::I I;
    const I low8 = (I)(I{} + 255);
    const I x8 = g.cell[0] & low8, y8 = g.cell[1] & low8;
    const I z8 = ((g.cell[2] & low8) + (int32_t)(seed & 255u)) & low8; // no int overflow
    int32_t cx[N], cy[N], cz[N];
    std::memcpy(cx, &x8, sizeof cx);
    std::memcpy(cy, &y8, sizeof cy);
    std::memcpy(cz, &z8, sizeof cz);
    for (int l = 0; l < N; l++)
        corner_rows((size_t)cx[l], (size_t)cy[l], (size_t)cz[l], &g.row[0][l], N);
}

// The results of the group, rounded to float.
template <int N>
VECTOR_INLINE void store_group(const Group<N> &g, float *out_x, float *out_y, float *out_z)
{
    store(out_x, narrow(g.v[0]));
    store(out_y, narrow(g.v[1]));
    store(out_z, narrow(g.v[2]));
}

// Adds corner c's share to every sum, rounded to float (corners in order).
template <int N> VECTOR_INLINE void add_corner(Group<N> &g, int c)
{
    typename Group<N>::D gradient[3];
    gradients(g.row[c], gradient[0], gradient[1], gradient[2]);
    const int far_side[3] = {c & 4, c & 2, c & 1};
    for (int a = 0; a < 3; a++) {
        const auto before = c == 0 ? typename Group<N>::D{} : g.v[a];
        const auto sum = before + gradient[a] * (far_side[a] ? g.j[a] : g.o[a]) * g.weight[c];
        g.v[a] = c < 7 ? round_to_float(sum) : sum; // the last sum is rounded on storing
    }
}

// K groups of N lanes and, if M > 0, one group of M lanes, from the job's
// quads on, interleaved so that the rounding chains of one group run while
// another's wait. Returns false, writing nothing, if a scaled coordinate of
// any lane lies outside int range.
template <int N, int K, int M = 0>
VECTOR_INLINE bool noise_groups(const NoiseLaneJob &job, const LaneQuad *quad, float *out_x,
                                float *out_y, float *out_z)
{
    Group<N> g[K];
    Group<(M > 0 ? M : 4)> extra;
    typename Group<N>::I in_range = split_group(g[0], quad);
    for (int k = 1; k < K; k++)
        in_range &= split_group(g[k], quad + k * N / 4);
    if (!all_lanes(in_range))
        return false;
    if constexpr (M > 0)
        if (!all_lanes(split_group(extra, quad + K * N / 4)))
            return false;
    for (int k = 0; k < K; k++) {
        weigh_group(g[k]);
        hash_group(g[k], (unsigned)job.seed);
    }
    if constexpr (M > 0) {
        weigh_group(extra);
        hash_group(extra, (unsigned)job.seed);
    }
#pragma GCC unroll 8
    for (int c = 0; c < 8; c++) {
        for (int k = 0; k < K; k++)
            add_corner(g[k], c);
        if constexpr (M > 0)
            add_corner(extra, c);
    }
    for (int k = 0; k < K; k++)
        store_group(g[k], out_x + k * N, out_y + k * N, out_z + k * N);
    if constexpr (M > 0)
        store_group(extra, out_x + K * N, out_y + K * N, out_z + K * N);
    return true;
}

// The same lanes one at a time, by the definition itself.
inline void quads_one_by_one(const NoiseLaneJob &job, const LaneQuad *quad, int quads,
                             float *out_x, float *out_y, float *out_z)
{
    for (int q = 0; q < quads; q++)
        for (int i = 0; i < 4; i++) {
            const LaneQuad &a = quad[q];
            const int l = 4 * q + i;
            float v[3];
            turb_reference(a.size, a.x[i], a.y[i], a.z[i], v, job.seed);
            out_x[l] = v[0];
            out_y[l] = v[1];
            out_z[l] = v[2];
        }
}

template <int N, int K, int M = 0>
VECTOR_INLINE void groups_or_one_by_one(const NoiseLaneJob &job, const LaneQuad *quad,
                                        float *out_x, float *out_y, float *out_z)
{
    if (!noise_groups<N, K, M>(job, quad, out_x, out_y, out_z))
        quads_one_by_one(job, quad, (N * K + M) / 4, out_x, out_y, out_z);
}

// The lanes left after the bulk groups of N (4 or 8): four, eight, or with
// N = 8 twelve, run as a group of eight and one of four.
template <int N> struct Tail {
    static constexpr int most = N == 8 ? 12 : 8;
    static VECTOR_INLINE void run(int rest, const NoiseLaneJob &job, const LaneQuad *quad,
                                  float *out_x, float *out_y, float *out_z)
    {
        if (rest == 4)
            groups_or_one_by_one<4, 1>(job, quad, out_x, out_y, out_z);
        else if (rest == 8)
            groups_or_one_by_one<N, 8 / N>(job, quad, out_x, out_y, out_z);
        else if constexpr (N == 8)
            groups_or_one_by_one<8, 1, 4>(job, quad, out_x, out_y, out_z);
    }
};

// Every lane of a job, K groups of N at a time, the rest as Tail<N> says. One
// group's rounding chains wait on the conversion latency, which is why a
// few groups run at once; wider groups take fewer instructions per lane but
// convert with more latency, and spare lanes cost as much as used ones.
template <int N, int K> VECTOR_INLINE void noise_lanes(const NoiseLaneJob &job)
{
    static_assert(N * K - 4 <= Tail<N>::most, "the tail takes whatever the bulk leaves");
    // The points in quads, the last one padded with the origin if it is short.
    const int whole = job.points / 4, short_quad = job.points % 4;
    alignas(16) float pad[3][4] = {};
    for (int i = 0; i < short_quad; i++) {
        pad[0][i] = job.x[4 * whole + i];
        pad[1][i] = job.y[4 * whole + i];
        pad[2][i] = job.z[4 * whole + i];
    }
    constexpr int max_quads = (max_noise_depth + 1) * TurbulencePoints::capacity / 4;
    static_assert(max_quads >= 16, "a job of 64 points");
    LaneQuad quad[max_quads];
    int quads = 0;
    for (int k = 0; k < job.octaves; k++) {
        for (int q = 0; q < whole; q++)
            quad[quads++] = {job.x + 4 * q, job.y + 4 * q, job.z + 4 * q, job.size[k]};
        if (short_quad)
            quad[quads++] = {pad[0], pad[1], pad[2], job.size[k]};
    }
    const int n = 4 * quads;
    int l = 0;
    for (; l + N * K <= n; l += N * K)
        groups_or_one_by_one<N, K>(job, quad + l / 4, job.out_x + l, job.out_y + l,
                                   job.out_z + l);
    if (l < n)
        Tail<N>::run(n - l, job, quad + l / 4, job.out_x + l, job.out_y + l, job.out_z + l);
}

// One evaluation, for a caller with a single point: x and y side by side in
// one pair of double lanes, z in another, which keeps the rounding chains
// as short as the processor allows (wider registers convert more slowly).
VECTOR_INLINE void turb_one(float noisesize, float xc, float yc, float zc, float *vec, int seed)
{
    if (noisesize == 0.0f) {
        vec[0] = vec[1] = vec[2] = 0.0f;
        return;
    }
    const double s = noisesize;
    const v4f p = {xc, yc, zc, zc};
    const v4f p_z = __builtin_shufflevector(p, p, 2, 3, 2, 3);
    const v4f scaled_xy = narrow_low((widen_low(p) + 1.0) / s);
    const v4f scaled_z = narrow_low((widen_low(p_z) + 1.0) / s);
    v4i cell;
    v4f near, far; // x, y, z, z
    if (!all_lanes(split_axis(__builtin_shufflevector(scaled_xy, scaled_z, 0, 1, 4, 5), cell,
                              near, far))) {
        turb_reference(noisesize, xc, yc, zc, vec, seed);
        return;
    }
    // Offsets (ox, oy), (jx, jy), (oz, jz), widened.
    const v4f xy_sides = __builtin_shufflevector(near, far, 0, 1, 4, 5);
    const v4f z_sides = __builtin_shufflevector(near, far, 2, 6, 2, 6);
    const v4f far_xy = __builtin_shufflevector(xy_sides, xy_sides, 2, 3, 2, 3);
    const v2d o = widen_low(xy_sides), j = widen_low(far_xy), oj_z = widen_low(z_sides);

    // Weights (cn1, cn2), (cn4, cn5), (cn3, cn6); then (cx * cy) * cz for
    // the corners in order, two at a time (z near, z far).
    const v4f xy_squares = xy_sides * xy_sides, z_squares = z_sides * z_sides;
    const v2d cn_near = weight_of_square(widen_low(xy_squares), o);
    const v4f far_squares = __builtin_shufflevector(xy_squares, xy_squares, 2, 3, 2, 3);
    const v2d cn_far = weight_of_square(widen_low(far_squares), j);
    const v2d cn_z = weight_of_square(widen_low(z_squares), oj_z);
    const v2d y_pair = __builtin_shufflevector(cn_near, cn_far, 1, 3); // cn2, cn5
    const v2d xy_near = cn_near[0] * y_pair, xy_far = cn_far[0] * y_pair;
    const v2d weight[4] = {round_to_float(xy_near[0] * cn_z), round_to_float(xy_near[1] * cn_z),
                           round_to_float(xy_far[0] * cn_z), round_to_float(xy_far[1] * cn_z)};

    // Offsets as (x, y) pairs for the four x/y sides, (z, 0) for the two z sides.
    const v2d offset_xy[4] = {o, __builtin_shufflevector(o, j, 0, 3),
                              __builtin_shufflevector(j, o, 0, 3), j};
    const v2d offset_z[2] = {v2d{oj_z[0], 0.0}, v2d{oj_z[1], 0.0}};

    unsigned row[8];
    corner_rows((unsigned)cell[0] & 255u, (unsigned)cell[1] & 255u,
                ((unsigned)cell[2] + (unsigned)seed) & 255u, row, 1);
    v2d v_xy = {}, v_z = {};
#pragma GCC unroll 8
    for (int c = 0; c < 8; c++) {
        v2d g_xy, g_z;
        std::memcpy(&g_xy, hashvectf_wide + row[c], sizeof g_xy);
        std::memcpy(&g_z, hashvectf_wide + row[c] + 2, sizeof g_z);
        const double w = weight[c >> 1][c & 1];
        v_xy = round_to_float(v_xy + g_xy * offset_xy[c >> 1] * w);
        v_z = round_to_float(v_z + g_z * offset_z[c & 1] * w);
    }
    const v4f xy = narrow_low(v_xy);
    vec[0] = xy[0];
    vec[1] = xy[1];
    vec[2] = (float)v_z[0];
}

// Turbulence of n points: every (octave, point) pair is an independent
// evaluation with its own cell size, all taken in one run of lanes; then each
// point's octaves are folded and summed in order, N points at a time.
template <int N, int K> VECTOR_INLINE void turbulence_lanes(const TurbulenceJob &job)
{
    constexpr int NARROW = 4; // points summed at a time
    typedef typename Lanes<NARROW>::d D;
    typedef typename Lanes<NARROW>::f F;
    const TurbulencePoints &p = *job.points;
    // Lane k * points + i holds octave k of point i.
    const int n = p.count, points = (n + 3) & ~3, lanes = job.octaves * points;
    constexpr int room = (max_noise_depth + 1) * TurbulencePoints::capacity;
    alignas(32) float tx[room], ty[room], tz[room];
    noise_lanes<N, K>({job.octaves, job.size, n, p.x, p.y, p.z, tx, ty, tz, job.seed});

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

    // Each point's octaves in order, rounded to float after every one. The
    // first octave has weight 1, so its sum needs no rounding, and alone it
    // is divided by 1.
    for (int i = 0; i < n; i += NARROW) {
        D v0 = widen(load<F>(tx + i)) + 0.0, v1 = widen(load<F>(ty + i)) + 0.0,
          v2 = widen(load<F>(tz + i)) + 0.0;
        float div = job.weight[0];
        for (int k = 1; k < job.octaves; k++) {
            const double w = job.weight[k];
            const int l = k * points + i;
            v0 = round_to_float(widen(load<F>(tx + l)) * w + v0);
            v1 = round_to_float(widen(load<F>(ty + l)) * w + v1);
            v2 = round_to_float(widen(load<F>(tz + l)) * w + v2);
            div = div + job.weight[k];
        }
        F r0 = narrow(v0), r1 = narrow(v1), r2 = narrow(v2);
        if (job.octaves > 1) {
            r0 = r0 / div;
            r1 = r1 / div;
            r2 = r2 / div;
        }
        for (int l = 0; l < NARROW && i + l < n; l++) {
            job.vec[i + l][0] = r0[l];
            job.vec[i + l][1] = r1[l];
            job.vec[i + l][2] = r2[l];
        }
    }
}

// The three entries of a path whose bulk runs K groups of N lanes.
template <int N, int K> struct LanePath {
    static void turb(float noisesize, float xc, float yc, float zc, float *vec, int seed)
    {
        turb_one(noisesize, xc, yc, zc, vec, seed);
    }
    static void noise(const NoiseLaneJob &job) { noise_lanes<N, K>(job); }
    static void turbulence(const TurbulenceJob &job) { turbulence_lanes<N, K>(job); }
};

} // namespace
