// trayart: draws the three tray icons into a folder (normally resources/).
//   trayart <folder>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "TrayArt.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trayart <output folder>\n");
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    for (const trayart::NamedIcon& icon : trayart::AllIcons()) {
        const std::filesystem::path file = folder / icon.FileName;
        const std::filesystem::path temporary = folder / (icon.FileName + ".new");
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(icon.Bytes.data()), static_cast<std::streamsize>(icon.Bytes.size()));
            if (!out.flush()) {
                std::fprintf(stderr, "trayart: cannot write %s\n", temporary.string().c_str());
                return 1;
            }
        }
        // Replaced whole, so that a failed run never leaves half an icon behind.
        std::error_code error;
        std::filesystem::rename(temporary, file, error);
        if (error) {
            std::fprintf(stderr, "trayart: cannot replace %s: %s\n", file.string().c_str(), error.message().c_str());
            return 1;
        }
        std::printf("%s\n", file.string().c_str());
    }
    return 0;
}
