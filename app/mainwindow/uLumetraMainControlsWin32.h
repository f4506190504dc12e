#pragma once
// The main window's Win32 side, shared by the files that serve each of its controls
// (uLumetraMain*Win32.cpp): one object per window that shows the components' state and
// turns messages into the window's handlers; what to do lives in the portable files.

#include "MainWindowExtras.h"

#include "AppShell.h"
#include "Application.h"
#include "CarbonStyle.h"
#include "HandleHolder.h"
#include "PngImage.h"
#include "uLumetraMain.h"

#include <windows.h>
#include <commctrl.h>
#include <uxtheme.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace MainControlsWin32 {

constexpr int kClientWidth = 312;
constexpr int kClientHeight = 255;
constexpr int kStatusHeight = 19;
// The narrowest the logo's panel may be: the 60-pixel logo and a little room on each side.
constexpr int kLogoPanelWidth = 64;

// Command ids: menu items and toolbar buttons carry the index of their action.
constexpr UINT kFirstActionId = 100;
constexpr UINT kTrackBarId = 40;
constexpr UINT kCheckBoxId = 41;
constexpr UINT kGridId = 42;
constexpr UINT kToolBarId = 43;
constexpr UINT kTabsId = 44;
constexpr UINT kStatusId = 45;

inline HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

inline COLORREF Ref(std::uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

// A GDI object, an image list, a menu: each goes with its holder.
template <typename T>
using TGdi = THandleHolder<T, &DeleteObject>;
using TImageListHandle = THandleHolder<HIMAGELIST, &ImageList_Destroy>;
using TMenuHandle = THandleHolder<HMENU, &DestroyMenu>;

// A 32-bit top-down DIB section with straight alpha turned into premultiplied, for
// AlphaBlend and for menu item pictures.
inline HBITMAP PremultipliedBitmap(const PngImage& picture) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = picture.Width;
    info.bmiHeader.biHeight = -picture.Height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap)
        return nullptr;
    auto* out = static_cast<std::uint8_t*>(bits);
    for (std::size_t i = 0; i < picture.Rgba.size(); i += 4) {
        const unsigned a = picture.Rgba[i + 3];
        out[i + 0] = static_cast<std::uint8_t>(picture.Rgba[i + 2] * a / 255);
        out[i + 1] = static_cast<std::uint8_t>(picture.Rgba[i + 1] * a / 255);
        out[i + 2] = static_cast<std::uint8_t>(picture.Rgba[i + 0] * a / 255);
        out[i + 3] = static_cast<std::uint8_t>(a);
    }
    return bitmap;
}

// The system's small-icon size for `dpi` (the size of tray, menu, toolbar and list
// icons), from Windows 10 1607 on per DPI; before, the system's own.
inline SIZE SmallIconSize(UINT dpi) {
    using TGetSystemMetricsForDpi = int(WINAPI*)(int, UINT);
    static const auto forDpi = reinterpret_cast<TGetSystemMetricsForDpi>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetSystemMetricsForDpi")));
    SIZE size = {forDpi ? forDpi(SM_CXSMICON, dpi) : GetSystemMetrics(SM_CXSMICON),
                 forDpi ? forDpi(SM_CYSMICON, dpi) : GetSystemMetrics(SM_CYSMICON)};
    if (size.cx <= 0 || size.cy <= 0)
        size = {MulDiv(16, static_cast<int>(dpi), 96), MulDiv(16, static_cast<int>(dpi), 96)};
    return size;
}

