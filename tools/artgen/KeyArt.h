#pragma once
// The key pictures of the program, drawn in code so that they can be remade at will:
// the black picture "Noir80" and the six default key pictures, all 80 × 80, 24-bit.

#include <string>
#include <vector>

#include "Bitmap24.h"

namespace keyart {

constexpr int kSide = 80;

struct NamedPicture {
    std::wstring FileName;  // file name inside the resources folder
    Bitmap24 Picture;
};

Bitmap24 Noir80();
// Default picture of key `index` (0 to 5).
Bitmap24 DefaultKey(int index);

// Everything the resources folder holds from this generator.
std::vector<NamedPicture> AllPictures();

}  // namespace keyart
