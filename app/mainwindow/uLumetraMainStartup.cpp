// The main window's start-up, lifecycle and tray menu: its design state, the creation
// steps in their order, showing, closing and destroying, and the actions that the tray
// menu and the Settings page share.

#include "uLumetraMain.h"

#include "AppShell.h"
#include "Application.h"
#include "Exceptions.h"
#include "SDListPort.h"
#include "uLogs.h"
#include "uLumetraMainSettings.h"
#include "WUpdate.h"

namespace {

// Image indexes in ImageList1, the 16 × 16 command icons.
enum : int { iiGear = 0, iiHeart = 1, iiHeartCross = 2, iiRefresh = 3 };

void LoadGlyph(TSpeedButton& button, const wchar_t* resource) {
    if (auto bytes = AppShell::ResourceBytes(resource, AppShell::ResBitmap))
        button.Glyph = Bitmap24::LoadFromBmp(*bytes);
}

}  // namespace

void TfrmMain::DesignStartup() {
    ImageList1.ResourceNames = {L"GEAR", L"HEART", L"HEARTCROSS", L"REFRESH"};

    actParam.Caption = L"Settings";
    actParam.ImageIndex = iiGear;
    actParam.OnExecute = [this](void* Sender) { actParamExecute(Sender); };
    actLancerAuDemarrage.Caption = L"Launch at Startup";
    actLancerAuDemarrage.OnExecute = [this](void* Sender) { actLancerAuDemarrageExecute(Sender); };
    actAlwaysCheckUpdates.Caption = L"Always Check Updates";
    actAlwaysCheckUpdates.OnExecute = [this](void* Sender) { actAlwaysCheckUpdatesExecute(Sender); };
    actCheckUpdates.Caption = L"Check for Update";
    actCheckUpdates.OnExecute = [this](void* Sender) { actCheckUpdatesExecute(Sender); };
    actQuitter.Caption = L"Quit";
    actQuitter.OnExecute = [this](void* Sender) { actQuitterExecute(Sender); };

    PopupMenu1.Items = {
        {L"Settings", &actParam},
        {L"Launch at Startup", &actLancerAuDemarrage},
        {L"-", nullptr},
        {L"Always Check Updates", &actAlwaysCheckUpdates},
        {L"Check for Update", &actCheckUpdates},
        {L"-", nullptr},
        {L"Quit", &actQuitter},
    };

    ckDemarrage.SetCaption(L"Launch at Startup");
    ckDemarrage.Action = &actLancerAuDemarrage;

    TrayIcon1.OnDblClick = [this](void* Sender) { TrayIcon1DblClick(Sender); };

    // The six default key pictures ride on buttons of a page that is never shown.
    TSpeedButton* buttons[] = {&AeroSpeedButton0, &AeroSpeedButton1, &AeroSpeedButton2,
                               &AeroSpeedButton3, &AeroSpeedButton4, &AeroSpeedButton5};
    const wchar_t* resources[] = {L"KEY0", L"KEY1", L"KEY2", L"KEY3", L"KEY4", L"KEY5"};
    for (int i = 0; i < 6; ++i) {
        buttons[i]->Tag = i;
        LoadGlyph(*buttons[i], resources[i]);
    }
}

void TfrmMain::FormCreate(void* Sender) {
    (void)Sender;
    FDemarrage = true;
    FForceClose = false;
    FSettingsLoaded = false;

    // Each step reports what it raises, through the default handler, and the next step
    // runs all the same: a start that stopped half-way would leave a program in the tray
    // that never searches for the timing software, never forwards a press and shows
    // nothing. Steps that need the control box list do without it when it failed.
    auto step = [](const std::function<void()>& call) { Application::Guarded(call); };

    step([&] {
        FListChercheVanto.clear();
        ClearRaceLabels();
        FCurrentSD = nullptr;
    });

    step([&] {
        StringGrid1.Cells.assign(1, {L"Model", L"Serial", L"Def"});
        StringGrid1.RowObjects.assign(1, nullptr);
        StringGrid1.NotifyChanged();
    });

    step([&] {
        FRepAppData = ComputeLogFolder();
        FLogErrorFile = FRepAppData + LogFileName;
        CreateLogFolder(FRepAppData);
    });

    // The list enumerates the connected control boxes before it returns; what it raises
    // meanwhile reaches no handler, since none is set yet.
    step([&] {
        if (FServices.CreateSDList)
            FSDListPort = FServices.CreateSDList();
        if (!FSDListPort)
            throw Exception(L"No control box list is available in this build");
        FSDListPort->OnCurrentSDChange = [this](void* _Sender, void*& _SD) {
            TSD* sd = static_cast<TSD*>(_SD);
            SDListCurrentSDChange(_Sender, sd);
        };
        FSDListPort->OnPushButton = [this](void* _Sender, std::int32_t _IdButton) {
            SDListPushButton(_Sender, _IdButton);
        };
        FSDListPort->OnChange = [this](void* _Sender) { SDListChange(_Sender); };

        // The buttons keep the pictures; the list only refers to them.
        for (TSpeedButton* button : {&AeroSpeedButton0, &AeroSpeedButton1, &AeroSpeedButton2, &AeroSpeedButton3,
                                     &AeroSpeedButton4, &AeroSpeedButton5})
            FSDListPort->AddDefaultBitmap(&button->Glyph);
    });
    const auto hasCurrentSD = [this] { return FSDListPort && FSDListPort->HasCurrentSD(); };

    step([&] { FAppName = MainSettings::GetApplicationName(); });

    step([&] { LogError(L"", L""); });
    step([&] { LogError(L"FormCreate", L""); });

    step([&] {
        if (StatusBar1.Panels.size() > 1)
            StatusBar1.Panels[1].Text.clear();
        if (!StatusBar1.Panels.empty())
            StatusBar1.Panels[0].Text = GetVersionText();
        StatusBar1.NotifyChanged();
    });

    step([&] { SetTrayHint(L"", L""); });
    FTrouveVanto = -1;
    step([&] { LoadSettings(); });
    step([&] { UpdateStatus(); });

    step([&] {
        TrackBar1.Enabled = hasCurrentSD();
        TrackBar1.NotifyChanged();
    });

    step([&] { TimerFindVanto.SetEnabled(true); });

    step([&] {
        PageControl1.SetActivePage(&tsParam);
        if (!hasCurrentSD())
            PageControl1.SetActivePage(&tsSDList);
    });

    step([&] {
        if (!FSDListPort || FSDListPort->GetDefaultSerialListIndex() == -1)
            TrayIcon1DblClick(this);
        else if (FPeer)
            FPeer->Hide();
    });

    // Every listed box gets the default pictures now (nothing is sent), so that one made the
    // default later does not show the black keys it was created with; only the current one
    // is painted.
    step([&] {
        if (!FSDListPort)
            return;
        FSDListPort->RefreshDefaultBitmap();
        if (FSDListPort->HasCurrentSD())
            FSDListPort->RefreshImageButtons();
    });

    step([&] {
        if (FServices.BeforeStartupUpdateCheck)
            FServices.BeforeStartupUpdateCheck(*this);
        if (actAlwaysCheckUpdates.Checked)
            actCheckUpdates.Execute();
    });

    FDemarrage = false;
}

