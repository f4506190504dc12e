#include "WUpdate.h"

#include <algorithm>

#include "MainThread.h"
#include "TextUtils.h"

namespace {

const std::wstring kUpdate = L"update";
const std::wstring kApplication = L"application";
const std::wstring kFiles = L"files";

}  // namespace

TWebUpdate::TWebUpdate() : TWebUpdate(MakeSystemFileFacts(), SystemKnownFolders()) {}

TWebUpdate::TWebUpdate(std::unique_ptr<TFileFacts> facts, TKnownFolders folders)
    : FFacts(std::move(facts)), FFolders(std::move(folders)) {}

void TWebUpdate::DoStatus(int ident, const std::wstring& extra, int statusCode, int errCode) {
    // Logging of status lines is off in this program; the update log only receives the
    // failure lines of the transfers.
    DoStatusText(FormatStatusText(ident, extra), statusCode, errCode);
}

void TWebUpdate::DoStatusText(const std::wstring& text, int statusCode, int errCode) {
    // Reported by the installation's worker: told on the main thread once its work is done.
    if (FFileWorker.load() == std::this_thread::get_id()) {
        const std::lock_guard<std::mutex> guard(FDeferredLock);
        FDeferred.push_back({text, statusCode, errCode});
        return;
    }
    if (OnStatus) OnStatus(*this, text, statusCode, errCode);
}

void TWebUpdate::RunFileWork(const std::function<void()>& work) {
    if (!MainThread::IsMainThread()) {
        work();
        return;
    }
    // The main thread carries every key press: it goes on serving its messages and
    // hand-offs while the files are worked on, and waits for the work to end even when the
    // program is asked to close meanwhile (the worker uses this engine's state).
    std::atomic<bool> done{false};
    std::exception_ptr failure;
    std::thread worker([&] {
        FFileWorker.store(std::this_thread::get_id());
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        FFileWorker.store(std::thread::id());
        done.store(true);
        MainThread::Wake();
    });
    try {
        while (!done.load() && !MainThread::QuitRequested())
            MainThread::ServeUntil([&] { return done.load(); }, std::chrono::hours(1));
    } catch (...) {
        // Never leave the worker running on this engine's state.
        MainThread::WaitFor(worker);
        throw;
    }
    MainThread::WaitFor(worker);
    std::vector<TDeferredStatus> deferred;
    {
        const std::lock_guard<std::mutex> guard(FDeferredLock);
        deferred.swap(FDeferred);
    }
    for (const TDeferredStatus& status : deferred) DoStatusText(status.Text, status.Code, status.Error);
    if (failure) std::rethrow_exception(failure);
}

TIniFile TWebUpdate::ReadControlFile() {
    // Signed release: only the bytes whose signature was checked.
    if (FVerifiedControl) return TIniFile::FromBytes(*FVerifiedControl);
    if (FControlFile.empty()) return {};
    auto bytes = ReadWholeFile(*FFacts, FControlFile, kMaxControlFileBytes);
    if (!bytes) return {};
    return TIniFile::FromBytes(*bytes);
}

std::wstring TWebUpdate::ExpandPrefixes(const std::wstring& text) const {
    return ::ExpandPrefixes(text, FFolders);
}

std::wstring TWebUpdate::WinTempDir() const {
    std::wstring folder = FFolders.Temp;
    if (folder.empty() || (folder.back() != L'\\' && folder.back() != L'/')) folder.push_back(L'\\');
    return folder;
}

void TWebUpdate::ReadApplicationSection() {
    const TIniFile ini = ReadControlFile();
    FAppUpdate = ini.ReadInteger(kApplication, L"appupdate", 0) == 1;
    FAppName = ExpandPrefixes(ini.ReadString(kApplication, L"appname"));
    FAppParam = ini.ReadString(kApplication, L"appparam");
    if (FAppName.empty()) FAppUpdate = false;
    if (FAppParam.empty()) FAppParam = L" ";
    FAppComps = ExpandPrefixes(ini.ReadString(kApplication, L"appcomps"));
    FSilentRestart = ini.ReadInteger(kApplication, L"silentrestart", 0) == 1;
}

