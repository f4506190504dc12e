// logoart: draws the window's artwork into a folder (normally resources/).
//   logoart <folder>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "LogoArt.h"
#include "TextUtils.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: logoart <output folder>\n");
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    try {
        for (const logoart::NamedFile& f : logoart::AllFiles()) {
            const std::filesystem::path file = folder / f.FileName;
            const std::filesystem::path temp = file.string() + ".tmp";
            {
                std::ofstream out(temp, std::ios::binary | std::ios::trunc);
                out.write(reinterpret_cast<const char*>(f.Bytes.data()),
                          static_cast<std::streamsize>(f.Bytes.size()));
                if (!out) {
                    std::fprintf(stderr, "logoart: cannot write %s\n", temp.string().c_str());
                    return 1;
                }
            }
            std::filesystem::rename(temp, file);
            std::printf("%s\n", file.string().c_str());
        }
    } catch (const Exception& e) {
        std::fprintf(stderr, "logoart: %s\n", e.what());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "logoart: %s\n", e.what());
        return 1;
    }
    return 0;
}
