#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "ControlFileText.h"

namespace {

constexpr std::uint32_t Words(std::uint32_t a, std::uint32_t b) { return a * 65536u + b; }

struct TVersionCase {
    const wchar_t* Text;
    std::optional<TVersionWords> Expected;
};

TEST(ParseVersionString, ReadsUpToFourNumbers) {
    const TVersionCase cases[] = {
        {L"1.2", TVersionWords{Words(1, 2), 0}},
        {L"1.2.0.0", TVersionWords{Words(1, 2), 0}},
        {L"1.1.9.9", TVersionWords{Words(1, 1), Words(9, 9)}},
        {L"2", TVersionWords{Words(2, 0), 0}},
        {L"1.2.3", TVersionWords{Words(1, 2), Words(3, 0)}},
        // A comma anywhere makes the comma the separator: the same numbers, the same version.
        {L"1,2,3,4", TVersionWords{Words(1, 2), Words(3, 4)}},
        {L" 1, 2, 3, 4 ", TVersionWords{Words(1, 2), Words(3, 4)}},
        {L"1,2.3", std::nullopt},
        // Numbers are taken modulo 65536.
        {L"65537.65536.1.2", TVersionWords{Words(1, 0), Words(1, 2)}},
        {L"40000.0.0.0", TVersionWords{Words(40000, 0), 0}},
        // Unknown: nothing, a non-number in any place, too many numbers, beyond 32 bits.
        {L"", std::nullopt},
        {L"   ", std::nullopt},
        {L"x", std::nullopt},
        {L"1.2.3.x", std::nullopt},
        {L"1.x.3.4", std::nullopt},
        {L"1..3", std::nullopt},
        {L"1.2.3.4.5", std::nullopt},
        {L"-1.0", std::nullopt},
        {L"99999999999999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "text " << testing::PrintToString(std::wstring(c.Text)));
        const auto parsed = ParseVersionString(c.Text);
        ASSERT_EQ(parsed.has_value(), c.Expected.has_value());
        if (parsed) {
            EXPECT_EQ(parsed->High, c.Expected->High);
            EXPECT_EQ(parsed->Low, c.Expected->Low);
        }
    }
}

TEST(ParseVersionString, FourNumberFormRoundTrips) {
    EXPECT_EQ(VersionToString(*ParseVersionString(L"1.2")), L"1.2.0.0");
    EXPECT_EQ(VersionToString(*ParseVersionString(L"65535,65535,65535,65535")), L"65535.65535.65535.65535");
    EXPECT_EQ(VersionToString(TVersionWords{}), L"0.0.0.0");
}

TEST(ParseIniInteger, DecimalAndBothHexForms) {
    const struct {
        const wchar_t* Text;
        std::optional<std::int32_t> Expected;
    } cases[] = {
        {L"16", 16},
        {L"0x10", 16},
        {L"0X10", 16},
        {L"$10", 16},
        {L"$ff", 255},
        {L"-5", -5},
        {L"+5", 5},
        {L"2147483647", 2147483647},
        {L"-2147483648", INT32_MIN},
        {L"$FFFFFFFF", -1},
        {L"0x80000000", INT32_MIN},
        {L"2147483648", std::nullopt},
        {L"0x100000000", std::nullopt},
        {L"0x", std::nullopt},
        {L"$", std::nullopt},
        {L"", std::nullopt},
        {L"1e3", std::nullopt},
        {L"12abc", std::nullopt},
        {L"0x1g", std::nullopt},
        {L"-0x10", std::nullopt},
        {L"99999999999999999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Text)));
        EXPECT_EQ(ParseIniInteger(c.Text), c.Expected);
    }
}

TEST(ParseControlDate, DayMonthYearWithOptionalTime) {
    const struct {
        const wchar_t* Date;
        const wchar_t* Time;
        TDateStamp Expected;
    } cases[] = {
        {L"25/12/2024", L"", {2024, 12, 25, 0, 0, 0}},
        {L"1/2/2024", L"14:30", {2024, 2, 1, 14, 30, 0}},
        {L"01/02/24", L"14:30:15", {2024, 2, 1, 14, 30, 15}},
        {L"01/02/99", L"", {1999, 2, 1, 0, 0, 0}},
        {L"29/02/2024", L"23:59", {2024, 2, 29, 23, 59, 0}},
        // A date that does not parse is 1 January 1980; the time is still added.
        {L"garbage", L"", kNoDate},
        {L"29/02/2023", L"10:00", {1980, 1, 1, 10, 0, 0}},
        {L"31/04/2024", L"", kNoDate},
        {L"12/25/2024", L"", kNoDate},
        {L"2024-12-25", L"", kNoDate},
        {L"00/01/2024", L"", kNoDate},
        {L"1/1/123", L"", kNoDate},
        // A time that does not parse adds nothing.
        {L"25/12/2024", L"25:00", {2024, 12, 25, 0, 0, 0}},
        {L"25/12/2024", L"12h30", {2024, 12, 25, 0, 0, 0}},
        {L"25/12/2024", L"12", {2024, 12, 25, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Date) + L" " + c.Time));
        const TDateStamp parsed = ParseControlDate(c.Date, c.Time);
        EXPECT_EQ(parsed, c.Expected) << parsed.Year << "-" << parsed.Month << "-" << parsed.Day << " "
                                      << parsed.Hour << ":" << parsed.Minute << ":" << parsed.Second;
    }
    EXPECT_EQ(FormatShortDate({2024, 7, 2, 9, 0, 0}), L"02/07/2024");
}

TEST(URLtoFile, NameAfterTheLastSeparators) {
    const struct {
        const wchar_t* Url;
        const wchar_t* Name;
    } cases[] = {
        {L"https://host/softwares/Lumetra%20CONTROLBOX/V1/LumetraControlBox.INF", L"LumetraControlBox.INF"},
        {L"http://host/get.php?file=setup.cab", L"file=setup.cab"},
        {L"http://host/a?b/c.exe", L"c.exe"},
        {L"http://host/dir/", L""},
        {L"C:\\folder\\file.dll", L"file.dll"},
        {L"plain.txt", L"plain.txt"},
    };
    for (const auto& c : cases) EXPECT_EQ(URLtoFile(c.Url), c.Name) << testing::PrintToString(std::wstring(c.Url));
}

TEST(ExpandNewlines, BackslashNBecomesCarriageReturn) {
    EXPECT_EQ(ExpandNewlines(L"Line one\\nLine two\\n"), L"Line one\rLine two\r");
    EXPECT_EQ(ExpandNewlines(L"C:\\new\\name"), L"C:\rew\rame");
    EXPECT_EQ(ExpandNewlines(L"trailing\\"), L"trailing\\");
}

TEST(TChecksum, StartsAtMinusOneAndWrapsAt32Bits) {
    TChecksum empty;
    EXPECT_EQ(empty.Value(), -1);

    TChecksum abc;
    const std::uint8_t bytes[] = {'A', 'B', 'C', 0xFF};
    abc.Add(bytes, 3);
    EXPECT_EQ(abc.Value(), 65 + 66 + 67 - 1);
    abc.Add(bytes + 3, 1);  // bytes count unsigned
    EXPECT_EQ(abc.Value(), 65 + 66 + 67 - 1 + 255);

    // Past 2^32: more than 16.8 million bytes of 0xFF.
    const std::vector<std::uint8_t> chunk(1 << 20, 0xFF);
    TChecksum big;
    for (int i = 0; i < 17; ++i) big.Add(chunk.data(), chunk.size());
    const std::uint64_t exact = 17ull * chunk.size() * 0xFF - 1;
    EXPECT_EQ(static_cast<std::uint32_t>(big.Value()), static_cast<std::uint32_t>(exact));
}

}  // namespace
