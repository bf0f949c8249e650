// Replays fuzz inputs through the harness without libFuzzer: every regular
// file named on the command line, or found directly inside a directory named
// there, is one input. Hidden files are skipped, and a directory that does
// not exist counts as empty (a plug-in without found crashes has no
// regressions directory). Any failing input aborts the run, so a test built
// from this fails.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char **argv)
{
    std::vector<fs::path> files;
    for (int i = 1; i < argc; i++) {
        fs::path arg = argv[i];
        if (fs::is_directory(arg)) {
            for (const auto &entry : fs::directory_iterator(arg))
                if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                    files.push_back(entry.path());
        } else if (fs::is_regular_file(arg)) {
            files.push_back(arg);
        } else if (fs::exists(arg)) {
            std::fprintf(stderr, "not a file or directory: %s\n", argv[i]);
            return 1;
        } else {
            std::printf("no inputs in %s (it does not exist)\n", argv[i]);
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto &f : files) {
        std::printf("replaying %s\n", f.c_str());
        std::fflush(stdout);
        std::ifstream in(f, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("%zu inputs replayed, none failed\n", files.size());
    return 0;
}
