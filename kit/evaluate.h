// The evaluation of one shading sample, shared by every plug-in:
// supersampling over the footprint with reproducible jitter, the bump vector
// from forward or two-way differences, attenuated for large footprints.
//
// A plug-in describes itself by a texture record `T` with
//   using Cast = ...;                 its parameter block (common prefix first)
//   static constexpr EvalOptions options;
//   static float sample(int stype, const Cast *cast, float x, float y, float z,
//                       const float *normal, float *color);
//   static void turbulence_point(int stype, const Cast *cast, float x, float y, float z,
//                                float *at);
//   struct Constants;
//   static Constants constants(int stype, const Cast *cast, const float *normal);
//   static float finish(const Constants &k, const float *at, const float *turbulence,
//                       float *color);
// `sample` is the pattern function; `normal` is the footprint normal (or null)
// when options.footprint_normal is set, and `color` receives the colour value
// when options.average_color is set. The pattern is split in two around its one
// turbulence evaluation: `turbulence_point` gives the point `at` where the
// turbulence is taken, `constants` what the rest needs that is the same at
// every point of a sample (worked out once per sample), and `finish` the value
// from the point and its turbulence, so that sample(p) == finish(constants,
// at, point_turbulance(at)) with at = turbulence_point(p). The procedure
// knows all its points before it evaluates any, so it takes the turbulence of
// all of them in one batch; built with TEXTURES_STRAIGHTFORWARD it calls
// `sample` point by point instead. Both give the same bits (tested).
#pragma once

#include "map_range.h"
#include "noise.h"
#include "plugin_api.h"
#include "vector.h"

#include <cmath>
#include <type_traits>

// How the footprint size up to which the bump keeps full strength is chosen.
enum class GoodOsaRule {
    half_noise_size,  // noise_size * 0.5
    turbulence_scaled // min(noise_size * 0.5 / (turbulance_weight + 0.0001), cap)
};

struct EvalOptions {
    bool use_footprint;        // false: one sample at texvec, footprint ignored
    GoodOsaRule good_osa_rule;
    double good_osa_cap;       // for turbulence_scaled
    bool jitter_first_sample;  // false: sample 0 lies at texvec itself
    bool average_color;        // average the colour out-value instead of the pattern value
    bool footprint_normal;     // hand dxt x dyt, normalised, to every pattern call
    bool exact_bump_factor;    // scale by 0.05 in double, never attenuated
};

constexpr int max_osa = 16;

// Bump step: noise_size * filter, shrunk with the finer octaves.
template <class Cast> inline float bump_step(const Cast &c)
{
    float s = c.noise_size * c.filter;
    if (c.depth > 0) {
        s = s * c.falloff;
        int depth = c.depth > max_noise_depth ? max_noise_depth : c.depth;
        for (int i = 1; i < depth; i++)
            s = (float)(s * 0.6);
    }
    return s;
}

template <class T> inline float good_osa_size(const typename T::Cast &c)
{
    if constexpr (T::options.good_osa_rule == GoodOsaRule::half_noise_size) {
        return (float)(c.noise_size * 0.5);
    } else {
        double q = c.noise_size * 0.5 / (c.turbulance_weight + 0.0001);
        return q < T::options.good_osa_cap ? (float)q : (float)T::options.good_osa_cap;
    }
}

// Number of supersamples over the footprint. Only plug-ins that use the
// footprint have an "OSA" field; the others never get here.
template <class T> inline int osa_level(const typename T::Cast &c)
{
    if constexpr (T::options.use_footprint) {
        // Out-of-range sample counts: at least one sample, at most the widget's maximum.
        return c.osa < 1 ? 1 : (c.osa > max_osa ? max_osa : c.osa);
    } else {
        return 1;
    }
}

// For patterns that take their turbulence at the sample point itself.
struct TurbulenceAtSamplePoint {
    template <class Cast>
    static void turbulence_point(int, const Cast *, float x, float y, float z, float *at)
    {
        at[0] = x;
        at[1] = y;
        at[2] = z;
    }
};

// A finite bump component, or 0.
inline float finite_or_zero(float v) { return std::isfinite(v) ? v : 0.0f; }

// The points of one shading sample: the supersamples, then the bump points.
constexpr int max_sample_points = max_osa + 6;
static_assert(max_sample_points <= max_turbulence_batch, "one batch holds every point of a sample");
using SamplePoints = TurbulencePoints;

