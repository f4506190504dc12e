#pragma once
// The simulator's script language: one command a line, "#" at the start of a line (after
// blanks) makes it a comment, blank lines are skipped. Words are separated by blanks; the
// last argument of `vanto`, `image` and `screenshot` is the rest of the line, kept exactly
// (titles and file paths may hold blanks).
//
// Parsing checks everything that can be checked without the running program: the command
// word, the number of arguments, numbers, hex bytes, key positions, action names, what
// `show` may show. What depends on the program's state (an unknown serial, a disabled
// action) is found when the command runs.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class TSimCommandKind {
    Start,
    Plug,
    Unplug,
    Press,
    Input,
    Image,
    Vanto,
    VantoHide,
    VantoClose,
    Wait,
    Tick,
    Select,
    Action,
    Brightness,
    Close,
    Answer,
    Screenshot,
    Show,
    Dump,
    Quit,
    BenchPress,
    UpdateUrl,
    Fault,
    HoldLog,
    ReleaseLog,
    WaitIdle,
    UpdateLimits,
    Replug,
    Busy,
    Notices,
    VantoHang,
    BenchHandoff,
    ShellOpen,
};

// `fault SERIAL WHAT WHEN`: which reports of a box fail, or how short its reads are.
inline constexpr int kSimFaultEvery = -1;  // Number for "every"; 0 is "off"

struct TSimCommand {
    TSimCommandKind Kind = TSimCommandKind::Start;
    int Line = 0;
    std::wstring Serial;                  // plug, unplug, press, input, image, dump, bench-press
    std::uint16_t ProductId = 0x0063;     // plug
    std::uint16_t VendorId = 0x0FD9;      // plug
    std::vector<int> Keys;                // press: data byte positions set to 1
    std::vector<std::uint8_t> Bytes;      // input: the raw report, report id first
    int Number = 0;                       // image key, wait ms, select row, brightness, bench count
    std::wstring Text;                    // vanto title, action name, file, what `show` shows,
                                          // what `fault` breaks (output, feature, read)
    bool Yes = false;                     // answer; shell-open: run (not only print)
    bool Background = false;              // action NAME &: start it, do not wait for its end
                                          // replug SERIAL busy: no pass while the box is away
    std::vector<int> Times;               // update-limits: connect, send, receive, request (ms)
};

// Data bytes of the control box's input report after the report id: keys 0 to 15.
inline constexpr int kSimInputDataBytes = 16;
// The report id of the control box's key-state report.
inline constexpr std::uint8_t kSimKeyReportId = 0x01;

// The outcome of reading one line: a command, nothing (blank or comment), or an error.
struct TSimParsed {
    std::optional<TSimCommand> Command;
    std::wstring Error;  // non-empty: the line is no valid command
};

// Parses one line (without its line ending; a trailing carriage return is dropped).
TSimParsed ParseSimLine(const std::wstring& line, int lineNumber);

// Splits a whole script into lines ("\n", "\r\n" and a last line without ending).
std::vector<std::wstring> SplitSimLines(const std::wstring& script);

// Lower-case hex of `bytes`, no separators.
std::string SimHex(const std::vector<std::uint8_t>& bytes);

// Text for one output line: carriage returns written as "\r" and line feeds as "\n", so
// that every printed item stays on its own line. Nothing else is changed.
std::wstring SimEscape(const std::wstring& text);

// The input report of a key press: report id, then bytes `keys` set to 1.
std::vector<std::uint8_t> SimKeyReport(const std::vector<int>& keys);

// The action names the `action` command knows, in tray and page order.
const std::vector<std::wstring>& SimActionNames();
