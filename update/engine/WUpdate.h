#pragma once
// The self-update engine: the control file, its decisions, and the numbered status
// messages through which every step reports.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ControlFileText.h"
#include "FileFacts.h"
#include "IniFile.h"
#include "KnownFolders.h"
#include "ReleaseCrypto.h"
#include "ReleaseVerifier.h"
#include "UpdateDialogs.h"
#include "UpdateFileSystem.h"
#include "UpdateInstall.h"
#include "UpdateSystem.h"
#include "UpdateTransport.h"

// One file entry of the control file ("file1" ... "fileN").
struct TFileDescription {
    std::wstring URL;           // url (path tokens expanded)
    std::wstring LocalVersion;  // localversion (expanded): the installed file compared with
    std::wstring NewVersion;    // newversion
    std::int32_t NewSize = 0;   // newsize; 0 = no size test
    std::int32_t NewCheckSum = -1;  // newchecksum; -1 = no checksum test
    std::wstring NewCustomVer;  // customversion
    std::wstring NewDate;       // date
    std::wstring NewTime;       // time
    std::wstring Description;   // descr
    std::wstring TargetDir;     // targetdir (expanded, with a trailing backslash when set)
    bool Compressed = false;    // compressed: any value but 0
    std::int32_t FileSize = 0;  // filesize
    bool Mandatory = false;     // mandatory: exactly 1
    bool Preselect = true;      // preselect: exactly 1 (default 1)
    bool Hidden = false;        // hidden: exactly 1
    bool Selected = false;      // not read from the file
    std::wstring Sha256;        // sha256: the file's pin, required by signed releases
    std::wstring Size;          // size: the file's exact length in bytes beside its pin
};

class TFileList {
public:
    std::size_t Count() const { return FItems.size(); }
    bool Empty() const { return FItems.empty(); }
    TFileDescription& operator[](std::size_t index) { return FItems.at(index); }
    const TFileDescription& operator[](std::size_t index) const { return FItems.at(index); }
    void Add(TFileDescription item) { FItems.push_back(std::move(item)); }
    void Delete(std::size_t index) { FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(index)); }
    void Clear() {
        FItems.clear();
        FActiveIndex = -1;
    }
    // The entry being fetched; -1 when none.
    int ActiveIndex() const { return FActiveIndex; }
    void SetActiveIndex(int index) { FActiveIndex = index; }

private:
    std::vector<TFileDescription> FItems;
    int FActiveIndex = -1;
};

// The engine's message table: the text for `ident`, "" for a number without message.
std::wstring StatusMessage(int ident);
// The text with `extra` in place of its "%s" (a text without "%s" ignores it).
std::wstring FormatStatusText(int ident, const std::wstring& extra);

class TWebUpdate {
public:
    // Status codes.
    enum : int {
        scProgressDetail = 0,
        scConnectionError = 1,
        scFileNotObtained = 2,
        scProgressStep = 3,
        scNoNewVersion = 4,
        scNewVersion = 5,
        scHttpStatus = 6,
        scHtmlDialog = 7,
        scCabError = 8,
        scInvalidSignature = 11,
        scWhatsNew = 12,
        scEula = 13,
        scWhatsNewRefused = 14,
        scDeleteRenameFailure = 19,
        scLengthMismatch = 20,
    };

    using TStatusEvent = std::function<void(TWebUpdate& Sender, const std::wstring& StatusStr,
                                            int StatusCode, int ErrCode)>;
    using TFileVersionCheckEvent = std::function<void(TWebUpdate& Sender, const std::wstring& NewVersion,
                                                      const std::wstring& LocalVersion, bool& IsNew)>;

    // The engine's own version, reported at the start of a run.
    static constexpr const wchar_t* Version = L"2.6.0.2";

    // Over the real file system and the system's folders.
    TWebUpdate();
    TWebUpdate(std::unique_ptr<TFileFacts> facts, TKnownFolders folders);

    TStatusEvent OnStatus;
    TFileVersionCheckEvent OnFileVersionCheck;

    // Reports message `ident` (text formatted with `extra`) to OnStatus.
    void DoStatus(int ident, const std::wstring& extra, int statusCode, int errCode);

