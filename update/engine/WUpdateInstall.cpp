// Installing fetched release files: each one staged beside its target and swapped in
// with one move, cabinets unpacked aside and moved in whole; a failure leaves the
// installed files as they were and is reported.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "TextUtils.h"
#include "UpdateFileSystem.h"
#include "SignedRelease.h"
#include "UpdateArchives.h"
#include "WUpdate.h"

namespace {

// Paths of this build use this separator between folders.
constexpr wchar_t kSeparator = sizeof(wchar_t) == 2 ? L'\\' : L'/';

std::wstring UpperExtension(const std::wstring& name) {
    const std::size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? std::wstring() : AsciiUpper(name.substr(dot));
}

std::wstring WithSeparator(std::wstring folder) {
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder.push_back(kSeparator);
    return folder;
}

std::wstring FileNameOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// The sub-folders of a relative path, outermost first ("a\b\c.txt": "a", "a\b").
std::vector<std::wstring> SubFolders(const std::wstring& relative) {
    std::vector<std::wstring> folders;
    for (std::size_t at = relative.find_first_of(L"\\/"); at != std::wstring::npos;
         at = relative.find_first_of(L"\\/", at + 1))
        folders.push_back(relative.substr(0, at));
    return folders;
}

// The names of the component list: separated by blanks, commas or semicolons, possibly
// quoted; only the file name of each counts, as for the updater.
std::vector<std::wstring> ComponentNames(const std::wstring& list) {
    std::vector<std::wstring> names;
    std::wstring name;
    auto flush = [&] {
        name = FileNameOf(name);
        if (!name.empty()) names.push_back(name);
        name.clear();
    };
    for (wchar_t c : list) {
        if (c == L'"') continue;
        if (c == L' ' || c == L'\t' || c == L',' || c == L';')
            flush();
        else
            name.push_back(c);
    }
    flush();
    return names;
}

}  // namespace

void TWebUpdate::ReportMoveFailure(const std::wstring& from, const std::wstring& to) {
    DoStatus(973, from + L" to " + to, scDeleteRenameFailure, 7);
    WriteLogLine(L"Unable to rename file " + from + L" to " + to);
}

void TWebUpdate::RemoveLeftover(const std::wstring& path) {
    if (path.empty() || !Files().FileExists(path) || Files().DiscardFile(path)) return;
    DoStatus(972, path, scDeleteRenameFailure, 6);
    WriteLogLine(L"Unable to delete file " + path);
}

std::wstring TWebUpdate::MakeFreshFolder(const std::wstring& parent, const std::wstring& prefix) {
    static unsigned counter = 0;
    const auto seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        wchar_t tag[16];
        swprintf(tag, 16, L"%08X", (seed + ++counter * 2654435761u) & 0xFFFFFFFFu);
        const std::wstring folder = WithSeparator(parent) + prefix + L"-" + tag;
        // Made here and now, or not used: a folder that already exists may be anyone's.
        if (Files().CreateFolder(folder)) return WithSeparator(folder);
        if (!Files().FolderExists(WithSeparator(parent))) return {};
    }
    return {};
}

void TWebUpdate::RemoveOldUpdaterFolders() {
    const std::wstring prefix = L"LumetraUpd-";
    std::vector<std::wstring> folders;
    std::error_code error;
    for (std::filesystem::directory_iterator it(FsPath(WinTempDir()), error), end; !error && it != end;
         it.increment(error)) {
        const std::filesystem::path file = it->path().filename();
        std::wstring name;
        if constexpr (sizeof(wchar_t) == 2)
            name = file.wstring();
        else
            name = Utf8ToWide(file.string());
        if (name.size() == prefix.size() + 8 && name.rfind(prefix, 0) == 0 && it->is_directory(error))
            folders.push_back(WinTempDir() + name);
    }
    for (const std::wstring& folder : folders) {
        // A junction or link in our name is never followed: the link goes, what it points
        // to stays untouched.
        if (Files().IsLink(folder)) {
            Files().RemoveFolder(folder);
            continue;
        }
        // A running updater holds its program: the folder then stays for a later run.
        for (const wchar_t* file : {L"upd.exe", L"wusetup.cab"}) {
            const std::wstring path = WithSeparator(folder) + file;
            if (Files().FileExists(path)) Files().RemoveFile(path);
        }
        Files().RemoveFolder(folder);
    }
}

