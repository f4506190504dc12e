#include "SettingsStore.h"

#include "SystemErrorWin32.h"

#include <windows.h>

namespace {

class RegistryKey : public SettingsKey {
public:
    explicit RegistryKey(HKEY key) : FKey(key) {}
    ~RegistryKey() override { RegCloseKey(FKey); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    TRegStatus Query(const std::wstring& name, std::optional<TRegValue>& value) override {
        value.reset();
        DWORD type = 0;
        DWORD size = 0;
        LONG result = RegQueryValueExW(FKey, name.c_str(), nullptr, &type, nullptr, &size);
        if (result == ERROR_FILE_NOT_FOUND) return TRegStatus::Success();
        // Another writer may grow the value between the two calls: ask again then.
        std::vector<std::uint8_t> data;
        while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
            data.resize(size);
            result = RegQueryValueExW(FKey, name.c_str(), nullptr, &type, data.empty() ? nullptr : data.data(), &size);
            if (result == ERROR_SUCCESS) {
                data.resize(size);
                value = TRegValue{static_cast<TRegType>(type), std::move(data)};
                return TRegStatus::Success();
            }
        }
        if (result == ERROR_FILE_NOT_FOUND) return TRegStatus::Success();
        return TRegStatus::Failure(SystemErrorText(static_cast<unsigned long>(result)));
    }

    TRegStatus Set(const std::wstring& name, const TRegValue& value) override {
        const LONG result = RegSetValueExW(FKey, name.c_str(), 0, static_cast<DWORD>(value.Type),
                                           value.Data.empty() ? nullptr : value.Data.data(),
                                           static_cast<DWORD>(value.Data.size()));
        if (result != ERROR_SUCCESS) return TRegStatus::Failure(SystemErrorText(static_cast<unsigned long>(result)));
        return TRegStatus::Success();
    }

    TRegStatus Delete(const std::wstring& name) override {
        const LONG result = RegDeleteValueW(FKey, name.c_str());
        if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
            return TRegStatus::Failure(SystemErrorText(static_cast<unsigned long>(result)));
        return TRegStatus::Success();
    }

private:
    HKEY FKey;
};

class RegistryStore : public SettingsStore {
public:
    std::unique_ptr<SettingsKey> OpenKey(const std::wstring& path, TRegAccess access,
                                         std::wstring& error) override {
        const REGSAM rights = access == TRegAccess::AllAccess ? KEY_ALL_ACCESS : KEY_WRITE;
        HKEY key = nullptr;
        const LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                            rights, nullptr, &key, nullptr);
        if (result != ERROR_SUCCESS) {
            error = SystemErrorText(static_cast<unsigned long>(result));
            return nullptr;
        }
        return std::make_unique<RegistryKey>(key);
    }
};

}  // namespace

SettingsStore& PlatformSettingsStore() {
    static RegistryStore store;
    return store;
}