    // The downloaded control file; every step opens it afresh. A missing file reads as empty.
    const std::wstring& ControlFile() const { return FControlFile; }
    void SetControlFile(const std::wstring& path) { FControlFile = path; }
    TIniFile ReadControlFile();

    // Path tokens over this engine's folders.
    std::wstring ExpandPrefixes(const std::wstring& text) const;
    // The engine's temporary folder, with its trailing backslash.
    std::wstring WinTempDir() const;

    // Reads the application section: the close flag, program, parameters, components.
    void ReadApplicationSection();
    bool AppUpdate() const { return FAppUpdate; }
    void SetAppUpdate(bool value) { FAppUpdate = value; }
    const std::wstring& AppName() const { return FAppName; }
    const std::wstring& AppParam() const { return FAppParam; }
    const std::wstring& AppComps() const { return FAppComps; }
    bool SilentRestart() const { return FSilentRestart; }

    // The global check on the update section: is the release an update?
    bool DoVersionCheck();
    // The last-write time a control file's date is compared with: UTC for a signed
    // release, local time otherwise.
    std::optional<TDateStamp> InstalledFileTime(const std::wstring& path);
    // Empties the file list and reads the file entries into it; answers their number.
    int GetFileDetails();
    // Drops the entries that need no fetching; 0, or -1 when none is left.
    int ProcessFileDetails();
    // Must `LocalFile` be replaced? Rewrites `NewVersion` into its four-number form when
    // versions are compared.
    bool CompareVersion(std::wstring& NewVersion, const std::wstring& LocalFile, std::int32_t NewCheckSum,
                        std::int32_t NewSize);

    TFileList& FileList() { return FFileList; }
    const std::wstring& Description() const { return FDescription; }
    const std::wstring& NewVersionText() const { return FNewVersionText; }
    const std::wstring& LocalVersionText() const { return FLocalVersionText; }

    // --- Transfers and installation ---

    using TFileProgressEvent = std::function<void(TWebUpdate& Sender, const std::wstring& FileName,
                                                  std::int64_t Pos, std::int64_t Size)>;
    using TProgressCancelEvent = std::function<void(TWebUpdate& Sender, bool& Cancel)>;
    using TFileDownloadedEvent = std::function<void(TWebUpdate& Sender, const std::wstring& FileName)>;
    TFileProgressEvent OnFileProgress;
    TProgressCancelEvent OnProgressCancel;
    TFileDownloadedEvent OnFileDownloaded;

    // Name of the update log; a bare name lives in the Documents folder.
    static constexpr const wchar_t* LogFileName = kUpdateLogFileName;

    // The session every request of a run uses (not owned).
    void SetSession(TInternetSession* session) { FSession = session; }
    TInternetSession* Session() const { return FSession; }

    // Fetches `url` into `folder` + its file name; true when the file now stands there. A
    // body announced longer than `limit` bytes is refused before it is read; any other
    // fails once it grows past `limit` or past its announced length. With a `pin`
    // (signed releases) the file is kept only when its SHA-256, taken as it streams to disk,
    // equals it; `pinMismatch` then tells a differing hash from a failed fetch.
    bool URLGetFile(TInternetSession& session, const std::wstring& url, const std::wstring& folder,
                    std::int64_t limit = kMaxBodyBytes, const TSha256Digest* pin = nullptr,
                    bool* pinMismatch = nullptr);
    // Fetches every entry of the file list, then installs them as a whole: each file is
    // staged (flushed to disk) beside its target and all are swapped in together; when a
    // fetch fails nothing is installed, and when a swap fails the files already swapped are
    // put back. A file is an application component, left for the updater, when its name
    // equals one of the `appcomps` list (without regard to case). 0, or -1 when a fetch or
    // the installation failed (the installed files are then as they were).
    int GetFileUpdates();
    // Unpacks the cabinet into a staging folder beside the target folder and moves the
    // files into place only when all of them came out whole; on any failure the target
    // folder is left as it was. 0 on success, -1 on failure.
    int ExtractCabinet(const std::wstring& cabinet, const std::wstring& targetFolder);
    // Expands an LZ file into the name stored in its header and deletes it; a file that is
    // not in LZ format is left as it was. True when the expanded file stands in place.
    bool ExpandLZFile(const std::wstring& path);
    // Reports a system error number (nothing for 0) with the session's text for it.
    void Error(TInternetSession& session, std::uint32_t error);
    // Appends one line to the update log, in the ANSI code page, ending in CR LF.
    void WriteLogLine(const std::wstring& line);
    std::wstring LogFilePath() const;

