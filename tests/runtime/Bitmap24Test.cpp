#include "Bitmap24.h"
#include "TempRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <unistd.h>

namespace {

void PutU16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void PutU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Layout of a hand-made BMP, so that each test can bend one field.
struct BmpLayout {
    bool fileHeader = true;
    std::uint32_t headerSize = 40;
    std::int32_t width = 3;  // 3 pixels: 9 bytes, padded to 12 per row
    std::int32_t height = 2;
    std::uint16_t planes = 1;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t clrUsed = 0;
    std::uint32_t gap = 0;  // bytes between header (and colour table) and pixels
};

// Pixel (x, y) of the picture the builder stores: distinct in every channel.
Rgb Expected(int x, int y) {
    return Rgb{static_cast<std::uint8_t>(10 + x), static_cast<std::uint8_t>(20 + y),
               static_cast<std::uint8_t>(30 + x + 4 * y)};
}

std::vector<std::uint8_t> MakeBmp(const BmpLayout& s) {
    const int w = s.width > 0 ? s.width : 1;
    const int h = s.height < 0 ? -s.height : s.height;
    const std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) & ~std::size_t{3};
    const std::size_t head = (s.fileHeader ? 14 : 0) + s.headerSize + s.clrUsed * 4 + s.gap;
    std::vector<std::uint8_t> b(head + stride * static_cast<std::size_t>(h), 0xEE);
    std::size_t i = 0;
    if (s.fileHeader) {
        b[0] = 'B';
        b[1] = 'M';
        PutU32(b, 2, static_cast<std::uint32_t>(b.size()));
        PutU32(b, 6, 0);
        PutU32(b, 10, static_cast<std::uint32_t>(head));
        i = 14;
    }
    std::fill(b.begin() + static_cast<std::ptrdiff_t>(i),
              b.begin() + static_cast<std::ptrdiff_t>(i + s.headerSize), 0);
    PutU32(b, i, s.headerSize);
    PutU32(b, i + 4, static_cast<std::uint32_t>(s.width));
    PutU32(b, i + 8, static_cast<std::uint32_t>(s.height));
    PutU16(b, i + 12, s.planes);
    PutU16(b, i + 14, s.bitCount);
    PutU32(b, i + 16, s.compression);
    PutU32(b, i + 20, static_cast<std::uint32_t>(stride * static_cast<std::size_t>(h)));
    PutU32(b, i + 32, s.clrUsed);
    for (int r = 0; r < h; ++r) {
        const int y = s.height < 0 ? r : h - 1 - r;
        for (int x = 0; x < w; ++x) {
            const Rgb c = Expected(x, y);
            std::uint8_t* p = &b[head + stride * static_cast<std::size_t>(r) + 3 * x];
            p[0] = c.B;
            p[1] = c.G;
            p[2] = c.R;
        }
    }
    return b;
}

void ExpectPicture(const Bitmap24& bmp, int w, int h) {
    ASSERT_EQ(bmp.Width(), w);
    ASSERT_EQ(bmp.Height(), h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) EXPECT_EQ(bmp.Pixel(x, y), Expected(x, y)) << x << "," << y;
}

struct AcceptCase {
    const char* name;
    BmpLayout layout;
};

void PrintTo(const AcceptCase& c, std::ostream* os) { *os << c.name; }

class Bitmap24Accepts : public testing::TestWithParam<AcceptCase> {};

TEST_P(Bitmap24Accepts, ReadsEveryPixelInPlace) {
    const BmpLayout& s = GetParam().layout;
    const Bitmap24 bmp = Bitmap24::LoadFromBmp(MakeBmp(s));
    ExpectPicture(bmp, s.width, s.height < 0 ? -s.height : s.height);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, Bitmap24Accepts,
    testing::Values(
        AcceptCase{"FileBottomUp", {}},
        AcceptCase{"FileTopDown", {.height = -2}},
        AcceptCase{"FileWithGapBeforePixels", {.gap = 6}},
        AcceptCase{"FileV5Header", {.headerSize = 124}},
        AcceptCase{"ResourceBottomUp", {.fileHeader = false}},
        AcceptCase{"ResourceTopDown", {.fileHeader = false, .height = -2}},
        AcceptCase{"ResourceWithColourTable", {.fileHeader = false, .clrUsed = 2}},
        AcceptCase{"RowsWithoutPadding", {.width = 4, .height = 3}},
        AcceptCase{"OnePixel", {.width = 1, .height = 1}}),
    [](const testing::TestParamInfo<AcceptCase>& info) { return info.param.name; });

