#include <windows.h>
#include <fcntl.h>
#include <fdi.h>

#include <memory>
#include <vector>

#include "TextUtils.h"
#include "UpdateFileSystem.h"
#include "UpdateArchives.h"
#include "HandleHolderWin32.h"

namespace {

using TFDICreate = HFDI(DIAMONDAPI*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK, int, PERF);
using TFDICopy = BOOL(DIAMONDAPI*)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);
using TFDIDestroy = BOOL(DIAMONDAPI*)(HFDI);

// The cabinet is opened by this marker name; its real (wide) path is in the context.
char kCabinetMarker[] = "::lumetra-cabinet::";

// What an FDI handle stands for: the cabinet being read, or one output file.
struct TSlot {
    HANDLE Cabinet = INVALID_HANDLE_VALUE;
    std::unique_ptr<TWritableFile> Out;
    std::int64_t Declared = 0;
    std::int64_t Written = 0;
};

struct TExtraction {
    std::wstring Cabinet;
    std::wstring Target;
    TUpdateFileSystem* Files = nullptr;
    std::int64_t MaxOutput = 0;
    std::int64_t Output = 0;
    std::vector<std::unique_ptr<TSlot>> Slots;
    std::vector<std::wstring>* Written = nullptr;
    bool Failed = false;
};

thread_local TExtraction* gExtraction = nullptr;

TSlot* SlotOf(INT_PTR handle) { return reinterpret_cast<TSlot*>(handle); }

FNALLOC(Alloc) { return HeapAlloc(GetProcessHeap(), 0, cb); }
FNFREE(Free) { HeapFree(GetProcessHeap(), 0, pv); }

