#include "TempRoot.h"

#include <unistd.h>

std::filesystem::path TempRoot(const std::string& stem, const std::string& part) {
    std::string name = stem + "-" + std::to_string(getpid());
    if (!part.empty()) name += "-" + part;
    return std::filesystem::temp_directory_path() / name;
}
