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
    if (FListChercheVanto.empty()) {
        LogError(L"EnvoyerVanto", L"ERROR : FListChercheVanto.Count = 0");
        return;
    }
    // Looked up again by title: the window found by the last search may be gone. A title
    // longer than the search reads was stored cut and matches no window exactly; then the
    // window the search recorded is taken, while it is still the timing software's.
    DesktopWindows& desktop = Desktop();
    const std::wstring& title = FListChercheVanto.front();
    TWindowHandle programHwnd = desktop.FindWindowByTitle(title);
    if (programHwnd == 0) programHwnd = LastFoundVantoWindow(title);
    if (programHwnd == 0) {
        LogError(L"EnvoyerVanto", L"ERROR : ProgramHwnd = 0");
        return;
    }
    if (_IdButton < 0 || _IdButton >= VantoKeyCount)
        return;
    const unsigned key = VantoKeyMap[_IdButton];
    // The log line lets other work run; the handle is already taken, so that is harmless.
    const std::wstring sent = L"Handle=" + std::to_wstring(programHwnd) + L" wParam=" + std::to_wstring(key);
    LogError(L"SendMessage", sent);
    const std::uint32_t error = desktop.SendKeyDown(programHwnd, key);
    if (error == KeyDownRefused) {
        LogError(L"SendMessage", L"ERROR : " + sent +
                                     L" refus\u00e9 par Windows (acc\u00e8s refus\u00e9) : Vanto V3 tourne avec des "
                                     L"droits plus \u00e9lev\u00e9s");
        FVantoRefusesKeys = true;
        UpdateStatus();
        if (!FVantoRefusalTold) {
            FVantoRefusalTold = true;
            ShowOperatorMessage(VantoRefusesKeysMessage);
        }
    } else if (error == 0 && (FVantoRefusesKeys || FVantoRefusalTold)) {
        FVantoRefusesKeys = false;
        FVantoRefusalTold = false;
        UpdateStatus();
    }
}

TWindowHandle TfrmMain::LastFoundVantoWindow(const std::wstring& _Title) {
    if (FHandleVanto == 0 || _Title.empty()) return 0;
    DesktopWindows& desktop = Desktop();
    if (!desktop.IsWindowVisible(FHandleVanto)) return 0;
    // Read as long as the stored title: equal means it still starts with it. A window
    // that is gone reads empty.
    if (desktop.WindowText(FHandleVanto, _Title.size() + 1) != _Title) return 0;
    return FHandleVanto;
}

void TfrmMain::ShowOperatorMessage(const std::wstring& _Text) {
    // After the key press has been handled: a message box waits for the operator, and the
    // control box's next press must not wait with it.
    auto show = FServices.ShowMessage;
    MainThread::Post([show, _Text] {
        if (show)
            show(_Text);
        else
            AppShell::ShowMessage(_Text);
    });
}

void TfrmMain::UpdateStatus() {
    if (!SDListLink().HasCurrentSD()) {
        TrayIcon1.SetIconIndex(tpNoControlBox);
        SetTrayHint(L"default ControlBox not Found", L"");
    } else if (FTrouveVanto > 0 && FVantoRefusesKeys) {
        TrayIcon1.SetIconIndex(tpControlBoxOnly);
        SetTrayHint(L"ControlBox OK", VantoRefusesKeysHint);
    } else if (FTrouveVanto > 0) {
        TrayIcon1.SetIconIndex(tpReady);
        SetTrayHint(L"ControlBox OK", L"Vanto V3  OK");
    } else {
        TrayIcon1.SetIconIndex(tpControlBoxOnly);
        SetTrayHint(L"ControlBox OK", L"Vanto V3 not Found");
    }
}

void TfrmMain::SetTrayHint(const std::wstring& _Line2, const std::wstring& _Line3) {
    TrayIcon1.SetHint(L"LUMETRA CONTROL BOX\r" + _Line2 + L"\r" + _Line3);
}

void TfrmMain::SDListPushButton(void* /*_Sender*/, std::int32_t _IdButton) { EnvoyerVanto(_IdButton); }
