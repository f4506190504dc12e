// The simulator: runs the real program on the virtual bus and carries out a script's
// commands one by one. Kept in one file on purpose: every command reaches into the same
// running program (its window, the bus, the stand-in, the script's nested waits), and the
// table of command handlers reads best beside the state they change.

#include "SimulatorWin32.h"

#include "AppShell.h"
#include "Application.h"
#include "Exceptions.h"
#include "LumetraProgram.h"
#include "MainThread.h"
#include "PngImage.h"
#include "ProcessInfo.h"
#include "SDListAdapter.h"
#include "TextUtils.h"
#include "VrRunOnce.h"
#include "WindowPictureWin32.h"
#include "uLogs.h"
#include "uLumetraMain.h"
#include "uLumetraMainSettings.h"
#include "uLumetraMainUpdate.h"
#include "uRegistry.h"
#include "uStreamDeck.h"
#include "WUpdate.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

namespace {

// How long a command waits for the program to handle what it caused before it reports
// that the program did not.
constexpr unsigned kHandledTimeoutMs = 10'000;
// How long `wait-idle` (and `action NAME &` for the script to go on) may take: an update
// run ends by its own time limits well within it.
constexpr unsigned kIdleTimeoutMs = 900'000;

// The update server of a simulated run: a loopback port where nothing listens.
constexpr const wchar_t* kSimUpdateURL = L"http://127.0.0.1:1/lumetra/update.ini";

std::wstring MessageOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return Utf8ToWide(e.what());
    } catch (...) {
        return L"unknown error";
    }
}

std::wstring SystemMessage(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = n && text ? std::wstring(text, n) : L"error " + std::to_wstring(error);
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return message;
}

}  // namespace

TSimulator::TSimulator(TSimOutput& output)
    : FOutput(output),
      FDialogs([this](const std::wstring& text) { FOutput.Line(L"msgbox " + SimEscape(text)); },
               [this](const std::wstring& text) { return Question(text); },
               [this](const std::wstring& file, const std::wstring& parameters) {
                   return !FRunShellOpens || MakeSystemUpdateDialogs()->ShellOpen(file, parameters);
               }) {
    // Errors that escape a handler would be shown in a message box; here they are printed.
    Application::SetMessageShower(
        [this](const std::wstring& message) { FOutput.Line(L"msgbox " + SimEscape(message)); });
    // What an update run shows and asks comes here too; and it asks a loopback address
    // where nothing answers, so that a run needs no network and always ends the same way.
    SetUpdateDialogs(&FDialogs);
    SetUpdateURL(kSimUpdateURL);
    // The read threads get the priority the program's own back end gives them.
    FHid.RaiseThreadPriority = [] { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST); };
}

TSimulator::~TSimulator() {
    if (FForm) EndProgram();
    SetUpdateDialogs(nullptr);
    // The process ends next and takes the windows with it; taking them off the screen one
    // by one could wait seconds on a display with no window manager.
    (void)FEnded.release();
}

void TSimulator::Error(const std::wstring& message) {
    FErrors = true;
    FOutput.Line(L"error line " + std::to_wstring(FLine) + L": " + SimEscape(message));
}

// The script answers the program's questions in the order it gives the answers; a
// question with no answer left is answered "no", the choice that changes nothing.
bool TSimulator::Question(const std::wstring& text) {
    FOutput.Line(L"question " + SimEscape(text));
    bool yes = false;
    if (!FAnswers.empty()) {
        yes = FAnswers.front();
        FAnswers.pop_front();
    }
    return yes;
}

bool TSimulator::PumpUntil(const std::function<bool()>& done, unsigned timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done()) return true;
        MSG message;
        bool dispatched = false;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                FQuitPosted = true;
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
            dispatched = true;
            if (done()) return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return done();
        if (!dispatched) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min<long long>(left, 5)), QS_ALLINPUT,
                                        MWMO_INPUTAVAILABLE);
        }
    }
}

void TSimulator::Settle() {
    // Hand-offs run in the order they were posted: once this marker has run, so has
    // everything posted before it (device notices and the hot-plug passes they start).
    for (int round = 0; round < 2; ++round) {
        auto ran = std::make_shared<bool>(false);
        MainThread::Post([ran] { *ran = true; });
        PumpUntil([ran] { return *ran; }, kHandledTimeoutMs);
    }
}

void TSimulator::EndProgramIfAsked() {
    if (FState == TProgramState::Running && (AppShell::Terminated() || FQuitPosted)) EndProgram();
}

void TSimulator::EndProgram() {
    FAdapter = nullptr;
    FinishMainWindow(*FForm);
    FEnded = std::move(FForm);
    FState = TProgramState::Ended;
    FQuitPosted = false;
    Settle();
}