struct RefuseCase {
    const char* name;
    std::function<std::vector<std::uint8_t>()> bytes;
};

void PrintTo(const RefuseCase& c, std::ostream* os) { *os << c.name; }

class Bitmap24Refuses : public testing::TestWithParam<RefuseCase> {};

TEST_P(Bitmap24Refuses, WithInvalidGraphic) {
    const std::vector<std::uint8_t> bytes = GetParam().bytes();
    EXPECT_THROW(Bitmap24::LoadFromBmp(bytes), EInvalidGraphic);
}

std::vector<std::uint8_t> Bent(BmpLayout s, std::function<void(std::vector<std::uint8_t>&)> bend) {
    std::vector<std::uint8_t> b = MakeBmp(s);
    bend(b);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Bitmap24Refuses,
    testing::Values(
        RefuseCase{"Empty", [] { return std::vector<std::uint8_t>{}; }},
        RefuseCase{"JustSignature", [] { return std::vector<std::uint8_t>{'B', 'M', 0}; }},
        RefuseCase{"PngSignature",
                   [] { return std::vector<std::uint8_t>{0x89, 'P', 'N', 'G', 13, 10, 26, 10}; }},
        RefuseCase{"EightBit", [] { return MakeBmp({.bitCount = 8}); }},
        RefuseCase{"ThirtyTwoBit", [] { return MakeBmp({.bitCount = 32}); }},
        RefuseCase{"Rle", [] { return MakeBmp({.compression = 1}); }},
        RefuseCase{"Bitfields", [] { return MakeBmp({.compression = 3}); }},
        RefuseCase{"CoreHeader", [] { return MakeBmp({.headerSize = 12}); }},
        RefuseCase{"UnknownHeader", [] { return MakeBmp({.headerSize = 64}); }},
        RefuseCase{"TwoPlanes", [] { return MakeBmp({.planes = 2}); }},
        RefuseCase{"ZeroWidth", [] { return MakeBmp({.width = 0}); }},
        RefuseCase{"NegativeWidth", [] { return MakeBmp({.width = -3}); }},
        RefuseCase{"ZeroHeight", [] { return MakeBmp({.height = 0}); }},
        RefuseCase{"MinimalHeight",
                   [] {
                       return Bent({}, [](auto& b) {
                           PutU32(b, 22, static_cast<std::uint32_t>(
                                             std::numeric_limits<std::int32_t>::min()));
                       });
                   }},
        RefuseCase{"HugeWidth",
                   [] { return Bent({}, [](auto& b) { PutU32(b, 18, 0x7FFFFFFF); }); }},
        RefuseCase{"PixelsCutShort",
                   [] { return Bent({}, [](auto& b) { b.resize(b.size() - 1); PutU32(b, 2, 0); }); }},
        RefuseCase{"FileSizeLies",
                   [] { return Bent({}, [](auto& b) { PutU32(b, 2, static_cast<std::uint32_t>(b.size() + 1)); }); }},
        RefuseCase{"ImageSizeLies", [] { return Bent({}, [](auto& b) { PutU32(b, 34, 8); }); }},
        RefuseCase{"OffsetInsideHeader", [] { return Bent({}, [](auto& b) { PutU32(b, 10, 20); }); }},
        RefuseCase{"OffsetPastEnd", [] { return Bent({}, [](auto& b) { PutU32(b, 10, 0xFFFFFFF0); }); }},
        RefuseCase{"HeaderCutShort",
                   [] { return Bent({}, [](auto& b) { b.resize(30); PutU32(b, 2, 0); }); }},
        RefuseCase{"ResourceColourTableLies",
                   [] { return Bent({.fileHeader = false}, [](auto& b) { PutU32(b, 32, 1000); }); }}),
    [](const testing::TestParamInfo<RefuseCase>& info) { return info.param.name; });