// What an installation has staged beside the installed files before any of them is
// touched, and what it must clear away afterwards.
struct TWebUpdate::TInstallPlan {
    std::vector<TSwapItem> Items;
    // Cabinets unpacked aside: the staging folder and the entries written into it.
    struct TStaging {
        std::wstring Folder;
        std::vector<std::wstring> Entries;
    };
    std::vector<TStaging> Stagings;
    // Sub-folders of the targets made for this installation, outermost first.
    std::vector<std::wstring> MadeFolders;
    // Fetched files that go once the installation stands (cabinets, LZ files).
    std::vector<std::wstring> Consumed;
};

bool TWebUpdate::StageFile(const std::wstring& fetched, const std::wstring& target, TInstallPlan& plan) {
    TUpdateFileSystem& files = Files();
    // Staged beside the target, so that the swap is a rename within one folder.
    const std::wstring staged = files.CreateTempFile(FolderOfPath(target), L"WUPD");
    if (staged.empty()) {
        ReportMoveFailure(fetched, target);
        return false;
    }
    if (!files.ReplaceFile(fetched, staged)) {
        ReportMoveFailure(fetched, staged);
        RemoveLeftover(staged);
        return false;
    }
    plan.Items.push_back({staged, target});
    return true;
}

bool TWebUpdate::StageLZ(const std::wstring& path, const std::wstring& folder, TInstallPlan& plan) {
    const std::wstring name = FileNameOf(LZExpandedName(path));
    if (!IsUsableFileName(name)) return false;
    const std::wstring target = WithSeparator(folder) + name;
    TUpdateFileSystem& files = Files();
    // Expanded beside the target first: the installed file goes only once the new one is whole.
    const std::wstring staged = files.CreateTempFile(WithSeparator(folder), L"WUPD");
    if (staged.empty()) {
        ReportMoveFailure(path, target);
        return false;
    }
    bool expanded = false;
    if (std::unique_ptr<TWritableFile> out = files.OpenWrite(staged)) {
        const bool wrote = ExpandLZ(path, *out, kMaxCabinetOutputBytes);
        expanded = out->Close() && wrote;
    }
    if (!expanded) {
        ReportMoveFailure(staged, target);
        RemoveLeftover(staged);
        return false;
    }
    plan.Items.push_back({staged, target});
    if (AsciiUpper(path) != AsciiUpper(target)) plan.Consumed.push_back(path);
    return true;
}

bool TWebUpdate::StageCabinet(const std::wstring& cabinet, const std::wstring& targetFolder, TInstallPlan& plan) {
    TUpdateFileSystem& files = Files();
    const std::wstring folder =
        WithSeparator(targetFolder.empty() ? (FCurrentFolder.empty() ? files.CurrentFolder() : FCurrentFolder)
                                           : targetFolder);
    if (!files.ForceDirectories(folder)) return false;
    const std::wstring staging = MakeFreshFolder(folder, L"WUPD");
    if (staging.empty()) return false;

    std::vector<std::wstring> written;
    bool ok = ExtractCabinetFiles(cabinet, staging, files, kMaxCabinetOutputBytes, written);
    // An entry written twice is one file.
    TInstallPlan::TStaging unpacked{staging, {}};
    for (const std::wstring& entry : written) {
        const bool seen = std::any_of(unpacked.Entries.begin(), unpacked.Entries.end(),
                                      [&](const std::wstring& e) { return AsciiUpper(e) == AsciiUpper(entry); });
        if (!seen) unpacked.Entries.push_back(entry);
    }
    plan.Stagings.push_back(unpacked);
    if (!ok) return false;

    for (const std::wstring& entry : unpacked.Entries) {
        for (const std::wstring& sub : SubFolders(entry)) {
            if (files.FolderExists(folder + sub)) continue;
            if (!files.CreateFolder(folder + sub)) return false;
            plan.MadeFolders.push_back(folder + sub);
        }
        plan.Items.push_back({staging + entry, folder + entry});
    }
    return true;
}

bool TWebUpdate::CommitPlan(TInstallPlan& plan) {
    if (plan.Items.empty()) return true;
    const TSwapResult swap = SwapInFiles(Files(), plan.Items, L"WUPD");
    if (!swap.Ok) {
        ReportMoveFailure(swap.FailedFrom, swap.FailedTo);
        WriteLogLine(swap.Failure);
    }
    for (const std::wstring& leftover : swap.Leftovers) RemoveLeftover(leftover);
    return swap.Ok;
}

