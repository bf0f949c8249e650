// The evaluation of one shading sample, shared by every plug-in:
// supersampling over the footprint with reproducible jitter, the bump vector
// from forward or two-way differences, attenuated for large footprints.
//
// A plug-in describes itself by a texture record `T` with
//   using Cast = ...;                 its parameter block (common prefix first)
//   static constexpr EvalOptions options;
//   static float sample(int stype, const Cast *cast, float x, float y, float z,
//                       const float *normal, float *color);
// `sample` is the pattern function; `normal` is the footprint normal (or null)
// when options.footprint_normal is set, and `color` receives the colour value
// when options.average_color is set. It is a template argument, so the
// pattern inlines into the procedure.
#pragma once

#include "map_range.h"
#include "noise.h"
#include "plugin_api.h"
#include "vector.h"

#include <cmath>

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

// A finite bump component, or 0.
inline float finite_or_zero(float v) { return std::isfinite(v) ? v : 0.0f; }

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
    float x = 0.0f, y = 0.0f, z = 0.0f, first_result = 0.0f, value, color = 0.0f;

    if (dxt) {
        float osa_size = vec_len(dxt) + vec_len(dyt);
        float good = good_osa_size<T>(c);
        float sample_factor = 1.0f;
        if (osa_size > good)
            sample_factor = osa_size / good;
        bump_factor = bump_factor / sample_factor;

        int level = osa_level<T>(c);
        float osa_color = 0.0f;
        for (int i = 0; i < level; i++) {
            float px = texvec[0], py = texvec[1], pz = texvec[2];
            if (opt.jitter_first_sample || i > 0) {
                float fx = fixed_rand(2 * i, texvec[0], texvec[1], texvec[2]) - 0.5f;
                float fy = fixed_rand(2 * i + 1, texvec[0], texvec[1], texvec[2]) - 0.5f;
                px = (float)((double)dxt[0] * fx + (double)dyt[0] * fy + texvec[0]);
                py = (float)((double)dxt[1] * fx + (double)dyt[1] * fy + texvec[1]);
                pz = (float)((double)dxt[2] * fx + (double)dyt[2] * fy + texvec[2]);
            }
            float tresult = T::sample(stype, &c, px, py, pz, normal_vec, &color);
            if (i == 0) {
                first_result = tresult;
                x = px;
                y = py;
                z = pz;
            }
            osa_color = osa_color + (opt.average_color ? color : tresult);
        }
        value = osa_color / (float)level;
    } else {
        x = texvec[0];
        y = texvec[1];
        z = texvec[2];
        first_result = T::sample(stype, &c, x, y, z, normal_vec, &color);
        value = opt.average_color ? color : first_result;
    }
    out[0] = clip_unit(value);

    if (!c.do_bump)
        return 0;

    float t; // colour of the bump samples: not used
    float nx = T::sample(stype, &c, x + s, y, z, normal_vec, &t) - first_result;
    float ny = T::sample(stype, &c, x, y + s, z, normal_vec, &t) - first_result;
    float nz = T::sample(stype, &c, x, y, z + s, normal_vec, &t) - first_result;
    if (c.double_bump) {
        nx = (float)(nx - ((double)T::sample(stype, &c, x - s, y, z, normal_vec, &t) - first_result));
        ny = (float)(ny - ((double)T::sample(stype, &c, x, y - s, z, normal_vec, &t) - first_result));
        nz = (float)(nz - ((double)T::sample(stype, &c, x, y, z - s, normal_vec, &t) - first_result));
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
