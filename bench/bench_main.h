// What the benchmark files share beyond the points.
#pragma once

#include "noise.h"

// The noise path this processor gets when nothing is chosen, taken before
// any benchmark chooses one.
extern const NoiseLanes automatic_noise_lanes;
