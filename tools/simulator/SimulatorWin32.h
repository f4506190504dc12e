#pragma once
// The simulator: the real program (entry, single-instance rule, creation steps, main
// window, tray, trace and settings) over the virtual HID bus, driven by a script, beside a
// stand-in timing-software window. Commands run on the main thread between turns of the
// message loop; every one that acts on the control boxes returns once the program has
// handled what it caused.

#include <chrono>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Bitmap24.h"
#include "SimHidPlatform.h"
#include "SimOutput.h"
#include "SimScript.h"
#include "StandInVantoWin32.h"
#include "UpdateDialogs.h"
#include "UpdateTransport.h"

class TfrmMain;
class TSDListAdapter;
class TSD;
class TAction;

class TSimulator {
public:
    explicit TSimulator(TSimOutput& output);
    ~TSimulator();
    TSimulator(const TSimulator&) = delete;
    TSimulator& operator=(const TSimulator&) = delete;

    // Runs the script's lines, then what `quit` does. 0, or 2 when a command failed.
    int Run(const std::vector<std::wstring>& lines);

private:
    enum class TProgramState { NotStarted, Running, Ended };

    // False: stop reading the script.
    bool Execute(const TSimCommand& command);
    void RunCommands();
    bool ResumeHere();
    void SetSearch(bool on);
    void ContinueNested();
    // No action and no update run in progress.
    bool Idle() const;
    // The window, also while its creation steps wait in the update check at start-up.
    TfrmMain* Form() const { return FForm ? FForm.get() : FStarting; }
    void Error(const std::wstring& message);
    // Runs the message loop until `done` holds or `timeoutMs` has passed; true when done.
    bool PumpUntil(const std::function<bool()>& done, unsigned timeoutMs);
    // Runs the message loop until everything posted to the main thread so far has run.
    void Settle();
    void EndProgramIfAsked();
    void EndProgram();
    bool RequireRunning(const TSimCommand& command);
    VirtualHidDevicePtr FindBox(const std::wstring& serial, bool mustBePresent);
    TSD* FindListedBox(const std::wstring& serial);
    TAction* FindAction(const std::wstring& name);
    bool SendReport(const VirtualHidDevicePtr& device, std::vector<std::uint8_t> report);

    void Start();
    void RunAction(const std::wstring& name);

    // One handler a command; Execute finds it in the table of Handlers.
    using THandler = void (TSimulator::*)(const TSimCommand& command);
    static const std::map<TSimCommandKind, THandler>& Handlers();
    void DoStart(const TSimCommand& command);
    void DoPlug(const TSimCommand& command);
    void DoUnplug(const TSimCommand& command);
    // Pulled and plugged again within one pass, or ("busy") with no pass while it is away.
    void DoReplug(const TSimCommand& command);
    // Holds the main thread, serving nothing, then lets what queued up run.
    void DoBusy(const TSimCommand& command);
    // Notices of another USB device (a memory stick), which start no pass.
    void DoNotices(const TSimCommand& command);
    void DoPress(const TSimCommand& command);
    void DoInput(const TSimCommand& command);
    void DoImage(const TSimCommand& command);
    void DoVanto(const TSimCommand& command);
    void DoVantoHide(const TSimCommand& command);
    void DoVantoClose(const TSimCommand& command);
    void DoWait(const TSimCommand& command);
    void DoTick(const TSimCommand& command);
    void DoSelect(const TSimCommand& command);
    void DoAction(const TSimCommand& command);
    void DoBrightness(const TSimCommand& command);
    void DoClose(const TSimCommand& command);
    void DoAnswer(const TSimCommand& command);
    void DoShellOpen(const TSimCommand& command);
    void DoScreenshot(const TSimCommand& command);
    void DoShow(const TSimCommand& command);
    void DoDump(const TSimCommand& command);
    void DoQuit(const TSimCommand& command);
    void DoBenchPress(const TSimCommand& command);
    void DoUpdateUrl(const TSimCommand& command);
    void DoFault(const TSimCommand& command);
    // The stand-in sleeps in its window procedure on its next key-down.
    void DoVantoHang(const TSimCommand& command);
    void DoBenchHandoff(const TSimCommand& command);
    // After a press: until its key-downs have their results, or the stand-in hangs.
    void SettleKeyDowns();
    // Prints the median, 99th percentile and longest of a bench command's latencies.
    void PrintLatencies(const char* name, std::vector<double> micros);
    // Holds the trace file open, denying writes, until `release-log` or the end.
    void DoHoldLog(const TSimCommand& command);
    void DoReleaseLog(const TSimCommand& command);
    void DoWaitIdle(const TSimCommand& command);
    void DoUpdateLimits(const TSimCommand& command);
    // What `show` prints, one topic each.
    void ShowLabels();
    void ShowTray();
    void ShowGrid();
    void ShowWindow();
    void ShowTrackBar();
    void ShowStatus();
    void ShowSettings();
    void ShowLog();
    // Prints a question and answers it from the script ("no" when it gave no answer).
    bool Question(const std::wstring& text);

    TSimOutput& FOutput;
    VirtualHidBus FBus;
    TSimHidPlatform FHid{FBus};
    TStandInVanto FVanto{FOutput};
    TRoutedUpdateDialogs FDialogs;
    // Devices by the serial the script gave them, the pulled ones too (for `dump`).
    std::map<std::wstring, VirtualHidDevicePtr> FBoxes;
    // Pictures given to keys with `image`; the keys only refer to them.
    std::list<Bitmap24> FImages;
    std::deque<bool> FAnswers;
    // shell-open run: what the update engine opens (the updater, a release's runafter, a
    // browser) is also carried out, not only printed.
    bool FRunShellOpens = false;
    bool FErrors = false;
    int FLine = 0;  // the script line being carried out
    bool FSearchWanted = false;  // the program switched its one-second search on
    bool FQuitPosted = false;
    TProgramState FState = TProgramState::NotStarted;
    std::vector<std::wstring> FLines;
    std::size_t FNext = 0;  // the next script line, shared by the nested levels
    int FDepth = 0;         // levels of RunCommands on the stack
    int FActionsRunning = 0;
    // A wait a nested level gave back to the program, until it is taken up again.
    enum class TYield { None, Time, Idle };
    TYield FYield = TYield::None;
    std::chrono::steady_clock::time_point FResumeAt;
    std::uint64_t FYieldId = 0;
    TfrmMain* FStarting = nullptr;  // the window between its creation and StartMainWindow's end
    std::optional<TTransferLimits> FLimits;
    TSDListAdapter* FAdapter = nullptr;  // owned by the window
    struct THandleCloser {
        void operator()(void* handle) const;
    };
    std::unique_ptr<void, THandleCloser> FHeldLog;
    // Last: goes before the pictures, the bus and the stand-in it uses.
    std::unique_ptr<TfrmMain> FForm;
    // The program that ended, its windows still up: they go when the simulator ends (with
    // its process, at once) or before the program starts again.
    std::unique_ptr<TfrmMain> FEnded;
};
