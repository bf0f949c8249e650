// Compiled only into the test copies of the plug-ins in plugins_lanes/ (the
// shipped plug-ins export nothing but the host entries): chooses the noise
// path of the loaded copy, so that a test can run each one it has.
#include "noise.h"

// 0 portable, 1 avx2, 2 avx512 (NoiseLanes); 1 if the copy now runs that
// path, 0 if this build or processor does not have it.
extern "C" __attribute__((visibility("default"))) int texture_test_use_noise_lanes(int lanes)
{
    for (NoiseLanes choice : all_noise_lanes)
        if ((int)choice == lanes)
            return use_noise_lanes(choice) && noise_lanes() == choice ? 1 : 0;
    return 0;
}