bool TSimulator::RequireRunning(const TSimCommand& command) {
    (void)command;
    if (FState == TProgramState::Running && Form()) return true;
    Error(FState == TProgramState::NotStarted ? L"the program has not started" : L"the program has ended");
    return false;
}

VirtualHidDevicePtr TSimulator::FindBox(const std::wstring& serial, bool mustBePresent) {
    const auto found = FBoxes.find(serial);
    if (found == FBoxes.end()) {
        Error(L"unknown serial \"" + serial + L"\"");
        return nullptr;
    }
    if (mustBePresent && !found->second->IsPresent()) {
        Error(L"\"" + serial + L"\" is unplugged");
        return nullptr;
    }
    return found->second;
}

TSD* TSimulator::FindListedBox(const std::wstring& serial) {
    TSDList& list = FAdapter->List();
    for (int i = 0; i < list.Count(); ++i)
        if (list.Get(i)->Serial() == serial) return list.Get(i);
    Error(L"\"" + serial + L"\" is not in the program's list of control boxes");
    return nullptr;
}

TAction* TSimulator::FindAction(const std::wstring& name) {
    TAction* actions[] = {&Form()->actParam,       &Form()->actLancerAuDemarrage, &Form()->actAlwaysCheckUpdates,
                          &Form()->actCheckUpdates, &Form()->actQuitter,          &Form()->actSetAsDefault,
                          &Form()->actNoDefault,    &Form()->actRefreshList};
    for (TAction* action : actions)
        if (action->Name == name) return action;
    return nullptr;
}

int TSimulator::Run(const std::vector<std::wstring>& lines) {
    FLines = lines;
    FNext = 0;
    RunCommands();
    // What the nested levels left: the program asked to end, a quit, the script's end.
    EndProgramIfAsked();
    if (FState == TProgramState::Running) {
        TSimCommand quit;
        quit.Kind = TSimCommandKind::Quit;
        quit.Line = FLine = static_cast<int>(lines.size()) + 1;
        Execute(quit);
    }
    return FErrors ? 2 : 0;
}

// Runs the script's commands from the shared cursor on. The outermost level runs from
// Run; others run nested inside a wait of the program (the update check at start-up, an
// action started with "&"), so that the script goes on while the program waits. A nested
// level must not hold that wait up for long: at `wait MS` and at a `wait-idle` it cannot
// pass yet it yields, returning so that the program's wait goes on. A `wait MS` is taken up
// again by a hand-off once its time has passed, inside whatever wait is then in progress;
// a `wait-idle` by the level below once the wait it runs in has ended. Ending the program
// is left to the outermost level, since the window is still in use below a nested one.
void TSimulator::RunCommands() {
    ++FDepth;
    struct TLeave {
        int& Depth;
        ~TLeave() { --Depth; }
    } leave{FDepth};
    while (FNext < FLines.size() || FYield != TYield::None) {
        if (FYield != TYield::None) {
            if (!ResumeHere()) return;
            continue;
        }
        FLine = static_cast<int>(FNext) + 1;
        const TSimParsed parsed = ParseSimLine(FLines[FNext], FLine);
        if (!parsed.Error.empty()) {
            ++FNext;
            FErrors = true;
            FOutput.Line(L"error " + SimEscape(parsed.Error));
            continue;
        }
        if (!parsed.Command) {
            ++FNext;
            continue;
        }
        const TSimCommand& command = *parsed.Command;
        if (command.Kind == TSimCommandKind::WaitIdle || (command.Kind == TSimCommandKind::Wait && FDepth > 1)) {
            ++FNext;
            if (command.Kind == TSimCommandKind::WaitIdle) {
                FYield = TYield::Idle;
            } else {
                FYield = TYield::Time;
                FResumeAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(command.Number);
                SetSearch(true);
                const std::uint64_t id = ++FYieldId;
                std::thread([this, id, ms = command.Number] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                    MainThread::Post([this, id] {
                        if (FYield != TYield::Time || FYieldId != id) return;
                        FYield = TYield::None;
                        SetSearch(false);
                        RunCommands();
                    });
                }).detach();
            }
            continue;
        }
        ++FNext;
        bool goOn = true;
        try {
            goOn = Execute(command);
        } catch (...) {
            Error(MessageOf(std::current_exception()));
        }
        if (FDepth <= 1) EndProgramIfAsked();
        // Asked to end below a nested level: the level below ends the program once the
        // wait it is in has given up, then goes on with the script.
        if (FDepth > 1 && FState == TProgramState::Running && (AppShell::Terminated() || FQuitPosted)) {
            if (!goOn) FNext = FLines.size();
            return;
        }
        if (!goOn) {
            FNext = FLines.size();
            FYield = TYield::None;
            return;
        }
    }
}

