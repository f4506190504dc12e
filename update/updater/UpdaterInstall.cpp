#include "UpdaterInstall.h"

#include <algorithm>

#include "TextUtils.h"

namespace {

// Copies what `in` holds from its start into `out`; false when a read or write fails.
bool CopyInto(TReadableFile& in, TWritableFile& out) {
    static thread_local std::uint8_t buffer[65536];
    if (!in.Rewind()) return false;
    for (;;) {
        std::size_t got = 0;
        if (!in.Read(buffer, sizeof buffer, got)) return false;
        if (got == 0) return true;
        if (!out.Write(buffer, got)) return false;
    }
}

}  // namespace

bool InstallComponents(TUpdateFileSystem& fs, const std::wstring& tempFolder, const std::wstring& folder,
                       const std::vector<TUpdaterComponent>& components, const TFileHasher& hasher,
                       const TUpdaterLogLine& log, const TRetryPolicy& retry) {
    std::vector<TUpdaterComponent> unique;
    for (const TUpdaterComponent& component : components)
        if (std::none_of(unique.begin(), unique.end(), [&](const TUpdaterComponent& u) {
                return AsciiUpper(u.Name) == AsciiUpper(component.Name);
            }))
            unique.push_back(component);

    bool ok = true;
    for (const TUpdaterComponent& component : unique) {
        if (!IsUsableFileName(component.Name)) {
            log(L"Bad component name : " + component.Name);
            ok = false;
        } else if (!fs.FileExists(tempFolder + component.Name)) {
            log(L"Component not found : " + tempFolder + component.Name);
            ok = false;
        } else if (component.Sha256.empty()) {
            log(L"Component without its hash : " + component.Name);
            ok = false;
        }
    }

    // Every component checked and copied beside its target, on disk, before any old file
    // is touched. Each one stays held from its check to the swap, so that what is checked
    // is what is copied.
    std::vector<std::unique_ptr<TReadableFile>> held;
    std::vector<TSwapItem> items;
    for (std::size_t i = 0; ok && i < unique.size(); ++i) {
        const std::wstring source = tempFolder + unique[i].Name;
        std::unique_ptr<TReadableFile> in = fs.OpenReadHeld(source);
        if (!in) {
            log(L"Cannot read " + source);
            ok = false;
            break;
        }
        if (!hasher || AsciiUpper(hasher(*in)) != AsciiUpper(unique[i].Sha256)) {
            log(L"Component does not match its hash : " + source);
            ok = false;
            break;
        }
        const std::wstring beside = fs.CreateTempFile(folder, L"UPD");
        if (beside.empty()) {
            log(L"Cannot write into : " + folder);
            ok = false;
            break;
        }
        items.push_back({beside, folder + unique[i].Name});
        std::unique_ptr<TWritableFile> out = fs.OpenWrite(beside);
        const bool copied = out && CopyInto(*in, *out);
        if (!(out && out->Close() && copied)) {
            log(L"Cannot copy " + source + L" to " + beside);
            ok = false;
        }
        held.push_back(std::move(in));
    }

    if (ok) {
        const TSwapResult swap = SwapInFiles(fs, items, L"UPD", retry);
        ok = swap.Ok;
        if (!ok) log(swap.Failure + L": every file put back, nothing replaced");
        for (const std::wstring& leftover : swap.Leftovers) log(L"Unable to delete file " + leftover);
    } else {
        log(L"Nothing replaced");
    }
    held.clear();

    for (const TSwapItem& item : items)
        if (fs.FileExists(item.Staged) && !fs.RemoveFile(item.Staged)) log(L"Unable to delete file " + item.Staged);
    if (!ok) return false;
    for (const TSwapItem& item : items) log(L"Replaced : " + item.Target);
    for (const TUpdaterComponent& component : unique)
        if (!fs.RemoveFile(tempFolder + component.Name))
            log(L"Unable to delete file " + tempFolder + component.Name);
    return true;
}