    // The time limits of every request of a run (kTransferLimits unless a test sets others).
    const TTransferLimits& TransferLimits() const { return FLimits; }
    void SetTransferLimits(const TTransferLimits& limits) { FLimits = limits; }
    // Gives the run in progress up at once, from a handler run while it waits (the
    // session ending): the transfer is aborted, its temporary file and the control file
    // are deleted, and the run ends without installing anything. No-op without a run or
    // a transfer.
    void Abandon();
    // The run is being given up: Abandon was called or the program is ending.
    bool Abandoned() const;

    bool Cancelled() const { return FCancelled; }
    void SetCancelled(bool value) { FCancelled = value; }
    bool ComponentsIncluded() const { return FComponentsIncluded; }
    void SetComponentsIncluded(bool value) { FComponentsIncluded = value; }
    // Overrides the current folder that LZ files are expanded in (the program folder during a run).
    void SetCurrentFolder(const std::wstring& folder) { FCurrentFolder = folder; }

    TFileFacts& Facts() { return *FFacts; }
    // The file system installations go through (not owned; null: the real one).
    void SetFileSystem(TUpdateFileSystem* files) { FFiles = files; }
    TUpdateFileSystem& Files() { return FFiles != nullptr ? *FFiles : SystemFileSystem(); }
    // The components this run fetched, by name.
    const std::vector<std::wstring>& FetchedComponents() const { return FFetchedComponents; }
    // The SHA-256 of each fetched component, in hex, in the order of FetchedComponents().
    const std::vector<std::wstring>& FetchedComponentHashes() const { return FFetchedComponentHashes; }
    // Deletes the copies of `appcomps` components in the temporary folder that this run
    // did not fetch: left by an earlier run, they must not reach the updater.
    void RemoveStaleComponents();
    const TKnownFolders& Folders() const { return FFolders; }

    // --- The update run ---

    // Settings this program fixes; the others are constants of the engine.
    static constexpr const wchar_t* Agent = L"TWebUpdate";
    static constexpr bool Logging = false;
    static constexpr bool AutoRestart = true;
    // Address of the control file (path tokens allowed).
    const std::wstring& URL() const { return FURL; }
    void SetURL(const std::wstring& value) { FURL = value; }

    using TAppRestartEvent = std::function<void(TWebUpdate& Sender, bool& Allow)>;
    using TNotifyEvent = std::function<void(TWebUpdate& Sender)>;
    TAppRestartEvent OnAppRestart;
    TNotifyEvent OnAppDoClose;
    TNotifyEvent OnSuccess;

    // The dialogs a run shows (not owned; null: the system's own).
    void SetDialogs(TUpdateDialogs* dialogs) { FDialogs = dialogs; }
    TUpdateDialogs& Dialogs();
    // The system services of a run (null: the system's own).
    void SetSystem(std::unique_ptr<TUpdateSystem> system) { FSystem = std::move(system); }
    TUpdateSystem& System();

