// Lattice noise, turbulence and the reproducible random number.
//
// Arithmetic follows one rule throughout: operands are promoted to double, a
// formula is evaluated in double, and the result is rounded to float exactly
// where a named value is stored. The textures depend on that rounding.
#pragma once

#include <cstdint>

// Permutation of 0..255 driving every table lookup.
extern const unsigned char hash[256];
// 256 gradient vectors (x, y, z), vector g at elements 3g .. 3g + 2.
extern const float hashvectf[768];
// The same table widened to double (exactly), four per vector (x, y, z, 0),
// for the double products of turb.
alignas(32) extern const double hashvectf_wide[1024];

// Deepest turbulence the plug-ins allow ("Noise Depth" 6: seven octaves).
constexpr int max_noise_depth = 6;

// Gradient noise over the integer lattice of cell size `noisesize`. Writes a
// vector whose component sum is the noise value; each component collects
// its own axis's share of the gradient products. Size 0 gives zero.
void turb(float noisesize, float xc, float yc, float zc, float *vec, int seed);

// n independent turb evaluations at (x[i], y[i], z[i]), all with one cell
// size and seed; the same bits as n calls of turb, in less time.
void turb_batch(int n, float size, const float *x, const float *y, const float *z,
                float (*vec)[3], int seed);

// The definition of turb: the noise computed one axis and one corner at a
// time, plainly. Every fast path must give identical bits (the tests compare).
void turb_reference(float noisesize, float xc, float yc, float zc, float *vec, int seed);

// The machine paths of turb, turb_batch and point_turbulance_batch, by the
// instruction set they use; all give the same bits. "portable" is plain
// vector code for any processor (four lanes); "avx2" and "avx512" exist on
// x86 builds and run where the processor has them (four and eight lanes).
enum class NoiseLanes { portable, avx2, avx512 };
constexpr NoiseLanes all_noise_lanes[] = {NoiseLanes::portable, NoiseLanes::avx2,
                                          NoiseLanes::avx512};
const char *noise_lanes_name(NoiseLanes lanes);
int noise_lane_width(NoiseLanes lanes);
// Whether this build and this processor can run the path.
bool noise_lanes_available(NoiseLanes lanes);
// The path in use: the widest available, unless one was chosen below.
NoiseLanes noise_lanes();
// Makes every later noise call of this library take the given path; false,
// changing nothing, if it is not available. For tests and benchmarks: a
// call racing with noise evaluations on other threads is not allowed.
bool use_noise_lanes(NoiseLanes lanes);

// Fractal sum of nr + 1 octaves of turb, with the optional hard-noise fold.
// A negative nr counts as 0 (one octave), one above max_noise_depth as
// max_noise_depth, so no input can produce 0/0 or unbounded work.
void recursive_turb(float noisesize, float falloff, int hard, float x, float y, float z, float *vec,
                    int nr, int seed);

// The entry through which every pattern function asks for turbulence.
void point_turbulance(float noise_size, float falloff, int hard, float x, float y, float z,
                      float *vec, int depth, int seed);

// point_turbulance at n points at once (n at most max_turbulence_batch), the
// same bits as n calls; the octaves of all points are evaluated together.
constexpr int max_turbulence_batch = 22;
void point_turbulance_batch(float noise_size, float falloff, int hard, int n, const float *x,
                            const float *y, const float *z, float (*vec)[3], int depth, int seed);

// The points of one such batch as the noise lanes load them: each coordinate
// in its own array, with room past the last point for a whole group of
// lanes (what lies there is never part of a result).
struct TurbulencePoints {
    static constexpr int capacity = (max_turbulence_batch + 7) / 8 * 8;
    int count = 0;
    float x[capacity], y[capacity], z[capacity];

    void add(float px, float py, float pz)
    {
        x[count] = px;
        y[count] = py;
        z[count] = pz;
        count++;
    }
};
void point_turbulance_batch(float noise_size, float falloff, int hard, const TurbulencePoints &p,
                            float (*vec)[3], int depth, int seed);

// Sum of the four bytes of a float's bit pattern, modulo 256.
inline unsigned float_byte_sum(float f)
{
    uint32_t bits;
    __builtin_memcpy(&bits, &f, sizeof bits);
    return (bits + (bits >> 8) + (bits >> 16) + (bits >> 24)) & 255u;
}

// One of the 256 values k/256, fixed by the seed and the exact bits of the
// point. Inline: a sample asks for several with one point.
inline float fixed_rand(int seed, float x, float y, float z)
{
    unsigned r = hash[(float_byte_sum(x) + (unsigned)seed) & 255u];
    r = hash[(float_byte_sum(y) + r) & 255u];
    r = hash[(float_byte_sum(z) + r) & 255u];
    return (float)r / 256.0f;
}

// Cell index of a floor value: for every finite value its low 32 bits are
// those of the true integer (the tables only use the low bits), and NaN or
// infinity give cell 0. Converting such a value to int directly is undefined.
inline int32_t lattice_cell(double floor_value)
{
    if (floor_value >= -2147483648.0 && floor_value < 2147483648.0)
        return (int32_t)floor_value;
    if (!(floor_value - floor_value == 0.0)) // NaN or infinite
        return 0;
    double wrapped = __builtin_fmod(floor_value, 4294967296.0); // exact for integers
    if (wrapped < 0.0)
        wrapped += 4294967296.0;
    return (int32_t)(uint32_t)wrapped;
}
