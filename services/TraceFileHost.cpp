#include "TraceFile.h"

#include "Exceptions.h"
#include "TextUtils.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Windows-1252, the ANSI code page of western Windows installations, from 0x80 to 0x9F;
// the rest of the code page is Latin-1. Zero marks an unassigned byte.
constexpr char16_t kHigh1252[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::uint8_t To1252(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<std::uint8_t>(c);
    for (int i = 0; i < 32; ++i)
        if (kHigh1252[i] != 0 && kHigh1252[i] == c) return static_cast<std::uint8_t>(0x80 + i);
    return '?';
}

std::wstring ErrnoText(int error) { return Utf8ToWide(std::strerror(error)); }

[[noreturn]] void FailWrite(const std::wstring& path, int error) {
    throw EInOutError(L"Cannot write to \"" + path + L"\": " + ErrnoText(error));
}

class HostTraceFile : public TraceFile {
public:
    TLogTime Now() override {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
    }

    TLogSeparators Separators() override { return {}; }

    std::vector<std::uint8_t> ToAnsi(const std::wstring& text) override {
        std::vector<std::uint8_t> bytes;
        bytes.reserve(text.size());
        // One byte per character; a character beyond the code page becomes one "?".
        const std::u16string units = WideToUtf16(text);
        for (std::size_t i = 0; i < units.size(); ++i) {
            const char32_t c = units[i];
            const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                              units[i + 1] <= 0xDFFF;
            if (pair) {
                ++i;
                bytes.push_back('?');
                continue;
            }
            bytes.push_back(To1252(c));
        }
        return bytes;
    }

    void Append(const std::wstring& path, const std::vector<std::uint8_t>& bytes) override {
        const std::string name = WideToUtf8(path);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0) FailWrite(path, errno);
        struct stat before {};
        const bool sized = ::fstat(fd, &before) == 0;
        std::size_t done = 0;
        int error = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error = n < 0 ? errno : ENOSPC;
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        if (error != 0 && sized) {
            // Leave no piece of a line behind; should that fail too, the error below
            // still reports the write.
            const int truncated = ::ftruncate(fd, before.st_size);
            static_cast<void>(truncated);
        }
        ::close(fd);
        if (error != 0) FailWrite(path, error);
    }

    void CreateFolder(const std::wstring& folder) override {
        std::error_code error;
        std::filesystem::create_directories(WideToUtf8(folder), error);
        if (error)
            throw EInOutError(L"Cannot create the folder \"" + folder + L"\": " + Utf8ToWide(error.message()));
    }
};

}  // namespace

TraceFile& PlatformTraceFile() {
    static HostTraceFile file;
    return file;
}
