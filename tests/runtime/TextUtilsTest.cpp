#include "TextUtils.h"
#include "Exceptions.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(TextUtils, Utf8RoundTripKeepsAccentsAndAstralCharacters) {
    const std::wstring text = L"Vanto trouv\u00e9 : \u00c9preuve \U0001F3C1";
    EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
    EXPECT_EQ(WideToUtf8(L"\u00e9"), "\xC3\xA9");
}

TEST(TextUtils, InvalidUtf8BecomesReplacementCharacters) {
    struct Case { std::string bytes; std::wstring expected; };
    const Case cases[] = {
        {"a\xFF" "b", L"a\uFFFDb"},
        {"\xC3", L"\uFFFD"},                // truncated sequence at the end
        {"\xC0\xAF", L"\uFFFD\uFFFD"},      // overlong form
        {"\xE2\x82", L"\uFFFD\uFFFD"},
    };
    for (const auto& c : cases) EXPECT_EQ(Utf8ToWide(c.bytes), c.expected) << c.bytes;
}

TEST(TextUtils, Utf16BufferStopsAtNulOrLimit) {
    const std::uint16_t withNul[] = {'A', 'B', 0, 'C'};
    EXPECT_EQ(Utf16BufferToWide(withNul, 4), L"AB");
    const std::uint16_t noNul[] = {'A', 'B', 'C'};
    EXPECT_EQ(Utf16BufferToWide(noNul, 2), L"AB");
    const std::uint16_t pair[] = {0xD83C, 0xDFC1, 0};
    EXPECT_EQ(Utf16BufferToWide(pair, 3), L"\U0001F3C1");
}

TEST(TextUtils, AsciiCaseFoldingOnly) {
    EXPECT_TRUE(SameTextAscii(L"al12k1c01234", L"AL12K1C01234"));
    EXPECT_FALSE(SameTextAscii(L"\u00e9", L"\u00c9"));  // no folding beyond ASCII
    EXPECT_FALSE(SameTextAscii(L"AB", L"ABC"));
}

TEST(Exceptions, CarryTheWideMessage) {
    try {
        throw EControllerError(L"Device cannot be opened");
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), L"Device cannot be opened");
        EXPECT_STREQ(e.what(), "Device cannot be opened");
    }
}
