#pragma once
// Fixture files beside the tests.

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::vector<std::uint8_t> ReadFixture(const std::string& name) {
    std::ifstream in(std::string(LUMETRA_TEST_DATA_DIR) + "/controlfiles/" + name, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<std::uint8_t> Bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}
