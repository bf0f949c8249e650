#include "image.h"

#include "loader.h"

#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

namespace texhost {

uint8_t to_8bit(double v)
{
    if (!(v > 0.0))
        return 0;
    if (v >= 1.0)
        return 255;
    return (uint8_t)std::floor(v * 255.0 + 0.5);
}

uint16_t to_16bit(double v)
{
    if (!(v > 0.0))
        return 0;
    if (v >= 1.0)
        return 65535;
    return (uint16_t)std::floor(v * 65535.0 + 0.5);
}

std::vector<uint8_t> gray8_pixels(const Rendering &r)
{
    std::vector<uint8_t> px(r.value.size());
    for (size_t i = 0; i < px.size(); i++)
        px[i] = to_8bit(r.value[i]);
    return px;
}

std::vector<uint16_t> gray16_pixels(const Rendering &r)
{
    std::vector<uint16_t> px(r.value.size());
    for (size_t i = 0; i < px.size(); i++)
        px[i] = to_16bit(r.value[i]);
    return px;
}

std::vector<uint8_t> normal_map_pixels(const Rendering &r) { return encode_normals(r.normal); }

namespace {

template <typename T, typename Quantise>
std::vector<T> packed_pixels(const Rendering &r, Quantise q)
{
    if (r.normal.size() != r.value.size() * 3)
        throw HostError("internal: a packed image needs the normal map");
    std::vector<T> px(r.value.size() * 4);
    for (size_t i = 0; i < r.value.size(); i++) {
        for (int k = 0; k < 3; k++)
            px[4 * i + k] = q((r.normal[3 * i + k] + 1.0) * 0.5);
        px[4 * i + 3] = q(r.value[i]);
    }
    return px;
}

} // namespace

std::vector<uint8_t> packed8_pixels(const Rendering &r)
{
    return packed_pixels<uint8_t>(r, to_8bit);
}

std::vector<uint16_t> packed16_pixels(const Rendering &r)
{
    return packed_pixels<uint16_t>(r, to_16bit);
}

// ---- files that appear complete or not at all ----

namespace {

// The process's file creation mask, read without changing it (umask() would
// change it for every thread for a moment).
mode_t current_umask()
{
    FILE *f = std::fopen("/proc/self/status", "r");
    unsigned mask = 022;
    if (f) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "Umask: %o", &mask) == 1)
                break;
        std::fclose(f);
    }
    return (mode_t)mask;
}

} // namespace

AtomicFile::AtomicFile(const std::string &path) : path_(path)
{
    struct stat st;
    bool existed = stat(path.c_str(), &st) == 0;
    if (existed && S_ISDIR(st.st_mode))
        fail("it is a folder");
    if (existed && !S_ISREG(st.st_mode)) {
        file_ = std::fopen(path.c_str(), "wb");
        if (!file_)
            fail(std::strerror(errno));
        return;
    }
    std::string pattern = path + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0)
        fail(std::strerror(errno));
    temp_ = name.data();
    // mkstemp makes the file private; give it the mode a new file (or the
    // file it replaces) would have.
    mode_t mode = existed ? (st.st_mode & 07777) : (0666 & ~current_umask());
    if (fchmod(fd, mode) != 0 || !(file_ = fdopen(fd, "wb"))) {
        int e = errno;
        close(fd);
        unlink(temp_.c_str());
        temp_.clear();
        fail(std::strerror(e));
    }
}

AtomicFile::~AtomicFile()
{
    if (file_)
        std::fclose(file_);
    if (!committed_ && !temp_.empty())
        unlink(temp_.c_str());
}

void AtomicFile::fail(const std::string &reason) const
{
    throw HostError("cannot write \"" + path_ + "\": " + reason);
}

void AtomicFile::commit()
{
    if (committed_ || !file_)
        fail("internal: the file was already closed");
    int error = 0;
    if (std::fflush(file_) != 0 || std::ferror(file_))
        error = errno ? errno : EIO;
    if (std::fclose(file_) != 0 && !error)
        error = errno;
    file_ = nullptr;
    if (error)
        fail(std::strerror(error));
    if (!temp_.empty() && std::rename(temp_.c_str(), path_.c_str()) != 0)
        fail(std::strerror(errno));
    committed_ = true;
}

// ---- PNG encoding ----

