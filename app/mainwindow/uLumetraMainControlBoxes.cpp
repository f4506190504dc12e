// The "Control Boxes" page, the brightness track bar and the status bar: the grid of
// connected control boxes with its default commands, and what the list's events do to them.

#include "uLumetraMain.h"

#include "FileFacts.h"
#include "ProcessInfo.h"
#include "SDListPort.h"
#include "uLumetraMainSettings.h"

void TfrmMain::DesignControlBoxes() {
    imlStatusSDList.ResourceNames = {L"HEARTCROSS", L"GEAR", L"HEART"};

    StringGrid1.ColCount = 3;
    StringGrid1.RowCount = 1;
    StringGrid1.FixedRows = 1;
    StringGrid1.ColWidths = {102, 134, 26};
    StringGrid1.Cells.assign(1, {L"", L"", L""});
    StringGrid1.RowObjects.assign(1, nullptr);

    actSetAsDefault.Caption = L"Set as Default";
    actSetAsDefault.Hint = L"Set as Default";
    actSetAsDefault.ImageIndex = 1;  // ImageList1: red heart
    actSetAsDefault.OnExecute = [this](void* Sender) { actSetAsDefaultExecute(Sender); };
    actSetAsDefault.OnUpdate = [this](void* Sender) { actSetAsDefaultUpdate(Sender); };
    actNoDefault.Caption = L"Clear Default";
    actNoDefault.Hint = L"Clear Default";
    actNoDefault.ImageIndex = 2;  // ImageList1: grey heart with a red cross
    actNoDefault.OnExecute = [this](void* Sender) { actNoDefaultExecute(Sender); };
    actNoDefault.OnUpdate = [this](void* Sender) { actNoDefaultUpdate(Sender); };
    actRefreshList.Hint = L"Refresh";
    actRefreshList.ImageIndex = 3;  // ImageList1: green circular arrow
    actRefreshList.OnExecute = [this](void* Sender) { actRefreshListExecute(Sender); };

    ToolBar1.Items = {{L"Set as Default", &actSetAsDefault}, {L"Clear Default", &actNoDefault}, {L"-", nullptr},
                      {L"", &actRefreshList}};
    PopupMenuGrille.Items = {{L"Set as Default", &actSetAsDefault}, {L"Clear Default", &actNoDefault}};

    lblBrigthness.SetCaption(L"Brigthness");
    TrackBar1.Min = 0;
    TrackBar1.Max = 100;
    TrackBar1.Frequency = 10;
    TrackBar1.Position = 50;
    TrackBar1.OnChange = [this](void* Sender) { TrackBar1Change(Sender); };

    StatusBar1.Panels = {{L"ver 0.0.0.0", 80}, {L"", 100}, {L"", 100}, {L"", 80}};

    tsSDList.OnShow = [this](void* Sender) { tsSDListShow(Sender); };
}

void TfrmMain::FillGrid() {
    TSDListPort* list = FSDListPort.get();
    // Drawing stays suspended while the rows are rebuilt, and resumes also on failure.
    if (StringGrid1.PeerLockUpdate)
        StringGrid1.PeerLockUpdate(true);
    try {
        const int count = list ? list->Count() : 0;
        StringGrid1.RowCount = count + 1;
        StringGrid1.Cells.resize(1);
        StringGrid1.RowObjects.assign(1, nullptr);
        StringGrid1.Hearts.assign(1, false);
        for (int i = 0; i < count; ++i) {
            void* sd = list->Item(i);
            StringGrid1.RowObjects.push_back(sd);
            StringGrid1.Cells.push_back({list->Model(sd), list->Serial(sd), L""});
            StringGrid1.Hearts.push_back(list->DefaultSD(sd));
        }
        if (StringGrid1.Row >= StringGrid1.RowCount)
            StringGrid1.Row = StringGrid1.RowCount - 1;
        StringGrid1.NotifyChanged();
    } catch (...) {
        if (StringGrid1.PeerLockUpdate)
            StringGrid1.PeerLockUpdate(false);
        throw;
    }
    if (StringGrid1.PeerLockUpdate)
        StringGrid1.PeerLockUpdate(false);
    if (FPeer)
        FPeer->Repaint();
}

std::wstring TfrmMain::GetVersionText() {
    const auto version = MakeSystemFileFacts()->FileVersion(ProcessInfo::ExecutablePath());
    if (!version)
        return L"";
    return L" Ver " + VersionToString(*version);
}

