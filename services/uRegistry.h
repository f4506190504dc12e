#pragma once
// The program's settings in the current user's registry.
//
// Every call opens the settings key "Software\Lumetra\<application name>" (creating it,
// with full access, for reading as well as for writing), works on one value and closes
// the key again; nothing is cached. Booleans are DWORDs 1 and 0 (any non-zero reads as
// true), strings are stored with their terminating zero.
//
// Reading: a missing value, or a key that cannot be opened at all, gives the caller's
// default. A value of another type than expected raises ERegistryError naming it and is
// left as it is. Writing: any failure raises ERegistryError naming the value.

#include "SettingsStore.h"

#include <cstdint>
#include <string>

// The application name: the executable's file name without folder and extension.
std::wstring RegAppName();

bool RegReadBool(const std::wstring& name, bool defaultValue);
std::wstring RegReadString(const std::wstring& name, const std::wstring& defaultValue);
void RegWriteString(const std::wstring& name, const std::wstring& value);
void RegWriteBool(const std::wstring& name, bool value);

// "Software\Lumetra\" followed by `appName`.
std::wstring RegSettingsKeyPath(const std::wstring& appName);

// `path` with its leading, trailing and doubled "\" removed, the form the store opens.
std::wstring RegNormalizeKeyPath(const std::wstring& path);

// Values as stored, and back. The readers raise ERegistryError naming `name` when the
// value's type is not the one expected.
TRegValue RegDwordValue(std::uint32_t value);
TRegValue RegStringValue(const std::wstring& text);
bool RegBoolFromValue(const std::wstring& name, const TRegValue& value);
std::wstring RegStringFromValue(const std::wstring& name, const TRegValue& value);

// Opens `path` (normalized first) in the current store, creating it, and runs one
// operation on value `name`; the helpers below give each operation its failure rule.
// Reads: nullopt when the key cannot be opened or the value is missing.
std::optional<TRegValue> RegQuery(const std::wstring& path, const std::wstring& name);
void RegSet(const std::wstring& path, TRegAccess access, const std::wstring& name, const TRegValue& value);
void RegDelete(const std::wstring& path, TRegAccess access, const std::wstring& name);
