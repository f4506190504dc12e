#pragma once
// The control box driver: Stream Deck models, one connected control box (TSD), its keys
// and their pictures (TSDButtons, TSDButton), and the list of control boxes (TSDList).
//
// Everything here runs on the main thread.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Bitmap24.h"
#include "uUSB.h"

class SDImageEncoder;
class TSD;
class TSDButtons;
class TSDList;

// ---------------------------------------------------------------------------------------
// Models

enum TSDType { sdtUndefined, sdtMini, sdtStandard, sdtXL };

struct TSDModelInfo {
    std::uint16_t ProductID;
    TSDType Type;
    int Keys;
};

// The Stream Deck models we know, by USB product id. Only the six-key one (sdtMini) is
// admitted by the list; the others still get their model and key count. The six-key
// model comes in two revisions: 0x0063, and 0x0090 for the boxes sold later, with the
// same keys and the same reports.
inline constexpr TSDModelInfo SDModels[] = {
    {0x0060, sdtStandard, 15},
    {0x0063, sdtMini, 6},
    {0x006C, sdtXL, 32},
    {0x0090, sdtMini, 6},
};

// sdtUndefined for any product id not in the table.
TSDType SDTypeOfProduct(std::uint16_t productId);
// 1 for sdtUndefined.
int SDKeyCount(TSDType type);

// The built-in black key picture "Noir80": 80 × 80, every pixel 0. Made once, on first
// use, and kept until the program ends.
const Bitmap24& Noir80();

// ---------------------------------------------------------------------------------------
// Keys

class TSDButton {
public:
    // Makes the key's own picture, a copy of the black one, and shows it.
    explicit TSDButton(TSDButtons* _Owner);
    ~TSDButton();
    TSDButton(const TSDButton&) = delete;
    TSDButton& operator=(const TSDButton&) = delete;

    // The key's own picture becomes black again, and the key shows it.
    void Clear();
    // The key shows `Value` (owned by the caller, who keeps it alive). Sends nothing.
    void SetDefBitmap(const Bitmap24* Value);

    const Bitmap24* Bitmap() const { return FBitmap; }
    // The key shows `Value` (owned by the caller), and the control box repaints this key.
    void SetBitmap(const Bitmap24* Value);

    // Key index: position in the key set, byte position in the input report.
    std::int32_t Id() const { return FId; }
    TSDButtons* Owner() const { return FOwner; }
    // Whether the key shows the picture it made itself.
    bool ShowsOwnBitmap() const { return FBitmap == FOwnBitmap.get(); }

private:
    friend class TSDButtons;

    const Bitmap24* FBitmap = nullptr;
    TSDButtons* FOwner;
    std::int32_t FId = 0;
    std::unique_ptr<Bitmap24> FOwnBitmap;  // the one picture the key frees
};

class TSDButtons {
public:
    // One key per key of the owner's model, each showing the list's default picture of its
    // index when the list has one, black otherwise. Sends nothing.
    explicit TSDButtons(TSD* _Owner);
    ~TSDButtons();
    TSDButtons(const TSDButtons&) = delete;
    TSDButtons& operator=(const TSDButtons&) = delete;

    // The key at Index for Index 0 to 15 that exists; null otherwise.
    TSDButton* Get(int Index) const;
    TSDButton* List(int Index) const { return Get(Index); }
    // Replaces the key at Index (0 to 15, existing) and frees the old one; other indexes,
    // and a null key, are ignored.
    void Put(int Index, std::unique_ptr<TSDButton> btn);
    int GetCount() const { return static_cast<int>(FList.size()); }
    int Count() const { return GetCount(); }

    // The first key whose index is _IdxBtn, or null.
    TSDButton* IndexOf(std::int32_t _IdxBtn) const;
    // Every key for which the list has a default picture shows it again. Sends nothing.
    void ReloadDefaultBitmap();

    TSD* Owner() const { return FOwner; }

private:
    const Bitmap24* DefaultBitmap(int index) const;

    std::int32_t FNbButtons;
    std::vector<std::unique_ptr<TSDButton>> FList;
    TSD* FOwner;
};

// ---------------------------------------------------------------------------------------
// One connected control box

class TSD {
public:
    // Reads the identity of `_Device` (model from the product id, device-instance number,
    // serial, vendor and product strings, USB ids), takes the list's active flag, then
    // makes the key set. Sends nothing. Neither pointer is owned; a missing device gives
    // an empty identity and a control box that writes nothing.
    TSD(TSDList* _Owner, TJvHidDevice* _Device);
    // Frees the key set; sends nothing and leaves the device to its controller.
    ~TSD();
    TSD(const TSD&) = delete;
    TSD& operator=(const TSD&) = delete;