// An icon of ours at `size` as a premultiplied 32-bit bitmap (for menu items). It is
// made from the icon's own colour and mask pixels: drawing the icon onto a bitmap would
// leave the bitmap's alpha at zero, and a menu shows such a picture on a black square.
inline HBITMAP IconBitmap(const std::wstring& resource, SIZE size) {
    HICON icon = static_cast<HICON>(
        LoadImageW(Instance(), resource.c_str(), IMAGE_ICON, size.cx, size.cy, LR_DEFAULTCOLOR));
    if (!icon)
        return nullptr;
    ICONINFO parts = {};
    HBITMAP bitmap = nullptr;
    if (GetIconInfo(icon, &parts)) {
        BITMAP colourInfo = {};
        if (parts.hbmColor && GetObjectW(parts.hbmColor, sizeof colourInfo, &colourInfo)) {
            const int w = colourInfo.bmWidth, h = colourInfo.bmHeight;
            BITMAPINFO info = {};
            info.bmiHeader.biSize = sizeof(info.bmiHeader);
            info.bmiHeader.biWidth = w;
            info.bmiHeader.biHeight = -h;
            info.bmiHeader.biPlanes = 1;
            info.bmiHeader.biBitCount = 32;
            info.bmiHeader.biCompression = BI_RGB;
            std::vector<std::uint32_t> colour(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
            std::vector<std::uint32_t> mask(colour.size());
            HDC dc = CreateCompatibleDC(nullptr);
            const bool read = GetDIBits(dc, parts.hbmColor, 0, static_cast<UINT>(h), colour.data(), &info,
                                        DIB_RGB_COLORS) == h;
            const bool masked = parts.hbmMask && GetDIBits(dc, parts.hbmMask, 0, static_cast<UINT>(h), mask.data(),
                                                           &info, DIB_RGB_COLORS) == h;
            DeleteDC(dc);
            const bool hasAlpha =
                std::any_of(colour.begin(), colour.end(), [](std::uint32_t p) { return (p >> 24) != 0; });
            void* bits = nullptr;
            if (read)
                bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
            if (bitmap) {
                auto* out = static_cast<std::uint32_t*>(bits);
                for (std::size_t i = 0; i < colour.size(); ++i) {
                    // Without an alpha channel the mask says which pixels show (its black).
                    const std::uint32_t p = colour[i];
                    const unsigned a = hasAlpha ? p >> 24 : (masked && (mask[i] & 0xFFFFFF) ? 0u : 255u);
                    const unsigned b = (p & 0xFF) * a / 255, g = ((p >> 8) & 0xFF) * a / 255,
                                   r = ((p >> 16) & 0xFF) * a / 255;
                    out[i] = (a << 24) | (r << 16) | (g << 8) | b;
                }
            }
        }
        if (parts.hbmColor)
            DeleteObject(parts.hbmColor);
        if (parts.hbmMask)
            DeleteObject(parts.hbmMask);
    }
    DestroyIcon(icon);
    return bitmap;
}

// A subclassed control that we paint whole: its ground is not erased, WM_PAINT and
// WM_PRINTCLIENT go to `paint` (an error in it is reported, never thrown into the
// platform), everything else to the control's own procedure.
template <typename TPaint>
LRESULT PaintedByUs(HWND window, UINT message, WPARAM wParam, LPARAM lParam, TPaint paint) {
    if (message == WM_ERASEBKGND)
        return 1;
    if (message == WM_PAINT || message == WM_PRINTCLIENT) {
        PAINTSTRUCT ps;
        HDC dc = message == WM_PAINT ? BeginPaint(window, &ps) : reinterpret_cast<HDC>(wParam);
        Application::Guarded([&] { paint(dc); });
        if (message == WM_PAINT)
            EndPaint(window, &ps);
        return 0;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

class TExtras : public TMainWindowExtras {
public:
    TExtras(TfrmMain& form, TfrmMainPeer& peer, UINT trayMessage);

    ~TExtras() override;

    bool Dispatch(unsigned message, std::uintptr_t wParam, std::intptr_t lParam, std::intptr_t& result) override;

    void Repaint() override { UpdateWindow(FWindow); }

private:
    int Scale(int pixels) const { return MulDiv(pixels, static_cast<int>(FDpi), 96); }

    UINT WindowDpi() const;

    void LoadStyle();

    void MakeFonts();

    void MakeImageLists();

    // The fonts of the "Vanto V3" group's controls, which the window's own side made.
    void ApplyGroupFonts();

    // A disabled toolbar button drawn flat in a dim colour, where the platform would
    // emboss it (hard to read on the dark ground).
    void DrawDisabledButton(NMTBCUSTOMDRAW* draw);

    HWND Child(const wchar_t* windowClass, const wchar_t* text, DWORD style, UINT id, DWORD exStyle = 0);

    void CreateControls();

    HWND Handle(const TComponent& component) const;

    std::vector<HWND> PageControls(const TTabSheet* page) const;

    void PlaceWindow();

    void Layout();

    void Hook();

    // Takes back every hook and subclass that refers to this object.
    void Unhook();

    void ShowAll();

    void ShowPages();

    void TabChanged();

    void ShowTrackBar();

    void TrackBarMoved();

    void ShowCheckBox();

    void ShowGrid();

    bool HasHeart(int item) const;

    LRESULT GridCustomDraw(NMLVCUSTOMDRAW* draw);

    void GridSelectionChanged();

    std::vector<TAction*> Actions() const;

    UINT ActionId(const TAction* action) const;

    TAction* ActionOf(UINT id) const;

    void UpdateActions();

    void Execute(TAction* action);

    void Popup(const TPopupMenu& menu, POINT at);

    void ShowStatus();

    void DrawLogo(HDC dc, const RECT& panel);

    void PaintStatus(HDC dc);

    static LRESULT CALLBACK StatusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR data);

    void PaintTabs(HDC dc);

    static LRESULT CALLBACK TabsProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                     DWORD_PTR data);

    LRESULT HeaderCustomDraw(NMCUSTOMDRAW* draw);

    std::wstring HeaderCaption(int column) const;

    static LRESULT CALLBACK GridProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                     DWORD_PTR data);

    void PaintGroup(HWND group, HDC dc);

    static LRESULT CALLBACK GroupProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                      DWORD_PTR data);

    bool Handle(unsigned message, std::uintptr_t wParam, std::intptr_t lParam, std::intptr_t& result);

    bool Notify(NMHDR* header, std::intptr_t& result);

    TfrmMain& FForm;
    TfrmMainPeer& FPeer;
    HWND FWindow;
    UINT FTrayMessage;
    UINT FDpi = 96;
    bool FDark = false;
    TCarbonStyle FStyle;
    TGdi<HBRUSH> FWindowBrush;
    TGdi<HBRUSH> FControlBrush;
    TGdi<HFONT> FFont;
    TGdi<HFONT> FBoldFont;
    TImageListHandle FCommandImages;
    TImageListHandle FStatusImages;
    TImageListHandle FRowHeightImages;
    HWND FTabs = nullptr;
    HWND FBrightnessLabel = nullptr;
    HWND FTrackBar = nullptr;
    HWND FCheckBox = nullptr;
    HWND FToolBar = nullptr;
    HWND FGrid = nullptr;
    HWND FStatus = nullptr;
    std::vector<TTabSheet*> FTabPages;
    TTabSheet* FShownPage = nullptr;
    bool FUpdatingGrid = false;
};

}  // namespace MainControlsWin32
