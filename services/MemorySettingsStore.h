#pragma once
// An in-memory settings store: a tree of keys with named values, matched without regard
// to ASCII letter case as the registry matches them. For host tests and the host build.
//
// Keys can be marked as refused, to play a user without rights on them: opening a
// refused key (or a key below it) fails, as the registry fails without the rights.

#include "SettingsStore.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>

class MemorySettingsStore : public SettingsStore {
public:
    std::unique_ptr<SettingsKey> OpenKey(const std::wstring& path, TRegAccess access,
                                         std::wstring& error) override;

    // Inspection and set-up for tests; `path` as for OpenKey.
    bool KeyExists(const std::wstring& path) const;
    std::optional<TRegValue> Value(const std::wstring& path, const std::wstring& name) const;
    void PutValue(const std::wstring& path, const std::wstring& name, TRegValue value);
    // Names of the values of a key, in their stored spelling.
    std::vector<std::wstring> ValueNames(const std::wstring& path) const;
    // Opening `path` or a key below it fails while it is refused.
    void Refuse(const std::wstring& path, bool refused = true);

private:
    class Key;
    struct Entry {
        std::wstring Name;  // as first written
        TRegValue Value;
    };
    using Values = std::map<std::wstring, Entry>;  // by folded name

    static std::wstring Fold(const std::wstring& text);
    bool IsRefused(const std::wstring& foldedPath) const;

    mutable std::mutex FLock;
    std::map<std::wstring, Values> FKeys;  // by folded path
    std::set<std::wstring> FRefused;       // folded paths
};
