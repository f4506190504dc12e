#include "UpdateFileSystem.h"

namespace {

// Counts every write and every close as a write of the faulty file system.
class TFaultyWritableFile : public TWritableFile {
public:
    TFaultyWritableFile(TFaultyFileSystem& owner, std::unique_ptr<TWritableFile> inner)
        : FOwner(owner), FInner(std::move(inner)) {}
    bool Write(const std::uint8_t* data, std::size_t size) override {
        if (!FOwner.Allow(TFaultyFileSystem::TKind::Write)) {
            FBroken = true;
            return false;
        }
        return FInner->Write(data, size);
    }
    void SetStamp(std::uint64_t fileTime) override { FInner->SetStamp(fileTime); }
    bool Close() override {
        const bool flushed = FOwner.Allow(TFaultyFileSystem::TKind::Write);
        const bool closed = FInner->Close();
        return flushed && closed && !FBroken;
    }

private:
    TFaultyFileSystem& FOwner;
    std::unique_ptr<TWritableFile> FInner;
    bool FBroken = false;
};

}  // namespace

void TFaultyFileSystem::FailAt(TKind kind, int n) {
    FFailKind = kind;
    FFailAt = n;
    FFailed = false;
    FCount[0] = FCount[1] = FCount[2] = 0;
}

bool TFaultyFileSystem::Allow(TKind kind) {
    const int seen = ++FCount[static_cast<int>(kind)];
    if (kind == FFailKind && seen == FFailAt) {
        FFailed = true;
        return false;
    }
    return true;
}

std::wstring TFaultyFileSystem::CreateTempFile(const std::wstring& folder, const std::wstring& prefix) {
    return Allow(TKind::Write) ? FInner.CreateTempFile(folder, prefix) : std::wstring();
}

bool TFaultyFileSystem::CreateFolder(const std::wstring& path) {
    return Allow(TKind::Write) && FInner.CreateFolder(path);
}

bool TFaultyFileSystem::ForceDirectories(const std::wstring& path) {
    if (FInner.FolderExists(path)) return true;
    return Allow(TKind::Write) && FInner.ForceDirectories(path);
}

std::unique_ptr<TWritableFile> TFaultyFileSystem::OpenWrite(const std::wstring& path) {
    if (!Allow(TKind::Write)) return nullptr;
    std::unique_ptr<TWritableFile> inner = FInner.OpenWrite(path);
    if (!inner) return nullptr;
    return std::make_unique<TFaultyWritableFile>(*this, std::move(inner));
}

bool TFaultyFileSystem::CopyFlushed(const std::wstring& from, const std::wstring& to) {
    return Allow(TKind::Write) && FInner.CopyFlushed(from, to);
}

bool TFaultyFileSystem::MoveFile(const std::wstring& from, const std::wstring& to) {
    return Allow(TKind::Move) && FInner.MoveFile(from, to);
}

bool TFaultyFileSystem::ReplaceFile(const std::wstring& from, const std::wstring& to) {
    return Allow(TKind::Move) && FInner.ReplaceFile(from, to);
}

bool TFaultyFileSystem::RemoveFile(const std::wstring& path) {
    return Allow(TKind::Delete) && FInner.RemoveFile(path);
}

bool TFaultyFileSystem::DiscardFile(const std::wstring& path) {
    return Allow(TKind::Delete) && FInner.DiscardFile(path);
}

bool TFaultyFileSystem::RemoveFolder(const std::wstring& path) {
    return Allow(TKind::Delete) && FInner.RemoveFolder(path);
}
