#include "WholeFile.h"

#include <fstream>
#include <iterator>

std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Spill(const std::filesystem::path& path, const std::string& bytes) {
    std::error_code error;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), error);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void Spill(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    Spill(path, std::string(bytes.begin(), bytes.end()));
}
