// The noise paths in plain vector code, for any processor: four lanes.
#include "noise_lanes.h"

namespace {
void turb_portable(float noisesize, float xc, float yc, float zc, float *vec, int seed)
{
    turb_one(noisesize, xc, yc, zc, vec, seed);
}
void noise_portable(const NoiseLaneJob &job) { noise_lanes<4, 4>(job); }
void turbulence_portable(const TurbulenceJob &job) { turbulence_lanes<4, 4>(job); }
} // namespace

const NoisePath portable_noise_path = {NoiseLanes::portable, turb_portable, noise_portable,
                                       turbulence_portable};
