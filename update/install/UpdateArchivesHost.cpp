#include "UpdateArchives.h"

// No cabinet library or LZ library on Linux: these fail plainly.

bool ExtractCabinetFiles(const std::wstring&, const std::wstring&, TUpdateFileSystem&, std::int64_t,
                         std::vector<std::wstring>&) {
    return false;
}

bool ExpandLZ(const std::wstring&, TWritableFile&, std::int64_t) { return false; }

std::wstring LZExpandedName(const std::wstring&) { return {}; }
