#include "noise.h"

#include <cmath>
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

// Adds one corner's gradient, each axis weighted by its own offset.
inline void add_corner(float *vec, unsigned column, unsigned zpart, unsigned seed, float weight,
                       float dx, float dy, float dz)
{
    const float *h = &hashvectf[3 * perm(column + zpart + seed)];
    vec[0] = (float)(vec[0] + (double)h[0] * dx * weight);
    vec[1] = (float)(vec[1] + (double)h[1] * dy * weight);
    vec[2] = (float)(vec[2] + (double)h[2] * dz * weight);
}

inline float product(float a, float b, float c) { return (float)((double)a * b * c); }

} // namespace

void turb(float noisesize, float xc, float yc, float zc, float *vec, int seed)
{
    vec[0] = vec[1] = vec[2] = 0.0f;
    if (noisesize == 0.0f)
        return;

    float x = (float)((xc + 1.0) / noisesize);
    float y = (float)((yc + 1.0) / noisesize);
    float z = (float)((zc + 1.0) / noisesize);

    double fx = std::floor(x), fy = std::floor(y), fz = std::floor(z);
    unsigned ix = (unsigned)lattice_cell(fx);
    unsigned iy = (unsigned)lattice_cell(fy);
    unsigned iz = (unsigned)lattice_cell(fz);
    float ox = (float)(x - fx), oy = (float)(y - fy), oz = (float)(z - fz);
    float jx = (float)(ox - 1.0), jy = (float)(oy - 1.0), jz = (float)(oz - 1.0);
    unsigned kx = ix + 1u, ky = iy + 1u, kz = iz + 1u;

    float cn1 = near_weight(ox), cn2 = near_weight(oy), cn3 = near_weight(oz);
    float cn4 = far_weight(jx), cn5 = far_weight(jy), cn6 = far_weight(jz);

    unsigned b00 = perm(perm(ix) + iy);
    unsigned b10 = perm(perm(kx) + iy);
    unsigned b01 = perm(perm(ix) + ky);
    unsigned b11 = perm(perm(kx) + ky);
    unsigned b20 = iz & 255u, b21 = kz & 255u;
    unsigned s = (unsigned)seed;

    add_corner(vec, b00, b20, s, product(cn1, cn2, cn3), ox, oy, oz);
    add_corner(vec, b00, b21, s, product(cn1, cn2, cn6), ox, oy, jz);
    add_corner(vec, b01, b20, s, product(cn1, cn5, cn3), ox, jy, oz);
    add_corner(vec, b01, b21, s, product(cn1, cn5, cn6), ox, jy, jz);
    add_corner(vec, b10, b20, s, product(cn4, cn2, cn3), jx, oy, oz);
    add_corner(vec, b10, b21, s, product(cn4, cn2, cn6), jx, oy, jz);
    add_corner(vec, b11, b20, s, product(cn4, cn5, cn3), jx, jy, oz);
    add_corner(vec, b11, b21, s, product(cn4, cn5, cn6), jx, jy, jz);
}

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
        if (hard) {
            // Fold the octave: scale by (|sum| + 2) with the sum's sign, so the
            // octave's component sum is never negative.
            float total = (float)((double)tvec[0] + tvec[1] + tvec[2]);
            total = total < 0.0f ? (float)(total - 2.0) : (float)(total + 2.0);
            tvec[0] = tvec[0] * total;
            tvec[1] = tvec[1] * total;
            tvec[2] = tvec[2] * total;
        }
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
