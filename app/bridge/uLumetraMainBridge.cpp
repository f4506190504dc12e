// The bridge to the timing software: the one-second search for its window, the event,
// folder and race read from its title, the function keys sent to it, and the tray status
// that tells whether a control box and the timing software are ready.
//
// The title is the only thing read from the timing software and one key-down per key
// press the only thing sent to it.

#include "AppShell.h"
#include "MainThread.h"
#include "TextUtils.h"
#include "uLumetraMain.h"

#include <chrono>
#include <string>

namespace {

const std::wstring kDash = L" - ";
const std::wstring kChevron = L" > ";
const std::wstring kBracket = L"] ";

// `text` without everything up to and including the first `separator`; unchanged when
// it holds none.
std::wstring AfterFirst(const std::wstring& text, const std::wstring& separator) {
    const std::size_t at = text.find(separator);
    return at == std::wstring::npos ? text : text.substr(at + separator.size());
}

}  // namespace

bool TfrmMain::EnumWindowsCallback(TWindowHandle _Handle, std::vector<std::wstring>& _List) {
    DesktopWindows& desktop = Desktop();
    const std::wstring title = desktop.WindowText(_Handle, VantoTitleBufferChars);
    if (desktop.IsWindowVisible(_Handle) && AsciiUpper(title.substr(0, 6)) == VantoTitlePrefix) {
        // A later window in z-order replaces an earlier one.
        _List.clear();
        _List.push_back(title);
        FHandleVanto = _Handle;
    }
    FTrouveVanto = _List.empty() ? 0 : 1;
    return true;
}

void TfrmMain::TimerFindVantoTimer(void* /*Sender*/) {
    const int previous = FTrouveVanto;
    FListChercheVanto.clear();
    Desktop().EnumWindows([this](TWindowHandle window) { return EnumWindowsCallback(window, FListChercheVanto); });
    // The callback keeps the flag in step with the list, but a search that visits no
    // window at all must still leave "absent" behind.
    FTrouveVanto = FListChercheVanto.empty() ? 0 : 1;

    if (!FListChercheVanto.empty()) {
        std::wstring epreuve, dossier, course;
        ParseWindowTitle(FListChercheVanto.front(), epreuve, dossier, course);
        lblEpreuve.SetCaption(epreuve);
        lblDossier.SetCaption(dossier);
        lblCourse.SetCaption(course);
        if (previous != 1) {
            UpdateStatus();
            SDListLink().SetActive(true);
            LogError(L"TimerFindVanto", L"Vanto trouv\u00e9 : " + std::to_wstring(FHandleVanto));
        }
    } else if (previous == 1) {
        FVantoRefusesKeys = false;
        FVantoNotResponding = false;
        SDListLink().SetActive(false);
        LogError(L"TimerFindVanto", L"Vanto non trouv\u00e9");
        UpdateStatus();
        ClearRaceLabels();
    }
}

void TfrmMain::ParseWindowTitle(const std::wstring& _Title, std::wstring& _Epreuve, std::wstring& _Dossier,
                                std::wstring& _Course) {
    _Epreuve.clear();
    _Dossier.clear();
    _Course.clear();

    // "VANTO3 - <event> - <folder> > <race>", with "[n] " before event and race.
    if (_Title.find(kDash) == std::wstring::npos)
        return;
    std::wstring rest = AfterFirst(_Title, kDash);
    const std::size_t second = rest.find(kDash);
    if (second == std::wstring::npos)
        return;
    _Epreuve = AfterFirst(rest.substr(0, second), kBracket);
    rest = rest.substr(second + kDash.size());

    const std::size_t chevron = rest.find(kChevron);
    if (chevron == std::wstring::npos) {
        _Course = rest;
        return;
    }
    _Dossier = rest.substr(0, chevron);
    _Course = AfterFirst(rest.substr(chevron + kChevron.size()), kBracket);
}

void TfrmMain::ClearRaceLabels() {
    lblEpreuve.SetCaption(L"");
    lblDossier.SetCaption(L"");
    lblCourse.SetCaption(L"");
}

