#pragma once
// Turns one key picture into the 20 output reports that paint it on a six-key control box.
//
// The keypad expects each key's picture prepared this way:
//   1. mirror with a stretch: W - 1 source columns (0 to W - 2) and rows 0 to H - 2 spread
//      over the whole picture, nearest neighbour;
//   2. shift rows 0 to H - 2 down by three, cyclically, leaving row H - 1 where it is;
//   3. when greyed, every pixel becomes 0.1 R + 0.39 G + 0.01 B, halves to even (the
//      weights add up to one half, so a greyed key is dimmed as well);
//   4. lay the pixels out column by column: pixel (x, y) goes to stream offset
//      240 x + 3 y as blue, green, red; positions outside a smaller picture are white.
// The steps are composed into one column map and one row map, so the picture is read
// once and never changed. Reports are built one at a time in the same buffer.

#include <array>
#include <cstddef>
#include <cstdint>

#include "Bitmap24.h"

class SDImageEncoder {
public:
    static constexpr int kSide = 80;
    static constexpr std::size_t kStreamBytes = 3 * kSide * kSide;  // 19200
    static constexpr std::size_t kReportBytes = 1024;
    static constexpr int kPages = 20;
    static constexpr std::size_t kHeaderBytes = 16;
    // Page 0 carries a bitmap file header cut after 45 bytes, then the first stream bytes.
    static constexpr std::size_t kBitmapHeaderBytes = 45;
    static constexpr std::size_t kFirstPageStream = kReportBytes - kHeaderBytes - kBitmapHeaderBytes;  // 963
    static constexpr std::size_t kPageStream = kReportBytes - kHeaderBytes;                            // 1008
    static constexpr std::size_t kLastPageStream =
        kStreamBytes - kFirstPageStream - (kPages - 2) * kPageStream;  // 93

    using Report = std::array<std::uint8_t, kReportBytes>;

    // Converts `picture` into the pixel stream (steps 1 to 4 above).
    void Encode(const Bitmap24& picture, bool grey);
    // kStreamBytes bytes.
    const std::uint8_t* PixelStream() const { return FStream.data(); }

    // Builds the report of `page` (0 to 19) for the key with index `keyIndex` from the
    // current stream, in the one report buffer, and returns that buffer.
    const Report& BuildReport(int page, int keyIndex);

    // Encodes `picture` and hands the 20 reports in page order to `write(data, size)`.
    template <class Write>
    void Send(const Bitmap24& picture, bool grey, int keyIndex, Write&& write) {
        Encode(picture, grey);
        for (int page = 0; page < kPages; ++page) {
            const Report& report = BuildReport(page, keyIndex);
            write(report.data(), static_cast<std::uint32_t>(report.size()));
        }
    }

    // The grey level of one pixel: 0.1 R + 0.39 G + 0.01 B rounded, halves to even.
    static constexpr std::uint8_t GreyLevel(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        return RoundHundredths(10u * r + 39u * g + b);
    }
    // n / 100 rounded to the nearest integer, halves to the even one.
    static constexpr std::uint8_t RoundHundredths(unsigned n) {
        unsigned q = n / 100;
        const unsigned rest = n % 100;
        if (rest > 50 || (rest == 50 && (q & 1))) ++q;
        return static_cast<std::uint8_t>(q);
    }

private:
    // One spare byte: pixels are moved four bytes at a time.
    std::array<std::uint8_t, kStreamBytes + 1> FStream{};
    Report FReport{};
};