struct PngWriter::State {
    png_structp png = nullptr;
    png_infop info = nullptr;
    FILE *file = nullptr;
    std::vector<uint8_t> *memory = nullptr;
    std::vector<uint8_t> row;    // one row of 16-bit samples as bytes
    char message[256] = "";
    bool failed = false;
};

namespace {

void on_png_error(png_structp png, png_const_charp msg)
{
    auto *s = static_cast<PngWriter::State *>(png_get_error_ptr(png));
    std::snprintf(s->message, sizeof s->message, "%s", msg);
    png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

// Sinks for libpng's output. They report failure through png_error, which
// jumps back into the PngWriter call; nothing here needs destroying then.
void write_to_file(png_structp png, png_bytep data, size_t n)
{
    auto *s = static_cast<PngWriter::State *>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, n, s->file) != n)
        png_error(png, std::strerror(errno ? errno : EIO));
}

void flush_file(png_structp png)
{
    auto *s = static_cast<PngWriter::State *>(png_get_io_ptr(png));
    if (std::fflush(s->file) != 0)
        png_error(png, std::strerror(errno));
}

void write_to_memory(png_structp png, png_bytep data, size_t n)
{
    auto *s = static_cast<PngWriter::State *>(png_get_io_ptr(png));
    bool ok = true;
    try {
        s->memory->insert(s->memory->end(), data, data + n);
    } catch (const std::bad_alloc &) {
        ok = false;
    }
    if (!ok)
        png_error(png, "out of memory");
}

void flush_memory(png_structp) {}

[[noreturn]] void png_failed(PngWriter::State *s)
{
    s->failed = true;
    throw HostError(s->message[0] ? s->message : "libpng failed");
}

} // namespace

PngWriter::PngWriter(FILE *file, int width, int height, int bit_depth, int channels)
    : state_(new State)
{
    state_->file = file;
    start(width, height, bit_depth, channels, PngEffort::file);
}

PngWriter::PngWriter(std::vector<uint8_t> *memory, int width, int height, int bit_depth,
                     int channels, PngEffort effort)
    : state_(new State)
{
    state_->memory = memory;
    start(width, height, bit_depth, channels, effort);
}

PngWriter::~PngWriter()
{
    png_destroy_write_struct(&state_->png, &state_->info);
    delete state_;
}

