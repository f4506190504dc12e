#pragma once
// The main window's own artwork, drawn by program so that it can be made again exactly:
// the 60 × 19 "Logo" wordmark of the status bar (a PNG with transparency) and the 16 × 16
// icons of the commands and of the grid's "Def" column (32-bit icons with alpha).

#include <cstdint>
#include <string>
#include <vector>

#include "PngImage.h"

namespace logoart {

// The wordmark: "LUMETRA" in light capitals over an orange rule, on a transparent ground.
PngImage Logo();

// 16 × 16 pictures, RGBA like PngImage.
PngImage Heart();       // red heart: "Set as Default", the default control box's row
PngImage HeartCross();  // grey heart with a red cross: "Clear Default"
PngImage Refresh();     // green circular arrow: "Refresh"
PngImage Gear();        // grey gear: "Settings"

// A .ico file holding one 32-bit picture (with its AND mask).
std::vector<std::uint8_t> IcoFile(const PngImage& picture);

struct NamedFile {
    std::wstring FileName;
    std::vector<std::uint8_t> Bytes;
};

// Every file the generator writes, by name.
std::vector<NamedFile> AllFiles();

}  // namespace logoart
