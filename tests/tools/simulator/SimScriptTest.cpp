#include "SimScript.h"

#include <gtest/gtest.h>

namespace {

TSimCommand Parsed(const std::wstring& line) {
    const TSimParsed parsed = ParseSimLine(line, 7);
    EXPECT_TRUE(parsed.Error.empty()) << "unexpected error for: " << std::string(line.begin(), line.end());
    EXPECT_TRUE(parsed.Command.has_value());
    return parsed.Command.value_or(TSimCommand{});
}

TEST(SimScript, BlankLinesAndCommentsAreNoCommands) {
    for (const wchar_t* line : {L"", L"   ", L"\t", L"\r", L"# a comment", L"   # indented comment", L"#plug X"}) {
        const TSimParsed parsed = ParseSimLine(line, 1);
        EXPECT_TRUE(parsed.Error.empty());
        EXPECT_FALSE(parsed.Command.has_value());
    }
}

TEST(SimScript, PlugTakesHexIdsWithDefaults) {
    TSimCommand c = Parsed(L"plug AL12K1A00001");
    EXPECT_EQ(c.Kind, TSimCommandKind::Plug);
    EXPECT_EQ(c.Serial, L"AL12K1A00001");
    EXPECT_EQ(c.ProductId, 0x0063);
    EXPECT_EQ(c.VendorId, 0x0FD9);
    EXPECT_EQ(c.Line, 7);

    c = Parsed(L"plug S 0060");
    EXPECT_EQ(c.ProductId, 0x0060);
    EXPECT_EQ(c.VendorId, 0x0FD9);

    c = Parsed(L"plug S 0x6c 046d\r");
    EXPECT_EQ(c.ProductId, 0x006C);
    EXPECT_EQ(c.VendorId, 0x046D);
}

TEST(SimScript, PressKeysAndTheirReport) {
    const TSimCommand c = Parsed(L"press S 0 5");
    EXPECT_EQ(c.Kind, TSimCommandKind::Press);
    EXPECT_EQ(c.Keys, (std::vector<int>{0, 5}));
    const std::vector<std::uint8_t> report = SimKeyReport(c.Keys);
    ASSERT_EQ(report.size(), 17u);
    EXPECT_EQ(report[0], 0x01);
    EXPECT_EQ(report[1], 1);
    EXPECT_EQ(report[6], 1);
    int pressed = 0;
    for (std::uint8_t b : report) pressed += b == 1;
    EXPECT_EQ(pressed, 3);  // the report id and the two keys

    const std::vector<std::uint8_t> release = SimKeyReport({});
    EXPECT_EQ(SimHex(release), "0100000000000000000000000000000000");
}

TEST(SimScript, InputBytesFromHex) {
    const TSimCommand c = Parsed(L"input S 01aBff00");
    EXPECT_EQ(c.Bytes, (std::vector<std::uint8_t>{0x01, 0xAB, 0xFF, 0x00}));
}

TEST(SimScript, RestOfLineArgumentsAreKeptExactly) {
    TSimCommand c = Parsed(L"vanto VANTO3 - [12] Marathon - Finish line > [3] 10 km");
    EXPECT_EQ(c.Kind, TSimCommandKind::Vanto);
    EXPECT_EQ(c.Text, L"VANTO3 - [12] Marathon - Finish line > [3] 10 km");

    c = Parsed(L"vanto  two  spaces ");
    EXPECT_EQ(c.Text, L"two  spaces ");

    c = Parsed(L"image S 3 C:\\My Pictures\\key.bmp\r");
    EXPECT_EQ(c.Number, 3);
    EXPECT_EQ(c.Text, L"C:\\My Pictures\\key.bmp");

    c = Parsed(L"screenshot docs/window.png");
    EXPECT_EQ(c.Text, L"docs/window.png");
}

TEST(SimScript, SimpleCommands) {
    struct {
        const wchar_t* Line;
        TSimCommandKind Kind;
        int Number;
        const wchar_t* Text;
    } cases[] = {
        {L"start", TSimCommandKind::Start, 0, L""},
        {L"wait 250", TSimCommandKind::Wait, 250, L""},
        {L"tick", TSimCommandKind::Tick, 0, L""},
        {L"select 2", TSimCommandKind::Select, 2, L""},
        {L"action actSetAsDefault", TSimCommandKind::Action, 0, L"actSetAsDefault"},
        {L"brightness 80", TSimCommandKind::Brightness, 80, L""},
        {L"close", TSimCommandKind::Close, 0, L""},
        {L"show tray", TSimCommandKind::Show, 0, L"tray"},
        {L"show settings", TSimCommandKind::Show, 0, L"settings"},
        {L"vanto-hide", TSimCommandKind::VantoHide, 0, L""},
        {L"vanto-close", TSimCommandKind::VantoClose, 0, L""},
        {L"quit", TSimCommandKind::Quit, 0, L""},
        {L"bench-press S 1000", TSimCommandKind::BenchPress, 1000, L""},
        {L"update-url http://127.0.0.1:8080/lumetra.txt", TSimCommandKind::UpdateUrl, 0,
         L"http://127.0.0.1:8080/lumetra.txt"},
        {L"fault S output 7", TSimCommandKind::Fault, 7, L"output"},
        {L"fault S feature every", TSimCommandKind::Fault, kSimFaultEvery, L"feature"},
        {L"fault S output off", TSimCommandKind::Fault, 0, L"output"},
        {L"fault S read 3", TSimCommandKind::Fault, 3, L"read"},
        {L"fault S read off", TSimCommandKind::Fault, 0, L"read"},
        {L"hold-log", TSimCommandKind::HoldLog, 0, L""},
        {L"release-log", TSimCommandKind::ReleaseLog, 0, L""},
        {L"wait-idle", TSimCommandKind::WaitIdle, 0, L""},
        {L"action actCheckUpdates &", TSimCommandKind::Action, 0, L"actCheckUpdates"},
        {L"fault S reads fail", TSimCommandKind::Fault, kSimFaultEvery, L"reads"},
        {L"fault S reads off", TSimCommandKind::Fault, 0, L"reads"},
        {L"replug S", TSimCommandKind::Replug, 0, L""},
        {L"replug S busy", TSimCommandKind::Replug, 0, L""},
        {L"busy 250", TSimCommandKind::Busy, 250, L""},
        {L"notices 20", TSimCommandKind::Notices, 20, L""},
    };
    for (const auto& tc : cases) {
        const TSimCommand c = Parsed(tc.Line);
        EXPECT_EQ(c.Kind, tc.Kind);
        EXPECT_EQ(c.Number, tc.Number);
        EXPECT_EQ(c.Text, tc.Text);
    }
    EXPECT_TRUE(Parsed(L"answer yes").Yes);
    EXPECT_EQ(Parsed(L"shell-open run").Kind, TSimCommandKind::ShellOpen);
    EXPECT_TRUE(Parsed(L"shell-open run").Yes);
    EXPECT_FALSE(Parsed(L"shell-open print").Yes);
    EXPECT_FALSE(Parsed(L"answer no").Yes);
    EXPECT_TRUE(Parsed(L"action actCheckUpdates &").Background);
    EXPECT_FALSE(Parsed(L"action actCheckUpdates").Background);
    EXPECT_TRUE(Parsed(L"replug S busy").Background);
    EXPECT_FALSE(Parsed(L"replug S").Background);
    EXPECT_EQ(Parsed(L"update-limits 1000 2000 3000 40000").Times, (std::vector<int>{1000, 2000, 3000, 40000}));
}

TEST(SimScript, BadLinesGiveAClearErrorWithTheirLineNumber) {
    struct {
        const wchar_t* Line;
        const wchar_t* Error;
    } cases[] = {
        {L"frob", L"line 3: unknown command \"frob\""},
        {L"Plug S", L"line 3: unknown command \"Plug\""},
        {L"plug", L"line 3: missing argument; usage: plug SERIAL [PID [VID]]"},
        {L"plug S 63 fd9 9", L"line 3: too many arguments; usage: plug SERIAL [PID [VID]]"},
        {L"plug S 12345", L"line 3: bad product id \"12345\" (hex, up to 4 digits)"},
        {L"plug S 63 xyz", L"line 3: bad vendor id \"xyz\" (hex, up to 4 digits)"},
        {L"press S", L"line 3: missing argument; usage: press SERIAL K [K ...]"},
        {L"press S 16", L"line 3: bad key \"16\" (0 to 15)"},
        {L"press S -1", L"line 3: bad key \"-1\" (0 to 15)"},
        {L"press S one", L"line 3: bad key \"one\" (0 to 15)"},
        {L"input S 0", L"line 3: bad hex \"0\": odd number of digits"},
        {L"input S 0g", L"line 3: bad hex \"0g\": not a hex digit"},
        {L"image S x f.bmp", L"line 3: bad key \"x\""},
        {L"image S 1", L"line 3: missing argument; usage: image SERIAL K FILE"},
        {L"vanto", L"line 3: missing argument; usage: vanto TITLE"},
        {L"wait soon", L"line 3: bad time \"soon\" (milliseconds, 0 to 3600000)"},
        {L"wait 99999999", L"line 3: bad time \"99999999\" (milliseconds, 0 to 3600000)"},
        {L"tick now", L"line 3: too many arguments; usage: tick"},
        {L"answer maybe", L"line 3: bad answer \"maybe\" (yes or no)"},
        {L"shell-open now", L"line 3: bad word \"now\" (run or print)"},
        {L"shell-open", L"line 3: missing argument; usage: shell-open run|print"},
        {L"show everything", L"line 3: cannot show \"everything\" (one of labels, tray, grid, window, trackbar, "
                             L"status, settings, log)"},
        {L"bench-press S 0", L"line 3: bad count \"0\""},
        {L"update-url ftp://host/x", L"line 3: bad address \"ftp://host/x\" (http:// or https://)"},
        {L"update-url", L"line 3: missing argument; usage: update-url URL"},
        {L"fault S input 1", L"line 3: cannot break \"input\" (output, feature, read or reads)"},
        {L"fault S reads 3", L"line 3: bad word \"3\" (fail or off)"},
        {L"replug S now", L"line 3: bad word \"now\" (busy or nothing)"},
        {L"replug", L"line 3: missing argument; usage: replug SERIAL [busy]"},
        {L"busy soon", L"line 3: bad time \"soon\" (0 to 60000 ms)"},
        {L"notices 0", L"line 3: bad count \"0\" (1 to 10000)"},
        {L"fault S output 0", L"line 3: bad count \"0\" (1 to 100000, every or off)"},
        {L"fault S read every", L"line 3: bad count \"every\" (bytes, 1 to 100000, or off)"},
        {L"fault S output", L"line 3: missing argument; usage: fault SERIAL output|feature N|every|off, fault SERIAL "
                            L"read N|off, fault SERIAL reads fail|off"},
        {L"hold-log now", L"line 3: too many arguments; usage: hold-log"},
        {L"action actParam now", L"line 3: bad argument \"now\" (only & may follow the action)"},
        {L"wait-idle 5", L"line 3: too many arguments; usage: wait-idle"},
        {L"update-limits 1 2 3", L"line 3: missing argument; usage: update-limits CONNECT SEND RECEIVE REQUEST"},
        {L"update-limits 1 2 0 4", L"line 3: bad time \"0\" (milliseconds, 1 to 86400000)"},
        {L"update-limits 1 2 3 soon", L"line 3: bad time \"soon\" (milliseconds, 1 to 86400000)"},
    };
    for (const auto& tc : cases) {
        const TSimParsed parsed = ParseSimLine(tc.Line, 3);
        EXPECT_FALSE(parsed.Command.has_value());
        EXPECT_EQ(parsed.Error, tc.Error);
    }
    const TSimParsed action = ParseSimLine(L"action actFly", 3);
    EXPECT_EQ(action.Error.rfind(L"line 3: unknown action \"actFly\" (one of actParam, ", 0), 0u);
}

TEST(SimScript, LinesSplitOnEitherEnding) {
    EXPECT_EQ(SplitSimLines(L"a\r\nb\nc"), (std::vector<std::wstring>{L"a\r", L"b", L"c"}));
    EXPECT_EQ(SplitSimLines(L"a\n\nb\n"), (std::vector<std::wstring>{L"a", L"", L"b"}));
    EXPECT_TRUE(SplitSimLines(L"").empty());
}

TEST(SimScript, EscapeKeepsEachItemOnOneLine) {
    EXPECT_EQ(SimEscape(L"LUMETRA CONTROL BOX\rControlBox OK\r"), L"LUMETRA CONTROL BOX\\rControlBox OK\\r");
    EXPECT_EQ(SimEscape(L"a\nb C:\\x"), L"a\\nb C:\\x");
    EXPECT_EQ(SimHex({0x0B, 0x63, 0x00, 0xFF}), "0b6300ff");
}

}  // namespace
