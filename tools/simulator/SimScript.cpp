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

struct TCommandInfo {
    TSimCommandKind Kind;
    // Words after the command word: at least Min, at most Max (-1: the rest of the line
    // is the last argument, so any number of words from Min on).
    int Min;
    int Max;
    const wchar_t* Usage;
};

const std::map<std::wstring, TCommandInfo>& Commands() {
    static const std::map<std::wstring, TCommandInfo> table = {
        {L"start", {TSimCommandKind::Start, 0, 0, L"start"}},
        {L"plug", {TSimCommandKind::Plug, 1, 3, L"plug SERIAL [PID [VID]]"}},
        {L"unplug", {TSimCommandKind::Unplug, 1, 1, L"unplug SERIAL"}},
        {L"press", {TSimCommandKind::Press, 2, 1 + kSimInputDataBytes, L"press SERIAL K [K ...]"}},
        {L"input", {TSimCommandKind::Input, 2, 2, L"input SERIAL HEX"}},
        {L"image", {TSimCommandKind::Image, 3, -1, L"image SERIAL K FILE"}},
        {L"vanto", {TSimCommandKind::Vanto, 1, -1, L"vanto TITLE"}},
        {L"vanto-hide", {TSimCommandKind::VantoHide, 0, 0, L"vanto-hide"}},
        {L"vanto-close", {TSimCommandKind::VantoClose, 0, 0, L"vanto-close"}},
        {L"wait", {TSimCommandKind::Wait, 1, 1, L"wait MS"}},
        {L"tick", {TSimCommandKind::Tick, 0, 0, L"tick"}},
        {L"select", {TSimCommandKind::Select, 1, 1, L"select ROW"}},
        {L"action", {TSimCommandKind::Action, 1, 2, L"action NAME [&]"}},
        {L"brightness", {TSimCommandKind::Brightness, 1, 1, L"brightness N"}},
        {L"close", {TSimCommandKind::Close, 0, 0, L"close"}},
        {L"answer", {TSimCommandKind::Answer, 1, 1, L"answer yes|no"}},
        {L"screenshot", {TSimCommandKind::Screenshot, 1, -1, L"screenshot FILE"}},
        {L"show", {TSimCommandKind::Show, 1, 1, L"show WHAT"}},
        {L"dump", {TSimCommandKind::Dump, 1, 1, L"dump SERIAL"}},
        {L"quit", {TSimCommandKind::Quit, 0, 0, L"quit"}},
        {L"bench-press", {TSimCommandKind::BenchPress, 2, 2, L"bench-press SERIAL N"}},
        {L"update-url", {TSimCommandKind::UpdateUrl, 1, 1, L"update-url URL"}},
        {L"fault", {TSimCommandKind::Fault, 3, 3, L"fault SERIAL output|feature N|every|off, fault SERIAL read N|off"}},
        {L"hold-log", {TSimCommandKind::HoldLog, 0, 0, L"hold-log"}},
        {L"release-log", {TSimCommandKind::ReleaseLog, 0, 0, L"release-log"}},
        {L"wait-idle", {TSimCommandKind::WaitIdle, 0, 0, L"wait-idle"}},
        {L"update-limits", {TSimCommandKind::UpdateLimits, 4, 4, L"update-limits CONNECT SEND RECEIVE REQUEST"}},
        {L"vanto-hang", {TSimCommandKind::VantoHang, 1, 1, L"vanto-hang MS"}},
        {L"bench-handoff", {TSimCommandKind::BenchHandoff, 2, 2, L"bench-handoff SERIAL N"}},
    };
    return table;
}

const std::vector<std::wstring>& ShowTopics() {
    static const std::vector<std::wstring> topics = {L"labels", L"tray",   L"grid",     L"window",
                                                     L"trackbar", L"status", L"settings", L"log"};
    return topics;
}

