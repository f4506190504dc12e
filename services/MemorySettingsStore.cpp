#include "MemorySettingsStore.h"

#include "TextUtils.h"

class MemorySettingsStore::Key : public SettingsKey {
public:
    Key(MemorySettingsStore& store, std::wstring foldedPath)
        : FStore(store), FPath(std::move(foldedPath)) {}

    TRegStatus Query(const std::wstring& name, std::optional<TRegValue>& value) override {
        std::lock_guard<std::mutex> guard(FStore.FLock);
        value.reset();
        const auto& values = FStore.FKeys[FPath];
        if (auto it = values.find(Fold(name)); it != values.end()) value = it->second.Value;
        return TRegStatus::Success();
    }

    TRegStatus Set(const std::wstring& name, const TRegValue& value) override {
        std::lock_guard<std::mutex> guard(FStore.FLock);
        auto& values = FStore.FKeys[FPath];
        auto [it, added] = values.try_emplace(Fold(name), Entry{name, value});
        if (!added) it->second.Value = value;
        return TRegStatus::Success();
    }

    TRegStatus Delete(const std::wstring& name) override {
        std::lock_guard<std::mutex> guard(FStore.FLock);
        FStore.FKeys[FPath].erase(Fold(name));
        return TRegStatus::Success();
    }

private:
    MemorySettingsStore& FStore;
    std::wstring FPath;
};

std::wstring MemorySettingsStore::Fold(const std::wstring& text) { return AsciiUpper(text); }

bool MemorySettingsStore::IsRefused(const std::wstring& foldedPath) const {
    for (const auto& refused : FRefused) {
        if (foldedPath == refused) return true;
        if (foldedPath.size() > refused.size() && foldedPath.compare(0, refused.size(), refused) == 0 &&
            foldedPath[refused.size()] == L'\\')
            return true;
    }
    return false;
}

std::unique_ptr<SettingsKey> MemorySettingsStore::OpenKey(const std::wstring& path, TRegAccess,
                                                          std::wstring& error) {
    const std::wstring folded = Fold(path);
    std::lock_guard<std::mutex> guard(FLock);
    if (IsRefused(folded)) {
        error = L"Access is denied.";
        return nullptr;
    }
    // Creating a key creates its missing parents too.
    for (std::size_t at = folded.find(L'\\'); at != std::wstring::npos; at = folded.find(L'\\', at + 1))
        FKeys.try_emplace(folded.substr(0, at));
    FKeys.try_emplace(folded);
    return std::make_unique<Key>(*this, folded);
}

bool MemorySettingsStore::KeyExists(const std::wstring& path) const {
    std::lock_guard<std::mutex> guard(FLock);
    return FKeys.count(Fold(path)) != 0;
}

std::optional<TRegValue> MemorySettingsStore::Value(const std::wstring& path, const std::wstring& name) const {
    std::lock_guard<std::mutex> guard(FLock);
    const auto key = FKeys.find(Fold(path));
    if (key == FKeys.end()) return std::nullopt;
    const auto value = key->second.find(Fold(name));
    if (value == key->second.end()) return std::nullopt;
    return value->second.Value;
}

void MemorySettingsStore::PutValue(const std::wstring& path, const std::wstring& name, TRegValue value) {
    std::wstring error;
    auto key = OpenKey(path, TRegAccess::AllAccess, error);
    if (key) key->Set(name, value);
}

std::vector<std::wstring> MemorySettingsStore::ValueNames(const std::wstring& path) const {
    std::lock_guard<std::mutex> guard(FLock);
    std::vector<std::wstring> names;
    if (const auto key = FKeys.find(Fold(path)); key != FKeys.end())
        for (const auto& [folded, entry] : key->second) names.push_back(entry.Name);
    return names;
}

void MemorySettingsStore::Refuse(const std::wstring& path, bool refused) {
    std::lock_guard<std::mutex> guard(FLock);
    if (refused)
        FRefused.insert(Fold(path));
    else
        FRefused.erase(Fold(path));
}
