// The Carbon palette: the stored style reads completely; a damaged one is refused whole,
// naming the line, so that the window keeps its default look instead of a half-dark one.

#include "CarbonStyle.h"
#include "WholeFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string StoredStyle() { return Slurp(std::string(LUMETRA_TEST_DATA_DIR) + "/../../resources/Carbon.style"); }

TEST(CarbonStyle, TheStoredStyleGivesADarkPalette) {
    const std::string text = StoredStyle();
    ASSERT_FALSE(text.empty());
    const TCarbonStyle style = ParseCarbonStyle(Bytes(text));
    auto luminance = [](std::uint32_t c) { return ((c >> 16) & 0xFF) + ((c >> 8) & 0xFF) + (c & 0xFF); };
    // Dark grounds, light texts: the point of the style.
    EXPECT_LT(luminance(style.Window), 3 * 0x40);
    EXPECT_LT(luminance(style.GridBack), 3 * 0x40);
    EXPECT_GT(luminance(style.WindowText), 3 * 0xC0);
    EXPECT_GT(luminance(style.GridText), 3 * 0xC0);
}

TEST(CarbonStyle, CommentsBlankLinesAndLineEndsAreTolerated) {
    std::string text = StoredStyle();
    std::string crlf;
    for (char c : text) {
        if (c == '\n') crlf += "\r\n  \r\n; note\r\n";
        else crlf += c;
    }
    EXPECT_EQ(ParseCarbonStyle(Bytes(crlf)), ParseCarbonStyle(Bytes(text)));
}

TEST(CarbonStyle, ADamagedStyleIsRefusedWithItsLine) {
    const std::string good = StoredStyle();
    struct Case {
        const char* Name;
        std::string Text;
        std::wstring Says;
    } cases[] = {
        {"empty", "", L"empty"},
        {"no equals sign", good + "Window #000000\n", L"name=#RRGGBB"},
        {"unknown colour", good + "Chrome=#000000\n", L"unknown colour \"Chrome\""},
        {"twice", good + "Window=#000000\n", L"given twice"},
        {"not hex", "Window=#00GG00\n", L"line 1: expected a colour"},
        {"short", "Window=#000\n", L"line 1: expected a colour"},
        {"missing colour", "Window=#000000\n", L"\"WindowText\" is missing"},
    };
    for (const Case& c : cases) {
        try {
            ParseCarbonStyle(Bytes(c.Text));
            ADD_FAILURE() << c.Name << ": accepted";
        } catch (const EStyleError& e) {
            EXPECT_NE(e.Message().find(L"The style \"Carbon\" cannot be applied: "), std::wstring::npos) << c.Name;
            EXPECT_NE(e.Message().find(c.Says), std::wstring::npos) << c.Name;
        }
    }
}

}  // namespace
