#pragma once
// Base64 (RFC 4648, with padding), for the keys and signatures the tests write as PEM.

#include <cstdint>
#include <string>
#include <vector>

std::string Base64(const std::vector<std::uint8_t>& bytes);
