#pragma once
// The tray pictures, drawn in code so that they can be remade at will: a six-key control
// box seen from above, 16 × 16, in three states (crossed out in red; dark keys; coloured
// keys), written as 32-bit icons with their transparency.

#include <cstdint>
#include <string>
#include <vector>

namespace trayart {

constexpr int kSide = 16;

// Straight (not premultiplied) colour with opacity.
struct Rgba {
    std::uint8_t R = 0, G = 0, B = 0, A = 0;
    friend bool operator==(const Rgba&, const Rgba&) = default;
};

// Rows top-down, kSide × kSide.
struct Picture {
    std::vector<Rgba> Pixels = std::vector<Rgba>(kSide * kSide);
    Rgba& At(int x, int y) { return Pixels[static_cast<std::size_t>(y * kSide + x)]; }
    const Rgba& At(int x, int y) const { return Pixels[static_cast<std::size_t>(y * kSide + x)]; }
};

enum class TrayState { NoControlBox, ControlBoxOnly, Ready };

Picture Draw(TrayState state);

// An icon file holding `picture` alone: 32 bits per pixel and the 1-bit mask that
// Windows wants beside it (set where the picture is fully transparent).
std::vector<std::uint8_t> IconFile(const Picture& picture);

struct NamedIcon {
    std::string FileName;  // inside the resources folder
    std::vector<std::uint8_t> Bytes;
};

// The three icons, in the order of the tray's image list.
std::vector<NamedIcon> AllIcons();

}  // namespace trayart
