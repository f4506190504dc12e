#include "UpdateTransport.h"

#include <windows.h>
#include <fcntl.h>
#include <fdi.h>

#include <filesystem>

namespace {

using TFDICreate = HFDI(DIAMONDAPI*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK, int, PERF);
using TFDICopy = BOOL(DIAMONDAPI*)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);
using TFDIDestroy = BOOL(DIAMONDAPI*)(HFDI);

// The cabinet is opened by this marker name; its real (wide) path is in the context.
char kCabinetMarker[] = "::lumetra-cabinet::";

struct TExtraction {
    std::wstring Cabinet;
    std::wstring Target;
    bool Refused = false;
};

thread_local TExtraction* gExtraction = nullptr;

struct TLibrary {
    HMODULE Handle;
    explicit TLibrary(const wchar_t* name) : Handle(LoadLibraryW(name)) {}
    ~TLibrary() {
        if (Handle != nullptr) FreeLibrary(Handle);
    }
    TLibrary(const TLibrary&) = delete;
    TLibrary& operator=(const TLibrary&) = delete;
};

FNALLOC(Alloc) { return HeapAlloc(GetProcessHeap(), 0, cb); }
FNFREE(Free) { HeapFree(GetProcessHeap(), 0, pv); }

FNOPEN(Open) {
    (void)oflag;
    (void)pmode;
    // FDI only opens the cabinet itself; every output file is created in Notify.
    if (gExtraction == nullptr || lstrcmpA(pszFile, kCabinetMarker) != 0) return -1;
    HANDLE file = CreateFileW(gExtraction->Cabinet.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<INT_PTR>(file);
}

FNREAD(Read) {
    DWORD done = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(hf), pv, cb, &done, nullptr)) return static_cast<UINT>(-1);
    return done;
}

FNWRITE(Write) {
    DWORD done = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(hf), pv, cb, &done, nullptr)) return static_cast<UINT>(-1);
    return done;
}

FNCLOSE(Close) { return CloseHandle(reinterpret_cast<HANDLE>(hf)) ? 0 : -1; }

FNSEEK(Seek) {
    const DWORD method = seektype == SEEK_CUR ? FILE_CURRENT : seektype == SEEK_END ? FILE_END : FILE_BEGIN;
    const DWORD position = SetFilePointer(reinterpret_cast<HANDLE>(hf), dist, nullptr, method);
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
            if (!target) {
                // Nothing may be written outside the target folder: stop the whole extraction.
                extraction.Refused = true;
                return -1;
            }
            const std::size_t slash = target->find_last_of(L"\\/");
            if (slash != std::wstring::npos) {
                std::error_code error;
                std::filesystem::create_directories(std::filesystem::path(target->substr(0, slash)), error);
            }
            HANDLE file = CreateFileW(target->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<INT_PTR>(file);
        }
        case fdintCLOSE_FILE_INFO: {
            HANDLE file = reinterpret_cast<HANDLE>(pfdin->hf);
            FILETIME stamp;
            FILETIME local;
            // Cabinet times are local times; a zero stamp means "now".
            if ((pfdin->date == 0 && pfdin->time == 0) || !DosDateTimeToFileTime(pfdin->date, pfdin->time, &local) ||
                !LocalFileTimeToFileTime(&local, &stamp))
                GetSystemTimeAsFileTime(&stamp);
            SetFileTime(file, nullptr, nullptr, &stamp);
            CloseHandle(file);
            return TRUE;
        }
        default:
            return 0;
    }
}

}  // namespace

bool ExtractCabinetFiles(const std::wstring& cabinet, const std::wstring& targetFolder) {
    if (GetFileAttributesW(cabinet.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    TLibrary library(L"cabinet.dll");
    if (library.Handle == nullptr) return false;
    auto create = reinterpret_cast<TFDICreate>(reinterpret_cast<void*>(GetProcAddress(library.Handle, "FDICreate")));
    auto copy = reinterpret_cast<TFDICopy>(reinterpret_cast<void*>(GetProcAddress(library.Handle, "FDICopy")));
    auto destroy =
        reinterpret_cast<TFDIDestroy>(reinterpret_cast<void*>(GetProcAddress(library.Handle, "FDIDestroy")));
    if (create == nullptr || copy == nullptr || destroy == nullptr) return false;

    TExtraction extraction;
    extraction.Cabinet = cabinet;
    extraction.Target = targetFolder;
    if (!extraction.Target.empty() && extraction.Target.back() != L'\\' && extraction.Target.back() != L'/')
        extraction.Target.push_back(L'\\');
    gExtraction = &extraction;

    ERF error{};
    HFDI context = create(Alloc, Free, Open, Read, Write, Close, Seek, cpuUNKNOWN, &error);
    bool ok = false;
    if (context != nullptr) {
        char empty[] = "";
        ok = copy(context, kCabinetMarker, empty, 0, Notify, nullptr, nullptr) != FALSE;
        destroy(context);
    }
    gExtraction = nullptr;
    return ok && !extraction.Refused;
}
