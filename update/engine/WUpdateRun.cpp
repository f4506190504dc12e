// The update run: session, control file, decisions, dialogs, files, restart.
#include "Exceptions.h"
#include "MainThread.h"
#include "TextUtils.h"
#include "TransferWorker.h"
#include "UpdateFileSystem.h"
#include "WUpdate.h"

namespace {

const std::wstring kUpdate = L"update";
const std::wstring kAction = L"action";
const std::wstring kWhatsNew = L"whatsnew";
const std::wstring kEULA = L"eula";

// The error code of an agreement refused in a signed release, beside status code 11.
constexpr int kDocumentError = 6;

// Reported by status 969 and 970; only the status handler sees them, and it ignores them.
const wchar_t* const kBuildLabel = L"MinGW-w64 GCC, C++20";
const wchar_t* const kInstalledTools = L"(none)";

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring QuotedIfSpaced(const std::wstring& text) {
    return text.find(L' ') != std::wstring::npos ? Quoted(text) : text;
}

// Clears a flag when a scope is left, whichever way.
struct TFlagGuard {
    bool& Flag;
    explicit TFlagGuard(bool& flag) : Flag(flag) { Flag = true; }
    ~TFlagGuard() { Flag = false; }
};

}  // namespace

TUpdateDialogs& TWebUpdate::Dialogs() {
    if (FDialogs != nullptr) return *FDialogs;
    if (!FOwnDialogs) FOwnDialogs = MakeSystemUpdateDialogs();
    return *FOwnDialogs;
}

TUpdateSystem& TWebUpdate::System() {
    if (!FSystem) FSystem = MakeSystemUpdateSystem();
    return *FSystem;
}

bool TWebUpdate::Connected() {
    if (FURL.find(L"127.0.0.1") != std::wstring::npos) return true;
    return System().InternetConnected();
}

void TWebUpdate::DoUpdate() {
    if (FRunning) return;
    TFlagGuard running(FRunning);

    FCancelled = false;
    FAbandoned = false;
    System().SetCurrentFolder(FFolders.Application);

    DoStatus(968, L"Non threaded update", scProgressDetail, 0);
    DoStatus(966, System().WindowsName(), scProgressDetail, 0);
    DoStatus(967, System().BrowserVersion(), scProgressDetail, 0);
    DoStatus(969, kBuildLabel, scProgressDetail, 0);
    DoStatus(970, kInstalledTools, scProgressDetail, 0);
    FComponentsIncluded = false;
    FControlFile.clear();
    FVerifiedControl.reset();
    FPinnedFetched.clear();
    DoStatus(963, Version, scProgressDetail, 0);
    RemoveOldUpdaterFolders();

    if (!StartConnection()) return;

    bool filesFetched = false;
    try {
        filesFetched = [this] {
            if (!GetControlFile()) return false;
            if (!DoVersionCheck()) {
                FAppUpdate = false;
                return false;
            }
            if (!HandleActions()) return false;
            const bool whatsNewAccepted = WhatsNewDialog();
            // The agreement is fetched even after refused notes, but not shown then.
            const bool eulaAccepted = EULADialog(!whatsNewAccepted);
            if (!whatsNewAccepted || !eulaAccepted) {
                FAppUpdate = false;
                return false;
            }
            if (GetFileDetails() <= 0) {
                FAppUpdate = false;
                return false;
            }
            if (ProcessFileDetails() != 0) return false;
            const int fetched = GetFileUpdates();
            UpdateActions();
            return fetched == 0;
        }();
    } catch (...) {
        // A run ended from a status handler (the silent abort) still leaves no session
        // open and no control file behind.
        AbandonConnection();
        throw;
    }

    StopConnection();
    if (filesFetched && !FCancelled && OnSuccess) OnSuccess(*this);
    // A program on its way out restarts nothing.
    if (FAppUpdate && !FCancelled && FComponentsIncluded && !Abandoned()) DoRestart();
}

bool TWebUpdate::StartConnection() {
    FOwnSession.reset();
    FSession = nullptr;
    DoStatus(918, {}, scProgressStep, 0);
    // Never dials: without a connection the run ends quietly.
    if (!Connected()) return false;
    DoStatus(921, {}, scProgressStep, 0);
    std::uint32_t error = 0;
    TUpdateSystem& system = System();
    // Opened on a worker like every later call of the run: the main thread only waits.
    FOwnSession = TWorkerSession::Open(
        [&system](std::uint32_t& e) { return system.OpenSession(Agent, e); }, FLimits, error);
    if (!FOwnSession) {
        if (Abandoned()) throw EAbort();
        if (error != 0) DoStatus(976, System().ErrorText(error), scConnectionError, static_cast<int>(error));
        DoStatus(922, {}, scConnectionError, 0);
        return false;
    }
    FSession = FOwnSession.get();
    FInProgress = true;
    return true;
}