TEST(Bitmap24, DamagedFilesAreReadOrRefusedNeverMisread) {
    // Random damage to the headers and random cuts: every outcome is a picture whose pixels
    // all lie in the bytes given, or EInvalidGraphic; nothing else (the sanitizers watch
    // the reads).
    const std::vector<std::uint8_t> good = MakeBmp({.width = 5, .height = 4});
    std::mt19937 random(12345);
    int refused = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::uint8_t> bytes = good;
        const int damage = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < damage; ++i)
            bytes[random() % 54] = static_cast<std::uint8_t>(random());
        if (random() % 3 == 0) bytes.resize(random() % bytes.size());
        try {
            const Bitmap24 bmp = Bitmap24::LoadFromBmp(bytes);
            EXPECT_LE(static_cast<std::size_t>(bmp.Width()) * bmp.Height() * 3, bytes.size());
        } catch (const EInvalidGraphic&) {
            ++refused;
        }
    }
    EXPECT_GT(refused, 0);
}

TEST(Bitmap24, SaveThenLoadGivesTheSamePicture) {
    // Width 5 needs row padding; a top-down source must come back the same way up.
    const Bitmap24 source = Bitmap24::LoadFromBmp(MakeBmp({.width = 5, .height = -3}));
    const std::vector<std::uint8_t> saved = source.SaveToBmp();
    EXPECT_EQ(saved.size(), 54u + 16u * 3u);
    EXPECT_EQ(Bitmap24::LoadFromBmp(saved), source);
}

TEST(Bitmap24, SizeAndPixelRangesAreChecked) {
    EXPECT_THROW(Bitmap24(-1, 4), ERangeError);
    EXPECT_THROW(Bitmap24(4, Bitmap24::kMaxSide + 1), ERangeError);
    Bitmap24 bmp(4, 3, Rgb{1, 2, 3});
    EXPECT_EQ(bmp.Pixel(3, 2), (Rgb{1, 2, 3}));
    EXPECT_THROW(bmp.Pixel(4, 0), ERangeError);
    EXPECT_THROW(bmp.SetPixel(0, -1, Rgb{}), ERangeError);
    bmp.FillRect(-5, 1, 2, 99, Rgb{9, 9, 9});  // clipped, not refused
    EXPECT_EQ(bmp.Pixel(1, 2), (Rgb{9, 9, 9}));
    EXPECT_EQ(bmp.Pixel(2, 2), (Rgb{1, 2, 3}));
    EXPECT_EQ(bmp.Pixel(0, 0), (Rgb{1, 2, 3}));
}

class Bitmap24Files : public testing::Test {
protected:
    void SetUp() override {
        dir = TempRoot("bitmap24", std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::wstring PathOf(const char* name) const { return (dir / name).wstring(); }
    std::filesystem::path dir;
};

TEST_F(Bitmap24Files, SaveReplacesTheFileAndLoadReadsIt) {
    const std::wstring path = PathOf("pic.bmp");
    Bitmap24(7, 2, Rgb{1, 1, 1}).SaveToFile(path);
    const Bitmap24 second(3, 3, Rgb{200, 100, 50});
    second.SaveToFile(path);
    EXPECT_EQ(Bitmap24::LoadFromFile(path), second);
    EXPECT_FALSE(std::filesystem::exists(dir / "pic.bmp.tmp"));
}

TEST_F(Bitmap24Files, MissingFileIsAnInOutErrorAndBadContentsNameTheFile) {
    try {
        Bitmap24::LoadFromFile(PathOf("absent.bmp"));
        FAIL() << "no error";
    } catch (const EInvalidGraphic&) {
        FAIL() << "a missing file is not a bad picture";
    } catch (const EInOutError&) {
    }
    {
        std::ofstream out(dir / "text.bmp", std::ios::binary);
        out << "BM not really";
    }
    try {
        Bitmap24::LoadFromFile(PathOf("text.bmp"));
        FAIL() << "no error";
    } catch (const EInvalidGraphic& e) {
        EXPECT_NE(e.Message().find(L"text.bmp"), std::wstring::npos);
    }
}

TEST_F(Bitmap24Files, SaveIntoMissingFolderFailsCleanly) {
    const std::wstring path = (dir / "no-such-folder" / "pic.bmp").wstring();
    EXPECT_THROW(Bitmap24(2, 2).SaveToFile(path), EInOutError);
    EXPECT_FALSE(std::filesystem::exists(dir / "no-such-folder"));
}

}  // namespace
