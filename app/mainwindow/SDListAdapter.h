#pragma once
// The window's port onto the real control box list (TSDList) over a HID platform: the
// Win32 HID back end in the program, the virtual bus in tests and the simulator.

#include <memory>

#include "HidPlatform.h"
#include "SDListPort.h"

class TSDList;

class TSDListAdapter : public TSDListPort {
public:
    // Builds the list, which enumerates the connected control boxes at once. `platform`
    // outlives the adapter.
    explicit TSDListAdapter(HidPlatform& platform);
    ~TSDListAdapter() override;

    TSDList& List() const { return *FList; }

    void SetActive(bool Value) override;
    int Count() override;
    void* Item(int Index) override;
    std::wstring Model(void* _SD) override;
    std::wstring Serial(void* _SD) override;
    bool DefaultSD(void* _SD) override;
    void* CurrentSD() override;
    int GetDefaultSerialListIndex() override;
    std::wstring GetDefaultSerialList() override;
    void SetDefaultSerialList(const std::wstring& _Value) override;
    void ClearDefault() override;
    void RAZ() override;
    void CheckChanged() override;
    void AddDefaultBitmap(const Bitmap24* _Bitmap) override;
    void RefreshDefaultBitmap() override;
    void RefreshImageButtons() override;
    void SetBrigtness(int _Value) override;

private:
    std::unique_ptr<TSDList> FList;
};
