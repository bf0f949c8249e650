// The straightforward lattice noise, one axis and one corner at a time. turb
// must give the same bits; the tests compare the two over many points.
#include "noise.h"

#include <cmath>

namespace {

inline unsigned perm(unsigned index) { return hash[index & 255u]; }

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

// One axis of the scaled point: its cell and its offsets from the near corner
// (in [0, 1)) and from the far corner (in [-1, 0)).
struct Axis {
    unsigned cell;
    float near, far;
};

inline Axis split_axis(float v)
{
    double f = std::floor(v);
    Axis a;
    a.cell = (unsigned)lattice_cell(f);
    a.near = (float)(v - f);
    a.far = (float)(a.near - 1.0);
    return a;
}

inline float product(float a, float b, float c) { return (float)((double)a * b * c); }

} // namespace

void turb_reference(float noisesize, float xc, float yc, float zc, float *vec, int seed)
{
    if (noisesize == 0.0f) {
        vec[0] = vec[1] = vec[2] = 0.0f;
        return;
    }

    const Axis ax = split_axis((float)((xc + 1.0) / noisesize));
    const Axis ay = split_axis((float)((yc + 1.0) / noisesize));
    const Axis az = split_axis((float)((zc + 1.0) / noisesize));

    const float cn1 = near_weight(ax.near), cn2 = near_weight(ay.near), cn3 = near_weight(az.near);
    const float cn4 = far_weight(ax.far), cn5 = far_weight(ay.far), cn6 = far_weight(az.far);

    const unsigned hx = perm(ax.cell), hk = perm(ax.cell + 1u);
    const unsigned b00 = perm(hx + ay.cell), b01 = perm(hx + ay.cell + 1u);
    const unsigned b10 = perm(hk + ay.cell), b11 = perm(hk + ay.cell + 1u);
    const unsigned z0 = az.cell + (unsigned)seed, z1 = z0 + 1u;

    // The eight corners in their fixed order of accumulation: x side, then
    // y side, then z side, near before far. Each sum is rounded to float.
    const unsigned column[8] = {b00, b00, b01, b01, b10, b10, b11, b11};
    const unsigned zpart[8] = {z0, z1, z0, z1, z0, z1, z0, z1};
    const float weight[8] = {product(cn1, cn2, cn3), product(cn1, cn2, cn6),
                             product(cn1, cn5, cn3), product(cn1, cn5, cn6),
                             product(cn4, cn2, cn3), product(cn4, cn2, cn6),
                             product(cn4, cn5, cn3), product(cn4, cn5, cn6)};
    const double dx[2] = {ax.near, ax.far}, dy[2] = {ay.near, ay.far}, dz[2] = {az.near, az.far};

    float v0 = 0.0f, v1 = 0.0f, v2 = 0.0f;
    for (int c = 0; c < 8; c++) {
        const float *h = &hashvectf[3 * perm(column[c] + zpart[c])];
        const double w = weight[c];
        v0 = (float)(v0 + h[0] * dx[c >> 2] * w);
        v1 = (float)(v1 + h[1] * dy[(c >> 1) & 1] * w);
        v2 = (float)(v2 + h[2] * dz[c & 1] * w);
    }
    vec[0] = v0;
    vec[1] = v1;
    vec[2] = v2;
}

