// Images as the host writes them: 8-bit or 16-bit grayscale and 8-bit RGB
// PNG files through libpng, and the quantisation of values in [0, 1].
#pragma once

#include "render.h"

#include <cstdint>
#include <string>
#include <vector>

namespace texhost {

// A value in [0, 1] (anything else is clipped, NaN reads as 0) to the nearest
// level of an 8-bit or 16-bit channel.
uint8_t to_8bit(double v);
uint16_t to_16bit(double v);

// Row-major pixels, top row first. Each throws HostError with a one-line
// reason when the file cannot be written; a partial file is removed.
void write_png_gray8(const std::string &path, int width, int height,
                     const std::vector<uint8_t> &pixels);
void write_png_gray16(const std::string &path, int width, int height,
                      const std::vector<uint16_t> &pixels);
void write_png_rgb8(const std::string &path, int width, int height,
                    const std::vector<uint8_t> &rgb);

// How hard the encoder works: as the file writers above (the same bytes), or
// quickly for a live preview (the same pixels, a somewhat larger file, a
// tenth of the time).
enum class PngEffort { file, quick };

// The same PNG images as bytes in memory. Throw HostError when libpng gives up.
std::vector<uint8_t> encode_png_gray8(int width, int height, const std::vector<uint8_t> &pixels,
                                      PngEffort effort = PngEffort::file);
std::vector<uint8_t> encode_png_gray16(int width, int height, const std::vector<uint16_t> &pixels,
                                       PngEffort effort = PngEffort::file);
std::vector<uint8_t> encode_png_rgb8(int width, int height, const std::vector<uint8_t> &rgb,
                                     PngEffort effort = PngEffort::file);

// The pixels texhost render writes for a rendering: the intensity at 8 or
// 16 bits, and the normal map (the rendering must carry one).
std::vector<uint8_t> gray8_pixels(const Rendering &r);
std::vector<uint16_t> gray16_pixels(const Rendering &r);
std::vector<uint8_t> normal_map_pixels(const Rendering &r);

// Fails early, before any rendering, when `path` cannot be created.
void check_writable(const std::string &path);

} // namespace texhost
