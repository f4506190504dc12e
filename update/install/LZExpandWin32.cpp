#include "UpdateArchives.h"

#include <windows.h>
#include <lzexpand.h>

#include <vector>

#include "UpdateFileSystem.h"
#include "HandleHolder.h"

namespace {

// The LZ library answers a negative number for no handle; 0 is a handle.
struct TNoLZHandle {
    static INT None() { return -1; }
    static bool Is(INT handle) { return handle < 0; }
};
using TLZHandle = THandleHolder<INT, &LZClose, TNoLZHandle>;

}  // namespace

std::wstring LZExpandedName(const std::wstring& path) {
    std::vector<wchar_t> source(path.begin(), path.end());
    source.push_back(0);
    std::vector<wchar_t> expanded(path.size() + MAX_PATH + 1);
    if (GetExpandedNameW(source.data(), expanded.data()) != 1) return {};
    return expanded.data();
}

bool ExpandLZ(const std::wstring& path, TWritableFile& out, std::int64_t maxOutput) {
    std::vector<wchar_t> source(path.begin(), path.end());
    source.push_back(0);
    OFSTRUCT sourceInfo{};
    TLZHandle in(LZOpenFileW(source.data(), &sourceInfo, OF_READ));
    if (!in.Valid()) return false;
    std::vector<char> buffer(65536);
    std::int64_t total = 0;
    for (;;) {
        const INT got = LZRead(in.Get(), buffer.data(), static_cast<INT>(buffer.size()));
        if (got < 0) return false;
        if (got == 0) return true;
        total += got;
        if (total > maxOutput || !out.Write(reinterpret_cast<const std::uint8_t*>(buffer.data()),
                                            static_cast<std::size_t>(got)))
            return false;
    }
}
