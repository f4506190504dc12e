#include "KeyArt.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

namespace keyart {
namespace {

// Colours of the key pictures.
constexpr Rgb kCorner{18, 18, 18};  // near black, like the keypad's bezel
constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kDarkGreen{0, 106, 0};
constexpr Rgb kYellow{255, 255, 0};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kAzure{0, 153, 255};
constexpr Rgb kDarkBlue{0, 64, 106};
constexpr Rgb kMagenta{255, 0, 255};
constexpr Rgb kDarkPurple{106, 0, 106};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};

constexpr double kCornerRadius = 6.0;
constexpr int kSubsamples = 4;  // per axis: 16 samples per pixel smooth the edges

struct Point {
    double x, y;
};

using Shape = std::function<bool(double x, double y)>;

// Paints `colour` over the picture where `shape` holds, blending edge pixels by the share
// of their area that the shape covers.
void Paint(Bitmap24& bmp, const Shape& shape, Rgb colour) {
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x) {
            int hits = 0;
            for (int j = 0; j < kSubsamples; ++j)
                for (int i = 0; i < kSubsamples; ++i)
                    if (shape(x + (i + 0.5) / kSubsamples, y + (j + 0.5) / kSubsamples)) ++hits;
            if (hits == 0) continue;
            const double a = static_cast<double>(hits) / (kSubsamples * kSubsamples);
            const Rgb old = bmp.Pixel(x, y);
            auto mix = [a](std::uint8_t from, std::uint8_t to) {
                return static_cast<std::uint8_t>(std::lround(from * (1 - a) + to * a));
            };
            bmp.SetPixel(x, y, Rgb{mix(old.R, colour.R), mix(old.G, colour.G), mix(old.B, colour.B)});
        }
}

double SegmentDistance(Point p, Point a, Point b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    const double ex = a.x + t * dx - p.x, ey = a.y + t * dy - p.y;
    return std::sqrt(ex * ex + ey * ey);
}

// A pen stroke with round ends along one or more polylines.
class Stroke {
public:
    explicit Stroke(double width) : FRadius(width / 2) {}

    Stroke& Line(Point a, Point b) {
        FLines.push_back({a, b});
        return *this;
    }
    Stroke& Polyline(std::initializer_list<Point> points) {
        const Point* prev = nullptr;
        for (const Point& p : points) {
            if (prev) Line(*prev, p);
            prev = &p;
        }
        return *this;
    }
    // Elliptic arc around c with radii rx, ry, from angle a0 to a1 in degrees; angles grow
    // clockwise on screen (y points down), 0 is to the right.
    Stroke& Arc(Point c, double rx, double ry, double a0, double a1) {
        constexpr int kSteps = 32;
        Point prev{};
        for (int i = 0; i <= kSteps; ++i) {
            const double t = (a0 + (a1 - a0) * i / kSteps) * std::numbers::pi / 180;
            const Point p{c.x + rx * std::cos(t), c.y + ry * std::sin(t)};
            if (i > 0) Line(prev, p);
            prev = p;
        }
        return *this;
    }

    Shape AsShape() const {
        return [lines = FLines, r = FRadius](double x, double y) {
            for (const auto& [a, b] : lines)
                if (SegmentDistance({x, y}, a, b) <= r) return true;
            return false;
        };
    }

private:
    double FRadius;
    std::vector<std::pair<Point, Point>> FLines;
};

Shape Triangle(Point a, Point b, Point c) {
    return [=](double x, double y) {
        auto side = [x, y](Point p, Point q) { return (q.x - p.x) * (y - p.y) - (q.y - p.y) * (x - p.x); };
        const double d1 = side(a, b), d2 = side(b, c), d3 = side(c, a);
        const bool neg = d1 < 0 || d2 < 0 || d3 < 0, pos = d1 > 0 || d2 > 0 || d3 > 0;
        return !(neg && pos);
    };
}

// Outside the square with rounded corners: what the corner colour covers.
Shape OutsideRoundedSquare(double side, double radius) {
    return [=](double x, double y) {
        const double cx = std::clamp(x, radius, side - radius);
        const double cy = std::clamp(y, radius, side - radius);
        const double dx = x - cx, dy = y - cy;
        return dx * dx + dy * dy > radius * radius;
    };
}

// Letters and digits as strokes inside a box: left, top, width, height. The pen's
// centre line keeps half a stroke inside the box so the ink fills it exactly.
struct Box {
    double left, top, width, height, pen;
    double L() const { return left + pen / 2; }
    double R() const { return left + width - pen / 2; }
    double T() const { return top + pen / 2; }
    double B() const { return top + height - pen / 2; }
    double CX() const { return left + width / 2; }
    double Y(double f) const { return T() + (B() - T()) * f; }
    double X(double f) const { return L() + (R() - L()) * f; }
};

Stroke LetterS(const Box& b) {
    Stroke s(b.pen);
    const double rx = (b.R() - b.L()) / 2, ry = (b.B() - b.T()) / 4;
    s.Arc({b.CX(), b.T() + ry}, rx, ry, -25, -270);  // upper bowl, ending at the middle
    s.Arc({b.CX(), b.B() - ry}, rx, ry, -90, 155);   // lower bowl, from the middle
    return s;
}

Stroke LetterT(const Box& b) {
    Stroke s(b.pen);
    s.Line({b.L(), b.T()}, {b.R(), b.T()});
    s.Line({b.CX(), b.T()}, {b.CX(), b.B()});
    return s;
}

