// Images as the host writes them: 8-bit or 16-bit grayscale, 8-bit RGB and
// RGBA PNG through libpng, to files or to memory, row by row or whole; the
// quantisation of values in [0, 1]; and files that appear under their name
// only once they are complete.
#pragma once

#include "render.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace texhost {

// A value in [0, 1] (anything else is clipped, NaN reads as 0) to the nearest
// level of an 8-bit or 16-bit channel: round(v * 255) or round(v * 65535).
uint8_t to_8bit(double v);
uint16_t to_16bit(double v);

// The pixels texhost render writes for a rendering, row-major, top row first:
// the intensity (or shaded intensity) in 8 or 16 bits, and the normal map's
// RGB texels (each component mapped from [-1, 1] to 0..255, = encode_normals).
std::vector<uint8_t> gray8_pixels(const Rendering &r);
std::vector<uint16_t> gray16_pixels(const Rendering &r);
std::vector<uint8_t> normal_map_pixels(const Rendering &r);
// The packed image for engines: the normal map in R, G, B and the intensity
// in A, 8 bits each, or 16 bits each (same mappings at 16 bits).
std::vector<uint8_t> packed8_pixels(const Rendering &r);
std::vector<uint16_t> packed16_pixels(const Rendering &r);

// How hard the encoder works: as the file writers (the same bytes), or
// quickly for a live preview (the same pixels, a somewhat larger file, a
// tenth of the time: the fastest zlib level and one row filter).
enum class PngEffort { file, quick };

// PNG files in memory, byte for byte what the file writers write (unless quick).
std::vector<uint8_t> encode_png_gray8(int width, int height, const std::vector<uint8_t> &pixels,
                                      PngEffort effort = PngEffort::file);
std::vector<uint8_t> encode_png_gray16(int width, int height, const std::vector<uint16_t> &pixels,
                                       PngEffort effort = PngEffort::file);
std::vector<uint8_t> encode_png_rgb8(int width, int height, const std::vector<uint8_t> &rgb,
                                     PngEffort effort = PngEffort::file);
std::vector<uint8_t> encode_png_rgba8(int width, int height, const std::vector<uint8_t> &rgba);
std::vector<uint8_t> encode_png_rgba16(int width, int height, const std::vector<uint16_t> &rgba);

// Row-major pixels, top row first. Each throws HostError with a one-line
// reason when the file cannot be written; nothing is left under `path` then
// (see AtomicFile).
void write_png_gray8(const std::string &path, int width, int height,
                     const std::vector<uint8_t> &pixels);
void write_png_gray16(const std::string &path, int width, int height,
                      const std::vector<uint16_t> &pixels);
void write_png_rgb8(const std::string &path, int width, int height,
                    const std::vector<uint8_t> &rgb);

// Fails early, before any rendering, when `path` cannot be created.
void check_writable(const std::string &path);

// A file written under a temporary name beside `path` ("PATH.tmp-XXXXXX")
// and renamed to `path` by commit(), so that `path` never holds a partial
// file; the temporary is removed when the file is dropped uncommitted. An
// existing `path` that is not a regular file (a device, a pipe) is written
// in place. Errors are HostError "cannot write \"PATH\": reason".
class AtomicFile {
public:
    explicit AtomicFile(const std::string &path);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    FILE *stream() const { return file_; }
    const std::string &path() const { return path_; }
    const std::string &temp_path() const { return temp_; }
    // Throws the HostError for this file with `reason`.
    [[noreturn]] void fail(const std::string &reason) const;
    // Flushes and closes the file, then gives it its name.
    void commit();

private:
    std::string path_, temp_;  // temp_ empty when writing in place
    FILE *file_ = nullptr;
    bool committed_ = false;
};

// A PNG encoded row by row into a FILE or a byte vector; the bytes are the
// same for both. Rows hold `channels` samples per pixel of `bit_depth` (8 or
// 16) bits; 16-bit samples are given as numbers and stored most significant
// byte first. Errors are HostError with libpng's or the system's reason.
class PngWriter {
public:
    PngWriter(FILE *file, int width, int height, int bit_depth, int channels);
    PngWriter(std::vector<uint8_t> *memory, int width, int height, int bit_depth, int channels,
              PngEffort effort = PngEffort::file);
    ~PngWriter();
    PngWriter(const PngWriter &) = delete;
    PngWriter &operator=(const PngWriter &) = delete;

    void write_rows(const uint8_t *samples, int rows);
    void write_rows(const uint16_t *samples, int rows);
    // Writes the end of the image; every row must have been written.
    void finish();

    struct State; // libpng's structures and the sink, kept out of this header

private:
    void start(int width, int height, int bit_depth, int channels, PngEffort effort);
    void put_rows(const uint8_t *bytes, int rows);
    State *state_;
    int row_bytes_ = 0, rows_left_ = 0, bit_depth_ = 8;
};

} // namespace texhost
