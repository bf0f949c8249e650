// The benchmark's entry: records the processor and the noise path in use
// with the results (tools/bench.sh prints them with its table).
#include "bench_main.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

const NoiseLanes automatic_noise_lanes = noise_lanes();

namespace {

std::string processor_model()
{
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("model name", 0) == 0 && line.find(':') != std::string::npos)
            return line.substr(line.find(':') + 2);
    return "unknown";
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::AddCustomContext("processor", processor_model());
    benchmark::AddCustomContext("noise_path", noise_lanes_name(automatic_noise_lanes));
    benchmark::AddCustomContext("noise_lanes",
                                std::to_string(noise_lane_width(automatic_noise_lanes)));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
