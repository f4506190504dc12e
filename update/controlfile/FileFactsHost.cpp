#include "FileFacts.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "TextUtils.h"

namespace {

namespace fs = std::filesystem;

fs::path HostPath(const std::wstring& path) { return fs::path(WideToUtf8(path)); }

class TSystemFileFacts : public TFileFacts {
public:
    bool FileExists(const std::wstring& path) override {
        std::error_code error;
        return fs::is_regular_file(HostPath(path), error);
    }

    std::optional<TDateStamp> LastWriteTime(const std::wstring& path) override { return WriteTime(path, false); }

    std::optional<TDateStamp> LastWriteTimeUtc(const std::wstring& path) override { return WriteTime(path, true); }

    // The file's last write, in local time or in UTC.
    static std::optional<TDateStamp> WriteTime(const std::wstring& path, bool utc) {
        std::error_code error;
        if (!fs::is_regular_file(HostPath(path), error)) return std::nullopt;
        const auto written = fs::last_write_time(HostPath(path), error);
        if (error) return std::nullopt;
        const auto system = std::chrono::file_clock::to_sys(written);
        const std::time_t seconds = std::chrono::system_clock::to_time_t(
            std::chrono::time_point_cast<std::chrono::system_clock::duration>(system));
        std::tm at{};
        if ((utc ? gmtime_r(&seconds, &at) : localtime_r(&seconds, &at)) == nullptr) return std::nullopt;
        return TDateStamp{at.tm_year + 1900, at.tm_mon + 1, at.tm_mday, at.tm_hour, at.tm_min, at.tm_sec};
    }

    std::int64_t FileSize(const std::wstring& path) override {
        std::error_code error;
        if (!fs::is_regular_file(HostPath(path), error)) return -1;
        const auto size = fs::file_size(HostPath(path), error);
        return error ? -1 : static_cast<std::int64_t>(size);
    }

    // Linux executables carry no Windows version resource.
    std::optional<TVersionWords> FileVersion(const std::wstring&) override { return std::nullopt; }

    bool ReadFile(const std::wstring& path, const TChunkSink& sink) override {
        std::error_code error;
        if (!fs::is_regular_file(HostPath(path), error)) return false;
        std::ifstream in(HostPath(path), std::ios::binary);
        if (!in) return false;
        char buffer[65536];
        while (in) {
            in.read(buffer, sizeof buffer);
            const std::streamsize got = in.gcount();
            if (got > 0) sink(reinterpret_cast<const std::uint8_t*>(buffer), static_cast<std::size_t>(got));
        }
        return !in.bad();
    }
};

}  // namespace

std::unique_ptr<TFileFacts> MakeSystemFileFacts() { return std::make_unique<TSystemFileFacts>(); }