void TWebUpdate::StopConnection() {
    FSession = nullptr;
    FOwnSession.reset();
    DoStatus(949, {}, scProgressStep, 0);
    if (!FControlFile.empty()) SystemFileSystem().RemoveFile(FControlFile);
    FVerifiedControl.reset();
    FInProgress = false;
}

void TWebUpdate::Abandon() {
    if (!FRunning && FTransferTemp.empty()) return;
    FAbandoned = true;
    if (FSession != nullptr) FSession->Abort();
    if (FTransferSession != nullptr && FTransferSession != FSession) FTransferSession->Abort();
    // The session may end without our stack unwinding: clean up now.
    if (FTransferOut != nullptr) FTransferOut->Close();
    if (!FTransferTemp.empty()) SystemFileSystem().RemoveFile(FTransferTemp);
    if (!FControlFile.empty()) SystemFileSystem().RemoveFile(FControlFile);
}

bool TWebUpdate::Abandoned() const { return FAbandoned || MainThread::QuitRequested(); }

void TWebUpdate::AbandonConnection() {
    FSession = nullptr;
    FOwnSession.reset();
    if (!FControlFile.empty()) SystemFileSystem().RemoveFile(FControlFile);
    FVerifiedControl.reset();
    FInProgress = false;
}

bool TWebUpdate::GetControlFile() {
    FCancelled = false;
    const std::wstring url = ExpandPrefixes(FURL);
    if (url.empty() || FSession == nullptr || !URLGetFile(*FSession, url, WinTempDir(), kMaxControlFileBytes)) {
        DoStatus(925, {}, scFileNotObtained, 0);
        return false;
    }
    DoStatus(926, {}, scProgressStep, 0);
    FControlFile = WinTempDir() + URLtoFile(url);
    // Signed releases: nothing of the control file is used before its signature and date
    // are checked.
    if (FSignaturesRequired && !AcceptSignedControlFile()) return false;
    ReadApplicationSection();
    return true;
}

void TWebUpdate::OpenProgram(const std::wstring& file, const std::wstring& parameters) {
    Dialogs().ShellOpen(file, parameters);
}

bool TWebUpdate::HandleActions() {
    const TIniFile ini = ReadControlFile();

    const std::wstring msg = ExpandNewlines(ini.ReadString(kAction, L"msg"));
    if (!msg.empty()) {
        DoStatus(934, {}, scProgressStep, 0);
        Dialogs().ShowMessage(msg);
    }

    const std::wstring htmlDialog = ExpandPrefixes(ini.ReadString(kAction, L"htmldlg"));
    if (!htmlDialog.empty()) {
        DoStatus(935, {}, scHtmlDialog, 0);
        // Signed releases: the page is not covered by the signature, and the system's HTML
        // dialog would run its script with the program's rights.
        if (FSignaturesRequired)
            WriteLogLine(L"HTML dialog not shown, its page is not part of the signed release: " + htmlDialog);
        else
            Dialogs().ShowHTMLDialog(htmlDialog);
    }

    const std::wstring runBefore = ExpandPrefixes(ini.ReadString(kAction, L"runbefore"));
    if (!runBefore.empty()) {
        // Signed releases: nothing has been fetched and checked yet, so nothing may run.
        if (FSignaturesRequired)
            WriteLogLine(L"runbefore not run, only a file this run fetched and checked may be run: " + runBefore);
        else
            OpenProgram(runBefore, ini.ReadString(kAction, L"runbeforeparam"));
    }

    const std::wstring showURL = ExpandPrefixes(ini.ReadString(kAction, L"showURL"));
    if (!showURL.empty()) {
        DoStatus(942, {}, scProgressStep, 0);
        if (!FSignaturesRequired) {
            if (!Dialogs().ShellOpen(L"iexplore.exe", L"-new " + showURL)) Dialogs().ShellOpen(showURL, {});
        } else if (IsHttpsAddress(showURL)) {
            // The user's default browser, never a program found by name.
            Dialogs().ShellOpen(showURL, {});
        } else {
            WriteLogLine(L"showURL not opened, only an https address is: " + showURL);
        }
    }

    const std::wstring query = ExpandNewlines(ini.ReadString(kAction, L"query"));
    if (!query.empty()) {
        DoStatus(936, {}, scProgressStep, 0);
        if (!Dialogs().AskYesNo(query)) {
            FAppUpdate = false;
            return false;
        }
    }
    return !FCancelled;
}

