// The bridge to the timing software: the one-second search for its window, the event,
// folder and race read from its title, the function keys sent to it, and the tray status
// that tells whether a control box and the timing software are ready.
//
// The title is the only thing read from the timing software and one key-down per key
// press the only thing sent to it.

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
    // Looked up again by title: the window found by the last search may be gone.
    DesktopWindows& desktop = Desktop();
    const TWindowHandle programHwnd = desktop.FindWindowByTitle(FListChercheVanto.front());
    if (programHwnd == 0) {
        LogError(L"EnvoyerVanto", L"ERROR : ProgramHwnd = 0");
        return;
    }
    if (_IdButton < 0 || _IdButton >= VantoKeyCount)
        return;
    const unsigned key = VantoKeyMap[_IdButton];
    // The log line lets other work run; the handle is already taken, so that is harmless.
    LogError(L"SendMessage", L"Handle=" + std::to_wstring(programHwnd) + L" wParam=" + std::to_wstring(key));
    desktop.SendKeyDown(programHwnd, key);
}

void TfrmMain::UpdateStatus() {
    if (!SDListLink().HasCurrentSD()) {
        TrayIcon1.SetIconIndex(tpNoControlBox);
        SetTrayHint(L"default ControlBox not Found", L"");
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