// A yielded wait met by this level: false when this level must return (it is nested and
// the wait is not over); true when the script may go on here.
bool TSimulator::ResumeHere() {
    if (FYield == TYield::Idle) {
        if (!Idle()) {
            if (FDepth > 1) return false;
            PumpUntil([this] { return Idle(); }, kIdleTimeoutMs);
            if (!Idle()) Error(L"the program did not become idle");
        }
        FYield = TYield::None;
        return true;
    }
    // A timed wait: its hand-off takes it up when the time comes, inside a wait of the
    // program or in the pumping below.
    if (FDepth > 1 && std::chrono::steady_clock::now() < FResumeAt) return false;
    const std::uint64_t id = FYieldId;
    PumpUntil([&] { return FYield == TYield::None || FYieldId != id || std::chrono::steady_clock::now() >= FResumeAt; },
              kIdleTimeoutMs);
    if (FYield == TYield::Time && FYieldId == id) {
        FYield = TYield::None;
        SetSearch(false);
    }
    return true;
}

void TSimulator::SetSearch(bool on) {
    if (FState == TProgramState::Running && Form() && FSearchWanted) Form()->TimerFindVanto.SetEnabled(on);
}

bool TSimulator::Idle() const {
    if (FActionsRunning > 0) return false;
    TfrmMain* form = Form();
    return !(form && form->WebUpdate1 && form->WebUpdate1->Running());
}

// Runs the rest of the script from the next hand-off, nested in whatever wait serves it.
void TSimulator::ContinueNested() {
    MainThread::Post([this] { RunCommands(); });
}

// Each command word's handler; the parser has checked its arguments. A handler prints its
// own errors and leaves the script going on.
const std::map<TSimCommandKind, TSimulator::THandler>& TSimulator::Handlers() {
    using K = TSimCommandKind;
    static const std::map<TSimCommandKind, THandler> table = {
        {K::Start, &TSimulator::DoStart},
        {K::Plug, &TSimulator::DoPlug},
        {K::Unplug, &TSimulator::DoUnplug},
        {K::Replug, &TSimulator::DoReplug},
        {K::Busy, &TSimulator::DoBusy},
        {K::Notices, &TSimulator::DoNotices},
        {K::Press, &TSimulator::DoPress},
        {K::Input, &TSimulator::DoInput},
        {K::Image, &TSimulator::DoImage},
        {K::Vanto, &TSimulator::DoVanto},
        {K::VantoHide, &TSimulator::DoVantoHide},
        {K::VantoClose, &TSimulator::DoVantoClose},
        {K::Wait, &TSimulator::DoWait},
        {K::Tick, &TSimulator::DoTick},
        {K::Select, &TSimulator::DoSelect},
        {K::Action, &TSimulator::DoAction},
        {K::Brightness, &TSimulator::DoBrightness},
        {K::Close, &TSimulator::DoClose},
        {K::Answer, &TSimulator::DoAnswer},
        {K::Screenshot, &TSimulator::DoScreenshot},
        {K::Show, &TSimulator::DoShow},
        {K::Dump, &TSimulator::DoDump},
        {K::Quit, &TSimulator::DoQuit},
        {K::BenchPress, &TSimulator::DoBenchPress},
        {K::UpdateUrl, &TSimulator::DoUpdateUrl},
        {K::Fault, &TSimulator::DoFault},
        {K::HoldLog, &TSimulator::DoHoldLog},
        {K::ReleaseLog, &TSimulator::DoReleaseLog},
        {K::WaitIdle, &TSimulator::DoWaitIdle},
        {K::UpdateLimits, &TSimulator::DoUpdateLimits},
        {K::VantoHang, &TSimulator::DoVantoHang},
        {K::BenchHandoff, &TSimulator::DoBenchHandoff},
        {K::ShellOpen, &TSimulator::DoShellOpen},
    };
    return table;
}

bool TSimulator::Execute(const TSimCommand& command) {
    const auto handler = Handlers().find(command.Kind);
    if (handler == Handlers().end()) {
        Error(L"the simulator cannot carry this command out");
        return true;
    }
    (this->*handler->second)(command);
    // `quit` ends the script: what follows it is not read.
    return command.Kind != TSimCommandKind::Quit;
}

void TSimulator::DoStart(const TSimCommand&) {
    if (FState == TProgramState::Running) {
        Error(L"the program is running already");
        return;
    }
    Start();
}

void TSimulator::DoPress(const TSimCommand& command) {
    const VirtualHidDevicePtr device = FindBox(command.Serial, true);
    if (!device || !RequireRunning(command)) return;
    if (SendReport(device, SimKeyReport(command.Keys))) {
        SettleKeyDowns();
        SendReport(device, SimKeyReport({}));
    }
}

