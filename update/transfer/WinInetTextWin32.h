#pragma once
// The text of a WinInet error number, from WinInet's own message table (empty for a
// number it does not know), without its trailing line break.

#include <cstdint>
#include <string>

std::wstring WinInetMessageText(std::uint32_t error);
