#include "image.h"

#include "loader.h"

#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <sys/stat.h>

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

namespace {

struct PngFailure {
    char message[256];
};

void on_png_error(png_structp png, png_const_charp msg)
{
    auto *failure = static_cast<PngFailure *>(png_get_error_ptr(png));
    std::snprintf(failure->message, sizeof failure->message, "%s", msg);
    png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

void on_png_write(png_structp png, png_bytep data, png_size_t size)
{
    auto *bytes = static_cast<std::vector<uint8_t> *>(png_get_io_ptr(png));
    bytes->insert(bytes->end(), data, data + size);
}

void on_png_flush(png_structp) {}

// libpng reports errors by longjmp, so everything that lives across the jump
// here is plain data; the caller owns the rows. Writes to the file `f`, or
// appends to `memory` when `f` is null. Returns false with `failure` filled
// when libpng gives up. `quick` trades file size for speed: the fastest zlib
// level and one fixed row filter.
bool encode(FILE *f, std::vector<uint8_t> *memory, bool quick, int width, int height,
            int bit_depth, int color_type, png_bytepp rows, PngFailure *failure)
{
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, failure, on_png_error, on_png_warning);
    if (!png) {
        std::snprintf(failure->message, sizeof failure->message, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(failure->message, sizeof failure->message, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    if (f)
        png_init_io(png, f);
    else
        png_set_write_fn(png, memory, on_png_write, on_png_flush);
    if (quick) {
        png_set_compression_level(png, 1);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    }
    png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, bit_depth, color_type,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

std::vector<png_bytep> row_pointers(int height, const uint8_t *data, size_t row_bytes)
{
    std::vector<png_bytep> rows((size_t)height);
    for (int y = 0; y < height; y++)
        rows[(size_t)y] = const_cast<png_bytep>(data + (size_t)y * row_bytes);
    return rows;
}

void write_png(const std::string &path, int width, int height, int bit_depth, int color_type,
               const uint8_t *data, size_t row_bytes)
{
    std::vector<png_bytep> rows = row_pointers(height, data, row_bytes);
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        throw HostError("cannot write \"" + path + "\": " + std::strerror(errno));
    PngFailure failure{};
    bool ok = encode(f, nullptr, false, width, height, bit_depth, color_type, rows.data(), &failure);
    int write_errno = errno;
    if (std::ferror(f)) {
        ok = false;
        std::snprintf(failure.message, sizeof failure.message, "%s", std::strerror(write_errno));
    }
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        std::snprintf(failure.message, sizeof failure.message, "%s", std::strerror(errno));
    }
    if (!ok) {
        std::remove(path.c_str());
        throw HostError("cannot write \"" + path + "\": " + failure.message);
    }
}

std::vector<uint8_t> encode_png(int width, int height, int bit_depth, int color_type,
                                const uint8_t *data, size_t row_bytes, PngEffort effort)
{
    std::vector<png_bytep> rows = row_pointers(height, data, row_bytes);
    std::vector<uint8_t> bytes;
    PngFailure failure{};
    if (!encode(nullptr, &bytes, effort == PngEffort::quick, width, height, bit_depth, color_type, rows.data(), &failure))
        throw HostError(std::string("cannot encode the PNG image: ") + failure.message);
    return bytes;
}

// PNG stores 16-bit samples most significant byte first.
std::vector<uint8_t> big_endian(const std::vector<uint16_t> &pixels)
{
    std::vector<uint8_t> bytes(pixels.size() * 2);
    for (size_t i = 0; i < pixels.size(); i++) {
        bytes[2 * i] = (uint8_t)(pixels[i] >> 8);
        bytes[2 * i + 1] = (uint8_t)(pixels[i] & 0xff);
    }
    return bytes;
}

void check_size(int width, int height, size_t have, size_t per_pixel)
{
    if (width <= 0 || height <= 0 || have != (size_t)width * (size_t)height * per_pixel)
        throw HostError("internal: image buffer does not match its size");
}

} // namespace

void write_png_gray8(const std::string &path, int width, int height,
                     const std::vector<uint8_t> &pixels)
{
    check_size(width, height, pixels.size(), 1);
    write_png(path, width, height, 8, PNG_COLOR_TYPE_GRAY, pixels.data(), (size_t)width);
}

void write_png_gray16(const std::string &path, int width, int height,
                      const std::vector<uint16_t> &pixels)
{
    check_size(width, height, pixels.size(), 1);
    write_png(path, width, height, 16, PNG_COLOR_TYPE_GRAY, big_endian(pixels).data(),
              (size_t)width * 2);
}

void write_png_rgb8(const std::string &path, int width, int height, const std::vector<uint8_t> &rgb)
{
    check_size(width, height, rgb.size(), 3);
    write_png(path, width, height, 8, PNG_COLOR_TYPE_RGB, rgb.data(), (size_t)width * 3);
}

std::vector<uint8_t> encode_png_gray8(int width, int height, const std::vector<uint8_t> &pixels,
                                      PngEffort effort)
{
    check_size(width, height, pixels.size(), 1);
    return encode_png(width, height, 8, PNG_COLOR_TYPE_GRAY, pixels.data(), (size_t)width, effort);
}

std::vector<uint8_t> encode_png_gray16(int width, int height, const std::vector<uint16_t> &pixels,
                                       PngEffort effort)
{
    check_size(width, height, pixels.size(), 1);
    return encode_png(width, height, 16, PNG_COLOR_TYPE_GRAY, big_endian(pixels).data(),
                      (size_t)width * 2, effort);
}

std::vector<uint8_t> encode_png_rgb8(int width, int height, const std::vector<uint8_t> &rgb,
                                     PngEffort effort)
{
    check_size(width, height, rgb.size(), 3);
    return encode_png(width, height, 8, PNG_COLOR_TYPE_RGB, rgb.data(), (size_t)width * 3, effort);
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