void TSimulator::DoInput(const TSimCommand& command) {
    const VirtualHidDevicePtr device = FindBox(command.Serial, true);
    if (!device || !RequireRunning(command)) return;
    SendReport(device, command.Bytes);
}

void TSimulator::DoVanto(const TSimCommand& command) { FVanto.Show(command.Text); }

void TSimulator::DoVantoHang(const TSimCommand& command) { FVanto.HangNext(static_cast<unsigned>(command.Number)); }

void TSimulator::DoVantoHide(const TSimCommand&) {
    if (!FVanto.Hide()) Error(L"there is no stand-in window");
}

void TSimulator::DoVantoClose(const TSimCommand&) {
    if (!FVanto.Close()) Error(L"there is no stand-in window");
}

void TSimulator::DoWait(const TSimCommand& command) {
    // At the outermost level (nested levels yield instead, RunCommands).
    const bool search = FState == TProgramState::Running && Form() && FSearchWanted;
    if (search) Form()->TimerFindVanto.SetEnabled(true);
    PumpUntil([] { return false; }, static_cast<unsigned>(command.Number));
    if (search && Form()) Form()->TimerFindVanto.SetEnabled(false);
}

void TSimulator::DoTick(const TSimCommand& command) {
    if (RequireRunning(command)) Application::Guarded([&] { Form()->TimerFindVantoTimer(&Form()->TimerFindVanto); });
}

void TSimulator::DoSelect(const TSimCommand& command) {
    if (!RequireRunning(command)) return;
    TStringGrid& grid = Form()->StringGrid1;
    if (command.Number < grid.FixedRows || command.Number >= grid.RowCount) {
        Error(L"no data row " + std::to_wstring(command.Number) + L" (the grid has " +
              std::to_wstring(grid.RowCount - grid.FixedRows) + L")");
        return;
    }
    grid.Row = command.Number;
    grid.NotifyChanged();
}

void TSimulator::DoAction(const TSimCommand& command) {
    if (!RequireRunning(command)) return;
    if (!command.Background) {
        RunAction(command.Text);
        return;
    }
    // The action starts from a hand-off and the script goes on inside its waits; this
    // level waits only until the script has gone on.
    auto continued = std::make_shared<bool>(false);
    ++FActionsRunning;
    MainThread::Post([this, name = command.Text] {
        struct TDone {
            int& Running;
            ~TDone() { --Running; }
        } done{FActionsRunning};
        RunAction(name);
    });
    MainThread::Post([this, continued] {
        *continued = true;
        RunCommands();
    });
    PumpUntil([continued] { return *continued; }, kIdleTimeoutMs);
}

// Met by RunCommands, which yields or waits there.
void TSimulator::DoWaitIdle(const TSimCommand&) {}

void TSimulator::DoUpdateLimits(const TSimCommand& command) {
    TTransferLimits limits;
    limits.Connect = std::chrono::milliseconds(command.Times[0]);
    limits.Send = std::chrono::milliseconds(command.Times[1]);
    limits.Receive = std::chrono::milliseconds(command.Times[2]);
    limits.Request = std::chrono::milliseconds(command.Times[3]);
    // Before start: the limits of the engine the window builds; after it, the running
    // engine's.
    FLimits = limits;
    if (Form()) {
        CreateWebUpdate1(*Form());
        Form()->WebUpdate1->SetTransferLimits(limits);
    }
}

void TSimulator::DoClose(const TSimCommand& command) {
    if (!RequireRunning(command)) return;
    if (Form()->Peer() && Form()->Peer()->Handle())
        SendMessageW(reinterpret_cast<HWND>(Form()->Peer()->Handle()), WM_SYSCOMMAND, SC_CLOSE, 0);
    else
        Error(L"the main window has no window");
    Settle();
}

void TSimulator::DoAnswer(const TSimCommand& command) { FAnswers.push_back(command.Yes); }

void TSimulator::DoShellOpen(const TSimCommand& command) { FRunShellOpens = command.Yes; }

void TSimulator::DoQuit(const TSimCommand&) {
    if (FState != TProgramState::Running) return;
    RunAction(L"actQuitter");
    // Below a nested level the window is still in use: the outermost level ends it.
    if (FDepth <= 1) EndProgram();
}

void TSimulator::DoReleaseLog(const TSimCommand&) { FHeldLog.reset(); }

void TSimulator::DoUpdateUrl(const TSimCommand& command) {
    // Before start: the address the program's update engine is built with; after it, the
    // running engine's.
    SetUpdateURL(command.Text);
    if (Form()) SetWebUpdateURL(*Form(), command.Text);
}