    // One whole update run on the calling thread, with the program's folder as the
    // current folder; its network calls run on a worker while the calling thread keeps
    // processing its messages (TransferWorker.h). A run given up (Abandon, the program's
    // end) leaves by EAbort. Outcomes arrive as status messages and events. A run asked for
    // while one is going on (from a handler or a transfer's message processing) is
    // refused: both would share one session and one control file.
    void DoUpdate();
    bool Running() const { return FRunning; }
    // True when the machine is online: always for a control-file address on 127.0.0.1.
    bool Connected();
    // Opens the Internet session; false when there is no connection or it cannot be opened.
    bool StartConnection();
    // Closes the session and deletes the downloaded control file.
    void StopConnection();
    // Downloads the control file and reads its application section.
    bool GetControlFile();
    // The actions before the download; false when the run must stop.
    bool HandleActions();
    // The actions after the files.
    void UpdateActions();
    // The release notes, when the control file names them and they can be downloaded;
    // false when they were refused.
    bool WhatsNewDialog();
    // The agreement, downloaded when named; shown unless `skipShowing`; false when refused.
    bool EULADialog(bool skipShowing = false);
    // Asks the main window, writes out and starts the updater, then lets the program close.
    void DoRestart();
    // Writes the resource "UPD" out as "wusetup.cab", unpacks "upd.exe" into a folder of its
    // own made fresh under the temporary folder, and deletes the cabinet. True when
    // "upd.exe" stands there.
    bool ExtractUpdater();
    // The folder ExtractUpdater made, with its trailing backslash ("" before).
    const std::wstring& UpdaterFolder() const { return FUpdaterFolder; }
    // Deletes the folders that earlier restarts unpacked the updater into, once the updater
    // in them has ended; any other folder, or one holding anything else, stays.
    void RemoveOldUpdaterFolders();
    // The updater's parameter line.
    std::wstring UpdaterParameters();
    // The updater's settings file, "WUPDATE.INI" in the Documents folder.
    std::wstring UpdaterSettingsFile() const;
    // Opens a program or document through the shell (runbefore, runafter); failures are
    // not reported.
    void OpenProgram(const std::wstring& file, const std::wstring& parameters);
    bool InProgress() const { return FInProgress; }

    // --- Signed releases (WUpdateSigned.cpp) ---

    // The publisher's public key as PEM; "" for none. With a key, every run requires the
    // control file's signature, a release date not older than the newest accepted and a
    // sha256 pin on every file; a key that does not parse refuses every release.
    void SetReleaseKey(const std::string& pem);
    bool SignaturesRequired() const { return FSignaturesRequired; }
    // The cryptography (null: the system's own).
    void SetReleaseCrypto(std::unique_ptr<TReleaseCrypto> crypto) { FCrypto = std::move(crypto); }
    TReleaseCrypto& Crypto();
    // Where the newest accepted release date is kept between runs.
    TReleaseDateStore ReleaseDates;
    // The running program's version: a signed release of a lower `newversion` is refused
    // (nullopt: not known, not compared).
    std::optional<TVersionWords> RunningVersion;
    // The day the program was built: with no stored release date, a control file dated
    // before it offers nothing newer (nullopt: no floor).
    std::optional<TDateStamp> BuildDate;
    // The current time in UTC, against which `expires=` is read.
    std::function<TDateStamp()> Clock = UtcNow;
    // Fetches the control file's signature and checks it and the release date; reports
    // and answers false when the control file must not be used. On success the verified
    // bytes are what every later step reads.
    bool AcceptSignedControlFile();
    // The pin of a file entry of a signed release: its SHA-256 and, when the entry gives
    // one, its exact size; nullopt (reported) when it has no hash or a size that is not a
    // number.
    struct TFilePin {
        TSha256Digest Digest;
        std::optional<std::int64_t> Size;
    };
    std::optional<TFilePin> SignedFilePin(const TFileDescription& item);
    // Fetches `url` like URLGetFile and keeps it only when its SHA-256 equals the pin
    // (hashed as it streams to disk) and, with a pinned size, its length is that size (a
    // body announced or growing past it is refused at once); a file that differs is
    // deleted and reported.
    bool URLGetPinnedFile(TInternetSession& session, const std::wstring& url, const std::wstring& folder,
                          std::int64_t limit, const TFilePin& pin);
    // The pin of a document's section ([whatsnew], [eula]): its sha256= and size=; nullopt
    // when it has none or one that does not parse.
    static std::optional<TFilePin> DocumentPin(const TIniFile& ini, const std::wstring& section);
    // The file `path` names (runafter), when a signed release may start it: only a file of
    // the program's folder, named without any detour, that this run fetched with its pin
    // and whose bytes there match that pin now; nullopt otherwise.
    std::optional<std::wstring> FetchedPinnedProgram(const std::wstring& path);
    // "https://" (any case) followed by a host.
    static bool IsHttpsAddress(const std::wstring& url);

private:
    // Reports a status whose text is given whole.
    void DoStatusText(const std::wstring& text, int statusCode, int errCode);
    bool FSignaturesRequired = false;
    std::optional<TP256PublicKey> FReleaseKey;
    std::unique_ptr<TReleaseCrypto> FCrypto;
    // The control file's bytes once verified: later steps never read the file again.
    std::optional<std::vector<std::uint8_t>> FVerifiedControl;
    std::optional<TDateStamp> FNewestAccepted;
    // The files this run fetched with their pins: name and digest.
    std::vector<std::pair<std::wstring, TSha256Digest>> FPinnedFetched;

