#pragma once
// What the bridge tests watch: one ordered record of the trace lines the window writes,
// the active flag it hands to the control box list and the tray status it shows.

#include "Exceptions.h"
#include "MainThread.h"
#include "TraceFile.h"
#include "uLumetraMain.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace bridgetest {

// Shared record, in the order things happened:
//   "log <procedure>|<text>", "active 0|1", "tray <picture>|<hint>", "msgbox <text>".
using Record = std::vector<std::wstring>;

// Keeps the procedure name and text of each trace line instead of writing a file.
class RecordingTrace : public TraceFile {
public:
    explicit RecordingTrace(Record& record) : FRecord(record) {}
    TLogTime Now() override { return {2026, 12, 9, 5, 3, 7}; }
    TLogSeparators Separators() override { return {}; }
    std::vector<std::uint8_t> ToAnsi(const std::wstring& line) override {
        // date \t time \t procedure \t text \r
        std::vector<std::wstring> fields;
        std::size_t start = 0;
        for (int i = 0; i < 3; ++i) {
            const std::size_t tab = line.find(L'\t', start);
            fields.push_back(line.substr(start, tab - start));
            start = tab + 1;
        }
        std::wstring text = line.substr(start);
        if (!text.empty() && text.back() == L'\r')
            text.pop_back();
        FRecord.push_back(L"log " + fields[2] + L"|" + text);
        return {};
    }
    void Append(const std::wstring& path, const std::vector<std::uint8_t>&) override {
        if (Refuse) throw EInOutError(L"Cannot write to \"" + path + L"\": held by another program");
    }
    void CreateFolder(const std::wstring&) override {}
    // The file is held by another program: every line fails (after being recorded).
    bool Refuse = false;

private:
    Record& FRecord;
};

class RecordingSDList : public TSDListLink {
public:
    explicit RecordingSDList(Record& record) : FRecord(record) {}
    bool HasCurrentSD() override { return Current; }
    void SetActive(bool Value) override { FRecord.push_back(Value ? L"active 1" : L"active 0"); }
    bool Current = true;

private:
    Record& FRecord;
};

// A window under test with its trace, list and tray recorded. The tray's picture and hint
// change one after the other; only the settled status (the hint change) is recorded.
class WatchedWindow {
public:
    explicit WatchedWindow(DesktopWindows& desktop)
        : Trace(Events),
          SDList(Events),
          Form(TfrmMainServices{.Desktop = &desktop,
                                .SDList = &SDList,
                                .ShowMessage = [this](const std::wstring& text) {
                                    Events.push_back(L"msgbox " + text);
                                }}) {
        MainThread::Initialize();
        SetTraceFile(&Trace);
        Form.FLogErrorFile = L"Error.log";
        Form.TrayIcon1.PeerChanged = [this] {
            if (Form.TrayIcon1.Hint() == FLastHint)
                return;
            FLastHint = Form.TrayIcon1.Hint();
            Events.push_back(L"tray " + std::to_wstring(Form.TrayIcon1.IconIndex()) + L"|" + FLastHint);
        };
    }
    ~WatchedWindow() {
        MainThread::ProcessMessages();
        SetTraceFile(nullptr);
    }
    // One press, then its key-down's result handled (the sender's thread answers it).
    void Press(std::int32_t key) {
        Form.SDListPushButton(nullptr, key);
        Form.SettleKeyDowns(std::chrono::seconds(30));
        MainThread::ProcessMessages();  // the loop comes round: a notice's message box
    }
    std::vector<std::wstring> Labels() const {
        return {Form.lblEpreuve.Caption(), Form.lblDossier.Caption(), Form.lblCourse.Caption()};
    }

    Record Events;
    RecordingTrace Trace;
    RecordingSDList SDList;
    TfrmMain Form;

private:
    std::wstring FLastHint;
};

inline const std::wstring ReadyHint = L"LUMETRA CONTROL BOX\rControlBox OK\rVanto V3  OK";
inline const std::wstring ControlBoxOnlyHint = L"LUMETRA CONTROL BOX\rControlBox OK\rVanto V3 not Found";
inline const std::wstring NoControlBoxHint = L"LUMETRA CONTROL BOX\rdefault ControlBox not Found\r";
inline const std::wstring RefusedHint = L"LUMETRA CONTROL BOX\rControlBox OK\rVanto V3 runs with higher rights";

}  // namespace bridgetest
