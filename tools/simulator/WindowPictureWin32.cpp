#include "WindowPictureWin32.h"

namespace {

bool Shown(HWND window) { return (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0; }

// The bounds of `target` (its window rectangle, or its client area) in the client
// coordinates of `window`.
RECT BoundsIn(HWND window, HWND target, bool client) {
    RECT bounds;
    if (client) {
        GetClientRect(target, &bounds);
        MapWindowPoints(target, window, reinterpret_cast<POINT*>(&bounds), 2);
    } else {
        GetWindowRect(target, &bounds);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&bounds), 2);
    }
    return bounds;
}

// Draws the client area of `target` into `dc` (the picture of `window`) at its place. The
// control paints itself through WM_PRINTCLIENT into a picture of its own size, starting
// from what lies beneath it, which is then copied into place: the standard controls clip
// their painting to their client area in device units, so they draw nothing into a DC
// whose origin was moved. The copy stays inside the parent's client area, and a control
// with WS_CLIPSIBLINGS (the page's tab control) is kept off every sibling it overlaps.
void PrintOne(HWND window, HWND target, HDC dc) {
    const RECT place = BoundsIn(window, target, true);
    const int width = place.right - place.left;
    const int height = place.bottom - place.top;
    if (width <= 0 || height <= 0) return;
    HDC scratch = CreateCompatibleDC(dc);
    HBITMAP picture = scratch ? CreateCompatibleBitmap(dc, width, height) : nullptr;
    if (picture) {
        const HGDIOBJ old = SelectObject(scratch, picture);
        BitBlt(scratch, 0, 0, width, height, dc, place.left, place.top, SRCCOPY);
        SendMessageW(target, WM_ERASEBKGND, reinterpret_cast<WPARAM>(scratch), 0);
        SendMessageW(target, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(scratch), PRF_CLIENT | PRF_ERASEBKGND);
        const int saved = SaveDC(dc);
        const HWND parent = GetParent(target);
        if (target != window && parent) {
            const RECT inside = BoundsIn(window, parent, true);
            IntersectClipRect(dc, inside.left, inside.top, inside.right, inside.bottom);
        }
        if (target != window && (GetWindowLongW(target, GWL_STYLE) & WS_CLIPSIBLINGS)) {
            for (HWND other = GetWindow(target, GW_HWNDFIRST); other; other = GetWindow(other, GW_HWNDNEXT)) {
                if (other == target || !Shown(other)) continue;
                const RECT over = BoundsIn(window, other, false);
                ExcludeClipRect(dc, over.left, over.top, over.right, over.bottom);
            }
        }
        BitBlt(dc, place.left, place.top, width, height, scratch, 0, 0, SRCCOPY);
        RestoreDC(dc, saved);
        SelectObject(scratch, old);
        DeleteObject(picture);
    }
    if (scratch) DeleteDC(scratch);
}

// Draws `window` and every child shown in it into `dc`, whether the window is on the
// screen or not, as the screen shows them: a parent before its children, siblings in the
// order they were made (the top of the stack first), hidden ones and everything in them
// left out. WM_PRINT with PRF_CHILDREN and PrintWindow would make this walk themselves,
// but under Wine they draw the window alone.
void PrintClientArea(HWND window, HDC dc) {
    auto children = [window, dc](HWND parent, auto& self) -> void {
        for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (!Shown(child)) continue;
            PrintOne(window, child, dc);
            self(child, self);
        }
    };
    PrintOne(window, window, dc);
    children(window, children);
}

}  // namespace

std::optional<TWindowPicture> PictureOfWindow(HWND window) {
    RECT bounds;
    if (!GetClientRect(window, &bounds)) return std::nullopt;
    const int width = bounds.right - bounds.left;
    const int height = bounds.bottom - bounds.top;
    if (width <= 0 || height <= 0) return std::nullopt;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (!dib || !memory) {
        if (dib) DeleteObject(dib);
        if (memory) DeleteDC(memory);
        return std::nullopt;
    }
    const HGDIOBJ old = SelectObject(memory, dib);
    PrintClientArea(window, memory);
    GdiFlush();

    TWindowPicture picture;
    picture.Width = width;
    picture.Height = height;
    picture.Rgba.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    const auto* src = static_cast<const std::uint8_t*>(bits);
    for (std::size_t i = 0; i < picture.Rgba.size(); i += 4) {
        picture.Rgba[i] = src[i + 2];
        picture.Rgba[i + 1] = src[i + 1];
        picture.Rgba[i + 2] = src[i];
        picture.Rgba[i + 3] = 255;
    }
    SelectObject(memory, old);
    DeleteObject(dib);
    DeleteDC(memory);
    return picture;
}
