#include "FileFacts.h"

#include <windows.h>

#include "HandleHolderWin32.h"

#include <vector>

namespace {

bool Attributes(const std::wstring& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) != 0 &&
           (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

class TSystemFileFacts : public TFileFacts {
public:
    bool FileExists(const std::wstring& path) override {
        WIN32_FILE_ATTRIBUTE_DATA data;
        return Attributes(path, data);
    }

    std::optional<TDateStamp> LastWriteTime(const std::wstring& path) override {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!Attributes(path, data)) return std::nullopt;
        // Through the time zone rules of that date, not today's offset.
        SYSTEMTIME utc, local;
        if (!FileTimeToSystemTime(&data.ftLastWriteTime, &utc)) return std::nullopt;
        if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return std::nullopt;
        return TDateStamp{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
    }

    std::optional<TDateStamp> LastWriteTimeUtc(const std::wstring& path) override {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!Attributes(path, data)) return std::nullopt;
        SYSTEMTIME utc;
        if (!FileTimeToSystemTime(&data.ftLastWriteTime, &utc)) return std::nullopt;
        return TDateStamp{utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond};
    }

    std::int64_t FileSize(const std::wstring& path) override {
        TKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) return -1;
        LARGE_INTEGER size;
        if (!GetFileSizeEx(file.Get(), &size)) return -1;
        return size.QuadPart;
    }

    std::optional<TVersionWords> FileVersion(const std::wstring& path) override {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
        if (size == 0) return std::nullopt;
        std::vector<std::uint8_t> block(size);
        if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return std::nullopt;
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr ||
            length < sizeof(VS_FIXEDFILEINFO))
            return std::nullopt;
        return TVersionWords{fixed->dwFileVersionMS, fixed->dwFileVersionLS};
    }

    bool ReadFile(const std::wstring& path, const TChunkSink& sink) override {
        TKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file.Valid()) return false;
        std::vector<std::uint8_t> buffer(65536);
        for (;;) {
            DWORD got = 0;
            if (!::ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
            if (got == 0) return true;
            sink(buffer.data(), got);
        }
    }
};

}  // namespace

std::unique_ptr<TFileFacts> MakeSystemFileFacts() { return std::make_unique<TSystemFileFacts>(); }
