// Any bytes as the status bar's logo: the PNG decoder either gives a picture whose pixels
// match its size or refuses with its own error. Nothing may crash, hang, leak or overflow.
#include <cstddef>
#include <cstdint>

#include "PngImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const PngImage image = DecodePng(data, size);
        if (image.Rgba.size() != static_cast<std::size_t>(image.Width) * image.Height * 4)
            __builtin_trap();
    } catch (const EInvalidGraphic&) {
    }
    return 0;
}
