// artgen: draws the key pictures into a folder (normally resources/).
//   artgen <folder>
#include <cstdio>
#include <filesystem>

#include "KeyArt.h"
#include "TextUtils.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: artgen <output folder>\n");
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    try {
        for (const keyart::NamedPicture& p : keyart::AllPictures()) {
            const std::filesystem::path file = folder / p.FileName;
            p.Picture.SaveToFile(file.wstring());
            std::printf("%s\n", file.string().c_str());
        }
    } catch (const Exception& e) {
        std::fprintf(stderr, "artgen: %s\n", e.what());
        return 1;
    }
    return 0;
}
