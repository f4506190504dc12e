#pragma once
// PNG pictures: the few formats our own artwork uses, decoded with zlib's inflate.
//
// Accepted: 8 bits per channel, truecolour (RGB) or truecolour with alpha (RGBA),
// deflate compression, adaptive filtering (all five filter types), no interlacing.
// Everything else (palettes, grey levels, 16-bit channels, Adam7 interlacing, unknown
// critical chunks) is refused with EInvalidGraphic naming what was found, as is any file
// whose structure does not hold: a bad signature, a chunk running past the end, a wrong
// CRC, a missing or misplaced IHDR, IDAT or IEND, compressed data that does not inflate to
// exactly the rows the header announces. Sizes are checked before anything is allocated,
// so a header announcing a huge picture costs nothing.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Bitmap24.h"  // EInvalidGraphic

struct PngImage {
    // Largest width or height we accept; far above the logo, small enough that a whole
    // picture stays a few megabytes.
    static constexpr std::uint32_t kMaxSide = 4096;

    int Width = 0;
    int Height = 0;
    // Top-down rows of Width × 4 bytes: red, green, blue, alpha (straight, not
    // premultiplied). RGB files get alpha 255.
    std::vector<std::uint8_t> Rgba;

    // The pixel at (x, y) as 0xAARRGGBB; x and y must lie inside the picture.
    std::uint32_t Pixel(int x, int y) const;
};

// Decodes a whole PNG file held in memory.
PngImage DecodePng(const std::uint8_t* data, std::size_t size);
inline PngImage DecodePng(const std::vector<std::uint8_t>& bytes) {
    return DecodePng(bytes.data(), bytes.size());
}

// Encodes `image` as an 8-bit RGBA, non-interlaced PNG (filter type 0 on every row). Used
// by the artwork generator and by the tests that build their own fixtures.
std::vector<std::uint8_t> EncodePng(const PngImage& image);

// The CRC-32 of PNG chunks (type and data), exposed for tests that forge chunks.
std::uint32_t PngCrc(const std::uint8_t* data, std::size_t size);
