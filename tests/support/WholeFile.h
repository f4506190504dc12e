#pragma once
// A whole file read or written at once, as the tests set up and check their files.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// The bytes of `path`; empty when it cannot be read.
std::string Slurp(const std::filesystem::path& path);

// `path` holding exactly `bytes`, its folder made first if needed.
void Spill(const std::filesystem::path& path, const std::string& bytes);
void Spill(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