void TWebUpdate::ClearPlan(TInstallPlan& plan, bool installed) {
    TUpdateFileSystem& files = Files();
    // What was staged and not swapped in goes; so do the staging folders.
    for (const TSwapItem& item : plan.Items) RemoveLeftover(item.Staged);
    for (const TInstallPlan::TStaging& staging : plan.Stagings) {
        std::vector<std::wstring> subFolders;
        for (const std::wstring& entry : staging.Entries) {
            RemoveLeftover(staging.Folder + entry);
            for (const std::wstring& sub : SubFolders(entry))
                if (std::find(subFolders.begin(), subFolders.end(), sub) == subFolders.end())
                    subFolders.push_back(sub);
        }
        std::sort(subFolders.begin(), subFolders.end(),
                  [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
        for (const std::wstring& sub : subFolders) files.RemoveFolder(staging.Folder + sub);
        if (!files.RemoveFolder(staging.Folder)) WriteLogLine(L"Unable to delete folder " + staging.Folder);
    }
    if (!installed) {
        for (auto it = plan.MadeFolders.rbegin(); it != plan.MadeFolders.rend(); ++it) files.RemoveFolder(*it);
        return;
    }
    for (const std::wstring& path : plan.Consumed) RemoveLeftover(path);
}

bool TWebUpdate::ExpandLZFile(const std::wstring& path) {
    std::uint8_t header[14] = {};
    {
        std::ifstream in(FsPath(path), std::ios::binary);
        if (!in) return false;
        in.read(reinterpret_cast<char*>(header), sizeof header);
        if (in.gcount() != static_cast<std::streamsize>(sizeof header)) return false;
    }
    // A file that is not LZ data is left exactly as it was fetched.
    if (!IsLZHeader(header, sizeof header)) return false;
    bool installed = false;
    RunFileWork([&] {
        TInstallPlan plan;
        installed = StageLZ(path, FolderOfPath(path), plan) && CommitPlan(plan);
        ClearPlan(plan, installed);
    });
    return installed;
}

int TWebUpdate::ExtractCabinet(const std::wstring& cabinet, const std::wstring& targetFolder) {
    bool installed = false;
    RunFileWork([&] {
        TInstallPlan plan;
        installed = StageCabinet(cabinet, targetFolder, plan) && CommitPlan(plan);
        ClearPlan(plan, installed);
    });
    return installed ? 0 : -1;
}

bool TWebUpdate::IsComponent(const std::wstring& name) const {
    const std::vector<std::wstring> names = ComponentNames(FAppComps);
    return std::any_of(names.begin(), names.end(),
                       [&](const std::wstring& component) { return AsciiUpper(component) == AsciiUpper(name); });
}

std::wstring TWebUpdate::FileSha256Hex(const std::wstring& path) {
    std::unique_ptr<TSha256> hash = Crypto().NewSha256();
    if (!hash) return {};
    std::ifstream in(FsPath(path), std::ios::binary);
    if (!in) return {};
    std::vector<char> buffer(64 * 1024);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        if (in.gcount() > 0) hash->Add(reinterpret_cast<const std::uint8_t*>(buffer.data()),
                                       static_cast<std::size_t>(in.gcount()));
    }
    if (!in.eof()) return {};
    const std::optional<TSha256Digest> digest = hash->Finish();
    return digest ? Sha256Hex(*digest) : std::wstring();
}

int TWebUpdate::GetFileUpdates() {
    int result = 0;
    FFetchedComponents.clear();
    FFetchedComponentHashes.clear();
    const std::wstring temp = WinTempDir();
    const std::size_t count = FFileList.Count();
    // Every entry is fetched and checked before anything installed is touched.
    std::vector<TFileDescription> fetchedFiles;
    for (std::size_t i = 0; i < count; ++i) {
        FFileList.SetActiveIndex(static_cast<int>(i));
        // A copy: handlers called on the way may touch the list.
        const TFileDescription item = FFileList[i];
        if (!item.TargetDir.empty() && !Files().FolderExists(item.TargetDir)) Files().ForceDirectories(item.TargetDir);

        // A body sent without its length may not grow past the size the entry gives.
        const std::int64_t limit = item.FileSize > 0  ? item.FileSize
                                   : item.NewSize > 0 ? item.NewSize
                                                      : kMaxBodyBytes;
        bool obtained = false;
        if (FSignaturesRequired) {
            // Signed releases: a file without its pin, or whose bytes differ from it, fails
            // like one that cannot be fetched; the signed-release steps report it.
            const std::optional<TFilePin> pin = SignedFilePin(item);
            obtained = pin && FSession != nullptr && URLGetPinnedFile(*FSession, item.URL, temp, limit, *pin);
        } else {
            obtained = FSession != nullptr && URLGetFile(*FSession, item.URL, temp, limit);
            if (!obtained) DoStatus(946, item.URL, scFileNotObtained, 9);
        }
        if (!obtained) {
            FAppUpdate = false;
            result = -1;
            continue;
        }

        const std::wstring name = URLtoFile(item.URL);
        if (IsComponent(name)) {
            // Only the updater may replace a file of the running program; it checks the
            // copy against the hash taken here before it swaps anything.
            std::wstring hash;
            RunFileWork([&] { hash = FileSha256Hex(temp + name); });
            if (hash.empty()) {
                DoStatus(946, item.URL, scFileNotObtained, 9);
                FAppUpdate = false;
                result = -1;
                continue;
            }
            FComponentsIncluded = true;
            FFetchedComponents.push_back(name);
            FFetchedComponentHashes.push_back(hash);
            DoStatus(962, name, scProgressDetail, 0);
            continue;
        }
        fetchedFiles.push_back(item);
    }
    FFileList.SetActiveIndex(-1);
    if (result != 0) {
        // A release is installed whole or not at all.
        WriteLogLine(L"Release not installed: not every file could be fetched");
        return result;
    }

    bool installed = false;
    // Off the main thread: presses go on while a large release is unpacked.
    RunFileWork([&] {
        TInstallPlan plan;
        bool staged = true;
        for (const TFileDescription& item : fetchedFiles) {
            const std::wstring name = URLtoFile(item.URL);
            const std::wstring fetched = temp + name;
            const std::wstring extension = UpperExtension(name);
            const bool cabinet = extension == L".CAB";
            if (item.Compressed && !cabinet) {
                // An LZ file is expanded where it is installed: its target folder when it has
                // one, else the current folder (the program folder during a run). A file that
                // is not LZ data is put there as it was fetched.
                std::wstring folder = item.TargetDir;
                if (folder.empty()) folder = FCurrentFolder.empty() ? Files().CurrentFolder() : FCurrentFolder;
                folder = WithSeparator(folder);
                std::uint8_t header[14] = {};
                {
                    std::ifstream in(FsPath(fetched), std::ios::binary);
                    in.read(reinterpret_cast<char*>(header), sizeof header);
                    if (in.gcount() != static_cast<std::streamsize>(sizeof header)) header[0] = 0;
                }
                if (IsLZHeader(header, sizeof header))
                    staged = StageLZ(fetched, folder, plan);
                else if (AsciiUpper(folder + name) != AsciiUpper(fetched))
                    staged = StageFile(fetched, folder + name, plan);
            } else if (!cabinet && extension != L".PAT" && extension != L".ZIP" && !item.TargetDir.empty()) {
                const std::wstring placed = item.TargetDir + name;
                if (AsciiUpper(placed) != AsciiUpper(fetched)) staged = StageFile(fetched, placed, plan);
            } else if (cabinet && item.Compressed) {
                staged = StageCabinet(fetched, item.TargetDir, plan);
                if (staged)
                    plan.Consumed.push_back(fetched);
                else
                    DoStatus(947, fetched, scCabError, 0);
            }
            if (!staged) break;
        }
        installed = staged && CommitPlan(plan);
        ClearPlan(plan, installed);
    });
    if (!installed) {
        // Nothing of the release was put in place: no restart follows.
        WriteLogLine(L"Release not installed: every file put back");
        FAppUpdate = false;
        result = -1;
    }
    return result;
}

void TWebUpdate::RemoveStaleComponents() {
    const std::wstring temp = WinTempDir();
    for (const std::wstring& name : ComponentNames(FAppComps)) {
        const bool fetched = std::any_of(FFetchedComponents.begin(), FFetchedComponents.end(),
                                         [&](const std::wstring& f) { return AsciiUpper(f) == AsciiUpper(name); });
        if (!fetched && IsUsableFileName(name)) RemoveLeftover(temp + name);
    }
}
