#pragma once
// The main window's components as plain state: what each one shows, its events, and a
// hook for its platform side. The program reads and writes the state; the window's Win32
// side (when there is one) creates the real control and sets PeerChanged so that it can
// show each change. Without a window (host tests, a window not yet made) the state is
// all there is.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Bitmap24.h"

using TNotifyEvent = std::function<void(void* Sender)>;

class TComponent {
public:
    explicit TComponent(std::wstring name = {}) : Name(std::move(name)) {}
    virtual ~TComponent() = default;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    std::wstring Name;
    int Tag = 0;
    // Set by the platform side; called after every change of what the component shows.
    std::function<void()> PeerChanged;
    // For components whose state is plain fields: tells the platform side to show them again.
    void NotifyChanged() { Changed(); }

protected:
    void Changed() {
        if (PeerChanged)
            PeerChanged();
    }
};

class TLabel : public TComponent {
public:
    using TComponent::TComponent;
    const std::wstring& Caption() const { return FCaption; }
    void SetCaption(std::wstring Value) {
        FCaption = std::move(Value);
        Changed();
    }
    bool Bold = false;

private:
    std::wstring FCaption;
};

class TGroupBox : public TLabel {
public:
    using TLabel::TLabel;
};

// A periodic timer; its platform side arms and disarms the system timer on each change.
class TTimer : public TComponent {
public:
    using TComponent::TComponent;
    unsigned Interval() const { return FInterval; }
    void SetInterval(unsigned Value) {
        FInterval = Value;
        Changed();
    }
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value) {
        FEnabled = Value;
        Changed();
    }
    TNotifyEvent OnTimer;

private:
    unsigned FInterval = 1000;
    bool FEnabled = false;
};

// A list of same-sized pictures, named by the resources that hold them.
class TImageList : public TComponent {
public:
    using TComponent::TComponent;
    int Width = 16;
    int Height = 16;
    std::vector<std::wstring> ResourceNames;
    int Count() const { return static_cast<int>(ResourceNames.size()); }
};

// The notification-area icon: one picture of its image list and a hint.
class TTrayIcon : public TComponent {
public:
    using TComponent::TComponent;
    const std::wstring& Hint() const { return FHint; }
    void SetHint(std::wstring Value) {
        FHint = std::move(Value);
        Changed();
    }
    int IconIndex() const { return FIconIndex; }
    void SetIconIndex(int Value) {
        FIconIndex = Value;
        Changed();
    }
    bool Visible() const { return FVisible; }
    void SetVisible(bool Value) {
        FVisible = Value;
        Changed();
    }
    // A notice shown at once beside the icon (a balloon), without waiting for anyone.
    void ShowBalloon(std::wstring Title, std::wstring Text) {
        FBalloonTitle = std::move(Title);
        FBalloonText = std::move(Text);
        ++FBalloonCount;
        Changed();
    }
    const std::wstring& BalloonTitle() const { return FBalloonTitle; }
    const std::wstring& BalloonText() const { return FBalloonText; }
    // Counts the balloons asked for, so that the tray shows each once.
    unsigned BalloonCount() const { return FBalloonCount; }
    TImageList* Icons = nullptr;  // not owned
    TNotifyEvent OnDblClick;

private:
    std::wstring FHint;
    int FIconIndex = 0;
    bool FVisible = true;
    std::wstring FBalloonTitle;
    std::wstring FBalloonText;
    unsigned FBalloonCount = 0;
};

class TAction : public TComponent {
public:
    using TComponent::TComponent;
    std::wstring Caption;
    std::wstring Hint;
    int ImageIndex = -1;
    bool Checked = false;
    bool Enabled = true;
    TNotifyEvent OnExecute;
    TNotifyEvent OnUpdate;
    void Execute() {
        if (OnExecute)
            OnExecute(this);
    }
};

class TMenuItem {
public:
    std::wstring Caption;  // "-" for a separator
    TAction* Action = nullptr;  // not owned
};

class TPopupMenu : public TComponent {
public:
    using TComponent::TComponent;
    std::vector<TMenuItem> Items;
};

class TCheckBox : public TLabel {
public:
    using TLabel::TLabel;
    TAction* Action = nullptr;  // not owned
};

class TTabSheet : public TLabel {
public:
    using TLabel::TLabel;
    bool TabVisible = true;
    TNotifyEvent OnShow;
};

class TPageControl : public TComponent {
public:
    using TComponent::TComponent;
    std::vector<TTabSheet*> Pages;  // not owned
    TTabSheet* ActivePage() const { return FActivePage; }
    void SetActivePage(TTabSheet* Value) {
        FActivePage = Value;
        Changed();
    }

private:
    TTabSheet* FActivePage = nullptr;
};

class TStatusPanel {
public:
    std::wstring Text;
    int Width = 0;
};

class TStatusBar : public TComponent {
public:
    using TComponent::TComponent;
    std::vector<TStatusPanel> Panels;
};

class TTrackBar : public TComponent {
public:
    using TComponent::TComponent;
    int Min = 0;
    int Max = 100;
    int Frequency = 10;
    int Position = 50;
    bool Enabled = true;
    TNotifyEvent OnChange;
};

// A grid of texts; each row may carry an object (not owned) and each cell a picture.
class TStringGrid : public TComponent {
public:
    using TComponent::TComponent;
    int ColCount = 3;
    int RowCount = 1;
    int FixedRows = 1;
    int Row = 0;  // selected row
    std::vector<int> ColWidths;
    std::vector<std::vector<std::wstring>> Cells;
    std::vector<void*> RowObjects;
    // Per row: whether the "Def" column shows the red heart (image 2 of imlStatusSDList).
    std::vector<bool> Hearts;
    // Platform side: suspend (true) and resume (false) drawing; the row under a point of
    // the grid (-1 outside the rows, 0 the header); open the grid's pop-up menu there.
    std::function<void(bool)> PeerLockUpdate;
    std::function<int(int X, int Y)> PeerRowAt;
    std::function<void(int X, int Y)> PeerPopup;
};

// A button that only carries a picture.
class TSpeedButton : public TComponent {
public:
    using TComponent::TComponent;
    Bitmap24 Glyph;
};