// Pattern values (and colour values) at every point.
template <class T>
inline void evaluate_points(int stype, const typename T::Cast &c, const SamplePoints &p,
                            const float *normal, float *value, float *color)
{
#ifdef TEXTURES_STRAIGHTFORWARD
    for (int i = 0; i < p.count; i++)
        value[i] = T::sample(stype, &c, p.x[i], p.y[i], p.z[i], normal, &color[i]);
#else
    float turbulence[max_sample_points][3];
    const typename T::Constants k = T::constants(stype, &c, normal);
    if constexpr (std::is_base_of<TurbulenceAtSamplePoint, T>::value) {
        point_turbulance_batch(c.noise_size, c.falloff, c.hard_noise, p, turbulence, c.depth,
                               c.seed);
        for (int i = 0; i < p.count; i++) {
            const float at[3] = {p.x[i], p.y[i], p.z[i]};
            value[i] = T::finish(k, at, turbulence[i], &color[i]);
        }
    } else {
        TurbulencePoints at;
        for (int i = 0; i < p.count; i++) {
            float a[3];
            T::turbulence_point(stype, &c, p.x[i], p.y[i], p.z[i], a);
            at.add(a[0], a[1], a[2]);
        }
        point_turbulance_batch(c.noise_size, c.falloff, c.hard_noise, at, turbulence, c.depth,
                               c.seed);
        for (int i = 0; i < p.count; i++) {
            const float a[3] = {at.x[i], at.y[i], at.z[i]};
            value[i] = T::finish(k, a, turbulence[i], &color[i]);
        }
    }
#endif
}

template <class T>
inline int evaluate(int stype, const void *block, const float *texvec, const float *dxt,
                    const float *dyt, float *out)
{
    if (!out)
        return 0;
    if (!block || !texvec) {
        out[0] = 0.0f;
        return 0;
    }
    using Cast = typename T::Cast;
    const Cast &c = *static_cast<const Cast *>(block);
    constexpr EvalOptions opt = T::options;
    static const float zero[3] = {0.0f, 0.0f, 0.0f};
    if (!opt.use_footprint)
        dxt = nullptr;
    if (dxt && !dyt)
        dyt = zero;

    // Footprint normal, once per call, for patterns that judge the slope.
    float normal[3];
    const float *normal_vec = nullptr;
    if (opt.footprint_normal && dxt) {
        float xvec[3], yvec[3];
        vec_copy(xvec, dxt);
        vec_copy(yvec, dyt);
        crossp(normal, xvec, yvec);
        vec_normalize(normal);
        normal_vec = normal;
    }

    float bump_factor = 0.05f;
    const float s = bump_step(c);

    // Supersamples: jittered over the footprint (sample 0 too, unless the
    // plug-in keeps it at texvec), or the single point texvec.
    SamplePoints p;
    int level = 1;
    if (dxt) {
        float osa_size = vec_len(dxt) + vec_len(dyt);
        float good = good_osa_size<T>(c);
        float sample_factor = 1.0f;
        if (osa_size > good)
            sample_factor = osa_size / good;
        bump_factor = bump_factor / sample_factor;

        level = osa_level<T>(c);
        for (int i = 0; i < level; i++) {
            if (!opt.jitter_first_sample && i == 0) {
                p.add(texvec[0], texvec[1], texvec[2]);
                continue;
            }
            float fx = fixed_rand(2 * i, texvec[0], texvec[1], texvec[2]) - 0.5f;
            float fy = fixed_rand(2 * i + 1, texvec[0], texvec[1], texvec[2]) - 0.5f;
            p.add((float)((double)dxt[0] * fx + (double)dyt[0] * fy + texvec[0]),
                  (float)((double)dxt[1] * fx + (double)dyt[1] * fy + texvec[1]),
                  (float)((double)dxt[2] * fx + (double)dyt[2] * fy + texvec[2]));
        }
    } else {
        p.add(texvec[0], texvec[1], texvec[2]);
    }

    // Bump points around the base point, sample 0.
    const float x = p.x[0], y = p.y[0], z = p.z[0];
    if (c.do_bump) {
        p.add(x + s, y, z);
        p.add(x, y + s, z);
        p.add(x, y, z + s);
        if (c.double_bump) {
            p.add(x - s, y, z);
            p.add(x, y - s, z);
            p.add(x, y, z - s);
        }
    }

    float value[max_sample_points], color[max_sample_points];
    evaluate_points<T>(stype, c, p, normal_vec, value, color);

    const float *averaged = opt.average_color ? color : value;
    if (dxt) {
        float osa_color = 0.0f;
        for (int i = 0; i < level; i++)
            osa_color = osa_color + averaged[i];
        out[0] = clip_unit(osa_color / (float)level);
    } else {
        out[0] = clip_unit(averaged[0]);
    }

    if (!c.do_bump)
        return 0;

    const float first_result = value[0];
    const float *bump = value + level;
    float nx = bump[0] - first_result;
    float ny = bump[1] - first_result;
    float nz = bump[2] - first_result;
    if (c.double_bump) {
        nx = (float)(nx - ((double)bump[3] - first_result));
        ny = (float)(ny - ((double)bump[4] - first_result));
        nz = (float)(nz - ((double)bump[5] - first_result));
        nx = nx * 0.5f;
        ny = ny * 0.5f;
        nz = nz * 0.5f;
    }
    const double scale = opt.exact_bump_factor ? 0.05 / s : (double)bump_factor / s;
    out[5] = finite_or_zero((float)(nx * scale));
    out[6] = finite_or_zero((float)(ny * scale));
    out[7] = finite_or_zero((float)(nz * scale));
    return RESULT_HAS_NORMAL;
}
