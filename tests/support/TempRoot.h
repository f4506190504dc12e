#pragma once
// Test processes run side by side on one machine: each one works in folders, and under
// names, of its own.

#include <filesystem>
#include <string>

// "<temp>/<stem>-<process id>", or "<temp>/<stem>-<process id>-<part>": a folder only this
// test process uses (not made here).
std::filesystem::path TempRoot(const std::string& stem, const std::string& part = "");

// The wide form of a path, as the update engine's file layer takes it.
std::wstring WidePath(const std::filesystem::path& path);
