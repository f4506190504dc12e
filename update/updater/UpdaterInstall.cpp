#include "UpdaterInstall.h"

#include <algorithm>

#include "TextUtils.h"

bool InstallComponents(TUpdateFileSystem& fs, const std::wstring& tempFolder, const std::wstring& folder,
                       const std::vector<std::wstring>& names, const TUpdaterLogLine& log,
                       const TRetryPolicy& retry) {
    std::vector<std::wstring> unique;
    for (const std::wstring& name : names)
        if (std::none_of(unique.begin(), unique.end(),
                         [&](const std::wstring& u) { return AsciiUpper(u) == AsciiUpper(name); }))
            unique.push_back(name);

    bool ok = true;
    for (const std::wstring& name : unique) {
        if (!IsUsableFileName(name)) {
            log(L"Bad component name : " + name);
            ok = false;
        } else if (!fs.FileExists(tempFolder + name)) {
            log(L"Component not found : " + tempFolder + name);
            ok = false;
        }
    }

    // Every copy beside its target, on disk, before any old file is touched.
    std::vector<TSwapItem> items;
    for (std::size_t i = 0; ok && i < unique.size(); ++i) {
        const std::wstring source = tempFolder + unique[i];
        const std::wstring beside = fs.CreateTempFile(folder, L"UPD");
        if (beside.empty()) {
            log(L"Cannot write into : " + folder);
            ok = false;
            break;
        }
        items.push_back({beside, folder + unique[i]});
        if (!fs.CopyFlushed(source, beside)) {
            log(L"Cannot copy " + source + L" to " + beside);
            ok = false;
        }
    }

    if (ok) {
        const TSwapResult swap = SwapInFiles(fs, items, L"UPD", retry);
        ok = swap.Ok;
        if (!ok) log(swap.Failure + L": every file put back, nothing replaced");
        for (const std::wstring& leftover : swap.Leftovers) log(L"Unable to delete file " + leftover);
    } else {
        log(L"Nothing replaced");
    }

    for (const TSwapItem& item : items)
        if (fs.FileExists(item.Staged) && !fs.RemoveFile(item.Staged)) log(L"Unable to delete file " + item.Staged);
    if (!ok) return false;
    for (const TSwapItem& item : items) log(L"Replaced : " + item.Target);
    for (const std::wstring& name : unique)
        if (!fs.RemoveFile(tempFolder + name)) log(L"Unable to delete file " + tempFolder + name);
    return true;
}
