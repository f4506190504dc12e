#pragma once
// The system ANSI code page, for control files that are not UTF-8 and for the update log.
// Windows: CP_ACP. Host builds stand in with Windows-1252, the code page of the machines
// this program runs on.

#include <string>

std::wstring AnsiToWide(const std::string& bytes);
// Characters the code page cannot hold become "?".
std::string WideToAnsi(const std::wstring& text);
