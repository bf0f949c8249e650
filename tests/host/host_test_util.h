// Helpers of the host tests: where the plug-ins are, scratch folders, running
// the texhost tool as a subprocess and decoding PNG files with libpng.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <png.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace hosttest {

// A float's bit pattern, so that values compare exactly, NaN and -0 included.
inline uint32_t bits_of(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

// The five deliverables, for the tests that check every plug-in once built.
inline const std::vector<std::string> &deliverables()
{
    static const std::vector<std::string> names = {"harvoske", "quelmi", "pellosca",
                                                   "delmorasquintava", "vamorela"};
    return names;
}

inline std::string plugin_file(const std::string &deliverable)
{
    return std::string(PLUGIN_DIR) + "/" + deliverable + ".so";
}

inline std::string fake_file(const std::string &variant)
{
    return std::string(TEST_PLUGIN_DIR) + "/" + variant + ".so";
}

inline bool exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

#define REQUIRE_PLUGIN(deliverable)                                                                \
    do {                                                                                           \
        if (!hosttest::exists(hosttest::plugin_file(deliverable)))                                 \
            GTEST_SKIP() << deliverable << ".so is not built yet";                                 \
    } while (0)

// A scratch folder, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/texhost_XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data()))
            ADD_FAILURE() << "mkdtemp failed";
        path_ = buf.data();
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::string read_text(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void write_text(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline std::vector<uint8_t> file_bytes(const std::string &path)
{
    std::string s = read_text(path);
    return std::vector<uint8_t>(s.begin(), s.end());
}

// The names of the files in `dir`, sorted.
inline std::vector<std::string> files_in(const std::string &dir)
{
    std::vector<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(dir))
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

struct RunResult {
    int status = -1;  // exit status, or -1 when the tool did not exit normally (a crash)
    std::string out, err;
};

// Starts texhost with `args` in the background, its stdout and stderr into
// files in `io_dir`; `env` adds or replaces environment variables, and a
// `file_size_limit` of 0 or more sets RLIMIT_FSIZE (writing past it fails
// with EFBIG, like a full disk).
inline pid_t start_texhost(const std::vector<std::string> &args, const std::string &io_dir,
                           const std::vector<std::pair<std::string, std::string>> &env = {},
                           long file_size_limit = -1)
{
    std::string out_path = io_dir + "/stdout", err_path = io_dir + "/stderr";
    std::vector<std::string> argv_s = {TEXHOST_PATH};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &s : argv_s)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen(out_path.c_str(), "w", stdout) ||
            !std::freopen(err_path.c_str(), "w", stderr))
            _exit(127);
        for (const auto &kv : env)
            setenv(kv.first.c_str(), kv.second.c_str(), 1);
        if (file_size_limit >= 0) {
            struct rlimit lim = {(rlim_t)file_size_limit, (rlim_t)file_size_limit};
            setrlimit(RLIMIT_FSIZE, &lim);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Waits for a texhost started by start_texhost and collects what it printed.
inline RunResult finish_texhost(pid_t pid, const std::string &io_dir)
{
    RunResult r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = read_text(io_dir + "/stdout");
    r.err = read_text(io_dir + "/stderr");
    return r;
}

// Runs texhost with `args`; `env` adds or replaces environment variables.
inline RunResult run_texhost(const std::vector<std::string> &args,
                             const std::vector<std::pair<std::string, std::string>> &env = {})
{
    TempDir io;
    return finish_texhost(start_texhost(args, io.path(), env), io.path());
}

// The tool's report of bad input: exactly one line on stderr, starting with
// "texhost: ", a non-zero exit and no crash.
inline void expect_one_line_error(const RunResult &r, const std::string &must_contain)
{
    EXPECT_GT(r.status, 0) << "stderr: " << r.err;
    EXPECT_EQ(r.err.rfind("texhost: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(must_contain), std::string::npos)
        << "expected \"" << must_contain << "\" in: " << r.err;
}

// A decoded PNG: `samples` holds channels values per pixel, row by row.
struct Png {
    int width = 0, height = 0, bit_depth = 0, channels = 0;
    std::vector<uint16_t> samples;
    uint16_t at(int x, int y, int c = 0) const
    {
        return samples[((size_t)y * width + x) * channels + c];
    }
};

namespace detail {
inline void png_fail(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// Plain data only across libpng's longjmp; the caller owns the buffer.
inline bool decode(FILE *f, Png *out, std::vector<uint8_t> *raw)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_fail, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    out->width = (int)png_get_image_width(png, info);
    out->height = (int)png_get_image_height(png, info);
    out->bit_depth = png_get_bit_depth(png, info);
    out->channels = png_get_channels(png, info);
    size_t row_bytes = png_get_rowbytes(png, info);
    raw->resize(row_bytes * (size_t)out->height);
    for (int y = 0; y < out->height; y++)
        png_read_row(png, raw->data() + row_bytes * (size_t)y, nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}
} // namespace detail

inline Png read_png(const std::string &path)
{
    Png p;
    std::vector<uint8_t> raw;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        ADD_FAILURE() << "cannot open " << path;
        return p;
    }
    bool ok = detail::decode(f, &p, &raw);
    std::fclose(f);
    if (!ok) {
        ADD_FAILURE() << path << " is not a readable PNG";
        return Png{};
    }
    size_t n = (size_t)p.width * p.height * p.channels;
    p.samples.resize(n);
    for (size_t i = 0; i < n; i++)
        p.samples[i] = p.bit_depth == 16 ? (uint16_t)(raw[2 * i] << 8 | raw[2 * i + 1]) : raw[i];
    return p;
}

} // namespace hosttest
