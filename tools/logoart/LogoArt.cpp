#include "LogoArt.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace logoart {
namespace {

struct Colour {
    std::uint8_t R, G, B;
};

constexpr Colour kText{0xEC, 0xEC, 0xEC};
constexpr Colour kAccent{0xFF, 0x8C, 0x1A};
constexpr Colour kRed{0xE0, 0x1E, 0x2D};
constexpr Colour kGrey{0x9A, 0x9A, 0x9A};
constexpr Colour kGreen{0x2E, 0xB8, 0x4A};
constexpr Colour kGearGrey{0xB4, 0xB8, 0xBE};

PngImage Blank(int w, int h) {
    PngImage img;
    img.Width = w;
    img.Height = h;
    img.Rgba.assign(static_cast<std::size_t>(w) * h * 4, 0);
    return img;
}

// Lays `colour` over pixel (x, y) with `coverage` 0..1 (source-over).
void Blend(PngImage& img, int x, int y, Colour colour, double coverage) {
    if (x < 0 || y < 0 || x >= img.Width || y >= img.Height || coverage <= 0) return;
    coverage = std::min(coverage, 1.0);
    std::uint8_t* p = img.Rgba.data() + (static_cast<std::size_t>(y) * img.Width + x) * 4;
    const double da = p[3] / 255.0;
    const double oa = coverage + da * (1 - coverage);
    auto mix = [&](std::uint8_t dst, std::uint8_t src) {
        return static_cast<std::uint8_t>(std::lround((src * coverage + dst * da * (1 - coverage)) / oa));
    };
    p[0] = mix(p[0], colour.R);
    p[1] = mix(p[1], colour.G);
    p[2] = mix(p[2], colour.B);
    p[3] = static_cast<std::uint8_t>(std::lround(oa * 255));
}

// Paints the shape `inside(x, y)` (pixel coordinates, y down), 4 × 4 samples per pixel.
void Shape(PngImage& img, Colour colour, const std::function<bool(double, double)>& inside) {
    for (int y = 0; y < img.Height; ++y)
        for (int x = 0; x < img.Width; ++x) {
            int hits = 0;
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx)
                    if (inside(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4)) ++hits;
            Blend(img, x, y, colour, hits / 16.0);
        }
}

bool InHeart(double px, double py) {
    // The classic heart curve, centred in the 16 × 16 square.
    const double x = (px - 8.0) / 6.4;
    const double y = -(py - 8.6) / 6.4;
    const double a = x * x + y * y - 1;
    return a * a * a - x * x * y * y * y <= 0;
}

double DistanceToSegment(double px, double py, double ax, double ay, double bx, double by) {
    const double dx = bx - ax, dy = by - ay;
    double t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy);
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(px - (ax + t * dx), py - (ay + t * dy));
}

// Capital letters on a 2-pixel stroke grid, 11 rows high.
struct Glyph {
    int Width;
    const char* Rows[11];
};

constexpr Glyph kL{6, {"##....", "##....", "##....", "##....", "##....", "##....", "##....", "##....",
                       "##....", "######", "######"}};
constexpr Glyph kU{6, {"##..##", "##..##", "##..##", "##..##", "##..##", "##..##", "##..##", "##..##",
                       "##..##", "######", ".####."}};
constexpr Glyph kM{8, {"##....##", "###..###", "########", "##.##.##", "##....##", "##....##",
                       "##....##", "##....##", "##....##", "##....##", "##....##"}};
constexpr Glyph kE{6, {"######", "######", "##....", "##....", "#####.", "#####.", "##....", "##....",
                       "##....", "######", "######"}};
constexpr Glyph kT{6, {"######", "######", "..##..", "..##..", "..##..", "..##..", "..##..", "..##..",
                       "..##..", "..##..", "..##.."}};
constexpr Glyph kR{6, {"#####.", "######", "##..##", "##..##", "######", "#####.", "##.##.", "##.##.",
                       "##..##", "##..##", "##..##"}};
constexpr Glyph kA{6, {".####.", "######", "##..##", "##..##", "##..##", "######", "######", "##..##",
                       "##..##", "##..##", "##..##"}};

}  // namespace

PngImage Logo() {
    PngImage img = Blank(60, 19);
    const Glyph* word[] = {&kL, &kU, &kM, &kE, &kT, &kR, &kA};
    int left = 2;
    for (const Glyph* g : word) {
        for (int row = 0; row < 11; ++row)
            for (int col = 0; col < g->Width; ++col)
                if (g->Rows[row][col] == '#') Blend(img, left + col, 1 + row, kText, 1.0);
        left += g->Width + 2;
    }
    for (int x = 2; x < 58; ++x) {
        Blend(img, x, 14, kAccent, 1.0);
        Blend(img, x, 15, kAccent, 1.0);
    }
    return img;
}