    // Quiet clean-up when a run is left by an exception: session closed, control file gone.
    void AbandonConnection();
    std::wstring FURL;
    TUpdateDialogs* FDialogs = nullptr;
    std::unique_ptr<TUpdateDialogs> FOwnDialogs;
    std::unique_ptr<TUpdateSystem> FSystem;
    std::unique_ptr<TInternetSession> FOwnSession;
    bool FInProgress = false;
    bool FRunning = false;

    std::unique_ptr<TFileFacts> FFacts;
    TKnownFolders FFolders;
    std::wstring FControlFile;
    TFileList FFileList;
    std::wstring FDescription;
    std::wstring FNewVersionText;
    std::wstring FLocalVersionText;
    bool FAppUpdate = false;
    std::wstring FAppName;
    std::wstring FAppParam;
    std::wstring FAppComps;
    bool FSilentRestart = false;
    TInternetSession* FSession = nullptr;
    bool FCancelled = false;
    bool FComponentsIncluded = false;
    std::wstring FCurrentFolder;
    TUpdateFileSystem* FFiles = nullptr;
    std::vector<std::wstring> FFetchedComponents;
    std::wstring FUpdaterFolder;

    // The jobs of URLGetFile: open the request and check its status (null, reported, on
    // failure); stream the body into the temporary file with its limits and hash; put the
    // fetched file in place of the target.
    struct TStreamOutcome {
        std::int64_t Total = 0;
        bool Failed = false;
        bool Cancelled = false;
        bool OverLimit = false;
        std::uint32_t ReadError = 0;
        std::optional<TSha256Digest> Digest;  // when hashing and the body was read whole
    };
    std::unique_ptr<TUrlRequest> OpenTransfer(TInternetSession& session, const std::wstring& url);
    TStreamOutcome StreamToFile(TUrlRequest& request, const std::wstring& tempFile, const std::wstring& target,
                                std::int64_t length, std::int64_t limit, bool hashing);
    bool CommitFetchedFile(const std::wstring& tempFile, const std::wstring& target);
    // The last URLGetFile refused its body for its length: announced or grown past its limit.
    bool FOverLimit = false;
    // Installation steps of GetFileUpdates.
    struct TInstallPlan;
    bool StageFile(const std::wstring& fetched, const std::wstring& target, TInstallPlan& plan);
    bool StageLZ(const std::wstring& path, const std::wstring& folder, TInstallPlan& plan);
    bool StageCabinet(const std::wstring& cabinet, const std::wstring& targetFolder, TInstallPlan& plan);
    bool CommitPlan(TInstallPlan& plan);
    void ClearPlan(TInstallPlan& plan, bool installed);
    bool IsComponent(const std::wstring& name) const;
    std::wstring FileSha256Hex(const std::wstring& path);
    std::vector<std::wstring> FFetchedComponentHashes;
    // Runs the installation's file work (hashing, LZ expansion, cabinet extraction,
    // copies and moves) on a worker while the main thread serves its messages and
    // hand-offs; statuses reported on the way are told on the main thread afterwards.
    // Runs `work` in place off the main thread.
    void RunFileWork(const std::function<void()>& work);
    struct TDeferredStatus {
        std::wstring Text;
        int Code;
        int Error;
    };
    std::atomic<std::thread::id> FFileWorker{};
    std::mutex FDeferredLock;
    std::vector<TDeferredStatus> FDeferred;
    void ReportMoveFailure(const std::wstring& from, const std::wstring& to);
    void RemoveLeftover(const std::wstring& path);
    // A folder of its own under `parent`, made fresh (named from `prefix`); "" on failure.
    std::wstring MakeFreshFolder(const std::wstring& parent, const std::wstring& prefix);
    TTransferLimits FLimits = kTransferLimits;
    bool FAbandoned = false;
    // The transfer in progress, for Abandon: its temporary file, open while it is written.
    std::wstring FTransferTemp;
    TWritableFile* FTransferOut = nullptr;
    TInternetSession* FTransferSession = nullptr;  // the session it uses (not owned)
};

