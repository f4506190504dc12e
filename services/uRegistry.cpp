#include "uRegistry.h"

#include "Exceptions.h"
#include "ProcessInfo.h"
#include "TextUtils.h"

namespace {

std::wstring WithReason(std::wstring message, const std::wstring& reason) {
    if (!reason.empty()) message += L": " + reason;
    return message;
}

[[noreturn]] void FailSet(const std::wstring& name, const std::wstring& reason) {
    throw ERegistryError(WithReason(L"Failed to set data for '" + name + L"'", reason));
}

[[noreturn]] void FailType(const std::wstring& name) {
    throw ERegistryError(L"Invalid data type for '" + name + L"'");
}

std::unique_ptr<SettingsKey> Open(const std::wstring& path, TRegAccess access, std::wstring& error) {
    return CurrentSettingsStore().OpenKey(RegNormalizeKeyPath(path), access, error);
}

}  // namespace

std::wstring RegAppName() { return CurrentApplicationName(); }

std::wstring RegSettingsKeyPath(const std::wstring& appName) { return L"Software\\Lumetra\\" + appName; }

std::wstring RegNormalizeKeyPath(const std::wstring& path) {
    std::wstring result;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        if (end > start) {
            if (!result.empty()) result += L'\\';
            result.append(path, start, end - start);
        }
        start = end + 1;
    }
    return result;
}

TRegValue RegDwordValue(std::uint32_t value) {
    return {TRegType::Dword,
            {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
             static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)}};
}

TRegValue RegStringValue(const std::wstring& text) {
    TRegValue value{TRegType::String, {}};
    const std::u16string units = WideToUtf16(text);
    value.Data.reserve((units.size() + 1) * 2);
    for (char16_t unit : units) {
        value.Data.push_back(static_cast<std::uint8_t>(unit));
        value.Data.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    value.Data.push_back(0);  // the terminating zero is stored too
    value.Data.push_back(0);
    return value;
}

bool RegBoolFromValue(const std::wstring& name, const TRegValue& value) {
    if (value.Type != TRegType::Dword || value.Data.size() != 4) FailType(name);
    for (std::uint8_t byte : value.Data)
        if (byte != 0) return true;
    return false;
}

std::wstring RegStringFromValue(const std::wstring& name, const TRegValue& value) {
    if (value.Type != TRegType::String && value.Type != TRegType::ExpandString) FailType(name);
    // Other writers may leave out the terminating zero or store an odd byte count: the
    // text ends at the first zero or at the last whole unit, whichever comes first.
    std::vector<std::uint16_t> units(value.Data.size() / 2);
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<std::uint16_t>(value.Data[2 * i] | (value.Data[2 * i + 1] << 8));
    return Utf16BufferToWide(units.data(), units.size());
}

std::optional<TRegValue> RegQuery(const std::wstring& path, const std::wstring& name) {
    std::wstring error;
    auto key = Open(path, TRegAccess::AllAccess, error);
    if (!key) return std::nullopt;  // no rights on the key: the caller's default stands
    std::optional<TRegValue> value;
    const TRegStatus status = key->Query(name, value);
    if (!status.Ok) throw ERegistryError(WithReason(L"Failed to get data for '" + name + L"'", status.Error));
    return value;
}

void RegSet(const std::wstring& path, TRegAccess access, const std::wstring& name, const TRegValue& value) {
    std::wstring error;
    auto key = Open(path, access, error);
    if (!key) FailSet(name, error);
    const TRegStatus status = key->Set(name, value);
    if (!status.Ok) FailSet(name, status.Error);
}

void RegDelete(const std::wstring& path, TRegAccess access, const std::wstring& name) {
    std::wstring error;
    auto key = Open(path, access, error);
    if (!key) throw ERegistryError(WithReason(L"Failed to delete value '" + name + L"'", error));
    const TRegStatus status = key->Delete(name);
    if (!status.Ok) throw ERegistryError(WithReason(L"Failed to delete value '" + name + L"'", status.Error));
}

bool RegReadBool(const std::wstring& name, bool defaultValue) {
    const auto value = RegQuery(RegSettingsKeyPath(RegAppName()), name);
    return value ? RegBoolFromValue(name, *value) : defaultValue;
}

std::wstring RegReadString(const std::wstring& name, const std::wstring& defaultValue) {
    const auto value = RegQuery(RegSettingsKeyPath(RegAppName()), name);
    return value ? RegStringFromValue(name, *value) : defaultValue;
}

void RegWriteString(const std::wstring& name, const std::wstring& value) {
    RegSet(RegSettingsKeyPath(RegAppName()), TRegAccess::AllAccess, name, RegStringValue(value));
}

void RegWriteBool(const std::wstring& name, bool value) {
    RegSet(RegSettingsKeyPath(RegAppName()), TRegAccess::AllAccess, name, RegDwordValue(value ? 1 : 0));
}