void TWebUpdate::UpdateActions() {
    if (FCancelled) return;
    const TIniFile ini = ReadControlFile();
    // A new address for later runs would be remembered here; this program keeps none.
    if (!ini.ReadString(kAction, L"updateURL").empty()) DoStatus(941, {}, scProgressStep, 0);
    const std::wstring runAfter = ExpandPrefixes(ini.ReadString(kAction, L"runafter"));
    if (!runAfter.empty()) {
        const std::optional<std::wstring> program =
            FSignaturesRequired ? FetchedPinnedProgram(runAfter) : std::optional<std::wstring>(runAfter);
        if (program)
            OpenProgram(*program, ini.ReadString(kAction, L"runafterparam"));
        else
            WriteLogLine(
                L"runafter not run, it is not a file of the program's folder that this run fetched "
                L"and checked: " +
                runAfter);
    }
    DoStatus(948, {}, scProgressStep, 0);
}

namespace {

// Downloads a document into the temporary folder, reads it and deletes it there. With a
// pin (signed releases), only bytes that match it.
std::optional<std::vector<std::uint8_t>> FetchDocument(TWebUpdate& engine, const std::wstring& url,
                                                       const TWebUpdate::TFilePin* pin = nullptr) {
    std::int64_t limit = kMaxDocumentBytes;
    if (pin != nullptr && pin->Size && *pin->Size < limit) limit = *pin->Size;
    if (engine.Session() == nullptr ||
        !engine.URLGetFile(*engine.Session(), url, engine.WinTempDir(), limit, pin != nullptr ? &pin->Digest : nullptr))
        return std::nullopt;
    const std::wstring path = engine.WinTempDir() + URLtoFile(url);
    std::optional<std::vector<std::uint8_t>> bytes = ReadWholeFile(engine.Facts(), path, kMaxDocumentBytes);
    SystemFileSystem().RemoveFile(path);
    return bytes;
}

}  // namespace

bool TWebUpdate::WhatsNewDialog() {
    const TIniFile ini = ReadControlFile();
    // The language setting is empty in this program: the plain section.
    const std::wstring url = ini.ReadString(kWhatsNew, L"file");
    if (url.empty()) return true;
    DoStatus(937, {}, scWhatsNew, 0);
    std::optional<std::vector<std::uint8_t>> bytes;
    if (FSignaturesRequired) {
        // Signed releases: shown only when the signed control file pins them.
        const std::optional<TFilePin> pin = DocumentPin(ini, kWhatsNew);
        if (pin) bytes = FetchDocument(*this, url, &*pin);
        if (!bytes) {
            WriteLogLine(pin ? L"Release notes not shown, they do not match their pin: " + url
                             : L"Release notes not shown, the signed control file does not pin them: " + url);
            return true;
        }
    } else {
        bytes = FetchDocument(*this, url);
    }
    if (!bytes) return true;

    TWhatsNewDialogData data;
    data.Caption = ini.ReadString(kWhatsNew, L"caption", L"What's new");
    data.OkCaption = ini.ReadString(kWhatsNew, L"okbtn", L"Ok");
    data.CancelCaption = ini.ReadString(kWhatsNew, L"cancelbtn", L"Cancel");
    data.Text = DocumentText(*bytes);
    data.Kind = ClassifyDocument(data.Text);
    data.Bytes = *bytes;
    if (Dialogs().WhatsNewDialog(data)) return true;
    DoStatus(938, {}, scWhatsNewRefused, 0);
    return false;
}

bool TWebUpdate::EULADialog(bool skipShowing) {
    const TIniFile ini = ReadControlFile();
    const std::wstring url = ini.ReadString(kEULA, L"file");
    if (url.empty()) return true;
    DoStatus(939, {}, scEula, 0);
    std::optional<std::vector<std::uint8_t>> bytes;
    if (FSignaturesRequired) {
        // Signed releases: an agreement that is not pinned, cannot be fetched or does not
        // match its pin was never agreed to: the release is refused.
        const std::optional<TFilePin> pin = DocumentPin(ini, kEULA);
        if (pin) bytes = FetchDocument(*this, url, &*pin);
        if (!bytes) {
            DoStatus(983, URLtoFile(url), scInvalidSignature, kDocumentError);
            return false;
        }
    } else {
        bytes = FetchDocument(*this, url);
    }
    if (!bytes || skipShowing) return true;

    TEULADialogData data;
    data.Caption = ini.ReadString(kEULA, L"caption");
    data.OkCaption = ini.ReadString(kEULA, L"okbtn", L"Ok");
    data.AcceptCaption = ini.ReadString(kEULA, L"accept", L"I accept");
    data.NotAcceptCaption = ini.ReadString(kEULA, L"notaccept", L"I do not accept");
    data.Text = DocumentText(*bytes);
    // The agreement is never shown as HTML.
    data.Kind = ClassifyDocument(data.Text) == TDocumentKind::Rtf ? TDocumentKind::Rtf : TDocumentKind::PlainText;
    data.Bytes = *bytes;
    return Dialogs().EULADialog(data);
}

