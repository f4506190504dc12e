#pragma once
// How this program answers its update engine: the status messages it turns into message
// boxes, the restart question, and the run started from the tray menu or at start-up.
// The main window's handlers are these, with its own start-up flag and close.

#include <string>

#include "UpdateDialogs.h"

class TWebUpdate;

inline constexpr const wchar_t* kNoConnectionText = L"No Internet Connection Found";
inline constexpr const wchar_t* kNoNewVersionText = L"No new version available";
inline constexpr const wchar_t* kDiscontinuedText = L"\rUpdate discontinued";
inline constexpr const wchar_t* kRestartQuestion = L"Shutting down application to update executable files ?";

// Status code 1: unless `starting`, "No Internet Connection Found"; then the run ends at
// once (the silent abort). Code 4: unless `starting`, "No new version available". Code 2:
// the status text + "\rUpdate discontinued", also while starting; code 11 (a signed release
// refused) the same. Other codes: nothing.
void AnswerUpdateStatus(TUpdateDialogs& dialogs, bool starting, const std::wstring& StatusStr, int StatusCode);

// The restart question; true for Yes. Asked also while starting.
bool AnswerAppRestart(TUpdateDialogs& dialogs);

// One update run whose errors, the silent abort included, are discarded.
void RunUpdateQuietly(TWebUpdate& engine);
