// The committed key pictures must show what each key is meant to show.

#include "TextUtils.h"
#include "uStreamDeck.h"

#include <gtest/gtest.h>

#include <string>

namespace {

Bitmap24 Load(const std::string& name) {
    return Bitmap24::LoadFromFile(Utf8ToWide(std::string(LUMETRA_RESOURCES_DIR) + "/" + name));
}

int CountOf(const Bitmap24& bmp, Rgb colour, int left = 0, int right = 80) {
    int n = 0;
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = left; x < right; ++x) n += bmp.Pixel(x, y) == colour;
    return n;
}

constexpr Rgb kGreen{0, 255, 0}, kDarkGreen{0, 106, 0}, kYellow{255, 255, 0}, kRed{255, 0, 0},
    kAzure{0, 153, 255}, kDarkBlue{0, 64, 106}, kMagenta{255, 0, 255}, kDarkPurple{106, 0, 106},
    kBlack{0, 0, 0}, kWhite{255, 255, 255};

TEST(Artwork, Noir80IsTheBuiltInBlackPicture) {
    EXPECT_EQ(Load("Noir80.bmp"), Noir80());
}

TEST(Artwork, DefaultKeysAre80SquareWithNearBlackCorners) {
    for (int key = 0; key < 6; ++key) {
        const Bitmap24 bmp = Load("Key" + std::to_string(key) + ".bmp");
        ASSERT_EQ(bmp.Width(), 80);
        ASSERT_EQ(bmp.Height(), 80);
        for (const auto& [x, y] : {std::pair{0, 0}, {79, 0}, {0, 79}, {79, 79}}) {
            const Rgb c = bmp.Pixel(x, y);
            EXPECT_LE(std::max({c.R, c.G, c.B}), 40) << "key " << key << " corner " << x << "," << y;
        }
    }
}

struct Spot {
    int key, x, y;
    Rgb colour;
};

TEST(Artwork, EachKeyShowsItsColoursWhereExpected) {
    for (const Spot& s : {Spot{0, 40, 12, kGreen}, Spot{0, 40, 70, kGreen}, Spot{1, 40, 40, kYellow},
                          Spot{1, 10, 10, kYellow}, Spot{2, 40, 40, kRed}, Spot{2, 70, 70, kRed},
                          Spot{3, 40, 40, kDarkBlue}, Spot{3, 10, 10, kAzure}, Spot{4, 22, 30, kDarkPurple},
                          Spot{4, 22, 50, kDarkPurple}, Spot{4, 42, 40, kMagenta}, Spot{4, 60, 76, kMagenta}}) {
        EXPECT_EQ(Load("Key" + std::to_string(s.key) + ".bmp").Pixel(s.x, s.y), s.colour)
            << "key " << s.key << " at " << s.x << "," << s.y;
    }
}

TEST(Artwork, StartAndDigitsAreDrawnInTheirDarkColours) {
    const Bitmap24 start = Load("Key0.bmp");
    EXPECT_GT(CountOf(start, kDarkGreen), 300);
    for (int y = 0; y < 25; ++y) EXPECT_EQ(start.Pixel(40, y), kGreen) << "text stays in the middle, row " << y;
    const Bitmap24 arrow = Load("Key4.bmp");
    EXPECT_GT(CountOf(arrow, kDarkPurple, 0, 40), 300);  // the arrow
    EXPECT_GT(CountOf(arrow, kDarkPurple, 45, 80), 150);  // 1 above 2
}

TEST(Artwork, ChequerboardStartsBlackTopLeft) {
    const Bitmap24 bmp = Load("Key5.bmp");
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col)
            EXPECT_EQ(bmp.Pixel(10 + 20 * col, 10 + 20 * row), (row + col) % 2 == 0 ? kBlack : kWhite)
                << "square " << col << "," << row;
}

}  // namespace