bool TWebUpdate::CompareVersion(std::wstring& NewVersion, const std::wstring& LocalFile, std::int32_t NewCheckSum,
                                std::int32_t NewSize) {
    DoStatus(979, {}, scProgressStep, 0);
    if (NewVersion.empty() && NewSize == 0 && NewCheckSum == -1) return true;
    if (LocalFile.empty()) return true;
    // Only files that are installed are updated.
    if (!FFacts->FileExists(LocalFile)) return false;

    if (NewCheckSum != -1) {
        const std::int32_t local = FileChecksum(*FFacts, LocalFile);
        // A total of 0 counts as a match.
        const bool differs = local != 0 && local != NewCheckSum;
        DoStatus(944,
                 L"Checksum compare of " + LocalFile + L":" + std::to_wstring(local) + L":" +
                     std::to_wstring(NewCheckSum),
                 scProgressStep, 0);
        return differs;
    }

    if (NewSize > 0) {
        // The whole size: a file beyond 4 GiB must not pass for a small one.
        const std::int64_t local = FFacts->FileSize(LocalFile);
        return local > 0 && local != NewSize;
    }

    const std::optional<TVersionWords> localVersion = FFacts->FileVersion(LocalFile);
    const std::optional<TVersionWords> newVersion = ParseVersionString(NewVersion);
    const std::wstring localText = VersionToString(localVersion.value_or(TVersionWords{}));
    const std::wstring newText = VersionToString(newVersion.value_or(TVersionWords{}));
    DoStatus(944, L"Version compare of " + LocalFile + L":" + localText + L" with " + NewVersion + L":" + newText,
             scProgressStep, 0);
    FLocalVersionText = localText;
    if (!localVersion || !newVersion) return false;
    NewVersion = newText;
    // Both words are unsigned: major or build numbers of 32768 and above are still newer.
    return *newVersion > *localVersion;
}

std::optional<TDateStamp> TWebUpdate::InstalledFileTime(const std::wstring& path) {
    // A signed control file is dated in UTC (scripts/publish-update writes it so): its
    // files are compared in UTC too, whatever the machine's time zone. Without a key, the
    // local time, as control files have always been written.
    return FSignaturesRequired ? FFacts->LastWriteTimeUtc(path) : FFacts->LastWriteTime(path);
}

bool TWebUpdate::DoVersionCheck() {
    const TIniFile ini = ReadControlFile();
    FDescription = ExpandNewlines(ini.ReadString(kUpdate, L"descr"));
    bool update = false;

    const std::wstring date = ini.ReadString(kUpdate, L"date");
    if (!date.empty()) {
        DoStatus(928, {}, scProgressStep, 0);
        const TDateStamp newDate = ParseControlDate(date, ini.ReadString(kUpdate, L"time"));
        const std::wstring localFile = ExpandPrefixes(ini.ReadString(kUpdate, L"localversion"));
        const TDateStamp localDate = InstalledFileTime(localFile).value_or(kNoDate);
        if (localDate < newDate) {
            DoStatus(929, FormatShortDate(newDate), scNewVersion, 0);
            return true;
        }
        DoStatus(930, {}, scNoNewVersion, 0);
    }

    if (!ini.ReadString(kUpdate, L"unconditional").empty()) return true;

    FNewVersionText = ini.ReadString(kUpdate, L"newversion");
    const std::int32_t newSize = ini.ReadInteger(kUpdate, L"newsize", 0);
    const std::wstring localFile = ExpandPrefixes(ini.ReadString(kUpdate, L"localversion"));
    const std::int32_t newChecksum = ini.ReadInteger(kUpdate, L"newchecksum", -1);
    const bool conditionGiven = !FNewVersionText.empty() || newSize != 0 || newChecksum != -1;
    if (conditionGiven && !localFile.empty()) {
        if (newChecksum != -1)
            DoStatus(931, {}, scProgressStep, 0);
        else if (newSize <= 0)
            DoStatus(933, {}, scProgressStep, 0);
        else
            DoStatus(932, {}, scProgressStep, 0);
        if (CompareVersion(FNewVersionText, localFile, newChecksum, newSize)) {
            DoStatus(929, FNewVersionText, scNewVersion, 0);
            update = true;
        } else {
            DoStatus(930, {}, scNoNewVersion, 0);
        }
    }
    return update;
}