Stroke LetterA(const Box& b) {
    Stroke s(b.pen);
    s.Polyline({{b.L(), b.B()}, {b.CX(), b.T()}, {b.R(), b.B()}});
    s.Line({b.X(0.2), b.Y(0.68)}, {b.X(0.8), b.Y(0.68)});
    return s;
}

Stroke LetterR(const Box& b) {
    Stroke s(b.pen);
    const double bowlBottom = b.Y(0.52);
    const double ry = (bowlBottom - b.T()) / 2;
    const double straight = b.R() - ry * 1.1;
    s.Line({b.L(), b.B()}, {b.L(), b.T()});
    s.Line({b.L(), b.T()}, {straight, b.T()});
    s.Arc({straight, b.T() + ry}, ry * 1.1, ry, -90, 90);
    s.Line({straight, bowlBottom}, {b.L(), bowlBottom});
    s.Line({b.X(0.45), bowlBottom}, {b.R(), b.B()});
    return s;
}

Stroke DigitOne(const Box& b) {
    Stroke s(b.pen);
    const double stem = b.X(0.58);
    s.Line({b.X(0.12), b.Y(0.22)}, {stem, b.T()});
    s.Line({stem, b.T()}, {stem, b.B()});
    s.Line({b.X(0.15), b.B()}, {b.R(), b.B()});
    return s;
}

Stroke DigitTwo(const Box& b) {
    Stroke s(b.pen);
    const double rx = (b.R() - b.L()) / 2, ry = (b.B() - b.T()) * 0.28;
    const Point c{b.CX(), b.T() + ry};
    s.Arc(c, rx, ry, -165, 35);
    const double end = 35 * std::numbers::pi / 180;
    s.Line({c.x + rx * std::cos(end), c.y + ry * std::sin(end)}, {b.L(), b.B()});
    s.Line({b.L(), b.B()}, {b.R(), b.B()});
    return s;
}

Bitmap24 Plain(Rgb colour) {
    return Bitmap24(kSide, kSide, colour);
}

void RoundCorners(Bitmap24& bmp) {
    Paint(bmp, OutsideRoundedSquare(kSide, kCornerRadius), kCorner);
}

Bitmap24 StartKey() {
    Bitmap24 bmp = Plain(kGreen);
    // "START" across the middle, 22 pixels high; A gets a little more room so that its
    // counter stays open at this size.
    constexpr double widths[5] = {11.5, 12, 14, 12, 12};
    constexpr double gap = 2.5, h = 22, pen = 4;
    double x = (kSide - (widths[0] + widths[1] + widths[2] + widths[3] + widths[4] + 4 * gap)) / 2;
    const double top = (kSide - h) / 2;
    auto box = [&](int i) {
        const Box b{x, top, widths[i], h, pen};
        x += widths[i] + gap;
        return b;
    };
    const Box boxes[5] = {box(0), box(1), box(2), box(3), box(4)};
    for (const Stroke& s : {LetterS(boxes[0]), LetterT(boxes[1]), LetterA(boxes[2]),
                            LetterR(boxes[3]), LetterT(boxes[4])})
        Paint(bmp, s.AsShape(), kDarkGreen);
    return bmp;
}

Bitmap24 PlusKey() {
    Bitmap24 bmp = Plain(kAzure);
    Stroke plus(15);
    plus.Line({40, 15}, {40, 65}).Line({15, 40}, {65, 40});
    Paint(bmp, plus.AsShape(), kDarkBlue);
    return bmp;
}

Bitmap24 ArrowAndHalfKey() {
    Bitmap24 bmp = Plain(kMagenta);
    // Downward arrow on the left half.
    Stroke shaft(9);
    shaft.Line({22, 12}, {22, 48});
    Paint(bmp, shaft.AsShape(), kDarkPurple);
    Paint(bmp, Triangle({7, 44}, {37, 44}, {22, 67}), kDarkPurple);
    // "1" above "2" on the right half.
    constexpr double w = 16, h = 25, pen = 4.5, left = 47;
    Paint(bmp, DigitOne({left, 9, w, h, pen}).AsShape(), kDarkPurple);
    Paint(bmp, DigitTwo({left, 46, w, h, pen}).AsShape(), kDarkPurple);
    return bmp;
}

Bitmap24 Chequerboard() {
    Bitmap24 bmp = Plain(kWhite);
    constexpr int square = 20;
    for (int row = 0; row < kSide / square; ++row)
        for (int col = 0; col < kSide / square; ++col)
            if ((row + col) % 2 == 0)
                bmp.FillRect(col * square, row * square, (col + 1) * square, (row + 1) * square,
                             kBlack);
    return bmp;
}

}  // namespace

Bitmap24 Noir80() {
    return Bitmap24(kSide, kSide, kBlack);
}

Bitmap24 DefaultKey(int index) {
    Bitmap24 bmp;
    switch (index) {
        case 0: bmp = StartKey(); break;
        case 1: bmp = Plain(kYellow); break;
        case 2: bmp = Plain(kRed); break;
        case 3: bmp = PlusKey(); break;
        case 4: bmp = ArrowAndHalfKey(); break;
        case 5: bmp = Chequerboard(); break;
        default: throw ERangeError(L"No default picture for key " + std::to_wstring(index));
    }
    RoundCorners(bmp);
    return bmp;
}

std::vector<NamedPicture> AllPictures() {
    std::vector<NamedPicture> all;
    all.push_back({L"Noir80.bmp", Noir80()});
    for (int i = 0; i < 6; ++i) all.push_back({L"Key" + std::to_wstring(i) + L".bmp", DefaultKey(i)});
    return all;
}

}  // namespace keyart