PngImage Heart() {
    PngImage img = Blank(16, 16);
    Shape(img, kRed, InHeart);
    return img;
}

PngImage HeartCross() {
    PngImage img = Blank(16, 16);
    Shape(img, kGrey, InHeart);
    Shape(img, kRed, [](double x, double y) {
        return DistanceToSegment(x, y, 3, 3, 13, 13) <= 1.2 || DistanceToSegment(x, y, 13, 3, 3, 13) <= 1.2;
    });
    return img;
}

PngImage Refresh() {
    PngImage img = Blank(16, 16);
    constexpr double kPi = 3.14159265358979323846;
    // A ring open at the top right, with an arrow head at its open end.
    Shape(img, kGreen, [&](double x, double y) {
        const double dx = x - 8, dy = y - 8.5;
        const double r = std::hypot(dx, dy);
        double angle = std::atan2(-dy, dx);  // counter-clockwise from the right, y up
        if (angle < 0) angle += 2 * kPi;
        const bool ring = r >= 3.8 && r <= 6.0 && !(angle > 0.15 * kPi && angle < 0.55 * kPi);
        // Head: a triangle pointing clockwise at the ring's end near 0.55π.
        const double hx = 8 + 4.9 * std::cos(0.55 * kPi), hy = 8.5 - 4.9 * std::sin(0.55 * kPi);
        const double ax = hx - 3.3, ay = hy - 0.3;  // tip, pointing left along the ring
        const double bx = hx + 1.2, by = hy - 3.2;
        const double cx = hx + 1.2, cy = hy + 2.8;
        auto side = [](double px, double py, double x1, double y1, double x2, double y2) {
            return (px - x2) * (y1 - y2) - (x1 - x2) * (py - y2);
        };
        const double d1 = side(x, y, ax, ay, bx, by), d2 = side(x, y, bx, by, cx, cy),
                     d3 = side(x, y, cx, cy, ax, ay);
        const bool head = !((d1 < 0 || d2 < 0 || d3 < 0) && (d1 > 0 || d2 > 0 || d3 > 0));
        return ring || head;
    });
    return img;
}

PngImage Gear() {
    PngImage img = Blank(16, 16);
    constexpr double kPi = 3.14159265358979323846;
    Shape(img, kGearGrey, [&](double x, double y) {
        const double dx = x - 8, dy = y - 8;
        const double r = std::hypot(dx, dy);
        const double angle = std::atan2(dy, dx);
        // Eight teeth: the outline swings between 5.2 and 7.2.
        const double phase = std::fmod(angle * 8 / (2 * kPi) + 8.25, 1.0);
        const double outer = phase < 0.5 ? 7.2 : 5.2;
        return r <= outer && r >= 2.3;
    });
    return img;
}

std::vector<std::uint8_t> IcoFile(const PngImage& picture) {
    const int w = picture.Width, h = picture.Height;
    const std::size_t maskStride = ((static_cast<std::size_t>(w) + 31) / 32) * 4;
    const std::size_t imageBytes = 40 + static_cast<std::size_t>(w) * h * 4 + maskStride * h;
    std::vector<std::uint8_t> out;
    auto u16 = [&](unsigned v) {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    u16(0);
    u16(1);  // icon
    u16(1);  // one picture
    out.push_back(static_cast<std::uint8_t>(w));
    out.push_back(static_cast<std::uint8_t>(h));
    out.push_back(0);  // no palette
    out.push_back(0);
    u16(1);   // planes
    u16(32);  // bits per pixel
    u32(static_cast<std::uint32_t>(imageBytes));
    u32(22);  // offset of the picture
    // BITMAPINFOHEADER; the height counts the colour rows and the mask rows.
    u32(40);
    u32(static_cast<std::uint32_t>(w));
    u32(static_cast<std::uint32_t>(h * 2));
    u16(1);
    u16(32);
    u32(0);
    u32(static_cast<std::uint32_t>(imageBytes - 40));
    u32(0);
    u32(0);
    u32(0);
    u32(0);
    for (int y = h - 1; y >= 0; --y)
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* p = picture.Rgba.data() + (static_cast<std::size_t>(y) * w + x) * 4;
            out.insert(out.end(), {p[2], p[1], p[0], p[3]});
        }
    for (int y = h - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(maskStride, 0);
        for (int x = 0; x < w; ++x)
            if (picture.Rgba[(static_cast<std::size_t>(y) * w + x) * 4 + 3] == 0)
                row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

std::vector<NamedFile> AllFiles() {
    return {
        {L"Logo.png", EncodePng(Logo())},
        {L"Heart.ico", IcoFile(Heart())},
        {L"HeartCross.ico", IcoFile(HeartCross())},
        {L"Refresh.ico", IcoFile(Refresh())},
        {L"Gear.ico", IcoFile(Gear())},
    };
}

}  // namespace logoart
