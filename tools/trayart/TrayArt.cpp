#include "TrayArt.h"

#include <algorithm>

namespace trayart {
namespace {

constexpr Rgba kClear{0, 0, 0, 0};
constexpr Rgba kBodyEdge{40, 40, 40, 255};
constexpr Rgba kBody{96, 96, 96, 255};
constexpr Rgba kDarkKey{24, 24, 24, 255};
constexpr Rgba kCross{224, 16, 16, 255};
// The keys' colours when the timing software is there, like the default key pictures.
constexpr Rgba kKeyColours[6] = {
    {0, 220, 0, 255}, {255, 230, 0, 255}, {240, 40, 40, 255},
    {0, 153, 255, 255}, {230, 0, 230, 255}, {255, 140, 0, 255},
};

// Body: x 0..15, y 3..13 with cut corners; keys 4 × 4 in three columns and two rows.
constexpr int kBodyTop = 3, kBodyBottom = 13;
constexpr int kKeyLeft[3] = {1, 6, 11};
constexpr int kKeyTop[2] = {4, 9};

void DrawBody(Picture& p) {
    for (int y = kBodyTop; y <= kBodyBottom; ++y)
        for (int x = 0; x < kSide; ++x) {
            const bool edge = y == kBodyTop || y == kBodyBottom || x == 0 || x == kSide - 1;
            const bool corner = (y == kBodyTop || y == kBodyBottom) && (x == 0 || x == kSide - 1);
            p.At(x, y) = corner ? kClear : edge ? kBodyEdge : kBody;
        }
}

void DrawKeys(Picture& p, bool coloured) {
    for (int row = 0; row < 2; ++row)
        for (int col = 0; col < 3; ++col) {
            const Rgba colour = coloured ? kKeyColours[row * 3 + col] : kDarkKey;
            for (int y = kKeyTop[row]; y < kKeyTop[row] + 4; ++y)
                for (int x = kKeyLeft[col]; x < kKeyLeft[col] + 4; ++x)
                    p.At(x, y) = colour;
        }
}

// Two strokes, two pixels wide, corner to corner.
void DrawCross(Picture& p) {
    for (int i = 1; i < kSide - 1; ++i)
        for (int d = 0; d < 2; ++d) {
            const int x = std::min(i + d, kSide - 2);
            p.At(x, i) = kCross;
            p.At(kSide - 1 - x, i) = kCross;
        }
}

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}
void Put32(std::vector<std::uint8_t>& out, unsigned v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

}  // namespace

Picture Draw(TrayState state) {
    Picture p;
    DrawBody(p);
    DrawKeys(p, state == TrayState::Ready);
    if (state == TrayState::NoControlBox)
        DrawCross(p);
    return p;
}

std::vector<std::uint8_t> IconFile(const Picture& picture) {
    constexpr unsigned kHeaderSize = 40;
    constexpr unsigned kColourBytes = kSide * kSide * 4;
    constexpr unsigned kMaskStride = ((kSide + 31) / 32) * 4;  // rows padded to 32 bits
    constexpr unsigned kMaskBytes = kMaskStride * kSide;
    constexpr unsigned kImageBytes = kHeaderSize + kColourBytes + kMaskBytes;
    constexpr unsigned kImageOffset = 6 + 16;

    std::vector<std::uint8_t> out;
    // Icon directory with its one entry.
    Put16(out, 0);
    Put16(out, 1);  // icon
    Put16(out, 1);  // one image
    out.push_back(kSide);
    out.push_back(kSide);
    out.push_back(0);  // no palette
    out.push_back(0);
    Put16(out, 1);   // planes
    Put16(out, 32);  // bits per pixel
    Put32(out, kImageBytes);
    Put32(out, kImageOffset);
    // The image: a bitmap header whose height counts the colour rows and the mask rows.
    Put32(out, kHeaderSize);
    Put32(out, kSide);
    Put32(out, kSide * 2);
    Put16(out, 1);
    Put16(out, 32);
    Put32(out, 0);  // uncompressed
    Put32(out, kColourBytes + kMaskBytes);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    // Rows bottom-up, blue, green, red, alpha.
    for (int y = kSide - 1; y >= 0; --y)
        for (int x = 0; x < kSide; ++x) {
            const Rgba& c = picture.At(x, y);
            out.insert(out.end(), {c.B, c.G, c.R, c.A});
        }
    for (int y = kSide - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(kMaskStride, 0);
        for (int x = 0; x < kSide; ++x)
            if (picture.At(x, y).A == 0)
                row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

std::vector<NamedIcon> AllIcons() {
    return {
        {"TrayNoControlBox.ico", IconFile(Draw(TrayState::NoControlBox))},
        {"TrayControlBox.ico", IconFile(Draw(TrayState::ControlBoxOnly))},
        {"TrayReady.ico", IconFile(Draw(TrayState::Ready))},
    };
}

}  // namespace trayart
