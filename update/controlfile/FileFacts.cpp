#include "FileFacts.h"

#include "TextUtils.h"

std::int32_t FileChecksum(TFileFacts& facts, const std::wstring& path) {
    TChecksum sum;
    if (!facts.ReadFile(path, [&](const std::uint8_t* data, std::size_t size) { sum.Add(data, size); }))
        return -1;
    return sum.Value();
}

std::optional<std::vector<std::uint8_t>> ReadWholeFile(TFileFacts& facts, const std::wstring& path,
                                                       std::int64_t maxBytes) {
    if (facts.FileSize(path) > maxBytes) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    bool tooBig = false;
    // The file may grow while it is read: the ceiling holds all the same.
    if (!facts.ReadFile(path, [&](const std::uint8_t* data, std::size_t size) {
            if (tooBig || static_cast<std::int64_t>(bytes.size() + size) > maxBytes) {
                tooBig = true;
                return;
            }
            bytes.insert(bytes.end(), data, data + size);
        }))
        return std::nullopt;
    if (tooBig) return std::nullopt;
    return bytes;
}

TFileFactsTable::TEntry& TFileFactsTable::Add(const std::wstring& path, TEntry entry) {
    return FEntries[AsciiUpper(path)] = std::move(entry);
}

TFileFactsTable::TEntry& TFileFactsTable::Add(const std::wstring& path, const std::string& content) {
    TEntry entry;
    entry.Content.assign(content.begin(), content.end());
    return Add(path, std::move(entry));
}

void TFileFactsTable::Remove(const std::wstring& path) { FEntries.erase(AsciiUpper(path)); }

TFileFactsTable::TEntry* TFileFactsTable::Find(const std::wstring& path) {
    auto found = FEntries.find(AsciiUpper(path));
    return found == FEntries.end() ? nullptr : &found->second;
}

bool TFileFactsTable::FileExists(const std::wstring& path) { return Find(path) != nullptr; }

std::optional<TDateStamp> TFileFactsTable::LastWriteTime(const std::wstring& path) {
    TEntry* entry = Find(path);
    if (entry == nullptr) return std::nullopt;
    return entry->LastWrite;
}

std::int64_t TFileFactsTable::FileSize(const std::wstring& path) {
    TEntry* entry = Find(path);
    if (entry == nullptr || entry->Unreadable) return -1;
    return static_cast<std::int64_t>(entry->Content.size());
}

std::optional<TVersionWords> TFileFactsTable::FileVersion(const std::wstring& path) {
    TEntry* entry = Find(path);
    if (entry == nullptr || entry->Unreadable) return std::nullopt;
    return entry->Version;
}

bool TFileFactsTable::ReadFile(const std::wstring& path, const TChunkSink& sink) {
    TEntry* entry = Find(path);
    if (entry == nullptr || entry->Unreadable) return false;
    if (!entry->Content.empty()) sink(entry->Content.data(), entry->Content.size());
    return true;
}
