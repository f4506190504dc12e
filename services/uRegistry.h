#pragma once
// The program's settings in the current user's registry.
//
// Every call opens the settings key "Software\Lumetra\<application name>" (creating it,
// with full access, for reading as well as for writing), works on one value and closes
// the key again; nothing is cached. Booleans are DWORDs 1 and 0 (any non-zero reads as
// true), strings are stored with their terminating zero.
//
// Reading: a missing value, or a key that cannot be opened at all, gives the caller's
// default. So does a value of another type than expected (a string where a boolean is
// wanted, a DWORD for a serial): it is read as missing, one trace line names it ("Invalid
// data type for 'NAME'"), and it stays as it is until the program next writes that value,
// with its own type. Writing: any failure raises ERegistryError naming the value.

#include "SettingsStore.h"

#include <cstdint>
#include <string>

// The application name: the executable's file name without folder and extension.
std::wstring RegAppName();

bool RegReadBool(const std::wstring& name, bool defaultValue);
std::wstring RegReadString(const std::wstring& name, const std::wstring& defaultValue);
void RegWriteString(const std::wstring& name, const std::wstring& value);
void RegWriteBool(const std::wstring& name, bool value);

// True when the settings key holds `name` with another type than a string (which the
// readers take for a missing value).
bool RegHoldsOtherThanString(const std::wstring& name);

// "Software\Lumetra\" followed by `appName`.
std::wstring RegSettingsKeyPath(const std::wstring& appName);

// `path` with its leading, trailing and doubled "\" removed, the form the store opens.
std::wstring RegNormalizeKeyPath(const std::wstring& path);

// Values as stored, and back. The converters raise ERegistryError naming `name` when the
// value's type is not the one expected; the tests before them say whether it is.
TRegValue RegDwordValue(std::uint32_t value);
TRegValue RegStringValue(const std::wstring& text);
bool RegIsBoolValue(const TRegValue& value);
bool RegIsStringValue(const TRegValue& value);
bool RegBoolFromValue(const std::wstring& name, const TRegValue& value);
std::wstring RegStringFromValue(const std::wstring& name, const TRegValue& value);

// Opens `path` (normalized first) in the current store, creating it, and runs one
// operation on value `name`; the helpers below give each operation its failure rule.
// Reads: nullopt when the key cannot be opened or the value is missing.
std::optional<TRegValue> RegQuery(const std::wstring& path, const std::wstring& name);
void RegSet(const std::wstring& path, TRegAccess access, const std::wstring& name, const TRegValue& value);
void RegDelete(const std::wstring& path, TRegAccess access, const std::wstring& name);
