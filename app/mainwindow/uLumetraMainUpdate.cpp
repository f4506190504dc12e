// The main window's update handlers: "Check for Update", the check at start-up, and the
// answers to the update engine's status messages, restart question and close request.

#include "uLumetraMainUpdate.h"

#include "AppShell.h"
#include "ProcessInfo.h"
#include "UpdateAnswers.h"
#include "UpdatePublicKey.h"
#include "UpdateServer.h"
#include "WUpdate.h"
#include "uLumetraMain.h"
#include "uRegistry.h"

namespace {

// Signed releases: the newest release date accepted, so that no older release is taken.
const wchar_t* const kLastReleaseDate = L"LastReleaseDate";

TUpdateDialogs* gDialogs = nullptr;

std::wstring& ConfiguredURL() {
    static std::wstring url;
    return url;
}

}  // namespace

void SetUpdateDialogs(TUpdateDialogs* dialogs) { gDialogs = dialogs; }

void SetUpdateURL(const std::wstring& url) { ConfiguredURL() = url; }

void SetWebUpdateURL(TfrmMain& form, const std::wstring& url) {
    CreateWebUpdate1(form);
    form.WebUpdate1->SetURL(url);
}

void CreateWebUpdate1(TfrmMain& form) {
    if (form.WebUpdate1) return;
    auto engine = std::make_unique<TWebUpdate>();
    // The rest of the engine's settings are constants of the engine (WUpdate.h).
    engine->SetURL(ConfiguredURL().empty() ? DefaultUpdateURL() : ConfiguredURL());
    engine->SetDialogs(gDialogs);
    // Signed releases, when the program carries a key. A setting that cannot be read or
    // written is no reason to stop: the date in this run still holds.
    engine->SetReleaseKey(EmbeddedUpdatePublicKey());
    // Signed releases never go below the running version nor, with no stored release
    // date, before the day this program was built.
    engine->RunningVersion = MakeSystemFileFacts()->FileVersion(ProcessInfo::ExecutablePath());
    engine->BuildDate = ParseCompilerDate(__DATE__);
    engine->ReleaseDates.Read = [] {
        try {
            return RegReadString(kLastReleaseDate, L"");
        } catch (const std::exception&) {
            return std::wstring();
        }
    };
    engine->ReleaseDates.Write = [](const std::wstring& value) {
        try {
            RegWriteString(kLastReleaseDate, value);
        } catch (const std::exception&) {
        }
    };
    TfrmMain* window = &form;
    engine->OnStatus = [window](TWebUpdate& Sender, const std::wstring& StatusStr, int StatusCode, int ErrCode) {
        WebUpdate1Status(*window, Sender, StatusStr, StatusCode, ErrCode);
    };
    engine->OnAppRestart = [window](TWebUpdate& Sender, bool& Allow) { WebUpdate1AppRestart(*window, Sender, Allow); };
    engine->OnAppDoClose = [window](TWebUpdate& Sender) { WebUpdate1AppDoClose(*window, Sender); };
    engine->OnFileProgress = [window](TWebUpdate& Sender, const std::wstring& FileName, std::int64_t Pos,
                                      std::int64_t Size) { WebUpdate1FileProgress(*window, Sender, FileName, Pos, Size); };
    engine->OnFileVersionCheck = [window](TWebUpdate& Sender, const std::wstring& NewVersion,
                                          const std::wstring& LocalVersion, bool& IsNew) {
        WebUpdate1FileVersionCheck(*window, Sender, NewVersion, LocalVersion, IsNew);
    };
    form.WebUpdate1 = std::move(engine);
}

void TfrmMain::actCheckUpdatesExecute(void* Sender) {
    (void)Sender;
    CreateWebUpdate1(*this);
    // Whatever ends the run early, the silent abort of a connection error included, has
    // been told through the status handler already.
    RunUpdateQuietly(*WebUpdate1);
}

void WebUpdate1Status(TfrmMain& form, TWebUpdate& Sender, const std::wstring& StatusStr, int StatusCode,
                      int ErrCode) {
    (void)ErrCode;
    AnswerUpdateStatus(Sender.Dialogs(), form.FDemarrage, StatusStr, StatusCode);
}

void WebUpdate1AppRestart(TfrmMain& form, TWebUpdate& Sender, bool& Allow) {
    (void)form;
    Allow = AnswerAppRestart(Sender.Dialogs());
}

void WebUpdate1AppDoClose(TfrmMain& form, TWebUpdate& Sender) {
    (void)Sender;
    // The updater replaces our files once we are gone: this close ends the program
    // instead of hiding the window.
    form.FForceClose = true;
    bool canClose = true;
    form.FormCloseQuery(&form, canClose);
    if (!canClose) return;
    form.FormClose(&form);
    if (form.Peer()) form.Peer()->Hide();
    AppShell::Terminate();
}

void WebUpdate1FileProgress(TfrmMain&, TWebUpdate&, const std::wstring&, std::int64_t, std::int64_t) {}

void WebUpdate1FileVersionCheck(TfrmMain&, TWebUpdate&, const std::wstring&, const std::wstring&, bool&) {}
