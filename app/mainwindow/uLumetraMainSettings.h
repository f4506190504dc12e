#pragma once
// The main window's settings: loading the two checked states, storing each toggle at
// once, and saving both with the launch-at-logon entry when the window goes away.
//
// The window holds the working copies (the checked states of "Launch at Startup" and
// "Always Check Updates"); these functions only move them to and from the store.

#include <functional>
#include <string>

namespace MainSettings {

// The settings values and the logon list's key, as stored.
inline constexpr const wchar_t* DemarrageAuto = L"DEMARRAGE_AUTO";
inline constexpr const wchar_t* CheckUpdatesAuto = L"CHECK_UPDATES_AUTO";
inline constexpr const wchar_t* DefaultSerial = L"DefaultSerial";
inline constexpr const wchar_t* RunKeyPath = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\";

// The application name, computed afresh.
std::wstring GetApplicationName();

// Reads "DEMARRAGE_AUTO" and hands it to `setLancerAuDemarrage`, then reads
// "CHECK_UPDATES_AUTO" and hands it to `setAlwaysCheckUpdates`; both default to true.
void LoadSettings(const std::function<void(bool)>& setLancerAuDemarrage,
                  const std::function<void(bool)>& setAlwaysCheckUpdates);

// Store one value under the settings key.
void ParamSaveBool(const std::wstring& _Param, bool Value);
void ParamSaveString(const std::wstring& _Param, const std::wstring& Value);

// What an action's toggle does: invert `checked`, then store the new state under `_Param`.
void ToggleAndSave(const std::wstring& _Param, bool& checked);

// Writes both booleans, then brings the logon entry in line: present with the
// executable's path when `lancerAuDemarrage` is on, removed otherwise.
void SaveSettings(bool lancerAuDemarrage, bool alwaysCheckUpdates);

// The command line the logon entry holds for the executable at `path`: the path itself,
// in double quotes when it contains a blank, so that the platform cannot take a leading
// part of it (such as "C:\Program") for the program to start.
std::wstring LogonCommand(const std::wstring& path);

}  // namespace MainSettings
