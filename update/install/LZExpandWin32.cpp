#include "UpdateArchives.h"

#include <windows.h>
#include <lzexpand.h>

#include <vector>

#include "UpdateFileSystem.h"

namespace {

struct TLZHandle {
    INT Value;
    explicit TLZHandle(INT value) : Value(value) {}
    ~TLZHandle() {
        if (Value >= 0) LZClose(Value);
    }
    TLZHandle(const TLZHandle&) = delete;
    TLZHandle& operator=(const TLZHandle&) = delete;
};

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
    if (in.Value < 0) return false;
    std::vector<char> buffer(65536);
    std::int64_t total = 0;
    for (;;) {
        const INT got = LZRead(in.Value, buffer.data(), static_cast<INT>(buffer.size()));
        if (got < 0) return false;
        if (got == 0) return true;
        total += got;
        if (total > maxOutput || !out.Write(reinterpret_cast<const std::uint8_t*>(buffer.data()),
                                            static_cast<std::size_t>(got)))
            return false;
    }
}
