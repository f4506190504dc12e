#include <gtest/gtest.h>

#include "IniFile.h"
#include "TestFiles.h"

namespace {

TEST(TIniFile, EncodingsOfTheSameFile) {
    // One small file in every encoding the reader meets; all read the same text.
    for (const char* name : {"utf8.inf", "bom-utf8.inf", "utf16le.inf", "utf16be.inf", "ansi.inf"}) {
        SCOPED_TRACE(name);
        const auto bytes = ReadFixture(name);
        ASSERT_FALSE(bytes.empty());
        const TIniFile ini = TIniFile::FromBytes(bytes);
        EXPECT_EQ(ini.ReadString(L"update", L"descr"), L"Caf\u00e9 cr\u00e8me");
        EXPECT_EQ(ini.ReadString(L"update", L"unconditional"), L"yes");
    }
}

TEST(TIniFile, InvalidUtf8AnywhereMakesTheWholeFileAnsi) {
    // The first value is valid UTF-8 on its own, the second is not: both are read as ANSI.
    const TIniFile ini = TIniFile::FromBytes(Bytes("[a]\nx=\xC3\xA9\ny=\xE9t\xE9\n"));
    EXPECT_EQ(ini.ReadString(L"a", L"x"), L"\u00c3\u00a9");
    EXPECT_EQ(ini.ReadString(L"a", L"y"), L"\u00e9t\u00e9");
}

TEST(IsValidUtf8, RejectsMalformedSequences) {
    const struct {
        std::string Bytes;
        bool Valid;
    } cases[] = {
        {"plain", true},
        {"\xC3\xA9", true},
        {"\xF0\x9F\x98\x80", true},
        {"\xC3", false},              // cut short
        {"\xC0\xAF", false},          // overlong
        {"\xED\xA0\x80", false},      // surrogate
        {"\xF4\x90\x80\x80", false},  // above U+10FFFF
        {"\x80", false},              // stray continuation
        {"\xFF", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsValidUtf8(reinterpret_cast<const std::uint8_t*>(c.Bytes.data()), c.Bytes.size()), c.Valid)
            << testing::PrintToString(c.Bytes);
}

TEST(TIniFile, SyntaxRules) {
    const TIniFile ini = TIniFile::FromText(
        L"early=ignored before any section\r\n"
        L"[ Update ]\r\n"
        L"  ; a comment line\r\n"
        L";descr=commented out\r\n"
        L"   newsize   =   0x10   \r\n"
        L"url=http://host/get?x=1&y=2\r\n"
        L"no equals sign here\r"
        L"empty=\n"
        L"\tTabbed\t=\tvalue\t\n"
        L"[]\n"
        L"nameless=1\n"
        L"[broken\n"
        L"still=in nameless\n");
    const struct {
        const wchar_t* Section;
        const wchar_t* Key;
        const wchar_t* Expected;  // nullptr: not found
    } cases[] = {
        {L"update", L"newsize", L"0x10"},
        {L"UPDATE", L"NEWSIZE", L"0x10"},  // names ignore case
        {L"update", L"url", L"http://host/get?x=1&y=2"},  // split at the first "="
        {L"update", L"descr", nullptr},
        {L"update", L"early", nullptr},
        {L"update", L"no equals sign here", nullptr},
        {L"update", L"empty", L""},
        {L"update", L"tabbed", L"value"},
        {L"", L"nameless", L"1"},
        {L"", L"still", L"in nameless"},
        {L"broken", L"still", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.Section) + L"/" + c.Key));
        EXPECT_EQ(ini.ValueExists(c.Section, c.Key), c.Expected != nullptr);
        if (c.Expected) EXPECT_EQ(ini.ReadString(c.Section, c.Key, L"default"), c.Expected);
        else EXPECT_EQ(ini.ReadString(c.Section, c.Key, L"default"), L"default");
    }
    EXPECT_EQ(ini.ReadInteger(L"update", L"newsize", 0), 16);
    EXPECT_EQ(ini.ReadInteger(L"update", L"url", -1), -1);
    EXPECT_EQ(ini.ReadInteger(L"update", L"empty", 7), 7);
    EXPECT_EQ(ini.ReadInteger(L"update", L"missing", 7), 7);
}

TEST(TIniFile, RepeatedSectionsMergeAndTheFirstKeyWins) {
    const TIniFile ini = TIniFile::FromText(
        L"[files]\ncount=1\ncount=5\n"
        L"[file1]\nurl=first\n"
        L"[FILES]\ncount=9\nextra=later\n");
    EXPECT_EQ(ini.ReadInteger(L"files", L"count", 0), 1);
    EXPECT_EQ(ini.ReadString(L"files", L"extra"), L"later");
    EXPECT_EQ(ini.SectionCount(), 2u);
}

TEST(TIniFile, EmptyAndBinaryInputReadsAsEmpty) {
    EXPECT_EQ(TIniFile::FromBytes(nullptr, 0).SectionCount(), 0u);
    const std::uint8_t odd[] = {0xFF, 0xFE, 0x5B};  // UTF-16 mark with half a unit
    EXPECT_EQ(TIniFile::FromBytes(odd, sizeof odd).SectionCount(), 0u);
    const std::uint8_t nul[] = {'[', 0, ']', '\n', 'a', '=', 0};
    EXPECT_EQ(TIniFile::FromBytes(nul, sizeof nul).SectionCount(), 1u);
}

}  // namespace