void TfrmMain::EnvoyerVanto(std::int32_t _IdButton) {
    // The press's time, before anything else: its delay is counted from here.
    const auto reportTime = std::chrono::steady_clock::now();
    // The window of the last search, looked up again by its title; else the window that
    // search recorded, while it is visible and still the timing software's (the race in
    // its title changes, the program does not); else a search then and there (no search
    // has run yet, or the window came since). A window gone, or no longer the timing
    // software's, gets nothing.
    const bool searched = !FListChercheVanto.empty();
    DesktopWindows& desktop = Desktop();
    TWindowHandle programHwnd = 0;
    if (searched) {
        programHwnd = desktop.FindWindowByTitle(FListChercheVanto.front());
        if (programHwnd == 0) programHwnd = LastFoundVantoWindow(FListChercheVanto.front());
    }
    if (programHwnd == 0) programHwnd = SearchVantoNow();
    if (programHwnd == 0) {
        LogError(L"EnvoyerVanto", searched ? L"ERROR : ProgramHwnd = 0" : L"ERROR : FListChercheVanto.Count = 0");
        return;
    }
    if (_IdButton < 0 || _IdButton >= VantoKeyCount)
        return;
    const unsigned key = VantoKeyMap[_IdButton];
    // The key-down leaves first; its trace line follows. The sender's result comes back
    // through KeyDownsDone.
    KeyDownSender().Add({programHwnd, key, reportTime});
    FLastKeyDownHandOff = std::chrono::steady_clock::now();
    ++FKeyDownsHandedOff;
    LogError(L"SendMessage", L"Handle=" + std::to_wstring(programHwnd) + L" wParam=" + std::to_wstring(key));
}

TWindowHandle TfrmMain::SearchVantoNow() {
    DesktopWindows& desktop = Desktop();
    TWindowHandle found = 0;
    desktop.EnumWindows([&](TWindowHandle window) {
        if (desktop.IsWindowVisible(window) &&
            AsciiUpper(desktop.WindowText(window, VantoTitleBufferChars).substr(0, 6)) == VantoTitlePrefix)
            found = window;  // the last one in z-order, as the tick's search takes
        return true;
    });
    return found;
}

TKeyDownSender& TfrmMain::KeyDownSender() {
    if (!FKeyDownSender) {
        DesktopWindows* desktop = &Desktop();
        std::weak_ptr<bool> alive = FAlive;
        FKeyDownSender = std::make_unique<TKeyDownSender>(
            TKeyDownPort{[desktop](const TKeyDownJob& job, std::chrono::milliseconds limit,
                                   std::function<void()> answeredLate) {
                             return desktop->SendKeyDown(job.Window, job.VirtualKey, limit, std::move(answeredLate));
                         },
                         [desktop](std::chrono::milliseconds max) { desktop->AwaitAnswers(max); },
                         [desktop] { desktop->WakeAnswers(); }},
            [this, alive] {
                MainThread::Post([this, alive] {
                    if (alive.lock()) KeyDownsDone();
                });
                MainThread::Wake();
            },
            VantoKeyDownLimit);
    }
    return *FKeyDownSender;
}

void TfrmMain::KeyDownsDone() {
    if (!FKeyDownSender) return;
    for (const TKeyDownDone& done : FKeyDownSender->Take()) {
        const std::wstring sent =
            L"Handle=" + std::to_wstring(done.Job.Window) + L" wParam=" + std::to_wstring(done.Job.VirtualKey);
        const std::wstring delay = std::to_wstring(done.Delay.count());
        if (!done.Sent) {
            LogError(L"SendMessage", L"ERROR : " + sent + L" non envoy\u00e9 (fin du programme)");
            continue;
        }
        switch (done.Result.Outcome) {
        case TKeyDownOutcome::Delivered:
            if (done.Late || done.Delay > VantoLateKeyDown)
                LogError(L"SendMessage", L"ERROR : " + sent + L" re\u00e7u avec " + delay + L" ms de retard");
            if (FVantoRefusesKeys || FVantoRefusalTold || FVantoNotResponding) {
                FVantoRefusesKeys = false;
                FVantoRefusalTold = false;
                FVantoNotResponding = false;
                UpdateStatus();
            }
            break;
        case TKeyDownOutcome::NotAnswered:
            LogError(L"SendMessage", L"ERROR : " + sent + L" non confirm\u00e9 apr\u00e8s " + delay +
                                         L" ms : Vanto V3 ne r\u00e9pond pas");
            if (!FVantoNotResponding) {
                FVantoNotResponding = true;
                UpdateStatus();
                ShowOperatorMessage(VantoNotRespondingMessage);
            }
            break;
        case TKeyDownOutcome::Refused:
            LogError(L"SendMessage", L"ERROR : " + sent +
                                         L" refus\u00e9 par Windows (acc\u00e8s refus\u00e9) : Vanto V3 tourne avec des "
                                         L"droits plus \u00e9lev\u00e9s");
            FVantoRefusesKeys = true;
            UpdateStatus();
            if (!FVantoRefusalTold) {
                FVantoRefusalTold = true;
                ShowOperatorMessage(VantoRefusesKeysMessage);
            }
            break;
        case TKeyDownOutcome::Failed:
            LogError(L"SendMessage", L"ERROR : " + sent + L" non envoy\u00e9 (erreur " +
                                         std::to_wstring(done.Result.Error) + L")");
            break;
        }
    }
}

