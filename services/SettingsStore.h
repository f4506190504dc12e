#pragma once
// The per-user settings store: keys below the current user's root holding named values.
//
// Win32: HKEY_CURRENT_USER (SettingsStoreWin32.cpp). Host: MemorySettingsStore, an
// in-memory tree. The back end only opens keys and moves values in and out as they are
// stored; what a value means (booleans, strings, defaults, type checks) is decided above
// this seam, in uRegistry and the main window's settings functions.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Value types, numbered as the registry numbers them.
enum class TRegType : std::uint32_t {
    None = 0,
    String = 1,        // REG_SZ: UTF-16LE with its terminating zero
    ExpandString = 2,  // REG_EXPAND_SZ
    Binary = 3,        // REG_BINARY
    Dword = 4,         // REG_DWORD: 32 bits, little-endian
    MultiString = 7,   // REG_MULTI_SZ
    Qword = 11,        // REG_QWORD
};

// One stored value: its type and its bytes exactly as the store holds them. Type may be
// any number the store reports, not only the named ones.
struct TRegValue {
    TRegType Type = TRegType::None;
    std::vector<std::uint8_t> Data;

    bool operator==(const TRegValue&) const = default;
};

// The outcome of one operation; Error holds the platform's text when it failed.
struct TRegStatus {
    bool Ok = true;
    std::wstring Error;

    static TRegStatus Success() { return {}; }
    static TRegStatus Failure(std::wstring error) { return {false, std::move(error)}; }
};

// Rights asked for when a key is opened.
enum class TRegAccess {
    AllAccess,  // KEY_ALL_ACCESS
    Write,      // KEY_WRITE: set and delete values only
};

// An open key. Destroying it closes it.
class SettingsKey {
public:
    virtual ~SettingsKey() = default;

    // The value called `name`: nullopt in `value` when there is none (that is no failure).
    virtual TRegStatus Query(const std::wstring& name, std::optional<TRegValue>& value) = 0;
    // Stores `value` under `name`, replacing what was there.
    virtual TRegStatus Set(const std::wstring& name, const TRegValue& value) = 0;
    // Removes `name`; removing a value that does not exist succeeds.
    virtual TRegStatus Delete(const std::wstring& name) = 0;
};

class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // Opens the key at `path` (components separated by "\", no leading or trailing "\")
    // below the current user's root, creating it and any missing parents. Returns null
    // and fills `error` when the key can be neither opened nor created.
    virtual std::unique_ptr<SettingsKey> OpenKey(const std::wstring& path, TRegAccess access,
                                                 std::wstring& error) = 0;
};

// The store the program works on: the one installed with SetSettingsStore, else the
// platform's own (the registry on Windows, a process-wide in-memory tree on the host).
SettingsStore& CurrentSettingsStore();

// Installs `store` (not owned; must outlive its use) in place of the platform's own;
// null goes back to the platform's. For tests and the simulator.
void SetSettingsStore(SettingsStore* store);

// The platform's own store (SettingsStoreWin32.cpp, SettingsStoreHost.cpp).
SettingsStore& PlatformSettingsStore();
