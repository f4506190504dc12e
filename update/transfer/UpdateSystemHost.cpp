#include "UpdateSystem.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "IniFile.h"
#include "TextUtils.h"
#include "UpdateFileSystem.h"

namespace {

// Linux has no WinInet and carries no updater; the tests of the run bring their own
// session and answers where they need them.
class THostUpdateSystem : public TUpdateSystem {
public:
    bool InternetConnected() override { return true; }
    std::unique_ptr<TInternetSession> OpenSession(const std::wstring& agent, std::uint32_t& error) override {
        return OpenInternetSession(agent, error);
    }
    std::wstring ErrorText(std::uint32_t) override { return {}; }
    std::wstring CurrentFolder() override {
        std::error_code error;
        return Utf8ToWide(std::filesystem::current_path(error).string());
    }
    bool SetCurrentFolder(const std::wstring& folder) override {
        std::error_code error;
        std::filesystem::current_path(FsPath(folder), error);
        return !error;
    }
    std::uint32_t ProcessId() override { return static_cast<std::uint32_t>(getpid()); }
    std::optional<std::vector<std::uint8_t>> UpdaterCabinet() override { return std::nullopt; }
    bool WriteIniString(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                        const std::wstring& value) override {
        // Enough for the updater's one-key settings file: the section and key are
        // rewritten, other lines kept.
        std::wstring text;
        {
            std::ifstream in(FsPath(path), std::ios::binary);
            std::stringstream bytes;
            bytes << in.rdbuf();
            text = Utf8ToWide(bytes.str());
        }
        std::wstring result;
        bool inSection = false;
        bool written = false;
        std::wstringstream lines(text);
        std::wstring line;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == L'\r') line.pop_back();
            if (!line.empty() && line.front() == L'[') {
                if (inSection && !written) {
                    result += key + L"=" + value + L"\r\n";
                    written = true;
                }
                inSection = SameTextAscii(line, L"[" + section + L"]");
            } else if (inSection && SameTextAscii(line.substr(0, line.find(L'=')), key)) {
                if (!written) result += key + L"=" + value + L"\r\n";
                written = true;
                continue;
            }
            result += line + L"\r\n";
        }
        if (!written) {
            if (!inSection) result += L"[" + section + L"]\r\n";
            result += key + L"=" + value + L"\r\n";
        }
        std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
        const std::string bytes = WideToUtf8(result);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return static_cast<bool>(out);
    }
    std::wstring WindowsName() override { return L"Unknown"; }
    std::wstring BrowserVersion() override { return L"(not found)"; }
};

}  // namespace

std::unique_ptr<TUpdateSystem> MakeSystemUpdateSystem() { return std::make_unique<THostUpdateSystem>(); }
