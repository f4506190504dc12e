#pragma once
// The main window's Win32 side, shared by the files that serve each of its controls
// (uLumetraMain*Win32.cpp): one object per window that shows the components' state and
// turns messages into the window's handlers; what to do lives in the portable files.

#include "MainWindowExtras.h"

#include "AppShell.h"
#include "Application.h"
#include "CarbonStyle.h"
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

// A GDI object that goes with its holder.
template <typename T>
class TGdi {
public:
    TGdi() = default;
    explicit TGdi(T object) : FObject(object) {}
    ~TGdi() { Reset(); }
    TGdi(const TGdi&) = delete;
    TGdi& operator=(const TGdi&) = delete;
    void Reset(T object = nullptr) {
        if (FObject)
            DeleteObject(FObject);
        FObject = object;
    }
    T Get() const { return FObject; }

private:
    T FObject = nullptr;
};

class TImageListHandle {
public:
    ~TImageListHandle() { Reset(); }
    void Reset(HIMAGELIST list = nullptr) {
        if (FList)
            ImageList_Destroy(FList);
        FList = list;
    }
    HIMAGELIST Get() const { return FList; }

private:
    HIMAGELIST FList = nullptr;
};

class TMenuHandle {
public:
    explicit TMenuHandle(HMENU menu) : FMenu(menu) {}
    ~TMenuHandle() {
        if (FMenu)
            DestroyMenu(FMenu);
    }
    TMenuHandle(const TMenuHandle&) = delete;
    TMenuHandle& operator=(const TMenuHandle&) = delete;
    HMENU Get() const { return FMenu; }

private:
    HMENU FMenu;
};

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

// A 16 × 16 icon of ours as a premultiplied 32-bit bitmap (for menu items).
inline HBITMAP IconBitmap(const std::wstring& resource) {
    HICON icon = static_cast<HICON>(LoadImageW(Instance(), resource.c_str(), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    if (!icon)
        return nullptr;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = 16;
    info.bmiHeader.biHeight = -16;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap) {
        std::fill_n(static_cast<std::uint32_t*>(bits), 256, 0u);
        HGDIOBJ old = SelectObject(dc, bitmap);
        DrawIconEx(dc, 0, 0, icon, 16, 16, 0, nullptr, DI_NORMAL);
        SelectObject(dc, old);
    }
    DeleteDC(dc);
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
    TExtras(TfrmMain& form, const TfrmMainPeer& peer, UINT trayMessage);

    ~TExtras() override;

    bool Dispatch(unsigned message, std::uintptr_t wParam, std::intptr_t lParam, std::intptr_t& result) override;

    void Repaint() override { UpdateWindow(FWindow); }

private:
    int Scale(int pixels) const { return MulDiv(pixels, static_cast<int>(FDpi), 96); }

    UINT WindowDpi() const;

    void LoadStyle();

    void MakeFonts();

    void MakeImageLists();

    HWND Child(const wchar_t* windowClass, const wchar_t* text, DWORD style, UINT id, DWORD exStyle = 0);

    void CreateControls();

    HWND Handle(const TComponent& component) const;

    std::vector<HWND> PageControls(const TTabSheet* page) const;

    void PlaceWindow();

    void Layout();

    void Hook();

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
    const TfrmMainPeer& FPeer;
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