FNOPEN(Open) {
    (void)oflag;
    (void)pmode;
    // FDI only opens the cabinet itself; every output file is created in Notify.
    if (gExtraction == nullptr || lstrcmpA(pszFile, kCabinetMarker) != 0) return -1;
    HANDLE file = CreateFileW(gExtraction->Cabinet.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    auto slot = std::make_unique<TSlot>();
    slot->Cabinet = file;
    gExtraction->Slots.push_back(std::move(slot));
    return reinterpret_cast<INT_PTR>(gExtraction->Slots.back().get());
}

FNREAD(Read) {
    TSlot* slot = SlotOf(hf);
    DWORD done = 0;
    if (slot->Cabinet == INVALID_HANDLE_VALUE || !ReadFile(slot->Cabinet, pv, cb, &done, nullptr))
        return static_cast<UINT>(-1);
    return done;
}

FNWRITE(Write) {
    TSlot* slot = SlotOf(hf);
    TExtraction& extraction = *gExtraction;
    // More than the entry said it holds, or than a cabinet may unpack to, is refused.
    if (!slot->Out || slot->Written + cb > slot->Declared || extraction.Output + cb > extraction.MaxOutput ||
        !slot->Out->Write(static_cast<const std::uint8_t*>(pv), cb)) {
        extraction.Failed = true;
        return static_cast<UINT>(-1);
    }
    slot->Written += cb;
    extraction.Output += cb;
    return cb;
}

FNCLOSE(Close) {
    TSlot* slot = SlotOf(hf);
    if (slot->Cabinet != INVALID_HANDLE_VALUE) {
        CloseHandle(slot->Cabinet);
        slot->Cabinet = INVALID_HANDLE_VALUE;
    }
    if (slot->Out) {
        if (!slot->Out->Close()) gExtraction->Failed = true;
        slot->Out.reset();
    }
    return 0;
}

FNSEEK(Seek) {
    TSlot* slot = SlotOf(hf);
    if (slot->Cabinet == INVALID_HANDLE_VALUE) return -1;
    const DWORD method = seektype == SEEK_CUR ? FILE_CURRENT : seektype == SEEK_END ? FILE_END : FILE_BEGIN;
    const DWORD position = SetFilePointer(slot->Cabinet, dist, nullptr, method);
    return position == INVALID_SET_FILE_POINTER ? -1 : static_cast<__LONG32>(position);
}

std::wstring EntryName(const char* name, USHORT attributes) {
    const UINT codePage = (attributes & _A_NAME_IS_UTF) != 0 ? CP_UTF8 : CP_ACP;
    const int units = MultiByteToWideChar(codePage, 0, name, -1, nullptr, 0);
    if (units <= 1) return {};
    std::wstring text(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(codePage, 0, name, -1, text.data(), units);
    text.resize(static_cast<std::size_t>(units - 1));
    return text;
}

FNFDINOTIFY(Notify) {
    TExtraction& extraction = *gExtraction;
    switch (fdint) {
        case fdintCOPY_FILE: {
            const auto target = CabinetEntryTarget(extraction.Target, EntryName(pfdin->psz1, pfdin->attribs));
            const std::int64_t declared = static_cast<std::int64_t>(pfdin->cb);
            // Nothing may be written outside the folder, nor more than a cabinet may hold:
            // stop the whole extraction.
            if (!target || extraction.Output + declared > extraction.MaxOutput) {
                extraction.Failed = true;
                return -1;
            }
            // Named before anything is made for it, so that a failure can clear it all away.
            extraction.Written->push_back(target->substr(extraction.Target.size()));
            const std::size_t slash = target->find_last_of(L"\\/");
            if (slash != std::wstring::npos && slash >= extraction.Target.size() &&
                !extraction.Files->ForceDirectories(target->substr(0, slash))) {
                extraction.Failed = true;
                return -1;
            }
            auto slot = std::make_unique<TSlot>();
            slot->Out = extraction.Files->OpenWrite(*target);
            if (!slot->Out) {
                extraction.Failed = true;
                return -1;
            }
            slot->Declared = declared;
            extraction.Slots.push_back(std::move(slot));
            return reinterpret_cast<INT_PTR>(extraction.Slots.back().get());
        }
        case fdintCLOSE_FILE_INFO: {
            TSlot* slot = SlotOf(pfdin->hf);
            FILETIME stamp;
            FILETIME local;
            // Cabinet times are local times; a zero stamp means "now".
            if ((pfdin->date == 0 && pfdin->time == 0) || !DosDateTimeToFileTime(pfdin->date, pfdin->time, &local) ||
                !LocalFileTimeToFileTime(&local, &stamp))
                GetSystemTimeAsFileTime(&stamp);
            const bool whole = slot->Written == slot->Declared;
            if (slot->Out) {
                slot->Out->SetStamp((static_cast<std::uint64_t>(stamp.dwHighDateTime) << 32) | stamp.dwLowDateTime);
                if (!slot->Out->Close()) extraction.Failed = true;
                slot->Out.reset();
            }
            // A file that ends before its announced size is as broken as a bad block.
            if (!whole) extraction.Failed = true;
            return whole && !extraction.Failed ? TRUE : FALSE;
        }
        default:
            return 0;
    }
}

}  // namespace

bool ExtractCabinetFiles(const std::wstring& cabinet, const std::wstring& targetFolder, TUpdateFileSystem& fs,
                         std::int64_t maxOutput, std::vector<std::wstring>& written) {
    if (GetFileAttributesW(cabinet.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    // From the system folder only: a cabinet.dll planted beside the program is never used.
    const TLibraryHandle library = LoadSystemLibrary(L"cabinet.dll");
    if (!library.Valid()) return false;
    auto create = reinterpret_cast<TFDICreate>(reinterpret_cast<void*>(GetProcAddress(library.Get(), "FDICreate")));
    auto copy = reinterpret_cast<TFDICopy>(reinterpret_cast<void*>(GetProcAddress(library.Get(), "FDICopy")));
    auto destroy = reinterpret_cast<TFDIDestroy>(reinterpret_cast<void*>(GetProcAddress(library.Get(), "FDIDestroy")));
    if (create == nullptr || copy == nullptr || destroy == nullptr) return false;

    TExtraction extraction;
    extraction.Cabinet = cabinet;
    extraction.Target = targetFolder;
    if (!extraction.Target.empty() && extraction.Target.back() != L'\\' && extraction.Target.back() != L'/')
        extraction.Target.push_back(L'\\');
    extraction.Files = &fs;
    extraction.MaxOutput = maxOutput;
    extraction.Written = &written;
    gExtraction = &extraction;

    ERF error{};
    HFDI context = create(Alloc, Free, Open, Read, Write, Close, Seek, cpuUNKNOWN, &error);
    bool ok = false;
    if (context != nullptr) {
        char empty[] = "";
        ok = copy(context, kCabinetMarker, empty, 0, Notify, nullptr, nullptr) != FALSE;
        destroy(context);
    }
    // Whatever the library left open after a failure is closed here.
    for (auto& slot : extraction.Slots) {
        if (slot->Cabinet != INVALID_HANDLE_VALUE) CloseHandle(slot->Cabinet);
        if (slot->Out) slot->Out->Close();
    }
    gExtraction = nullptr;
    return ok && !extraction.Failed;
}