    const std::wstring& Serial() const { return FSerial; }
    void SetSerial(std::wstring Value) { FSerial = std::move(Value); }
    const std::wstring& Model() const { return FModel; }
    const std::wstring& Vendor() const { return FVendor; }
    void SetVendor(std::wstring Value) { FVendor = std::move(Value); }
    bool DefaultSD() const { return FDefaultSD; }
    TSDButtons* Buttons() const { return FButtons.get(); }
    std::uint16_t VID() const { return FVID; }
    std::uint16_t PID() const { return FPID; }
    std::int32_t Id() const { return FId; }
    TSDType SDType() const { return sdType; }
    TJvHidDevice* Device() const { return FDevice; }
    TSDList* SDList() const { return FSDList; }

    bool Active() const { return FActive; }
    // Stores the flag and repaints every key, also when the flag did not change.
    void SetActive(bool Value);

    // Sends the reset report.
    void RAZ();
    // Sends the brightness report with _Value mod 101. ERangeError for a negative value,
    // before anything is sent.
    void SetBrigtness(int _Value);

    // Repaints every key, key 0 first.
    void RefreshImageButtons();
    // Repaints key Index, greyed unless the list is active. ERangeError when Index does not
    // fit in 16 bits; a key that does not exist is skipped.
    void RefreshImageButton(int Index);
    // Sends `_Bitmap` to key `_Index` as 20 image reports. Nothing is sent without a
    // device or without a picture.
    void WriteImageButton(int _Index, const Bitmap24* _Bitmap, bool _Grey);

private:
    friend class TSDList;  // sets and clears FDefaultSD

    void SendFeature(const std::uint8_t* fields, std::size_t count);

    std::int32_t FId = 0;
    std::wstring FSerial;
    std::wstring FModel;
    bool FDefaultSD = false;
    std::uint16_t FVID = 0;
    std::uint16_t FPID = 0;
    TSDType sdType = sdtUndefined;
    std::unique_ptr<TSDButtons> FButtons;
    TSDList* FSDList = nullptr;
    bool FActive = false;
    std::wstring FVendor;
    TJvHidDevice* FDevice = nullptr;
    // The key states of this box's last whole key report, kept for every listed box
    // (current or not), so that a key fires when it goes down, not while it is held.
    std::array<std::uint8_t, 30> FKeyStates{};
    // Conversion buffers of this control box's key pictures, made once.
    std::unique_ptr<SDImageEncoder> FEncoder;
};

// ---------------------------------------------------------------------------------------
// The list of control boxes
//
// The connected six-key control boxes in arrival order, the default one (stored by serial
// number in the settings as "DefaultSerial") and the current one: the default control box
// while it is connected, none otherwise. Key pictures go to the current control box only,
// and only its key presses are acted on.
//
// Every trace line lets pending main-thread work run (a hot-plug pass, another report), and
// that work may change or remove the current control box: the list reads FCurrentSD afresh
// after every log call and never keeps a control box in a local across one.

// Sender is the list.
using TOnSDPushButton = std::function<void(void* _Sender, std::int32_t _IdButton)>;
// _SD is the current control box, null for none; the handler gets a copy it may change
// without touching the list.
using TOnSDCurrentChange = std::function<void(void* _Sender, TSD*& _SD)>;

class TSDList {
public:
    // Creates the HID controller over `platform` (which must outlive the list) and runs one
    // enumeration at once: control boxes present now are listed, and the stored default
    // one made current, before any event can be set.
    explicit TSDList(HidPlatform& platform);
    // Resets the current control box, frees the control boxes, then the HID controller.
    ~TSDList();
    TSDList(const TSDList&) = delete;
    TSDList& operator=(const TSDList&) = delete;

    // Hot-plug handlers of the HID controller. IsSDMini admits the six-key model in both
    // of its revisions (product ids 0x0063 and 0x0090) and nothing else.
    static bool IsSDMini(const TJvHidDevice* device);
    void HIDPlugged(TqvHIDDevice* HidDev);
    void HIDUnPlugged(TqvHIDDevice* HidDev);
    // Data handler of the HID controller: key presses of the current control box, each
    // fired once, when its key goes down.
    void HIDreader(TJvHidDevice* HidDev, std::uint8_t ReportID, const void* Data, std::uint16_t Size);