void PngWriter::start(int width, int height, int bit_depth, int channels, PngEffort effort)
{
    static const int color_types[5] = {0, PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA,
                                       PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA};
    State *s = state_;
    if (width <= 0 || height <= 0 || channels < 1 || channels > 4 ||
        (bit_depth != 8 && bit_depth != 16)) {
        delete s;
        throw HostError("internal: no PNG of this shape");
    }
    row_bytes_ = width * channels * (bit_depth / 8);
    rows_left_ = height;
    bit_depth_ = bit_depth;
    s->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, s, on_png_error, on_png_warning);
    if (s->png)
        s->info = png_create_info_struct(s->png);
    if (!s->info) {
        png_destroy_write_struct(&s->png, nullptr);
        delete s;
        throw HostError("out of memory");
    }
    if (setjmp(png_jmpbuf(s->png))) {
        std::string message = s->message;
        png_destroy_write_struct(&s->png, &s->info);
        delete s;
        throw HostError(message);
    }
    if (s->file)
        png_set_write_fn(s->png, s, write_to_file, flush_file);
    else
        png_set_write_fn(s->png, s, write_to_memory, flush_memory);
    if (effort == PngEffort::quick) {
        png_set_compression_level(s->png, 1);
        png_set_filter(s->png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    }
    png_set_IHDR(s->png, s->info, (png_uint_32)width, (png_uint_32)height, bit_depth,
                 color_types[channels], PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(s->png, s->info);
}

void PngWriter::put_rows(const uint8_t *bytes, int rows)
{
    State *s = state_;
    if (s->failed || rows > rows_left_)
        throw HostError("internal: PNG rows after a failure or beyond the image");
    if (setjmp(png_jmpbuf(s->png)))
        png_failed(s);
    for (int y = 0; y < rows; y++)
        png_write_row(s->png, bytes + (size_t)y * row_bytes_);
    rows_left_ -= rows;
}

void PngWriter::write_rows(const uint8_t *samples, int rows)
{
    if (bit_depth_ != 8)
        throw HostError("internal: 8-bit rows for a 16-bit PNG");
    put_rows(samples, rows);
}

void PngWriter::write_rows(const uint16_t *samples, int rows)
{
    if (bit_depth_ != 16)
        throw HostError("internal: 16-bit rows for an 8-bit PNG");
    // PNG stores 16-bit samples most significant byte first.
    std::vector<uint8_t> &row = state_->row;
    row.resize((size_t)row_bytes_);
    const size_t per_row = (size_t)row_bytes_ / 2;
    for (int y = 0; y < rows; y++) {
        const uint16_t *in = samples + (size_t)y * per_row;
        for (size_t i = 0; i < per_row; i++) {
            row[2 * i] = (uint8_t)(in[i] >> 8);
            row[2 * i + 1] = (uint8_t)(in[i] & 0xff);
        }
        put_rows(row.data(), 1);
    }
}

void PngWriter::finish()
{
    State *s = state_;
    if (s->failed || rows_left_ != 0)
        throw HostError("internal: PNG finished before its last row");
    if (setjmp(png_jmpbuf(s->png)))
        png_failed(s);
    png_write_end(s->png, nullptr);
}

namespace {

void check_size(int width, int height, size_t have, size_t per_pixel)
{
    if (width <= 0 || height <= 0 || have != (size_t)width * (size_t)height * per_pixel)
        throw HostError("internal: image buffer does not match its size");
}

template <typename T>
std::vector<uint8_t> encode_png(int width, int height, int channels, const std::vector<T> &px,
                                PngEffort effort = PngEffort::file)
{
    check_size(width, height, px.size(), (size_t)channels);
    std::vector<uint8_t> bytes;
    try {
        PngWriter w(&bytes, width, height, 8 * (int)sizeof(T), channels, effort);
        w.write_rows(px.data(), height);
        w.finish();
    } catch (const HostError &e) {
        throw HostError(std::string("cannot encode a PNG image: ") + e.what());
    }
    return bytes;
}

template <typename T>
void write_png(const std::string &path, int width, int height, int channels,
               const std::vector<T> &px)
{
    check_size(width, height, px.size(), (size_t)channels);
    AtomicFile f(path);
    try {
        PngWriter w(f.stream(), width, height, 8 * (int)sizeof(T), channels);
        w.write_rows(px.data(), height);
        w.finish();
    } catch (const HostError &e) {
        f.fail(e.what());
    }
    f.commit();
}

} // namespace

std::vector<uint8_t> encode_png_gray8(int width, int height, const std::vector<uint8_t> &pixels,
                                      PngEffort effort)
{
    return encode_png(width, height, 1, pixels, effort);
}

std::vector<uint8_t> encode_png_gray16(int width, int height, const std::vector<uint16_t> &pixels,
                                       PngEffort effort)
{
    return encode_png(width, height, 1, pixels, effort);
}

std::vector<uint8_t> encode_png_rgb8(int width, int height, const std::vector<uint8_t> &rgb,
                                     PngEffort effort)
{
    return encode_png(width, height, 3, rgb, effort);
}

std::vector<uint8_t> encode_png_rgba8(int width, int height, const std::vector<uint8_t> &rgba)
{
    return encode_png(width, height, 4, rgba);
}

std::vector<uint8_t> encode_png_rgba16(int width, int height, const std::vector<uint16_t> &rgba)
{
    return encode_png(width, height, 4, rgba);
}

void write_png_gray8(const std::string &path, int width, int height,
                     const std::vector<uint8_t> &pixels)
{
    write_png(path, width, height, 1, pixels);
}

void write_png_gray16(const std::string &path, int width, int height,
                      const std::vector<uint16_t> &pixels)
{
    write_png(path, width, height, 1, pixels);
}

void write_png_rgb8(const std::string &path, int width, int height, const std::vector<uint8_t> &rgb)
{
    write_png(path, width, height, 3, rgb);
}

void check_writable(const std::string &path)
{
    struct stat st;
    bool existed = stat(path.c_str(), &st) == 0;
    if (existed && S_ISDIR(st.st_mode))
        throw HostError("cannot write \"" + path + "\": it is a folder");
    FILE *f = std::fopen(path.c_str(), "ab");
    if (!f)
        throw HostError("cannot write \"" + path + "\": " + std::strerror(errno));
    std::fclose(f);
    if (!existed)
        std::remove(path.c_str());
}

} // namespace texhost
