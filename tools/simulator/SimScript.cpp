#include "SimScript.h"

#include <algorithm>
#include <map>

namespace {

// Upper bounds that keep a mistyped number from stalling a run or exhausting memory.
constexpr long kMaxWaitMs = 3'600'000;
// A request may be given at most a day.
constexpr long kMaxLimitMs = 86'400'000;
constexpr long kMaxBenchPresses = 1'000'000;
constexpr std::size_t kMaxInputBytes = 1024;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The words of `line` and, for each, where it starts.
struct TWords {
    std::vector<std::wstring> Words;
    std::vector<std::size_t> Starts;
};

TWords SplitWords(const std::wstring& line) {
    TWords result;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        if (i >= line.size()) break;
        const std::size_t start = i;
        while (i < line.size() && !IsBlank(line[i])) ++i;
        result.Words.push_back(line.substr(start, i - start));
        result.Starts.push_back(start);
    }
    return result;
}

// Decimal integer within [low, high]; nullopt for anything else.
std::optional<long> ParseDecimal(const std::wstring& word, long low, long high) {
    if (word.empty() || word.size() > 9) return std::nullopt;
    std::size_t i = 0;
    bool negative = false;
    if (word[0] == L'-') {
        negative = true;
        i = 1;
        if (word.size() == 1) return std::nullopt;
    }
    long value = 0;
    for (; i < word.size(); ++i) {
        if (word[i] < L'0' || word[i] > L'9') return std::nullopt;
        value = value * 10 + (word[i] - L'0');
    }
    if (negative) value = -value;
    if (value < low || value > high) return std::nullopt;
    return value;
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// A 16-bit id in hex, "0x" optional: "63", "0063", "0x0FD9".
std::optional<std::uint16_t> ParseHexId(const std::wstring& word) {
    std::wstring digits = word;
    if (digits.size() > 2 && digits[0] == L'0' && (digits[1] == L'x' || digits[1] == L'X'))
        digits = digits.substr(2);
    if (digits.empty() || digits.size() > 4) return std::nullopt;
    unsigned value = 0;
    for (wchar_t c : digits) {
        const int d = HexDigit(c);
        if (d < 0) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(d);
    }
    return static_cast<std::uint16_t>(value);
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring JoinTopics(const std::vector<std::wstring>& topics) {
    std::wstring out;
    for (const auto& t : topics) {
        if (!out.empty()) out += L", ";
        out += t;
    }
    return out;
}

const std::vector<std::wstring>& ShowTopics() {
    static const std::vector<std::wstring> topics = {L"labels",   L"tray",   L"grid",     L"window",
                                                     L"trackbar", L"status", L"settings", L"log"};
    return topics;
}

// The arguments of one line: the words after the command word, and the rest of the line
// from any of them on.
class TArgs {
public:
    TArgs(const std::wstring& line, const TWords& words) : FLine(line), FWords(words) {}
    int Count() const { return static_cast<int>(FWords.Words.size()) - 1; }
    const std::wstring& operator[](int i) const { return FWords.Words[static_cast<std::size_t>(i) + 1]; }
    // The rest of the line from argument i on, exactly as written.
    std::wstring Rest(int i) const { return FLine.substr(FWords.Starts[static_cast<std::size_t>(i) + 1]); }

private:
    const std::wstring& FLine;
    const TWords& FWords;
};

// A command's own checks of its arguments, once their number is right: fills `command`
// and returns nothing, or returns what is wrong.
using TParseError = std::wstring;
using TParser = TParseError (*)(const TArgs& args, TSimCommand& command);

TParseError ParseNothing(const TArgs&, TSimCommand&) { return {}; }

TParseError ParseSerial(const TArgs& args, TSimCommand& command) {
    command.Serial = args[0];
    return {};
}

// The last argument is the rest of the line: a title or a file path may hold blanks.
TParseError ParseText(const TArgs& args, TSimCommand& command) {
    command.Text = args.Rest(0);
    return {};
}

TParseError ParsePlug(const TArgs& args, TSimCommand& command) {
    command.Serial = args[0];
    if (args.Count() >= 2) {
        const auto pid = ParseHexId(args[1]);
        if (!pid) return L"bad product id " + Quoted(args[1]) + L" (hex, up to 4 digits)";
        command.ProductId = *pid;
    }
    if (args.Count() >= 3) {
        const auto vid = ParseHexId(args[2]);
        if (!vid) return L"bad vendor id " + Quoted(args[2]) + L" (hex, up to 4 digits)";
        command.VendorId = *vid;
    }
    return {};
}

TParseError ParseFault(const TArgs& args, TSimCommand& command) {
    command.Serial = args[0];
    command.Text = args[1];
    const bool reports = command.Text == L"output" || command.Text == L"feature";
    if (!reports && command.Text != L"read" && command.Text != L"reads")
        return L"cannot break " + Quoted(command.Text) + L" (output, feature, read or reads)";
    if (command.Text == L"reads") {
        // Every read of the box fails until "off", as on a dead handle.
        if (args[2] != L"fail" && args[2] != L"off") return L"bad word " + Quoted(args[2]) + L" (fail or off)";
        command.Number = args[2] == L"fail" ? kSimFaultEvery : 0;
    } else if (args[2] == L"off") {
        command.Number = 0;
    } else if (reports && args[2] == L"every") {
        command.Number = kSimFaultEvery;
    } else {
        const auto n = ParseDecimal(args[2], 1, 100000);
        if (!n)
            return L"bad count " + Quoted(args[2]) +
                   (reports ? L" (1 to 100000, every or off)" : L" (bytes, 1 to 100000, or off)");
        command.Number = static_cast<int>(*n);
    }
    return {};
}

TParseError ParseReplug(const TArgs& args, TSimCommand& command) {
    command.Serial = args[0];
    if (args.Count() >= 2 && args[1] != L"busy") return L"bad word " + Quoted(args[1]) + L" (busy or nothing)";
    command.Background = args.Count() >= 2;
    return {};
}

TParseError ParseBusy(const TArgs& args, TSimCommand& command) {
    const auto ms = ParseDecimal(args[0], 0, 60'000);
    if (!ms) return L"bad time " + Quoted(args[0]) + L" (0 to 60000 ms)";
    command.Number = static_cast<int>(*ms);
    return {};
}

TParseError ParseNotices(const TArgs& args, TSimCommand& command) {
    const auto n = ParseDecimal(args[0], 1, 10'000);
    if (!n) return L"bad count " + Quoted(args[0]) + L" (1 to 10000)";
    command.Number = static_cast<int>(*n);
    return {};
}

TParseError ParsePress(const TArgs& args, TSimCommand& command) {
    command.Serial = args[0];
    for (int i = 1; i < args.Count(); ++i) {
        const auto key = ParseDecimal(args[i], 0, kSimInputDataBytes - 1);
        if (!key) return L"bad key " + Quoted(args[i]) + L" (0 to " + std::to_wstring(kSimInputDataBytes - 1) + L")";
        command.Keys.push_back(static_cast<int>(*key));
    }
    return {};
}

TParseError ParseInput(const TArgs& args, TSimCommand& command) {
    command.Serial = args[0];
    const std::wstring& hex = args[1];
    if (hex.size() % 2 != 0) return L"bad hex " + Quoted(hex) + L": odd number of digits";
    if (hex.size() / 2 > kMaxInputBytes) return L"bad hex: more than " + std::to_wstring(kMaxInputBytes) + L" bytes";
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = HexDigit(hex[i]);
        const int lo = HexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) return L"bad hex " + Quoted(hex) + L": not a hex digit";
        command.Bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return {};
}

TParseError ParseImage(const TArgs& args, TSimCommand& command) {
    command.Serial = args[0];
    const auto key = ParseDecimal(args[1], 0, 31);
    if (!key) return L"bad key " + Quoted(args[1]);
    command.Number = static_cast<int>(*key);
    command.Text = args.Rest(2);
    return {};
}

TParseError ParseUpdateUrl(const TArgs& args, TSimCommand& command) {
    if (args[0].rfind(L"http://", 0) != 0 && args[0].rfind(L"https://", 0) != 0)
        return L"bad address " + Quoted(args[0]) + L" (http:// or https://)";
    command.Text = args[0];
    return {};
}

TParseError ParseWait(const TArgs& args, TSimCommand& command) {
    const auto ms = ParseDecimal(args[0], 0, kMaxWaitMs);
    if (!ms) return L"bad time " + Quoted(args[0]) + L" (milliseconds, 0 to " + std::to_wstring(kMaxWaitMs) + L")";
    command.Number = static_cast<int>(*ms);
    return {};
}

TParseError ParseSelect(const TArgs& args, TSimCommand& command) {
    const auto row = ParseDecimal(args[0], 0, 1'000'000);
    if (!row) return L"bad row " + Quoted(args[0]);
    command.Number = static_cast<int>(*row);
    return {};
}

TParseError ParseBrightness(const TArgs& args, TSimCommand& command) {
    const auto n = ParseDecimal(args[0], -1'000'000, 1'000'000);
    if (!n) return L"bad brightness " + Quoted(args[0]);
    command.Number = static_cast<int>(*n);
    return {};
}

TParseError ParseAction(const TArgs& args, TSimCommand& command) {
    const auto& names = SimActionNames();
    if (std::find(names.begin(), names.end(), args[0]) == names.end())
        return L"unknown action " + Quoted(args[0]) + L" (one of " + JoinTopics(names) + L")";
    command.Text = args[0];
    if (args.Count() == 2) {
        if (args[1] != L"&") return L"bad argument " + Quoted(args[1]) + L" (only & may follow the action)";
        command.Background = true;
    }
    return {};
}

TParseError ParseUpdateLimits(const TArgs& args, TSimCommand& command) {
    for (int i = 0; i < 4; ++i) {
        const auto ms = ParseDecimal(args[i], 1, kMaxLimitMs);
        if (!ms) return L"bad time " + Quoted(args[i]) + L" (milliseconds, 1 to " + std::to_wstring(kMaxLimitMs) + L")";
        command.Times.push_back(static_cast<int>(*ms));
    }
    return {};
}

TParseError ParseAnswer(const TArgs& args, TSimCommand& command) {
    if (args[0] != L"yes" && args[0] != L"no") return L"bad answer " + Quoted(args[0]) + L" (yes or no)";
    command.Yes = args[0] == L"yes";
    return {};
}

TParseError ParseShellOpen(const TArgs& args, TSimCommand& command) {
    if (args[0] != L"run" && args[0] != L"print") return L"bad word " + Quoted(args[0]) + L" (run or print)";
    command.Yes = args[0] == L"run";
    return {};
}

TParseError ParseShow(const TArgs& args, TSimCommand& command) {
    const auto& topics = ShowTopics();
    if (std::find(topics.begin(), topics.end(), args[0]) == topics.end())
        return L"cannot show " + Quoted(args[0]) + L" (one of " + JoinTopics(topics) + L")";
    command.Text = args[0];
    return {};
}

TParseError ParseBenchPress(const TArgs& args, TSimCommand& command) {
    command.Serial = args[0];
    const auto n = ParseDecimal(args[1], 1, kMaxBenchPresses);
    if (!n) return L"bad count " + Quoted(args[1]);
    command.Number = static_cast<int>(*n);
    return {};
}

struct TCommandInfo {
    TSimCommandKind Kind;
    // Words after the command word: at least Min, at most Max (-1: the rest of the line
    // is the last argument, so any number of words from Min on).
    int Min;
    int Max;
    const wchar_t* Usage;
    TParser Parse;
};

// Every command word with what it takes. A new command is one line here, its parser above
// and its handler in the simulator.
const std::map<std::wstring, TCommandInfo>& Commands() {
    using K = TSimCommandKind;
    static const std::map<std::wstring, TCommandInfo> table = {
        {L"start", {K::Start, 0, 0, L"start", ParseNothing}},
        {L"plug", {K::Plug, 1, 3, L"plug SERIAL [PID [VID]]", ParsePlug}},
        {L"unplug", {K::Unplug, 1, 1, L"unplug SERIAL", ParseSerial}},
        {L"press", {K::Press, 2, 1 + kSimInputDataBytes, L"press SERIAL K [K ...]", ParsePress}},
        {L"input", {K::Input, 2, 2, L"input SERIAL HEX", ParseInput}},
        {L"image", {K::Image, 3, -1, L"image SERIAL K FILE", ParseImage}},
        {L"vanto", {K::Vanto, 1, -1, L"vanto TITLE", ParseText}},
        {L"vanto-hide", {K::VantoHide, 0, 0, L"vanto-hide", ParseNothing}},
        {L"vanto-close", {K::VantoClose, 0, 0, L"vanto-close", ParseNothing}},
        {L"wait", {K::Wait, 1, 1, L"wait MS", ParseWait}},
        {L"tick", {K::Tick, 0, 0, L"tick", ParseNothing}},
        {L"select", {K::Select, 1, 1, L"select ROW", ParseSelect}},
        {L"action", {K::Action, 1, 2, L"action NAME [&]", ParseAction}},
        {L"brightness", {K::Brightness, 1, 1, L"brightness N", ParseBrightness}},
        {L"close", {K::Close, 0, 0, L"close", ParseNothing}},
        {L"answer", {K::Answer, 1, 1, L"answer yes|no", ParseAnswer}},
        {L"screenshot", {K::Screenshot, 1, -1, L"screenshot FILE", ParseText}},
        {L"show", {K::Show, 1, 1, L"show WHAT", ParseShow}},
        {L"dump", {K::Dump, 1, 1, L"dump SERIAL", ParseSerial}},
        {L"quit", {K::Quit, 0, 0, L"quit", ParseNothing}},
        {L"bench-press", {K::BenchPress, 2, 2, L"bench-press SERIAL N", ParseBenchPress}},
        {L"update-url", {K::UpdateUrl, 1, 1, L"update-url URL", ParseUpdateUrl}},
        {L"fault", {K::Fault, 3, 3, L"fault SERIAL output|feature N|every|off, fault SERIAL read N|off, fault SERIAL reads fail|off", ParseFault}},
        {L"hold-log", {K::HoldLog, 0, 0, L"hold-log", ParseNothing}},
        {L"release-log", {K::ReleaseLog, 0, 0, L"release-log", ParseNothing}},
        {L"wait-idle", {K::WaitIdle, 0, 0, L"wait-idle", ParseNothing}},
        {L"update-limits", {K::UpdateLimits, 4, 4, L"update-limits CONNECT SEND RECEIVE REQUEST", ParseUpdateLimits}},
        {L"replug", {K::Replug, 1, 2, L"replug SERIAL [busy]", ParseReplug}},
        {L"busy", {K::Busy, 1, 1, L"busy MS", ParseBusy}},
        {L"vanto-hang", {K::VantoHang, 1, 1, L"vanto-hang MS", ParseWait}},
        {L"bench-handoff", {K::BenchHandoff, 2, 2, L"bench-handoff SERIAL N", ParseBenchPress}},
        {L"notices", {K::Notices, 1, 1, L"notices N", ParseNotices}},
        {L"shell-open", {K::ShellOpen, 1, 1, L"shell-open run|print", ParseShellOpen}},
    };
    return table;
}

}  // namespace

const std::vector<std::wstring>& SimActionNames() {
    static const std::vector<std::wstring> names = {
        L"actParam",        L"actLancerAuDemarrage", L"actAlwaysCheckUpdates", L"actCheckUpdates",
        L"actQuitter",      L"actSetAsDefault",      L"actNoDefault",          L"actRefreshList"};
    return names;
}

std::vector<std::wstring> SplitSimLines(const std::wstring& script) {
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    while (start < script.size()) {
        std::size_t end = script.find(L'\n', start);
        if (end == std::wstring::npos) end = script.size();
        lines.push_back(script.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

TSimParsed ParseSimLine(const std::wstring& rawLine, int lineNumber) {
    std::wstring line = rawLine;
    if (!line.empty() && line.back() == L'\r') line.pop_back();

    const TWords words = SplitWords(line);
    if (words.Words.empty() || words.Words[0][0] == L'#') return {};

    auto fail = [&](const std::wstring& message) {
        TSimParsed parsed;
        parsed.Error = L"line " + std::to_wstring(lineNumber) + L": " + message;
        return parsed;
    };

    const auto found = Commands().find(words.Words[0]);
    if (found == Commands().end()) return fail(L"unknown command " + Quoted(words.Words[0]));
    const TCommandInfo& info = found->second;
    const TArgs args(line, words);
    if (args.Count() < info.Min) return fail(L"missing argument; usage: " + std::wstring(info.Usage));
    if (info.Max >= 0 && args.Count() > info.Max)
        return fail(L"too many arguments; usage: " + std::wstring(info.Usage));

    TSimCommand command;
    command.Kind = info.Kind;
    command.Line = lineNumber;
    const TParseError error = info.Parse(args, command);
    if (!error.empty()) return fail(error);
    TSimParsed parsed;
    parsed.Command = std::move(command);
    return parsed;
}

std::string SimHex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::wstring SimEscape(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        if (c == L'\r') out += L"\\r";
        else if (c == L'\n') out += L"\\n";
        else out += c;
    }
    return out;
}

std::vector<std::uint8_t> SimKeyReport(const std::vector<int>& keys) {
    std::vector<std::uint8_t> report(1 + kSimInputDataBytes, 0);
    report[0] = kSimKeyReportId;
    for (int k : keys)
        if (k >= 0 && k < kSimInputDataBytes) report[static_cast<std::size_t>(k) + 1] = 1;
    return report;
}