    // Makes the default control box current; true when the current one changed.
    bool ConnectDefaultSD();
    TSD* CurrentSD() const { return FCurrentSD; }
    void SetCurrentSD(TSD* Value);
    void DoCurrentSDChange();

    // Marks the listed control box with serial _Value as default and makes it current;
    // nothing at all when no listed control box has that serial. Does not store it.
    void SetDefaultSerialList(const std::wstring& _Value);
    // No default, no current control box; stores the empty serial.
    void ClearDefault();
    std::int32_t DefaultIndex() const { return FDefaultIdx; }
    void SetDefaultIndex(std::int32_t Value);
    TSD* GetDefaultSD() const;
    int GetDefaultSerialListIndex() const;
    std::wstring GetDefaultSerialList() const;
    // The stored default serial, read afresh; empty when absent.
    std::wstring GetDefaultSerialBDR() const;

    TSD* Add(TJvHidDevice* _Device);
    // Index of the first control box whose serial equals _Serial ignoring ASCII case, or -1.
    int IndexOf(const std::wstring& _Serial) const;
    // Null when Index is out of range.
    TSD* Get(int Index) const;
    TSD* List(int Index) const { return Get(Index); }
    int GetCount() const { return static_cast<int>(FList.size()); }
    int Count() const { return GetCount(); }
    // Re-enumerates; arrivals and removals run the handlers above.
    void CheckChanged();

    // Default key pictures: entry n is the default picture of key n. The list only refers
    // to them; they must outlive it. Keys that already exist are not changed.
    void AddDefaultBitmap(const Bitmap24* _Bitmap);
    // Null when Index is out of range.
    const Bitmap24* GetListDefaultBitmap(int Index) const;
    // Replaces an existing entry; an index out of range is ignored.
    void PutListDefaultBitmap(int Index, const Bitmap24* Value);
    const Bitmap24* ListDefaultBitmap(int Index) const { return GetListDefaultBitmap(Index); }
    void SetListDefaultBitmap(int Index, const Bitmap24* Value) { PutListDefaultBitmap(Index, Value); }

    // True while the timing software's window is present; key pictures are greyed while
    // it is false.
    bool Active() const { return FActive; }
    // Stores the flag and hands it to the current control box, which repaints its keys.
    void SetActive(bool Value);

    // Pass-through to the current control box; nothing without one.
    void RAZ();
    void Refresh();
    // Points the keys of every listed control box at the default pictures; sends nothing.
    void RefreshDefaultBitmap();

    const TOnSDPushButton& OnPushButton() const { return FOnPushButton; }
    void SetOnPushButton(TOnSDPushButton handler) { FOnPushButton = std::move(handler); }
    const TOnSDCurrentChange& OnCurrentSDChange() const { return FOnSDCurrentChange; }
    void SetOnCurrentSDChange(TOnSDCurrentChange handler) { FOnSDCurrentChange = std::move(handler); }
    const TNotifyEvent& OnChange() const { return FOnChange; }
    void SetOnChange(TNotifyEvent handler) { FOnChange = std::move(handler); }

    TqvHIDController& HidController() const { return *FHidController; }

private:
    void RemoveAt(int index);
    // Index of the entry that wraps `device` (the very object, not its serial), or -1.
    int IndexOfDevice(const TJvHidDevice* device) const;
    // Every change of the current control box goes through here.
    void PutCurrentSD(TSD* sd);
    // A read of `device` failed; reads that keep failing are traced once.
    void HIDDataError(TJvHidDevice* device, std::uint32_t error);
    // One trace line per box and trouble, until a report of the box arrives again.
    void TraceTrouble(const std::wstring& serial, const std::wstring& what);

    std::vector<std::unique_ptr<TSD>> FList;
    std::vector<const Bitmap24*> FListDefaultBitmap;
    std::int32_t FDefaultIdx = 0;
    TOnSDPushButton FOnPushButton;
    TOnSDCurrentChange FOnSDCurrentChange;
    TNotifyEvent FOnChange;
    TSD* FCurrentSD = nullptr;
    std::unique_ptr<TqvHIDController> FHidController;
    bool FActive = false;
    std::vector<std::wstring> FTracedTrouble;
    // Key reports are id 1 with at least one byte per key; anything else is not a key report.
    static constexpr std::uint8_t KeyReportId = 1;
    static constexpr std::size_t KeyStateBytes = 30;
};
