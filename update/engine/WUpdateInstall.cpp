// Installing fetched release files: each one staged beside its target and swapped in
// with one move, cabinets unpacked aside and moved in whole; a failure leaves the
// installed files as they were and is reported.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "TextUtils.h"
#include "UpdateFiles.h"
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
    if (path.empty() || !Files().FileExists(path) || Files().RemoveFile(path)) return;
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
        // A running updater holds its program: the folder then stays for a later run.
        for (const wchar_t* file : {L"upd.exe", L"wusetup.cab"}) {
            const std::wstring path = WithSeparator(folder) + file;
            if (Files().FileExists(path)) Files().RemoveFile(path);
        }
        Files().RemoveFolder(folder);
    }
}

bool TWebUpdate::PlaceFile(const std::wstring& fetched, const std::wstring& target) {
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
    if (!files.ReplaceFile(staged, target)) {
        ReportMoveFailure(staged, target);
        RemoveLeftover(staged);
        return false;
    }
    return true;
}

bool TWebUpdate::ExpandLZInto(const std::wstring& path, const std::wstring& folder) {
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
    if (!expanded || !files.ReplaceFile(staged, target)) {
        ReportMoveFailure(staged, target);
        RemoveLeftover(staged);
        return false;
    }
    if (AsciiUpper(path) != AsciiUpper(target)) RemoveLeftover(path);
    return true;
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
    return ExpandLZInto(path, FolderOfPath(path));
}

int TWebUpdate::ExtractCabinet(const std::wstring& cabinet, const std::wstring& targetFolder) {
    TUpdateFileSystem& files = Files();
    const std::wstring folder =
        WithSeparator(targetFolder.empty() ? (FCurrentFolder.empty() ? UpdateFiles::CurrentFolder() : FCurrentFolder)
                                           : targetFolder);
    if (!files.ForceDirectories(folder)) return -1;
    const std::wstring staging = MakeFreshFolder(folder, L"WUPD");
    if (staging.empty()) return -1;

    std::vector<std::wstring> written;
    bool ok = ExtractCabinetFiles(cabinet, staging, files, kMaxCabinetOutputBytes, written);
    // An entry written twice is one file.
    std::vector<std::wstring> entries;
    for (const std::wstring& entry : written) {
        const bool seen = std::any_of(entries.begin(), entries.end(),
                                      [&](const std::wstring& e) { return AsciiUpper(e) == AsciiUpper(entry); });
        if (!seen) entries.push_back(entry);
    }

    std::vector<std::wstring> madeFolders;
    if (ok) {
        std::vector<TSwapItem> items;
        for (const std::wstring& entry : entries) {
            for (const std::wstring& sub : SubFolders(entry)) {
                if (files.FolderExists(folder + sub)) continue;
                if (!files.CreateFolder(folder + sub)) {
                    ok = false;
                    break;
                }
                madeFolders.push_back(folder + sub);
            }
            if (!ok) break;
            items.push_back({staging + entry, folder + entry});
        }
        if (ok) {
            const TSwapResult swap = SwapInFiles(files, items, L"WUPD");
            ok = swap.Ok;
            if (!ok) WriteLogLine(swap.Failure);
            for (const std::wstring& leftover : swap.Leftovers) RemoveLeftover(leftover);
        }
        if (!ok)
            for (auto it = madeFolders.rbegin(); it != madeFolders.rend(); ++it) files.RemoveFolder(*it);
    }

    // The staging folder goes, with whatever is still in it.
    std::vector<std::wstring> stagingFolders;
    for (const std::wstring& entry : entries) {
        RemoveLeftover(staging + entry);
        for (const std::wstring& sub : SubFolders(entry))
            if (std::find(stagingFolders.begin(), stagingFolders.end(), sub) == stagingFolders.end())
                stagingFolders.push_back(sub);
    }
    std::sort(stagingFolders.begin(), stagingFolders.end(),
              [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    for (const std::wstring& sub : stagingFolders) files.RemoveFolder(staging + sub);
    if (!files.RemoveFolder(staging)) WriteLogLine(L"Unable to delete folder " + staging);
    return ok ? 0 : -1;
}

int TWebUpdate::GetFileUpdates() {
    int result = 0;
    FFetchedComponents.clear();
    const std::wstring temp = WinTempDir();
    const std::size_t count = FFileList.Count();
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
        const std::wstring fetched = temp + name;
        const std::wstring extension = UpperExtension(name);
        if (AsciiUpper(FAppComps).find(AsciiUpper(name)) != std::wstring::npos) {
            // Only the updater may replace a file of the running program.
            FComponentsIncluded = true;
            FFetchedComponents.push_back(name);
            DoStatus(962, name, scProgressDetail, 0);
            continue;
        }

        bool installed = true;
        const bool cabinet = extension == L".CAB";
        if (item.Compressed && !cabinet) {
            // An LZ file is expanded where it is installed: its target folder when it has
            // one, else the current folder (the program folder during a run). A file that
            // is not LZ data is put there as it was fetched.
            std::wstring folder = item.TargetDir;
            if (folder.empty()) folder = FCurrentFolder.empty() ? UpdateFiles::CurrentFolder() : FCurrentFolder;
            folder = WithSeparator(folder);
            std::uint8_t header[14] = {};
            {
                std::ifstream in(FsPath(fetched), std::ios::binary);
                in.read(reinterpret_cast<char*>(header), sizeof header);
                if (in.gcount() != static_cast<std::streamsize>(sizeof header)) header[0] = 0;
            }
            if (IsLZHeader(header, sizeof header))
                installed = ExpandLZInto(fetched, folder);
            else if (AsciiUpper(folder + name) != AsciiUpper(fetched))
                installed = PlaceFile(fetched, folder + name);
        } else if (!cabinet && extension != L".PAT" && extension != L".ZIP" && !item.TargetDir.empty()) {
            const std::wstring placed = item.TargetDir + name;
            if (AsciiUpper(placed) != AsciiUpper(fetched)) installed = PlaceFile(fetched, placed);
        } else if (cabinet && item.Compressed) {
            if (ExtractCabinet(fetched, item.TargetDir) != 0) {
                DoStatus(947, fetched, scCabError, 0);
                installed = false;
            } else {
                RemoveLeftover(fetched);
            }
        }
        if (!installed) {
            // A file that could not be put in place is a failed file: no restart follows.
            FAppUpdate = false;
            result = -1;
        }
    }
    FFileList.SetActiveIndex(-1);
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