void TSimulator::Start() {
    // The program that ended gives up its windows and its single-instance mutex first.
    if (FEnded) {
        if (FEnded->Peer()) FEnded->Peer()->Hide();
        FEnded.reset();
    }
    const std::wstring title = ApplicationTitleOf(ProcessInfo::ExecutablePath());
    // Another copy would end this one silently (the single-instance rule), which a script
    // could not tell from success.
    if (HANDLE other = OpenMutexW(SYNCHRONIZE, FALSE, title.c_str())) {
        CloseHandle(other);
        Error(L"another copy of " + title + L" is running; this one would end at once");
        return;
    }
    TfrmMainServices services;
    services.ShowMessage = [this](const std::wstring& text) { FOutput.Line(L"msgbox " + SimEscape(text)); };
    services.CreateSDList = [this]() -> std::unique_ptr<TSDListPort> {
        auto adapter = std::make_unique<TSDListAdapter>(FHid);
        FAdapter = adapter.get();
        return adapter;
    };
    // The creation steps up to the update check at start-up; then the script goes on
    // from the next hand-off, which that check's wait on the network serves.
    bool continued = false;
    services.BeforeStartupUpdateCheck = [this, &continued](TfrmMain& form) {
        FStarting = &form;
        FState = TProgramState::Running;
        // The one-second search runs only during `wait` (and on `tick`), so that what a
        // script prints does not depend on how fast the machine runs it.
        FSearchWanted = form.TimerFindVanto.Enabled();
        form.TimerFindVanto.SetEnabled(false);
        if (FLimits) {
            CreateWebUpdate1(form);
            form.WebUpdate1->SetTransferLimits(*FLimits);
        }
        Settle();
        continued = true;
        ContinueNested();
    };
    FQuitPosted = false;
    FForm = StartMainWindow(std::move(services), FHid, title);
    FStarting = nullptr;
    if (!FForm) {
        // The error was shown; the program would end here with code 1.
        FState = TProgramState::Ended;
        FErrors = true;
        return;
    }
    if (!continued) {
        // A creation step failed before the check: the window is as far as it got. The
        // one-second search runs only during `wait` (and on `tick`), as above.
        FState = TProgramState::Running;
        FSearchWanted = FForm->TimerFindVanto.Enabled();
        FForm->TimerFindVanto.SetEnabled(false);
    }
    Settle();
}

void TSimulator::THandleCloser::operator()(void* handle) const { CloseHandle(handle); }

void TSimulator::DoFault(const TSimCommand& command) {
    const VirtualHidDevicePtr device = FindBox(command.Serial, true);
    if (!device) return;
    if (command.Text == L"read") {
        device->SetShortReads(static_cast<std::uint32_t>(command.Number));
        return;
    }
    if (command.Text == L"reads") {
        device->SetReadFails(command.Number != 0);
        return;
    }
    const TVirtualReportKind kind = command.Text == L"feature" ? TVirtualReportKind::Feature : TVirtualReportKind::Output;
    TVirtualReportFault fault;
    fault.Nth = command.Number == kSimFaultEvery ? TVirtualReportFault::Every : static_cast<std::uint32_t>(command.Number);
    device->FailReports(kind, fault);
}

void TSimulator::DoHoldLog(const TSimCommand&) {
    // As a log viewer or a virus scanner does: open for reading, nobody else may write.
    // Taken once the trace's writer has written what waits (and closed the file), so that
    // the script holds it at the point it says.
    FlushTrace(std::chrono::seconds(5));
    const std::wstring folder = LogFolder();
    try {
        CreateLogFolder(folder);
    } catch (const Exception& e) {
        Error(e.Message());
        return;
    }
    const std::wstring file = folder + LogFileName;
    HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        Error(L"cannot hold " + file);
        return;
    }
    FHeldLog.reset(held);
}

void TSimulator::DoPlug(const TSimCommand& command) {
    const auto found = FBoxes.find(command.Serial);
    if (found != FBoxes.end() && found->second->IsPresent()) {
        Error(L"\"" + command.Serial + L"\" is plugged already");
        return;
    }
    TVirtualHidDescription description = VirtualControlBoxDescription(command.Serial);
    description.Attributes.ProductID = command.ProductId;
    description.Attributes.VendorID = command.VendorId;
    FBoxes[command.Serial] = FBus.Plug(description);
    Settle();
}

void TSimulator::DoUnplug(const TSimCommand& command) {
    const VirtualHidDevicePtr device = FindBox(command.Serial, true);
    if (!device) return;
    FBus.Unplug(device);
    Settle();
}

void TSimulator::DoReplug(const TSimCommand& command) {
    const VirtualHidDevicePtr device = FindBox(command.Serial, true);
    if (!device || !RequireRunning(command)) return;
    FBus.Unplug(device);
    if (command.Background) {
        // The main thread is busy while the box is away: no pass runs until it is back.
        ::Sleep(100);
    } else {
        // The node-change notice is handled (a pass sees the box gone), then the box is
        // back before the hot-plug pass of its removal looks.
        FAdapter->List().HidController().JvController().DeviceChange();
    }
    FBoxes[command.Serial] = FBus.PlugAgain(device);
    Settle();
}

