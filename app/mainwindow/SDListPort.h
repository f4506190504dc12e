#pragma once
// What the main window asks of the control box list beyond the bridge's needs: the
// connected control boxes for the grid, the default and current one, the commands of the
// control box page, the default key pictures, and the list's three events.
//
// The window holds the list only through this port, so that the same window runs on the
// list over the real HID platform, over the virtual bus (tests, simulator), or over a
// scripted stand-in in host tests.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Bitmap24.h"
#include "uLumetraMain.h"

class TSDListPort : public TSDListLink {
public:
    // Events, raised on the main thread (only when set).
    std::function<void(void* _Sender, void*& _SD)> OnCurrentSDChange;
    std::function<void(void* _Sender, std::int32_t _IdButton)> OnPushButton;
    std::function<void(void* _Sender)> OnChange;

    // The connected control boxes in list order.
    virtual int Count() = 0;
    // The control box at Index as an opaque reference (what a grid row carries); null
    // when Index is out of range.
    virtual void* Item(int Index) = 0;
    virtual std::wstring Model(void* _SD) = 0;
    virtual std::wstring Serial(void* _SD) = 0;
    virtual bool DefaultSD(void* _SD) = 0;

    // The current control box, or null.
    virtual void* CurrentSD() = 0;
    bool HasCurrentSD() override { return CurrentSD() != nullptr; }

    // List index of the connected default control box, -1 if none; its serial or "".
    virtual int GetDefaultSerialListIndex() = 0;
    virtual std::wstring GetDefaultSerialList() = 0;
    // Marks the listed control box with that serial (ASCII case ignored) as the default
    // and makes it current; an unlisted serial changes nothing.
    virtual void SetDefaultSerialList(const std::wstring& _Value) = 0;
    // No default, no current control box, the stored default emptied.
    virtual void ClearDefault() = 0;
    // Resets the current control box.
    virtual void RAZ() = 0;
    // Looks for plugged and unplugged control boxes now.
    virtual void CheckChanged() = 0;

    virtual void AddDefaultBitmap(const Bitmap24* _Bitmap) = 0;
    // The current control box's keys point at the default pictures again (sends nothing).
    virtual void RefreshDefaultBitmap() = 0;
    // The current control box repaints all its keys.
    virtual void RefreshImageButtons() = 0;
    // Passes a brightness to the current control box.
    virtual void SetBrigtness(int _Value) = 0;
};

// Makes the window's control box list; called by the creation steps. The list enumerates
// the connected control boxes before it returns.
using TSDListFactory = std::function<std::unique_ptr<TSDListPort>()>;
