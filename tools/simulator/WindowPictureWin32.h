#pragma once
// A picture of a window as the screen shows it, every control in it included, whether the
// window is on the screen or not: what the simulator's `screenshot` writes.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <vector>

struct TWindowPicture {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint8_t> Rgba;  // top row first, 4 bytes a pixel, alpha 255
};

// The client area of `window` with every child shown in it; nothing when the window has no
// size or the picture cannot be made.
std::optional<TWindowPicture> PictureOfWindow(HWND window);