void TSimulator::DoBusy(const TSimCommand& command) {
    ::Sleep(static_cast<DWORD>(command.Number));
    if (command.Number > 0) Settle();
}

void TSimulator::DoNotices(const TSimCommand& command) {
    for (int i = 0; i < command.Number; ++i) FBus.PostUsbNotices(i % 2 == 0);
    Settle();
}

bool TSimulator::SendReport(const VirtualHidDevicePtr& device, std::vector<std::uint8_t> report) {
    const std::uint64_t handledAt = FHid.QueueReport(*device, std::move(report));
    const std::wstring path = device->Path();
    if (PumpUntil([&] { return FHid.ReadsStarted(path) >= handledAt || !device->IsPresent(); }, kHandledTimeoutMs))
        return true;
    Error(L"the program did not read the report sent by this control box");
    return false;
}

void TSimulator::DoImage(const TSimCommand& command) {
    if (!RequireRunning(command)) return;
    TSD* sd = FindListedBox(command.Serial);
    if (!sd) return;
    TSDButton* key = sd->Buttons()->Get(command.Number);
    if (!key || command.Number >= sd->Buttons()->Count()) {
        Error(L"\"" + command.Serial + L"\" has no key " + std::to_wstring(command.Number));
        return;
    }
    Bitmap24 picture;
    try {
        picture = Bitmap24::LoadFromFile(command.Text);
    } catch (const Exception& e) {
        Error(e.Message());
        return;
    }
    FImages.push_back(std::move(picture));
    const Bitmap24* held = &FImages.back();
    Application::Guarded([&] { key->SetBitmap(held); });
}

void TSimulator::RunAction(const std::wstring& name) {
    TAction* action = FindAction(name);
    if (!action) {
        Error(L"unknown action \"" + name + L"\"");
        return;
    }
    // As the framework does before running an action: its enabled state is brought up to
    // date first, and a disabled action does nothing.
    if (action->OnUpdate) Application::Guarded([&] { action->OnUpdate(action); });
    if (!action->Enabled) {
        Error(name + L" is disabled");
        return;
    }
    Application::Guarded([&] { action->Execute(); });
}

void TSimulator::DoBrightness(const TSimCommand& command) {
    if (!RequireRunning(command)) return;
    const int value = command.Number;
    TTrackBar& bar = Form()->TrackBar1;
    if (!bar.Enabled) {
        Error(L"the brightness track bar is disabled");
        return;
    }
    if (value < bar.Min || value > bar.Max) {
        Error(L"brightness " + std::to_wstring(value) + L" is outside " + std::to_wstring(bar.Min) + L" to " +
              std::to_wstring(bar.Max));
        return;
    }
    bar.Position = value;
    bar.NotifyChanged();
    if (bar.OnChange) Application::Guarded([&] { bar.OnChange(&bar); });
}

