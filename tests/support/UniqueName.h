#pragma once
// A name no other test process uses at the same time: tests run side by side in one
// registry and one roaming folder, so each one works under a name of its own.

#include <string>

std::wstring UniqueName(const std::wstring& stem);