// --- Restart through the updater --------------------------------------------------------

std::wstring TWebUpdate::UpdaterSettingsFile() const { return FFolders.Documents + L"\\WUPDATE.INI"; }

bool TWebUpdate::ExtractUpdater() {
    const std::optional<std::vector<std::uint8_t>> cabinet = System().UpdaterCabinet();
    if (!cabinet || cabinet->empty()) return false;
    // A folder nobody else had: nothing planted beforehand is run or loaded beside it.
    FUpdaterFolder = MakeFreshFolder(WinTempDir(), L"LumetraUpd");
    if (FUpdaterFolder.empty()) return false;
    TUpdateFileSystem& files = Files();
    const std::wstring cabinetFile = FUpdaterFolder + L"wusetup.cab";
    bool written = false;
    if (std::unique_ptr<TWritableFile> out = files.OpenWrite(cabinetFile)) {
        const bool wrote = out->Write(cabinet->data(), cabinet->size());
        written = out->Close() && wrote;
    }
    const bool extracted = written && ExtractCabinet(cabinetFile, FUpdaterFolder) == 0;
    files.RemoveFile(cabinetFile);
    if (extracted && files.FileExists(FUpdaterFolder + L"upd.exe")) return true;
    files.RemoveFile(FUpdaterFolder + L"upd.exe");
    files.RemoveFolder(FUpdaterFolder);
    FUpdaterFolder.clear();
    return false;
}

std::wstring TWebUpdate::UpdaterParameters() {
    std::wstring program = L"null";
    if (AutoRestart) {
        if (FAppName.find(L':') != std::wstring::npos) {
            program = FAppName;
        } else {
            std::wstring folder = System().CurrentFolder();
            // A drive root comes with its backslash; never write two.
            if (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
            program = folder + L"\\" + FAppName;
        }
        program = QuotedIfSpaced(program);
    }
    std::wstring parameters = std::to_wstring(System().ProcessId());
    parameters += Logging ? L" L" : L" X";
    parameters += L" " + program;
    parameters += L" " + QuotedIfSpaced(FAppParam);
    parameters += L" " + Quoted(WinTempDir());
    // Exactly the components this run fetched, each with the hash the updater checks its
    // copy against before it swaps anything.
    for (std::size_t i = 0; i < FFetchedComponents.size(); ++i) {
        parameters += L" " + QuotedIfSpaced(FFetchedComponents[i]);
        if (i < FFetchedComponentHashes.size()) parameters += L"|" + FFetchedComponentHashes[i];
    }
    return parameters;
}

void TWebUpdate::DoRestart() {
    DoStatus(959, System().CurrentFolder(), scProgressDetail, 0);
    bool allow = true;
    if (OnAppRestart)
        OnAppRestart(*this, allow);
    else if (!FSilentRestart)
        allow = Dialogs().AskYesNo(StatusMessage(911));
    // Refused: the components stay in the temporary folder and the program runs on.
    if (!allow) return;

    RemoveStaleComponents();
    // Closing the program without an updater to replace the components and start it
    // again would leave the user with no program at all: stop here instead.
    if (!ExtractUpdater()) {
        DoStatus(950, L"upd.exe", scFileNotObtained, 0);
        return;
    }
    System().WriteIniString(UpdaterSettingsFile(), L"CONFIG", L"LOGFILENAME", LogFileName);
    const std::wstring parameters = UpdaterParameters();
    DoStatus(958, parameters, scProgressDetail, 0);
    if (!Dialogs().ShellOpen(FUpdaterFolder + L"upd.exe", parameters)) {
        DoStatus(950, FUpdaterFolder + L"upd.exe", scFileNotObtained, 0);
        return;
    }
    // Without a handler the engine would end the program itself; this program always
    // closes its main window through OnAppDoClose.
    if (OnAppDoClose) OnAppDoClose(*this);
}
