#include "UpdateFiles.h"

#include <fstream>

namespace UpdateFiles {

bool AppendToFile(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(FsPath(path), std::ios::binary | std::ios::app);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

struct TOutputFile::TImpl {
    std::ofstream Stream;
};

TOutputFile::TOutputFile(const std::wstring& path) : FImpl(std::make_unique<TImpl>()) {
    FImpl->Stream.open(FsPath(path), std::ios::binary | std::ios::trunc);
}

TOutputFile::~TOutputFile() = default;

bool TOutputFile::IsOpen() const { return FImpl->Stream.is_open(); }

bool TOutputFile::Write(const std::uint8_t* data, std::size_t size) {
    FImpl->Stream.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return !FImpl->Stream.fail();
}

bool TOutputFile::Close() {
    if (!FImpl->Stream.is_open()) return false;
    FImpl->Stream.close();
    return !FImpl->Stream.fail();
}

}  // namespace UpdateFiles