void TSimulator::DoScreenshot(const TSimCommand& command) {
    if (!RequireRunning(command)) return;
    const std::wstring& file = command.Text;
    HWND window = Form()->Peer() ? reinterpret_cast<HWND>(Form()->Peer()->Handle()) : nullptr;
    if (!window) {
        Error(L"the main window has no window");
        return;
    }
    RECT bounds;
    GetClientRect(window, &bounds);
    const int width = bounds.right - bounds.left;
    const int height = bounds.bottom - bounds.top;
    if (width <= 0 || height <= 0) {
        Error(L"the main window has no size");
        return;
    }
    std::optional<TWindowPicture> picture = PictureOfWindow(window);
    if (!picture) {
        Error(L"cannot make a picture of " + std::to_wstring(width) + L" x " + std::to_wstring(height));
        return;
    }
    PngImage image;
    image.Width = picture->Width;
    image.Height = picture->Height;
    image.Rgba = std::move(picture->Rgba);

    const std::vector<std::uint8_t> png = EncodePng(image);
    // Written beside the target and renamed over it, so that a failed write never leaves
    // half a picture where a good one was.
    const std::wstring temporary = file + L".tmp";
    HANDLE out = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        Error(L"cannot write \"" + file + L"\": " + SystemMessage(GetLastError()));
        return;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(out, png.data(), static_cast<DWORD>(png.size()), &written, nullptr) &&
                    written == png.size() && FlushFileBuffers(out);
    CloseHandle(out);
    if (!ok || !MoveFileExW(temporary.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD error = GetLastError();
        DeleteFileW(temporary.c_str());
        Error(L"cannot write \"" + file + L"\": " + SystemMessage(error));
    }
}

// What `show` prints, a handler a topic. The settings and the trace's path are there
// whether the program runs or not.
void TSimulator::DoShow(const TSimCommand& command) {
    using TShow = void (TSimulator::*)();
    static const std::map<std::wstring, TShow> topics = {
        {L"labels", &TSimulator::ShowLabels},     {L"tray", &TSimulator::ShowTray},
        {L"grid", &TSimulator::ShowGrid},         {L"window", &TSimulator::ShowWindow},
        {L"trackbar", &TSimulator::ShowTrackBar}, {L"status", &TSimulator::ShowStatus},
        {L"settings", &TSimulator::ShowSettings}, {L"log", &TSimulator::ShowLog},
    };
    const auto topic = topics.find(command.Text);
    if (topic == topics.end()) return;
    if (command.Text == L"settings" || command.Text == L"log" || RequireRunning(command)) (this->*topic->second)();
}

void TSimulator::ShowLabels() {
    FOutput.Line(L"labels " + SimEscape(Form()->lblEpreuve.Caption()) + L"|" + SimEscape(Form()->lblDossier.Caption()) +
                 L"|" + SimEscape(Form()->lblCourse.Caption()));
}

void TSimulator::ShowTray() {
    static const wchar_t* states[] = {L"nobox", L"boxonly", L"ready"};
    const int index = Form()->TrayIcon1.IconIndex();
    const std::wstring state = index >= 0 && index < 3 ? states[index] : L"?" + std::to_wstring(index);
    std::vector<std::wstring> lines;
    std::wstring hint = Form()->TrayIcon1.Hint();
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = hint.find(L'\r', start);
        lines.push_back(hint.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    lines.resize(std::max<std::size_t>(lines.size(), 3));
    FOutput.Line(L"tray " + state + L"|" + SimEscape(lines[1]) + L"|" + SimEscape(lines[2]));
}

void TSimulator::ShowGrid() {
    const TStringGrid& grid = Form()->StringGrid1;
    const int rows = std::max(0, grid.RowCount - grid.FixedRows);
    FOutput.Line(L"grid " + std::to_wstring(rows));
    for (int r = grid.FixedRows; r < grid.RowCount; ++r) {
        const auto row = static_cast<std::size_t>(r);
        const std::wstring model = row < grid.Cells.size() && !grid.Cells[row].empty() ? grid.Cells[row][0] : L"";
        const std::wstring serial = row < grid.Cells.size() && grid.Cells[row].size() > 1 ? grid.Cells[row][1] : L"";
        const bool heart = row < grid.Hearts.size() && grid.Hearts[row];
        FOutput.Line(L"row " + std::to_wstring(r) + L"|" + SimEscape(model) + L"|" + SimEscape(serial) + L"|" +
                     (heart ? L"1" : L"0"));
    }
}

void TSimulator::ShowWindow() {
    TfrmMainPeer* peer = Form()->Peer();
    if (!peer || !peer->Visible()) {
        FOutput.Line(L"window hidden");
        return;
    }
    wchar_t caption[256] = {};
    GetWindowTextW(reinterpret_cast<HWND>(peer->Handle()), caption, 256);
    const TTabSheet* page = Form()->PageControl1.ActivePage();
    FOutput.Line(L"window shown " + (page ? page->Name : std::wstring(L"-")) + L" " + SimEscape(caption));
}

void TSimulator::ShowTrackBar() {
    FOutput.Line(L"trackbar " + std::wstring(Form()->TrackBar1.Enabled ? L"1" : L"0") + L" " +
                 std::to_wstring(Form()->TrackBar1.Position));
}

void TSimulator::ShowStatus() {
    const auto& panels = Form()->StatusBar1.Panels;
    FOutput.Line(L"status " + SimEscape(panels.size() > 0 ? panels[0].Text : L"") + L"|" +
                 SimEscape(panels.size() > 1 ? panels[1].Text : L""));
}

void TSimulator::ShowSettings() {
    const std::wstring appName = RegAppName();
    const std::wstring key = RegSettingsKeyPath(appName);
    auto number = [&](const wchar_t* name) -> std::wstring {
        const auto value = RegQuery(key, name);
        if (!value) return L"-";
        if (value->Type != TRegType::Dword || value->Data.size() != 4) return L"?";
        std::uint32_t n = 0;
        for (int i = 3; i >= 0; --i) n = n * 256 + value->Data[static_cast<std::size_t>(i)];
        return std::to_wstring(n);
    };
    auto text = [&](const std::wstring& path, const std::wstring& name) -> std::wstring {
        const auto value = RegQuery(path, name);
        if (!value) return L"-";
        try {
            return RegStringFromValue(name, *value);
        } catch (const Exception&) {
            return L"?";
        }
    };
    FOutput.Line(L"settings DEMARRAGE_AUTO=" + number(MainSettings::DemarrageAuto) + L" CHECK_UPDATES_AUTO=" +
                 number(MainSettings::CheckUpdatesAuto) + L" DefaultSerial=" +
                 SimEscape(text(key, MainSettings::DefaultSerial)) + L" run=" +
                 SimEscape(text(MainSettings::RunKeyPath, appName)));
}

void TSimulator::ShowLog() { FOutput.Line(L"log " + LogFolder() + LogFileName); }

void TSimulator::DoDump(const TSimCommand& command) {
    const VirtualHidDevicePtr device = FindBox(command.Serial, false);
    if (!device) return;
    const std::vector<TVirtualReport> reports = device->Reports();
    device->ClearReports();
    for (const TVirtualReport& report : reports)
        FOutput.LineBytes((report.Kind == TVirtualReportKind::Feature ? "feature " : "output ") + SimHex(report.Bytes));
    FOutput.LineBytes("end");
}

namespace {

// "NAME N median=…us p99=…us max=…us" of the latencies of a bench command.
std::string LatencyLine(const char* name, std::vector<double> micros) {
    std::sort(micros.begin(), micros.end());
    auto at = [&](double q) {
        const std::size_t index = std::min(micros.size() - 1, static_cast<std::size_t>(q * (micros.size() - 1) + 0.5));
        return micros[index];
    };
    char line[160];
    std::snprintf(line, sizeof line, "%s %d median=%.0fus p99=%.0fus max=%.0fus", name, static_cast<int>(micros.size()),
                  at(0.5), at(0.99), micros.back());
    return line;
}

}  // namespace

void TSimulator::PrintLatencies(const char* name, std::vector<double> micros) {
    FOutput.LineBytes(LatencyLine(name, std::move(micros)));
}

void TSimulator::DoBenchPress(const TSimCommand& command) {
    if (!RequireRunning(command)) return;
    const VirtualHidDevicePtr device = FindBox(command.Serial, true);
    if (!device) return;
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(command.Number));
    FOutput.SetQuietKeys(true);
    for (int i = 0; i < command.Number; ++i) {
        const std::uint64_t before = FVanto.KeyDowns();
        const auto start = std::chrono::steady_clock::now();
        const std::uint64_t handledAt = FHid.QueueReport(*device, SimKeyReport({i % 6}));
        const std::wstring path = device->Path();
        if (!PumpUntil([&] { return FVanto.KeyDowns() > before; }, kHandledTimeoutMs)) {
            FOutput.SetQuietKeys(false);
            Error(L"press " + std::to_wstring(i + 1) + L" reached no stand-in window");
            return;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(FVanto.LastKeyDown() - start).count());
        PumpUntil([&] { return FHid.ReadsStarted(path) >= handledAt; }, kHandledTimeoutMs);
        SendReport(device, SimKeyReport({}));
    }
    FOutput.SetQuietKeys(false);
    PrintLatencies("bench-press", std::move(micros));
}

void TSimulator::SettleKeyDowns() {
    // The key-downs leave from the program's sender; the script goes on once they have
    // their answer, so that what the stand-in prints comes in the script's order. A
    // stand-in asleep in a hang answers nothing: the script goes on at once, as the
    // program does.
    if (!Form()) return;
    PumpUntil([this] { return !Form() || Form()->KeyDownsSettled() || FVanto.Hanging(); }, kHandledTimeoutMs);
}

void TSimulator::DoBenchHandoff(const TSimCommand& command) {
    // The main thread's share of a press: from the report queued on the virtual box to
    // the key-down handed to the sender, whatever the timing software does meanwhile.
    if (!RequireRunning(command)) return;
    const VirtualHidDevicePtr device = FindBox(command.Serial, true);
    if (!device || !Form()) return;
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(command.Number));
    FOutput.SetQuietKeys(true);
    const std::wstring path = device->Path();
    for (int i = 0; i < command.Number; ++i) {
        const std::uint64_t before = Form()->FKeyDownsHandedOff;
        const auto start = std::chrono::steady_clock::now();
        const std::uint64_t handledAt = FHid.QueueReport(*device, SimKeyReport({i % 6}));
        if (!PumpUntil([&] { return Form()->FKeyDownsHandedOff > before; }, kHandledTimeoutMs)) {
            FOutput.SetQuietKeys(false);
            Error(L"press " + std::to_wstring(i + 1) + L" was not handed to the sender");
            return;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Form()->FLastKeyDownHandOff - start).count());
        PumpUntil([&] { return FHid.ReadsStarted(path) >= handledAt; }, kHandledTimeoutMs);
        SendReport(device, SimKeyReport({}));
    }
    FOutput.SetQuietKeys(false);
    PrintLatencies("bench-handoff", std::move(micros));
}