void TfrmMain::ResizeStatusPanels() {
    if (StatusBar1.Panels.size() < 4)
        return;
    const int rest = Width - StatusBar1.Panels[0].Width - StatusBar1.Panels[1].Width - StatusBar1.Panels[3].Width;
    StatusBar1.Panels[2].Width = rest < 0 ? 0 : rest;
    StatusBar1.NotifyChanged();
}

void TfrmMain::FormResize(void* Sender) {
    (void)Sender;
    ResizeStatusPanels();
}

void TfrmMain::SetBrigtness(int _Value) {
    if (FSDListPort && FSDListPort->HasCurrentSD())
        FSDListPort->SetBrigtness(_Value % 101);
}

void TfrmMain::TrackBar1Change(void* Sender) {
    (void)Sender;
    SetBrigtness(TrackBar1.Position);
}

void TfrmMain::StringGrid1MouseDown(void* Sender, int X, int Y, bool RightButton) {
    (void)Sender;
    const int row = StringGrid1.PeerRowAt ? StringGrid1.PeerRowAt(X, Y) : -1;
    // The header row and the space below the rows open nothing.
    if (row < StringGrid1.FixedRows || row >= StringGrid1.RowCount)
        return;
    if (RightButton) {
        StringGrid1.Row = row;
        StringGrid1.NotifyChanged();
        if (StringGrid1.PeerPopup)
            StringGrid1.PeerPopup(X, Y);
    }
}

void TfrmMain::tsSDListShow(void* Sender) {
    (void)Sender;
    FillGrid();
    const int index = FSDListPort ? FSDListPort->GetDefaultSerialListIndex() : -1;
    if (index != -1) {
        StringGrid1.Row = index + 1;
        StringGrid1.NotifyChanged();
    }
}

namespace {

bool IsDataRow(const TStringGrid& grid) { return grid.Row >= grid.FixedRows && grid.Row < grid.RowCount; }

}  // namespace

void TfrmMain::actSetAsDefaultUpdate(void* Sender) {
    (void)Sender;
    const int defaultRow = FSDListPort ? FSDListPort->GetDefaultSerialListIndex() + 1 : 0;
    actSetAsDefault.Enabled = IsDataRow(StringGrid1) && StringGrid1.Row != defaultRow;
}

void TfrmMain::actNoDefaultUpdate(void* Sender) {
    (void)Sender;
    const int defaultRow = FSDListPort ? FSDListPort->GetDefaultSerialListIndex() + 1 : 0;
    actNoDefault.Enabled = IsDataRow(StringGrid1) && StringGrid1.Row == defaultRow;
}

void TfrmMain::actSetAsDefaultExecute(void* Sender) {
    // Acts only when the enable rule holds, so never on the header or an empty row.
    actSetAsDefaultUpdate(Sender);
    if (!actSetAsDefault.Enabled || !FSDListPort)
        return;
    FSDListPort->RAZ();
    void* sd = StringGrid1.RowObjects[static_cast<std::size_t>(StringGrid1.Row)];
    if (!sd)
        return;
    const std::wstring serial = FSDListPort->Serial(sd);
    FSDListPort->SetDefaultSerialList(serial);
    MainSettings::ParamSaveString(MainSettings::DefaultSerial, serial);
    FillGrid();
    UpdateStatus();
    LogError(L"actSetAsDefault", L"N°Série " + serial + L" est définit par defaut");
}

void TfrmMain::actNoDefaultExecute(void* Sender) {
    actNoDefaultUpdate(Sender);
    if (!actNoDefault.Enabled || !FSDListPort)
        return;
    FSDListPort->RAZ();
    const std::wstring serial = FSDListPort->GetDefaultSerialList();
    LogError(L"actNoDefault", L"SERIAL N°" + serial + L" par default supprimé");
    // The log line lets other work run; the list is asked afresh.
    if (!FSDListPort)
        return;
    FSDListPort->ClearDefault();
    FillGrid();
    UpdateStatus();
    if (StatusBar1.Panels.size() > 1) {
        StatusBar1.Panels[1].Text.clear();
        StatusBar1.NotifyChanged();
    }
}

void TfrmMain::actRefreshListExecute(void* Sender) {
    (void)Sender;
    if (FSDListPort)
        FSDListPort->CheckChanged();
}

void TfrmMain::SDListChange(void* _Sender) {
    (void)_Sender;
    FillGrid();
}

void TfrmMain::SDListCurrentSDChange(void* _Sender, TSD*& _SD) {
    (void)_Sender;
    FCurrentSD = _SD;
    SDListLink().SetActive(FTrouveVanto == 1);
    UpdateStatus();
    TrackBar1.Enabled = FSDListPort && FSDListPort->HasCurrentSD();
    TrackBar1.NotifyChanged();
    if (FPeer)
        FPeer->Repaint();
}
