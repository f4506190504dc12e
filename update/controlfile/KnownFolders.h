#pragma once
// The folders that the control file's path tokens stand for, and their expansion.

#include <string>

struct TKnownFolders {
    std::wstring Windows;        // {WIN}
    std::wstring System;         // {SYS}
    std::wstring Application;    // {APP}: the folder of the running executable
    std::wstring Temp;           // {TMP}: the engine's temporary folder
    std::wstring Documents;      // {DOC}
    std::wstring ProgramFiles;   // {PF}: the "ProgramFiles" environment value
    std::wstring LocalAppData;   // {LAD}
    std::wstring CommonAppData;  // {APPDATA}: shared by all users
};

// Windows: the system's own folders (an unavailable one is empty). Host builds: a fixed
// stand-in laid out like a Windows machine, so that expansions read the same in tests.
TKnownFolders SystemKnownFolders();

// The folder for one token name (already upper case); "" for an unknown name.
std::wstring KnownFolderFor(const TKnownFolders& folders, const std::wstring& upperName);

// The replacement text of a token: a backslash is appended to a non-empty path without
// one; then a path of four or more characters with ":" as second character drops that
// trailing backslash, and any other path gets "." appended ("C:\" gives "C:\.", "" gives ".").
std::wstring NormaliseTokenFolder(const std::wstring& path);

// Replaces every "{NAME}" (name matched in upper case) by its normalised folder, left to
// right. Scanning resumes after the inserted text: a folder whose own path holds braces
// is inserted as it stands and never expanded again. A "{" without a later "}" stays.
std::wstring ExpandPrefixes(const std::wstring& text, const TKnownFolders& folders);