int TWebUpdate::GetFileDetails() {
    FFileList.Clear();
    const TIniFile ini = ReadControlFile();
    const std::int32_t count = ini.ReadInteger(kFiles, L"count", 0);
    if (count <= 0) return 0;
    DoStatus(943, {}, scProgressStep, 0);
    // Every real entry has a section of its own: a count beyond the number of sections in
    // the file can only add empty entries, and an absurd count would exhaust memory.
    const std::size_t entries = std::min<std::size_t>(static_cast<std::size_t>(count), ini.SectionCount());
    for (std::size_t i = 1; i <= entries; ++i) {
        const std::wstring section = L"file" + std::to_wstring(i);
        TFileDescription item;
        item.URL = ExpandPrefixes(ini.ReadString(section, L"url"));
        item.LocalVersion = ExpandPrefixes(ini.ReadString(section, L"localversion"));
        item.NewVersion = ini.ReadString(section, L"newversion");
        item.NewSize = ini.ReadInteger(section, L"newsize", 0);
        item.NewCheckSum = ini.ReadInteger(section, L"newchecksum", -1);
        item.NewCustomVer = ini.ReadString(section, L"customversion");
        item.NewDate = ini.ReadString(section, L"date");
        item.NewTime = ini.ReadString(section, L"time");
        item.Description = ini.ReadString(section, L"descr");
        item.TargetDir = ExpandPrefixes(ini.ReadString(section, L"targetdir"));
        if (!item.TargetDir.empty() && item.TargetDir.back() != L'\\') item.TargetDir.push_back(L'\\');
        item.Compressed = ini.ReadInteger(section, L"compressed", 0) != 0;
        item.FileSize = ini.ReadInteger(section, L"filesize", 0);
        item.Mandatory = ini.ReadInteger(section, L"mandatory", 0) == 1;
        item.Preselect = ini.ReadInteger(section, L"preselect", 1) == 1;
        item.Hidden = ini.ReadInteger(section, L"hidden", 0) == 1;
        item.Sha256 = ini.ReadString(section, L"sha256");
        item.Size = ini.ReadString(section, L"size");
        FFileList.Add(std::move(item));
    }
    return static_cast<int>(FFileList.Count());
}

int TWebUpdate::ProcessFileDetails() {
    std::size_t i = 0;
    while (i < FFileList.Count()) {
        TFileDescription& item = FFileList[i];
        DoStatus(971,
                 URLtoFile(item.URL) + L"[" + item.LocalVersion + L",nv=" + item.NewVersion + L",nd=" +
                     item.NewDate + L",ns=" + std::to_wstring(item.NewSize) + L",nc=" +
                     std::to_wstring(item.NewCheckSum) + L"]",
                 scProgressDetail, 0);

        bool keep;
        if (!item.LocalVersion.empty() && !item.NewDate.empty()) {
            const std::optional<TDateStamp> local = InstalledFileTime(item.LocalVersion);
            keep = !(local && *local >= ParseControlDate(item.NewDate, item.NewTime));
        } else {
            keep = CompareVersion(item.NewVersion, item.LocalVersion, item.NewCheckSum, item.NewSize);
            if (!keep) {
                DoStatus(930, {}, scProgressDetail, 0);
            } else if (!item.NewCustomVer.empty() && OnFileVersionCheck) {
                bool isNew = true;
                OnFileVersionCheck(*this, item.NewCustomVer, item.LocalVersion, isNew);
                keep = isNew;
            }
        }
        if (keep)
            ++i;
        else
            FFileList.Delete(i);
    }
    return FFileList.Empty() ? -1 : 0;
}
