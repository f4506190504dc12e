#include "UpdateTransport.h"

#include <windows.h>
#include <lzexpand.h>

#include <vector>

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

bool ExpandLZ(const std::wstring& path, const std::wstring& target) {
    std::vector<wchar_t> source(path.begin(), path.end());
    source.push_back(0);
    std::vector<wchar_t> destination(target.begin(), target.end());
    destination.push_back(0);
    OFSTRUCT sourceInfo{};
    OFSTRUCT targetInfo{};
    TLZHandle in(LZOpenFileW(source.data(), &sourceInfo, OF_READ));
    if (in.Value < 0) return false;
    TLZHandle out(LZOpenFileW(destination.data(), &targetInfo, OF_CREATE));
    if (out.Value < 0) return false;
    return LZCopy(in.Value, out.Value) >= 0;
}
