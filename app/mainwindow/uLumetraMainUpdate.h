#pragma once
// The main window's update engine, WebUpdate1: its settings, fixed when it is built, and
// the window's handlers of its events. The window builds it on first use ("Check for
// Update" or the check at start-up).
//
// The simulator (and tests that run the real window) route what an update run shows and
// asks through their own dialogs and point WebUpdate1 at another control-file address.

#include <cstdint>
#include <string>

class TfrmMain;
class TWebUpdate;
class TUpdateDialogs;

// Builds form.WebUpdate1 with this program's settings and the window's handlers, unless
// it is built already.
void CreateWebUpdate1(TfrmMain& form);

// The window's handlers.
void WebUpdate1Status(TfrmMain& form, TWebUpdate& Sender, const std::wstring& StatusStr, int StatusCode,
                      int ErrCode);
void WebUpdate1AppRestart(TfrmMain& form, TWebUpdate& Sender, bool& Allow);
void WebUpdate1AppDoClose(TfrmMain& form, TWebUpdate& Sender);
void WebUpdate1FileProgress(TfrmMain& form, TWebUpdate& Sender, const std::wstring& FileName, std::int64_t Pos,
                            std::int64_t Size);
void WebUpdate1FileVersionCheck(TfrmMain& form, TWebUpdate& Sender, const std::wstring& NewVersion,
                                const std::wstring& LocalVersion, bool& IsNew);

// The dialogs every WebUpdate1 built from now on uses (not owned; null: the system's).
void SetUpdateDialogs(TUpdateDialogs* dialogs);
// The control-file address every WebUpdate1 built from now on uses (empty: the update
// server's), for a script that runs before the window exists.
void SetUpdateURL(const std::wstring& url);
// Points a running window's WebUpdate1 at another control-file address.
void SetWebUpdateURL(TfrmMain& form, const std::wstring& url);