void TfrmMain::FormShow(void* Sender) {
    (void)Sender;
    LogError(L"FormShow", L"");
    // The first page keeps its designed tab; the others show theirs only when tagged 1, so
    // the page of key pictures stays hidden.
    for (std::size_t i = 1; i < PageControl1.Pages.size(); ++i)
        PageControl1.Pages[i]->TabVisible = PageControl1.Pages[i]->Tag == 1;
    PageControl1.NotifyChanged();
}

void TfrmMain::FormCloseQuery(void* Sender, bool& CanClose) {
    (void)Sender;
    LogError(L"FormCloseQuery", L"");
    CanClose = FForceClose;
    if (!CanClose && FPeer)
        FPeer->Hide();
}

void TfrmMain::FormClose(void* Sender) {
    (void)Sender;
    SaveSettings();
    LogError(L"FormClose", L"");
}

void TfrmMain::FormDestroy(void* Sender) {
    (void)Sender;
    // No message box on the way out; key-downs still waiting are traced as not sent,
    // without waiting for a timing software that does not answer.
    FEnding = true;
    Application::Guarded([&] { StopKeyDowns(); });
    // Logging off ends the process from inside a run's wait: leave no download behind.
    // A step that fails is reported and the next one runs: a save that failed must not
    // keep the devices open or the trace without its last line.
    Application::Guarded([&] {
        if (WebUpdate1)
            WebUpdate1->Abandon();
    });
    Application::Guarded([&] {
        if (FSDListPort)
            FSDListPort->RAZ();
    });
    Application::Guarded([&] { SaveSettings(); });
    FListChercheVanto.clear();
    FCurrentSD = nullptr;
    FSDListPort.reset();
    LogError(L"FormDestroy", L"");
}

void TfrmMain::TrayIcon1DblClick(void* Sender) {
    (void)Sender;
    actParam.Execute();
    if (FPeer) {
        FPeer->Show();
        AppShell::BringToFront(FPeer->Handle());
    }
}

void TfrmMain::actParamExecute(void* Sender) {
    (void)Sender;
    const bool defaultMissing = !FSDListPort || FSDListPort->GetDefaultSerialListIndex() == -1;
    PageControl1.SetActivePage(defaultMissing ? &tsSDList : &tsParam);
    if (FPeer)
        FPeer->Show();
}

void TfrmMain::actQuitterExecute(void* Sender) {
    (void)Sender;
    LogError(L"actQuitter", L"");
    AppShell::Terminate();
}

void TfrmMain::actLancerAuDemarrageExecute(void* Sender) {
    (void)Sender;
    MainSettings::ToggleAndSave(MainSettings::DemarrageAuto, actLancerAuDemarrage.Checked);
    actLancerAuDemarrage.NotifyChanged();
    ckDemarrage.NotifyChanged();
}

void TfrmMain::actAlwaysCheckUpdatesExecute(void* Sender) {
    (void)Sender;
    MainSettings::ToggleAndSave(MainSettings::CheckUpdatesAuto, actAlwaysCheckUpdates.Checked);
    actAlwaysCheckUpdates.NotifyChanged();
}

void TfrmMain::LoadSettings() {
    FSettingsLoaded = false;
    MainSettings::LoadSettings(
        [this](bool Value) {
            actLancerAuDemarrage.Checked = Value;
            actLancerAuDemarrage.NotifyChanged();
            ckDemarrage.NotifyChanged();
        },
        [this](bool Value) {
            actAlwaysCheckUpdates.Checked = Value;
            actAlwaysCheckUpdates.NotifyChanged();
        });
    FSettingsLoaded = true;
}

void TfrmMain::SaveSettings() {
    // Without loaded settings the checked states are nobody's choice: writing them would
    // put zeros over the stored values and take the logon entry away.
    if (!FSettingsLoaded)
        return;
    // The check box always shows the action's state, so either may be read.
    MainSettings::SaveSettings(actLancerAuDemarrage.Checked, actAlwaysCheckUpdates.Checked);
}
