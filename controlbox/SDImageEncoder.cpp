#include "SDImageEncoder.h"

#include <algorithm>
#include <cstring>

namespace {

// The 45 bytes that page 0 carries before its pixels: a bitmap file header and
// information header for 80 × 80 pixels at 24 bits, cut in the vertical resolution.
// The keypad reads them this way, pixel-data offset 54 notwithstanding.
constexpr std::uint8_t kBitmapHeader[SDImageEncoder::kBitmapHeaderBytes] = {
    0x42, 0x4D,              // "BM"
    0x36, 0x4B, 0x00, 0x00,  // file size 19254
    0x00, 0x00, 0x00, 0x00,  // reserved
    0x36, 0x00, 0x00, 0x00,  // pixel-data offset 54
    0x28, 0x00, 0x00, 0x00,  // information-header size 40
    0x50, 0x00, 0x00, 0x00,  // width 80
    0x50, 0x00, 0x00, 0x00,  // height 80
    0x01, 0x00,              // planes
    0x18, 0x00,              // 24 bits per pixel
    0x00, 0x00, 0x00, 0x00,  // uncompressed
    0x00, 0x4B, 0x00, 0x00,  // image size 19200
    0xC4, 0x0E, 0x00, 0x00,  // 3780 pixels per metre across
    0xC4, 0x0E, 0x00,        // and the first three bytes of the same down
};

constexpr std::uint8_t kWhite = 0xFF;

// Grey levels by weighted sum 10 R + 39 G + B (hundredths of a level): one load per pixel
// instead of a division and the halves-to-even test.
struct GreyTable {
    static constexpr unsigned kSize = 10u * 255 + 39u * 255 + 255 + 1;
    std::uint8_t Level[kSize];
    constexpr GreyTable() : Level{} {
        for (unsigned n = 0; n < kSize; ++n) Level[n] = SDImageEncoder::RoundHundredths(n);
    }
};
constexpr GreyTable kGrey;

}  // namespace

void SDImageEncoder::Encode(const Bitmap24& picture, bool grey) {
    const long long w = picture.Width();
    const long long h = picture.Height();
    const int cols = static_cast<int>(std::min<long long>(w, kSide));
    const int rows = static_cast<int>(std::min<long long>(h, kSide));

    // Column x of the result shows source column srcCol[x] (mirror with stretch).
    std::array<int, kSide> srcCol{};
    for (int x = 0; x < cols; ++x)
        srcCol[x] = static_cast<int>(std::clamp<long long>((w - 2) - x * (w - 1) / w, 0, w - 1));

    // Row y of the result shows source row srcRow[y]: the shift picks a row of the
    // mirrored picture, whose row r is source row r (H - 1) / H.
    std::array<const std::uint8_t*, kSide> srcRow{};
    for (int y = 0; y < rows; ++y) {
        long long shifted;
        if (y < 3) {
            shifted = h - 4 + y;
            if (shifted < 0) shifted = y;  // pictures under four rows high: nothing to move in
        } else if (y <= h - 2) {
            shifted = y - 3;
        } else {
            shifted = y;  // the bottom row stays put
        }
        const long long r = shifted * (h - 1) / h;
        srcRow[y] = picture.Row(static_cast<int>(r));
    }

    std::uint8_t* out = FStream.data();
    for (int x = 0; x < kSide; ++x) {
        std::uint8_t* column = out + static_cast<std::size_t>(x) * 3 * kSide;
        if (x >= cols) {
            std::memset(column, kWhite, 3 * kSide);
            continue;
        }
        const std::size_t offset = static_cast<std::size_t>(srcCol[x]) * 3;
        std::uint8_t* p = column;
        if (grey) {
            for (int y = 0; y < rows; ++y, p += 3) {
                const std::uint8_t* s = srcRow[y] + offset;
                const std::uint32_t g = kGrey.Level[10u * s[2] + 39u * s[1] + s[0]];
                // All four bytes alike; the fourth is rewritten next, as below.
                const std::uint32_t triple = g * 0x01010101u;
                std::memcpy(p, &triple, 4);
            }
        } else if (w >= 2) {
            // Four-byte moves: the mirror never reads a row's last pixel, so the fourth
            // byte read is still inside the row, and the fourth byte written is rewritten
            // by the next pixel (or next column; the stream has one spare byte at its end).
            for (int y = 0; y < rows; ++y, p += 3) {
                std::uint32_t pixel;
                std::memcpy(&pixel, srcRow[y] + offset, 4);
                std::memcpy(p, &pixel, 4);
            }
        } else {
            for (int y = 0; y < rows; ++y, p += 3) {
                const std::uint8_t* s = srcRow[y] + offset;
                p[0] = s[0];
                p[1] = s[1];
                p[2] = s[2];
            }
        }
        std::memset(p, kWhite, static_cast<std::size_t>(kSide - rows) * 3);
    }
}

const SDImageEncoder::Report& SDImageEncoder::BuildReport(int page, int keyIndex) {
    if (page < 0 || page >= kPages)
        throw ERangeError(L"Image report page " + std::to_wstring(page) + L" out of range");
    std::uint8_t* r = FReport.data();
    std::memset(r, 0, kHeaderBytes);
    r[0] = 0x02;  // report id
    r[1] = 0x01;
    r[2] = static_cast<std::uint8_t>(page);
    r[4] = page == kPages - 1 ? 0x01 : 0x00;
    r[5] = static_cast<std::uint8_t>(keyIndex + 1);

    std::uint8_t* payload = r + kHeaderBytes;
    if (page == 0) {
        std::memcpy(payload, kBitmapHeader, kBitmapHeaderBytes);
        std::memcpy(payload + kBitmapHeaderBytes, FStream.data(), kFirstPageStream);
    } else if (page < kPages - 1) {
        const std::size_t from = kFirstPageStream + static_cast<std::size_t>(page - 1) * kPageStream;
        std::memcpy(payload, FStream.data() + from, kPageStream);
    } else {
        std::memcpy(payload, FStream.data() + (kStreamBytes - kLastPageStream), kLastPageStream);
        std::memset(payload + kLastPageStream, 0, kPageStream - kLastPageStream);
    }
    return FReport;
}