bool TfrmMain::SettleKeyDowns(std::chrono::milliseconds timeout) {
    if (!FKeyDownSender) return true;
    const bool settled =
        MainThread::ServeUntil([this] { return !FKeyDownSender || FKeyDownSender->Settled(); }, timeout);
    KeyDownsDone();
    return settled;
}

void TfrmMain::StopKeyDowns() {
    if (!FKeyDownSender) return;
    // A send on its way ends by its own limit; the way out waits for half of it at most
    // and leaves the rest to the end of the process, so that a Quit while the timing
    // software hangs stays well within a second.
    FKeyDownSender->Stop(VantoKeyDownLimit / 2);
    KeyDownsDone();
}

TWindowHandle TfrmMain::LastFoundVantoWindow(const std::wstring& _Title) {
    if (FHandleVanto == 0 || _Title.empty()) return 0;
    DesktopWindows& desktop = Desktop();
    if (!desktop.IsWindowVisible(FHandleVanto)) return 0;
    // A window that is gone reads empty.
    const std::wstring now = desktop.WindowText(FHandleVanto, VantoTitleBufferChars);
    if (AsciiUpper(now.substr(0, 6)) != VantoTitlePrefix) return 0;
    return FHandleVanto;
}

void TfrmMain::ShowOperatorMessage(const std::wstring& _Text) {
    // The tray tells at once (UpdateStatus has set its hint); the box waits for the
    // top-level loop: a press must not wait for the operator's click, and the way out
    // shows nothing.
    if (FEnding) return;
    TrayIcon1.ShowBalloon(L"Lumetra Control Box", _Text);
    FPendingMessages.push_back(_Text);
    std::weak_ptr<bool> alive = FAlive;
    MainThread::Post([this, alive] {
        if (alive.lock()) ShowPendingMessages();
    });
}

void TfrmMain::ShowPendingMessages() {
    if (FEnding || MainThread::QuitRequested()) {
        FPendingMessages.clear();
        return;
    }
    std::vector<std::wstring> pending;
    pending.swap(FPendingMessages);
    for (const std::wstring& text : pending) {
        if (FServices.ShowMessage)
            FServices.ShowMessage(text);
        else
            AppShell::ShowMessage(text);
    }
}

void TfrmMain::TraceNotice(const std::wstring& _Message) {
    // From the trace's writer thread: the window is told on the main thread.
    std::weak_ptr<bool> alive = FAlive;
    MainThread::Post([this, alive, _Message] {
        if (!alive.lock()) return;
        FTraceNotWritten = !_Message.empty();
        UpdateStatus();
        if (!_Message.empty()) ShowOperatorMessage(_Message);
    });
}

void TfrmMain::UpdateStatus() {
    if (!SDListLink().HasCurrentSD()) {
        TrayIcon1.SetIconIndex(tpNoControlBox);
        SetTrayHint(L"default ControlBox not Found", L"");
    } else if (FTrouveVanto > 0 && FVantoRefusesKeys) {
        TrayIcon1.SetIconIndex(tpControlBoxOnly);
        SetTrayHint(L"ControlBox OK", VantoRefusesKeysHint);
    } else if (FTrouveVanto > 0 && FVantoNotResponding) {
        TrayIcon1.SetIconIndex(tpControlBoxOnly);
        SetTrayHint(L"ControlBox OK", VantoNotRespondingHint);
    } else if (FTrouveVanto > 0) {
        TrayIcon1.SetIconIndex(tpReady);
        SetTrayHint(L"ControlBox OK", L"Vanto V3  OK");
    } else {
        TrayIcon1.SetIconIndex(tpControlBoxOnly);
        SetTrayHint(L"ControlBox OK", L"Vanto V3 not Found");
    }
}

void TfrmMain::SetTrayHint(const std::wstring& _Line2, const std::wstring& _Line3) {
    std::wstring hint = L"LUMETRA CONTROL BOX\r" + _Line2 + L"\r" + _Line3;
    if (FTraceNotWritten) hint += std::wstring(L"\r") + TraceNotWrittenHint;
    TrayIcon1.SetHint(hint);
}

void TfrmMain::SDListPushButton(void* /*_Sender*/, std::int32_t _IdButton) { EnvoyerVanto(_IdButton); }
