#include "UpdateTransport.h"

// No WinInet, cabinet library or LZ library on Linux: the transfer logic is tested there
// with a session of the tests' own, and these services fail plainly.

std::unique_ptr<TInternetSession> OpenInternetSession(const std::wstring&, std::uint32_t& error) {
    error = 0;
    return nullptr;
}

bool ExtractCabinetFiles(const std::wstring&, const std::wstring&, TUpdateFileSystem&, std::int64_t,
                         std::vector<std::wstring>&) {
    return false;
}

bool ExpandLZ(const std::wstring&, TWritableFile&, std::int64_t) { return false; }

std::wstring LZExpandedName(const std::wstring&) { return {}; }