std::wstring JoinTopics(const std::vector<std::wstring>& topics) {
    std::wstring out;
    for (const auto& t : topics) {
        if (!out.empty()) out += L", ";
        out += t;
    }
    return out;
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
    const int args = static_cast<int>(words.Words.size()) - 1;
    if (args < info.Min) return fail(L"missing argument; usage: " + std::wstring(info.Usage));
    if (info.Max >= 0 && args > info.Max) return fail(L"too many arguments; usage: " + std::wstring(info.Usage));

    TSimCommand command;
    command.Kind = info.Kind;
    command.Line = lineNumber;
    auto arg = [&](int i) -> const std::wstring& { return words.Words[static_cast<std::size_t>(i) + 1]; };
    // The rest of the line from argument i on, exactly as written.
    auto rest = [&](int i) { return line.substr(words.Starts[static_cast<std::size_t>(i) + 1]); };

    switch (info.Kind) {
    case TSimCommandKind::Plug:
        command.Serial = arg(0);
        if (args >= 2) {
            const auto pid = ParseHexId(arg(1));
            if (!pid) return fail(L"bad product id " + Quoted(arg(1)) + L" (hex, up to 4 digits)");
            command.ProductId = *pid;
        }
        if (args >= 3) {
            const auto vid = ParseHexId(arg(2));
            if (!vid) return fail(L"bad vendor id " + Quoted(arg(2)) + L" (hex, up to 4 digits)");
            command.VendorId = *vid;
        }
        break;
    case TSimCommandKind::Unplug:
    case TSimCommandKind::Dump:
        command.Serial = arg(0);
        break;
    case TSimCommandKind::Fault: {
        command.Serial = arg(0);
        command.Text = arg(1);
        const bool reports = command.Text == L"output" || command.Text == L"feature";
        if (!reports && command.Text != L"read")
            return fail(L"cannot break " + Quoted(command.Text) + L" (output, feature or read)");
        if (arg(2) == L"off") {
            command.Number = 0;
        } else if (reports && arg(2) == L"every") {
            command.Number = kSimFaultEvery;
        } else {
            const auto n = ParseDecimal(arg(2), 1, 100000);
            if (!n)
                return fail(L"bad count " + Quoted(arg(2)) +
                            (reports ? L" (1 to 100000, every or off)" : L" (bytes, 1 to 100000, or off)"));
            command.Number = static_cast<int>(*n);
        }
        break;
    }
    case TSimCommandKind::Press:
        command.Serial = arg(0);
        for (int i = 1; i < args; ++i) {
            const auto key = ParseDecimal(arg(i), 0, kSimInputDataBytes - 1);
            if (!key)
                return fail(L"bad key " + Quoted(arg(i)) + L" (0 to " + std::to_wstring(kSimInputDataBytes - 1) +
                            L")");
            command.Keys.push_back(static_cast<int>(*key));
        }
        break;
    case TSimCommandKind::Input: {
        command.Serial = arg(0);
        const std::wstring& hex = arg(1);
        if (hex.size() % 2 != 0) return fail(L"bad hex " + Quoted(hex) + L": odd number of digits");
        if (hex.size() / 2 > kMaxInputBytes)
            return fail(L"bad hex: more than " + std::to_wstring(kMaxInputBytes) + L" bytes");
        for (std::size_t i = 0; i < hex.size(); i += 2) {
            const int hi = HexDigit(hex[i]);
            const int lo = HexDigit(hex[i + 1]);
            if (hi < 0 || lo < 0) return fail(L"bad hex " + Quoted(hex) + L": not a hex digit");
            command.Bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
        break;
    }
    case TSimCommandKind::Image: {
        command.Serial = arg(0);
        const auto key = ParseDecimal(arg(1), 0, 31);
        if (!key) return fail(L"bad key " + Quoted(arg(1)));
        command.Number = static_cast<int>(*key);
        command.Text = rest(2);
        break;
    }
    case TSimCommandKind::Vanto:
        command.Text = rest(0);
        break;
    case TSimCommandKind::Screenshot:
        command.Text = rest(0);
        break;
    case TSimCommandKind::UpdateUrl:
        if (arg(0).rfind(L"http://", 0) != 0 && arg(0).rfind(L"https://", 0) != 0)
            return fail(L"bad address " + Quoted(arg(0)) + L" (http:// or https://)");
        command.Text = arg(0);
        break;
    case TSimCommandKind::VantoHang:
    case TSimCommandKind::Wait: {
        const auto ms = ParseDecimal(arg(0), 0, kMaxWaitMs);
        if (!ms) return fail(L"bad time " + Quoted(arg(0)) + L" (milliseconds, 0 to " +
                             std::to_wstring(kMaxWaitMs) + L")");
        command.Number = static_cast<int>(*ms);
        break;
    }
    case TSimCommandKind::Select: {
        const auto row = ParseDecimal(arg(0), 0, 1'000'000);
        if (!row) return fail(L"bad row " + Quoted(arg(0)));
        command.Number = static_cast<int>(*row);
        break;
    }
    case TSimCommandKind::Brightness: {
        const auto n = ParseDecimal(arg(0), -1'000'000, 1'000'000);
        if (!n) return fail(L"bad brightness " + Quoted(arg(0)));
        command.Number = static_cast<int>(*n);
        break;
    }
    case TSimCommandKind::Action: {
        const auto& names = SimActionNames();
        if (std::find(names.begin(), names.end(), arg(0)) == names.end())
            return fail(L"unknown action " + Quoted(arg(0)) + L" (one of " + JoinTopics(names) + L")");
        command.Text = arg(0);
        if (args == 2) {
            if (arg(1) != L"&") return fail(L"bad argument " + Quoted(arg(1)) + L" (only & may follow the action)");
            command.Background = true;
        }
        break;
    }
    case TSimCommandKind::UpdateLimits:
        for (int i = 0; i < 4; ++i) {
            const auto ms = ParseDecimal(arg(i), 1, kMaxLimitMs);
            if (!ms)
                return fail(L"bad time " + Quoted(arg(i)) + L" (milliseconds, 1 to " + std::to_wstring(kMaxLimitMs) +
                            L")");
            command.Times.push_back(static_cast<int>(*ms));
        }
        break;
    case TSimCommandKind::Answer:
        if (arg(0) == L"yes") command.Yes = true;
        else if (arg(0) == L"no") command.Yes = false;
        else return fail(L"bad answer " + Quoted(arg(0)) + L" (yes or no)");
        break;
    case TSimCommandKind::Show: {
        const auto& topics = ShowTopics();
        if (std::find(topics.begin(), topics.end(), arg(0)) == topics.end())
            return fail(L"cannot show " + Quoted(arg(0)) + L" (one of " + JoinTopics(topics) + L")");
        command.Text = arg(0);
        break;
    }
    case TSimCommandKind::BenchHandoff:
    case TSimCommandKind::BenchPress: {
        command.Serial = arg(0);
        const auto n = ParseDecimal(arg(1), 1, kMaxBenchPresses);
        if (!n) return fail(L"bad count " + Quoted(arg(1)));
        command.Number = static_cast<int>(*n);
        break;
    }
    case TSimCommandKind::Start:
    case TSimCommandKind::VantoHide:
    case TSimCommandKind::VantoClose:
    case TSimCommandKind::Tick:
    case TSimCommandKind::Close:
    case TSimCommandKind::Quit:
    case TSimCommandKind::WaitIdle:
        break;
    }
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
