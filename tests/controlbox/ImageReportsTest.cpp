#include "ControlBoxTestSupport.h"

#include "Exceptions.h"
#include "SDImageEncoder.h"

namespace {

// A picture whose every column and every row has its own colour: red is the column,
// green the row, blue fixed.
Bitmap24 Numbered(int w, int h) {
    Bitmap24 bmp(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            bmp.SetPixel(x, y, Rgb{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 200});
    return bmp;
}

// Where pixel (x, y) of an 80 × 80 key picture comes from once mirrored (79 columns and
// rows 0 to 78 stretched over 80) and shifted (rows 0 to 78 down by three, cyclically).
int SourceColumn(int x) { return 78 - x * 79 / 80; }
int SourceRow(int y) {
    const int shifted = y < 3 ? 76 + y : (y < 79 ? y - 3 : 79);
    return shifted * 79 / 80;
}

class ImageReports : public ControlBoxTest {
protected:
    void SetUp() override {
        ControlBoxTest::SetUp();
        Box = &NewBox(Device);
    }
    // The reports of one WriteImageButton.
    std::vector<Bytes> Write(int key, const Bitmap24& picture, bool grey) {
        Device->ClearReports();
        Box->WriteImageButton(key, &picture, grey);
        return Device->OutputReports();
    }

    VirtualHidDevicePtr Device;
    TSD* Box = nullptr;
};

TEST_F(ImageReports, HeaderOfEveryPageForKeysZeroAndFive) {
    for (const int key : {0, 5}) {
        const std::vector<Bytes> reports = Write(key, Noir80(), false);
        ASSERT_EQ(reports.size(), 20u);
        for (std::size_t page = 0; page < 20; ++page) {
            const Bytes& r = reports[page];
            ASSERT_EQ(r.size(), 1024u);
            const Bytes expected = {0x02, 0x01, static_cast<std::uint8_t>(page), 0x00,
                                    static_cast<std::uint8_t>(page == 19 ? 1 : 0),
                                    static_cast<std::uint8_t>(key + 1), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
            EXPECT_EQ(Bytes(r.begin(), r.begin() + 16), expected) << "key " << key << " page " << page;
        }
    }
}

TEST_F(ImageReports, FirstPageCarriesTheCutBitmapHeader) {
    const std::vector<Bytes> reports = Write(0, Noir80(), false);
    ASSERT_EQ(reports.size(), 20u);
    const Bytes expected = {0x42, 0x4D, 0x36, 0x4B, 0x00, 0x00, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0,
                            0,    0,    80,   0,    0,    0,    80, 0, 0, 0, 1, 0, 24, 0, 0, 0,
                            0,    0,    0x00, 0x4B, 0x00, 0x00, 0xC4, 0x0E, 0, 0, 0xC4, 0x0E, 0x00};
    ASSERT_EQ(expected.size(), 45u);
    EXPECT_EQ(Bytes(reports[0].begin() + 16, reports[0].begin() + 61), expected);
}

TEST_F(ImageReports, BlackPictureIsAllZeroUpToTheLastByte) {
    const std::vector<Bytes> reports = Write(2, Noir80(), false);
    EXPECT_EQ(StreamOf(reports), Bytes(19200, 0));
    ASSERT_EQ(reports.size(), 20u);
    EXPECT_EQ(Bytes(reports[19].begin() + 16, reports[19].end()), Bytes(1008, 0));
}

TEST_F(ImageReports, MirrorAndShiftPlaceEveryPixel) {
    const Bitmap24 picture = Numbered(80, 80);
    const Bytes stream = StreamOf(Write(0, picture, false));
    ASSERT_EQ(stream.size(), 19200u);

    // A few places worked out by hand: column x shows source column 78 - 79x/80, row y
    // the mirrored row that the shift brings there.
    struct Spot {
        int x, y, sourceX, sourceY;
    };
    for (const Spot s : {Spot{0, 0, 78, 75}, Spot{79, 0, 0, 75}, Spot{0, 3, 78, 0}, Spot{40, 2, 39, 77},
                         Spot{10, 79, 69, 78}, Spot{0, 78, 78, 74}, Spot{79, 79, 0, 78}}) {
        EXPECT_EQ(StreamPixel(stream, s.x, s.y),
                  (Rgb{static_cast<std::uint8_t>(s.sourceX), static_cast<std::uint8_t>(s.sourceY), 200}))
            << "at " << s.x << "," << s.y;
    }
    // And everywhere.
    for (int x = 0; x < 80; ++x)
        for (int y = 0; y < 80; ++y)
            ASSERT_EQ(StreamPixel(stream, x, y),
                      (Rgb{static_cast<std::uint8_t>(SourceColumn(x)),
                           static_cast<std::uint8_t>(SourceRow(y)), 200}))
                << "at " << x << "," << y;
    // The key's own picture is left as it was.
    EXPECT_EQ(picture, Numbered(80, 80));
}

TEST_F(ImageReports, PageBoundariesOfThePixelStream) {
    const std::vector<Bytes> reports = Write(1, Numbered(80, 80), false);
    const Bytes stream = StreamOf(reports);
    ASSERT_EQ(stream.size(), 19200u);
    auto at = [&](int x, int y, int channel) {  // channel 0 blue, 1 green, 2 red
        const Rgb p{static_cast<std::uint8_t>(SourceColumn(x)), static_cast<std::uint8_t>(SourceRow(y)), 200};
        return channel == 0 ? p.B : channel == 1 ? p.G : p.R;
    };
    // Stream byte s is channel s % 3 of row (s % 240) / 3 of column s / 240.
    auto byte = [&](int s) { return at(s / 240, (s % 240) / 3, s % 3); };
    EXPECT_EQ(reports[0][61], byte(0));
    EXPECT_EQ(reports[0][1023], byte(962));
    EXPECT_EQ(reports[1][16], byte(963));
    EXPECT_EQ(reports[18][1023], byte(19106));
    EXPECT_EQ(reports[19][16], byte(19107));
    EXPECT_EQ(reports[19][108], byte(19199));
    EXPECT_EQ(reports[19][109], 0);
}

struct ColourCase {
    const char* name;
    Rgb colour;
    bool grey;
    Rgb sent;
};

void PrintTo(const ColourCase& c, std::ostream* os) { *os << c.name; }

class ImageColours : public ImageReports, public ::testing::WithParamInterface<ColourCase> {};

TEST_P(ImageColours, EveryPixelOfAPlainPicture) {
    const ColourCase& c = GetParam();
    const Bytes stream = StreamOf(Write(3, Bitmap24(80, 80, c.colour), c.grey));
    ASSERT_EQ(stream.size(), 19200u);
    for (std::size_t i = 0; i < stream.size(); i += 3) {
        ASSERT_EQ(stream[i], c.sent.B) << i;
        ASSERT_EQ(stream[i + 1], c.sent.G) << i;
        ASSERT_EQ(stream[i + 2], c.sent.R) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ImageColours,
    ::testing::Values(ColourCase{"ColourKeepsItsChannels", {10, 20, 30}, false, {10, 20, 30}},
                      ColourCase{"WhiteGreyed", {255, 255, 255}, true, {128, 128, 128}},
                      ColourCase{"BlackGreyed", {0, 0, 0}, true, {0, 0, 0}},
                      ColourCase{"RedGreyedHalfToEvenUp", {255, 0, 0}, true, {26, 26, 26}},
                      ColourCase{"GreenGreyed", {0, 255, 0}, true, {99, 99, 99}},
                      ColourCase{"BlueGreyed", {0, 0, 255}, true, {3, 3, 3}},
                      ColourCase{"HalfToEvenDown", {1, 1, 1}, true, {0, 0, 0}},
                      ColourCase{"OneAndAHalfUp", {3, 3, 3}, true, {2, 2, 2}},
                      ColourCase{"YellowGreyed", {255, 255, 0}, true, {125, 125, 125}}),
    [](const ::testing::TestParamInfo<ColourCase>& info) { return std::string(info.param.name); });

TEST_F(ImageReports, SmallerPictureIsPaddedWithWhiteAlsoWhenGreyed) {
    for (const bool grey : {false, true}) {
        const Bytes stream = StreamOf(Write(0, Bitmap24(72, 72, Rgb{255, 0, 0}), grey));
        ASSERT_EQ(stream.size(), 19200u);
        const Rgb inside = grey ? Rgb{26, 26, 26} : Rgb{255, 0, 0};
        for (int x = 0; x < 80; ++x)
            for (int y = 0; y < 80; ++y) {
                const Rgb expected = (x >= 72 || y >= 72) ? Rgb{255, 255, 255} : inside;
                ASSERT_EQ(StreamPixel(stream, x, y), expected) << x << "," << y << " grey " << grey;
            }
    }
}

TEST_F(ImageReports, LargerPictureIsCutToItsFirst80ColumnsAndRows) {
    // Mirrored over its own width of 100: column 0 shows source column 98.
    const Bytes stream = StreamOf(Write(0, Numbered(100, 90), false));
    ASSERT_EQ(stream.size(), 19200u);
    EXPECT_EQ(StreamPixel(stream, 0, 3), (Rgb{98, 0, 200}));
    EXPECT_EQ(StreamPixel(stream, 79, 3).R, 98 - 79 * 99 / 100);
}

TEST_F(ImageReports, TinyAndEmptyPicturesAreSentWithoutFault) {
    for (const auto& [w, h] : {std::pair{0, 0}, {1, 1}, {1, 80}, {80, 1}, {2, 3}, {5, 4}}) {
        const Bytes stream = StreamOf(Write(0, Bitmap24(w, h, Rgb{0, 0, 0}), true));
        ASSERT_EQ(stream.size(), 19200u) << w << "x" << h;
        // Inside the picture black, white around it.
        EXPECT_EQ(StreamPixel(stream, 79, 79), (Rgb{255, 255, 255})) << w << "x" << h;
        if (w > 0 && h > 0) {
            EXPECT_EQ(StreamPixel(stream, 0, 0), (Rgb{0, 0, 0})) << w << "x" << h;
        }
    }
}

TEST_F(ImageReports, NoPictureSendsNothing) {
    Device->ClearReports();
    Box->WriteImageButton(0, nullptr, false);
    EXPECT_TRUE(Device->Reports().empty());
}

// ---------------------------------------------------------------------------------------
// Whole key sets

class KeyRefresh : public ControlBoxTest {
protected:
    void SetUp() override {
        ControlBoxTest::SetUp();
        Pictures.reserve(6);  // the list refers to them
        for (int i = 0; i < 6; ++i) {
            Pictures.emplace_back(80, 80, Rgb{static_cast<std::uint8_t>(40 * i), 255, 0});
            List.AddDefaultBitmap(&Pictures.back());
        }
        Box = &NewBox(Device);
    }
    // Red of stream byte 0 of each key written, in order, and the key number of each page.
    std::vector<int> KeysWritten() const {
        std::vector<int> keys;
        const std::vector<Bytes> all = Device->OutputReports();
        EXPECT_EQ(all.size() % 20, 0u);
        for (std::size_t k = 0; k < all.size() / 20; ++k) {
            const std::vector<Bytes> pages = KeyReports(all, k);
            for (const Bytes& p : pages) EXPECT_EQ(p[5], pages[0][5]);
            keys.push_back(pages[0][5] - 1);
        }
        return keys;
    }
    Rgb FirstPixelOfKey(std::size_t k) const {
        return StreamPixel(StreamOf(KeyReports(Device->OutputReports(), k)), 0, 0);
    }

    std::vector<Bitmap24> Pictures;
    VirtualHidDevicePtr Device;
    TSD* Box = nullptr;
};

TEST_F(KeyRefresh, AllKeysInOrderWithTheirDefaultPictures) {
    List.SetActive(true);
    Box->RefreshImageButtons();
    EXPECT_EQ(KeysWritten(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    for (std::size_t k = 0; k < 6; ++k)
        EXPECT_EQ(FirstPixelOfKey(k), (Rgb{static_cast<std::uint8_t>(40 * k), 255, 0})) << k;
    EXPECT_TRUE(Device->FeatureReports().empty());
}

TEST_F(KeyRefresh, TheListsFlagGreysNotTheControlBoxsOwn) {
    // The box took the list's flag (false) at creation; the list is now active.
    List.SetActive(true);
    ASSERT_FALSE(Box->Active());
    Box->RefreshImageButton(1);
    EXPECT_EQ(FirstPixelOfKey(0), (Rgb{40, 255, 0}));

    Device->ClearReports();
    List.SetActive(false);
    Box->SetActive(true);  // rewrites every key, greyed by the list's flag
    EXPECT_EQ(KeysWritten(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    const std::uint8_t g = SDImageEncoder::GreyLevel(40, 255, 0);
    EXPECT_EQ(FirstPixelOfKey(1), (Rgb{g, g, g}));
}

TEST_F(KeyRefresh, WritingActiveRewritesEveryKeyEvenWhenUnchanged) {
    for (const bool value : {false, false, true, true}) {
        Device->ClearReports();
        Box->SetActive(value);
        EXPECT_EQ(Box->Active(), value);
        EXPECT_EQ(KeysWritten(), (std::vector<int>{0, 1, 2, 3, 4, 5})) << value;
    }
}

TEST_F(KeyRefresh, SettingAKeysPictureRepaintsThatKeyOnly) {
    List.SetActive(true);
    const Bitmap24 blue(80, 80, Rgb{0, 0, 255});
    Box->Buttons()->Get(4)->SetBitmap(&blue);
    EXPECT_EQ(KeysWritten(), (std::vector<int>{4}));
    EXPECT_EQ(FirstPixelOfKey(0), (Rgb{0, 0, 255}));
    Device->ClearReports();
    Box->Buttons()->Get(3)->SetDefBitmap(&blue);  // refers only
    EXPECT_TRUE(Device->Reports().empty());
}

TEST_F(KeyRefresh, KeyIndexOutsideSixteenBitsIsARangeErrorAndMissingKeysAreSkipped) {
    EXPECT_THROW(Box->RefreshImageButton(-1), ERangeError);
    EXPECT_THROW(Box->RefreshImageButton(0x10000), ERangeError);
    EXPECT_NO_THROW(Box->RefreshImageButton(6));
    EXPECT_NO_THROW(Box->RefreshImageButton(0xFFFF));
    EXPECT_TRUE(Device->Reports().empty());
}

}  // namespace
