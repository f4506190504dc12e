// The main window's start-up, lifecycle, control box page and status bar, on the
// components' state (no window: the same logic the Win32 side shows).

#include "MainWindowTestSupport.h"

#include "AppShell.h"
#include "Application.h"
#include "Exceptions.h"
#include "ScriptedDesktopWindows.h"
#include "TextUtils.h"
#include "VrRunOnce.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace mainwindowtest;
using bridgetest::ControlBoxOnlyHint;
using bridgetest::NoControlBoxHint;

std::vector<std::wstring> Row(const TStringGrid& grid, int row) {
    return grid.Cells.at(static_cast<std::size_t>(row));
}

class MainWindow : public ::testing::Test {
protected:
    // What would reach a message box.
    MainWindow() { Application::SetMessageShower([this](const std::wstring& m) { FShown.push_back(m); }); }
    ~MainWindow() override { Application::SetMessageShower(nullptr); }
    const std::vector<std::wstring>& Shown() const { return FShown; }
    void Start(std::vector<std::wstring> plugged, const std::wstring& storedDefault = L"") {
        if (!storedDefault.empty())
            Env.StoreDefault(storedDefault);
        Form = std::make_unique<TfrmMain>(Env.Services(Desktop, std::move(plugged)));
        // Rows are 24 pixels high, header first.
        Form->StringGrid1.PeerRowAt = [this](int, int y) {
            const int row = y / 24;
            return row < Form->StringGrid1.RowCount ? row : -1;
        };
        Form->StringGrid1.PeerPopup = [this](int, int) { Env.Events.push_back(L"grid menu"); };
        AppShell::ResetTerminated();
        Form->FormCreate(Form.get());
    }
    void Show() {
        // What the platform side does when the window appears with a page in front.
        Form->FormShow(Form.get());
        if (Form->PageControl1.ActivePage() == &Form->tsSDList)
            Form->tsSDListShow(Form.get());
    }
    void Select(int row) {
        Form->StringGrid1.Row = row;
        Form->actSetAsDefaultUpdate(nullptr);
        Form->actNoDefaultUpdate(nullptr);
    }
    bool Logged(const std::wstring& line) const {
        const auto lines = Env.LogLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    Environment Env;
    ScriptedDesktopWindows Desktop;
    std::unique_ptr<TfrmMain> Form;
    std::vector<std::wstring> FShown;
};

TEST_F(MainWindow, StartWithoutAnyControlBoxShowsTheEmptyGridOnControlBoxes) {
    Start({});
    EXPECT_EQ(Form->PageControl1.ActivePage(), &Form->tsSDList);
    EXPECT_FALSE(Form->TrackBar1.Enabled);
    EXPECT_EQ(Form->TrayIcon1.Hint(), NoControlBoxHint);
    EXPECT_TRUE(Form->TimerFindVanto.Enabled());
    EXPECT_FALSE(Form->FDemarrage);
    const auto lines = Env.LogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], L"|");
    EXPECT_EQ(lines[1], L"FormCreate|");

    Show();
    EXPECT_EQ(Form->StringGrid1.RowCount, 1);
    EXPECT_EQ(Row(Form->StringGrid1, 0), (std::vector<std::wstring>{L"Model", L"Serial", L"Def"}));
    Select(0);
    EXPECT_FALSE(Form->actSetAsDefault.Enabled);
    EXPECT_FALSE(Form->actNoDefault.Enabled);
    // Nothing was sent to any control box.
    for (const std::wstring& e : Env.Events)
        EXPECT_TRUE(e.rfind(L"brightness", 0) != 0 && e.rfind(L"reset", 0) != 0) << WideToUtf8(e);
}

TEST_F(MainWindow, StartWithTheDefaultConnectedStaysOnSettingsAndPaintsTheKeys) {
    Start({L"AL12", L"CL34"}, L"cl34");
    EXPECT_EQ(Form->PageControl1.ActivePage(), &Form->tsParam);
    EXPECT_TRUE(Form->TrackBar1.Enabled);
    EXPECT_EQ(Form->TrackBar1.Position, 50);
    EXPECT_EQ(Form->TrayIcon1.Hint(), ControlBoxOnlyHint);
    EXPECT_EQ(Env.List->DefaultBitmaps.size(), 6u);
    // The keys get the default pictures after the list had them, and no brightness goes out.
    const auto pictures = std::find(Env.Events.begin(), Env.Events.end(), L"default pictures");
    ASSERT_NE(pictures, Env.Events.end());
    EXPECT_NE(std::find(pictures, Env.Events.end(), L"images CL34"), Env.Events.end());
    EXPECT_EQ(std::count_if(Env.Events.begin(), Env.Events.end(),
                            [](const std::wstring& e) { return e.rfind(L"brightness", 0) == 0; }),
              0);

    Show();
    // The default control box's row is selected when the page is shown.
    Form->PageControl1.SetActivePage(&Form->tsSDList);
    Form->tsSDListShow(nullptr);
    EXPECT_EQ(Form->StringGrid1.Row, 2);
    EXPECT_EQ(Form->StringGrid1.Hearts, (std::vector<bool>{false, false, true}));
}

TEST_F(MainWindow, ANonDefaultControlBoxStartsOnControlBoxes) {
    Start({L"AL12"}, L"ZZ99");
    EXPECT_EQ(Form->PageControl1.ActivePage(), &Form->tsSDList);
    Form->actParamExecute(nullptr);
    EXPECT_EQ(Form->PageControl1.ActivePage(), &Form->tsSDList);
}

TEST_F(MainWindow, SetAsDefaultThenClearDefault) {
    Start({L"AL12", L"CL34"});
    Show();
    ASSERT_EQ(Form->StringGrid1.RowCount, 3);
    EXPECT_EQ(Row(Form->StringGrid1, 1), (std::vector<std::wstring>{L"Stream Deck Mini", L"AL12", L""}));
    EXPECT_EQ(Form->StringGrid1.RowObjects[2], Env.List->Item(1));

    Select(2);
    EXPECT_TRUE(Form->actSetAsDefault.Enabled);
    EXPECT_FALSE(Form->actNoDefault.Enabled);
    Form->actSetAsDefault.Execute();
    EXPECT_EQ(Form->StringGrid1.Hearts, (std::vector<bool>{false, false, true}));
    EXPECT_EQ(StringOf(Env.Setting(L"DefaultSerial")), L"CL34");
    EXPECT_TRUE(Logged(L"actSetAsDefault|N°Série CL34 est définit par defaut"));
    EXPECT_EQ(Form->TrayIcon1.Hint(), ControlBoxOnlyHint);
    EXPECT_TRUE(Form->TrackBar1.Enabled);

    Select(2);
    EXPECT_FALSE(Form->actSetAsDefault.Enabled);
    EXPECT_TRUE(Form->actNoDefault.Enabled);
    Form->StatusBar1.Panels[1].Text = L"something";
    Env.Events.clear();
    Form->actNoDefault.Execute();
    // The control box is reset before the default goes.
    ASSERT_FALSE(Env.Events.empty());
    EXPECT_EQ(Env.Events.front(), L"reset CL34");
    EXPECT_TRUE(Logged(L"actNoDefault|SERIAL N°CL34 par default supprimé"));
    EXPECT_EQ(Form->StringGrid1.Hearts, (std::vector<bool>{false, false, false}));
    ASSERT_TRUE(Env.Setting(L"DefaultSerial").has_value());
    EXPECT_EQ(StringOf(Env.Setting(L"DefaultSerial")), L"");
    EXPECT_EQ(Form->StatusBar1.Panels[1].Text, L"");
    EXPECT_EQ(Form->TrayIcon1.Hint(), NoControlBoxHint);
    EXPECT_FALSE(Form->TrackBar1.Enabled);
}

TEST_F(MainWindow, DefaultActionsNeverRunOnTheHeaderRow) {
    Start({L"AL12"});
    Show();
    Select(0);
    Env.Events.clear();
    Form->actSetAsDefault.Execute();
    Form->actNoDefault.Execute();
    EXPECT_TRUE(Env.Events.empty());
    EXPECT_FALSE(Env.Setting(L"DefaultSerial").has_value());
}

TEST_F(MainWindow, RightClickOpensTheGridMenuOnRowsOnly) {
    Start({L"AL12", L"CL34"});
    Show();
    const struct {
        int Y;
        bool Opens;
        int Row;
    } cases[] = {{5, false, 0}, {30, true, 1}, {50, true, 2}, {300, false, 2}};
    Form->StringGrid1.Row = 0;
    for (const auto& c : cases) {
        Env.Events.clear();
        Form->StringGrid1MouseDown(nullptr, 10, c.Y, true);
        EXPECT_EQ(std::count(Env.Events.begin(), Env.Events.end(), L"grid menu"), c.Opens ? 1 : 0) << c.Y;
        EXPECT_EQ(Form->StringGrid1.Row, c.Row) << c.Y;
    }
    // A left press leaves selection to the grid itself.
    Env.Events.clear();
    Form->StringGrid1MouseDown(nullptr, 10, 30, false);
    EXPECT_TRUE(Env.Events.empty());
}

TEST_F(MainWindow, TrackBarSendsOnlyToACurrentControlBox) {
    Start({L"AL12"});
    Form->TrackBar1.Position = 70;
    Form->TrackBar1Change(nullptr);
    EXPECT_EQ(std::count(Env.Events.begin(), Env.Events.end(), L"brightness 70"), 0);

    Env.StoreDefault(L"AL12");
    Env.List->SetDefaultSerialList(L"AL12");
    EXPECT_TRUE(Form->TrackBar1.Enabled);
    Form->TrackBar1Change(nullptr);
    EXPECT_EQ(std::count(Env.Events.begin(), Env.Events.end(), L"brightness 70"), 1);
}

TEST_F(MainWindow, HotPlugRefillsTheGridAndFollowsTheCurrentControlBox) {
    Start({}, L"CL34");
    Show();
    Env.List->Plug(L"CL34");
    EXPECT_EQ(Form->StringGrid1.RowCount, 2);
    EXPECT_TRUE(Form->TrackBar1.Enabled);
    EXPECT_EQ(Form->TrayIcon1.Hint(), ControlBoxOnlyHint);
    Env.List->Unplug(L"CL34");
    EXPECT_EQ(Form->StringGrid1.RowCount, 1);
    EXPECT_FALSE(Form->TrackBar1.Enabled);
    EXPECT_EQ(Form->FCurrentSD, nullptr);

    // Refresh asks the list to look now; the grid follows through its change event.
    Env.List->PendingPlugs = {L"NEW1"};
    Form->actRefreshList.Execute();
    EXPECT_EQ(Form->StringGrid1.RowCount, 2);
}

TEST_F(MainWindow, StatusPanelTwoFillsTheRestButNeverGoesNegative) {
    Start({});
    const struct {
        int Width;
        int Panel2;
    } cases[] = {{328, 68}, {260, 0}, {200, 0}, {500, 240}};
    for (const auto& c : cases) {
        Form->Width = c.Width;
        Form->FormResize(nullptr);
        EXPECT_EQ(Form->StatusBar1.Panels[2].Width, c.Panel2) << c.Width;
    }
    EXPECT_EQ(Form->StatusBar1.Panels[0].Width, 80);
    EXPECT_EQ(Form->StatusBar1.Panels[1].Width, 100);
    EXPECT_EQ(Form->StatusBar1.Panels[3].Width, 80);
}

TEST_F(MainWindow, ShowingHidesTheTabOfTheKeyPicturesPage) {
    Start({});
    Show();
    EXPECT_TRUE(Form->tsParam.TabVisible);
    EXPECT_TRUE(Form->tsSDList.TabVisible);
    EXPECT_FALSE(Form->TabSheet1.TabVisible);
    EXPECT_TRUE(Logged(L"FormShow|"));
}

TEST_F(MainWindow, CloseOnlyHidesUnlessForced) {
    Start({});
    bool canClose = true;
    Form->FormCloseQuery(nullptr, canClose);
    EXPECT_FALSE(canClose);
    EXPECT_TRUE(Logged(L"FormCloseQuery|"));
    Form->FForceClose = true;
    Form->FormCloseQuery(nullptr, canClose);
    EXPECT_TRUE(canClose);
}

TEST_F(MainWindow, QuitResetsTheBoxSavesTheSettingsAndEndsWithFormDestroy) {
    Start({L"AL12"}, L"AL12");
    Form->actQuitter.Execute();
    EXPECT_TRUE(AppShell::Terminated());
    Form->FormDestroy(nullptr);
    EXPECT_NE(std::find(Env.Events.begin(), Env.Events.end(), L"reset AL12"), Env.Events.end());
    const auto lines = Env.LogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], L"actQuitter|");
    EXPECT_EQ(lines.back(), L"FormDestroy|");
    // First run: both settings default to on, and the logon entry is written.
    EXPECT_EQ(RegBoolFromValue(L"DEMARRAGE_AUTO", *Env.Setting(L"DEMARRAGE_AUTO")), true);
    EXPECT_EQ(RegBoolFromValue(L"CHECK_UPDATES_AUTO", *Env.Setting(L"CHECK_UPDATES_AUTO")), true);
    EXPECT_EQ(StringOf(Env.LogonEntry()), MainSettings::LogonCommand(Env.ExePath));
    EXPECT_EQ(Form->FSDListPort, nullptr);
}

TEST_F(MainWindow, AValueOfAnotherTypeStartsWholeAndOnlyThatValueIsWrittenAgain) {
    const std::wstring key = L"Software\\Lumetra\\LumetraControlBox";
    const std::wstring runKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    struct Case {
        const wchar_t* Name;
        TRegValue Planted;
        const wchar_t* Reader;
        // What the end of the run leaves: the two booleans and the serial.
        std::uint32_t Demarrage, CheckUpdates;
        const wchar_t* Serial;
    };
    const Case cases[] = {
        {MainSettings::DemarrageAuto, RegStringValue(L"1"), L"RegReadBool", 1, 0, L"AL12"},
        {MainSettings::CheckUpdatesAuto, RegStringValue(L"0"), L"RegReadBool", 1, 1, L"AL12"},
        {MainSettings::CheckUpdatesAuto, TRegValue{TRegType::Binary, {}}, L"RegReadBool", 1, 1, L"AL12"},
        {MainSettings::DefaultSerial, RegDwordValue(12), L"RegReadString", 1, 0, L""},
    };
    for (const auto& c : cases) {
        // As a former run left them, with one value spoilt by another writer.
        Env.Store.PutValue(key, MainSettings::DemarrageAuto, RegDwordValue(1));
        Env.Store.PutValue(key, MainSettings::CheckUpdatesAuto, RegDwordValue(0));
        Env.Store.PutValue(key, MainSettings::DefaultSerial, RegStringValue(L"AL12"));
        Env.Store.PutValue(runKey, L"LumetraControlBox", RegStringValue(MainSettings::LogonCommand(Env.ExePath)));
        Env.Store.PutValue(key, c.Name, c.Planted);
        Env.Events.clear();
        FShown.clear();
        Start({L"AL12"});
        const bool serialSpoilt = std::wstring(c.Name) == MainSettings::DefaultSerial;

        EXPECT_TRUE(Logged(std::wstring(c.Reader) + L"|Invalid data type for '" + c.Name + L"'")) << c.Name;
        EXPECT_TRUE(Shown().empty()) << c.Name;
        // Every step ran: status shown, search armed, the window shown when the default
        // is missing, the keys of a current box painted.
        EXPECT_EQ(Form->TrayIcon1.Hint(), serialSpoilt ? NoControlBoxHint : ControlBoxOnlyHint) << c.Name;
        EXPECT_TRUE(Form->TimerFindVanto.Enabled());
        EXPECT_EQ(Form->PageControl1.ActivePage(), serialSpoilt ? &Form->tsSDList : &Form->tsParam);
        EXPECT_EQ(std::find(Env.Events.begin(), Env.Events.end(), L"images AL12") != Env.Events.end(), !serialSpoilt);
        EXPECT_FALSE(Form->FDemarrage);

        Form->FormDestroy(nullptr);
        Form.reset();
        EXPECT_EQ(Env.Setting(MainSettings::DemarrageAuto), RegDwordValue(c.Demarrage)) << c.Name;
        EXPECT_EQ(Env.Setting(MainSettings::CheckUpdatesAuto), RegDwordValue(c.CheckUpdates)) << c.Name;
        EXPECT_EQ(Env.Setting(MainSettings::DefaultSerial), RegStringValue(c.Serial)) << c.Name;
        EXPECT_EQ(StringOf(Env.LogonEntry()), MainSettings::LogonCommand(Env.ExePath)) << c.Name;
    }
}

TEST_F(MainWindow, AStartWhoseListFailsStillArmsTheSearchShowsTheWindowAndSaves) {
    TfrmMainServices services;
    services.Desktop = &Desktop;
    services.CreateSDList = []() -> std::unique_ptr<TSDListPort> { throw Exception(L"no list today"); };
    Form = std::make_unique<TfrmMain>(services);
    AppShell::ResetTerminated();
    Form->FormCreate(Form.get());
    EXPECT_EQ(Shown(), (std::vector<std::wstring>{L"no list today"}));
    EXPECT_TRUE(Logged(L"FormCreate|"));
    EXPECT_EQ(Form->TrayIcon1.Hint(), NoControlBoxHint);
    EXPECT_TRUE(Form->TimerFindVanto.Enabled());
    EXPECT_FALSE(Form->TrackBar1.Enabled);
    EXPECT_EQ(Form->PageControl1.ActivePage(), &Form->tsSDList);
    EXPECT_FALSE(Form->FDemarrage);
    Form->TimerFindVantoTimer(nullptr);  // the search runs without a list
    // The settings were loaded, so the end of the run writes them as usual.
    Form->FormDestroy(nullptr);
    EXPECT_EQ(Env.Setting(MainSettings::DemarrageAuto), RegDwordValue(1));
    EXPECT_EQ(Env.LogLines().back(), L"FormDestroy|");
}

TEST_F(MainWindow, ARunThatNeverLoadedTheSettingsNeverWritesThem) {
    const std::wstring key = L"Software\\Lumetra\\LumetraControlBox";
    Env.Store.PutValue(key, MainSettings::DemarrageAuto, RegDwordValue(1));
    Env.Store.PutValue(key, MainSettings::CheckUpdatesAuto, RegDwordValue(1));
    Form = std::make_unique<TfrmMain>(Env.Services(Desktop, {L"AL12"}));
    // No creation step ran (the window could not be made): the checked states are the
    // design's, not the user's.
    Form->FormDestroy(nullptr);
    Form->FormClose(nullptr);
    EXPECT_EQ(Env.Setting(MainSettings::DemarrageAuto), RegDwordValue(1));
    EXPECT_EQ(Env.Setting(MainSettings::CheckUpdatesAuto), RegDwordValue(1));
    EXPECT_FALSE(Env.LogonEntry().has_value());
}

TEST_F(MainWindow, LaunchAtStartupIsSharedByTheMenuAndTheCheckBoxAndStoredAtOnce) {
    Start({});
    ASSERT_EQ(Form->ckDemarrage.Action, &Form->actLancerAuDemarrage);
    EXPECT_TRUE(Form->actLancerAuDemarrage.Checked);
    Form->actLancerAuDemarrage.Execute();
    EXPECT_FALSE(Form->actLancerAuDemarrage.Checked);
    EXPECT_EQ(RegBoolFromValue(L"DEMARRAGE_AUTO", *Env.Setting(L"DEMARRAGE_AUTO")), false);
    // The logon entry follows only when the program ends.
    EXPECT_FALSE(Env.LogonEntry().has_value());
    Form->FormDestroy(nullptr);
    EXPECT_FALSE(Env.LogonEntry().has_value());
}

TEST_F(MainWindow, TrayMenuAndPageDesign) {
    Start({});
    std::vector<std::wstring> captions;
    for (const TMenuItem& item : Form->PopupMenu1.Items)
        captions.push_back(item.Caption);
    EXPECT_EQ(captions, (std::vector<std::wstring>{L"Settings", L"Launch at Startup", L"-", L"Always Check Updates",
                                                   L"Check for Update", L"-", L"Quit"}));
    EXPECT_EQ(Form->PopupMenu1.Items[0].Action, &Form->actParam);
    EXPECT_EQ(Form->PopupMenu1.Items[6].Action, &Form->actQuitter);
    EXPECT_EQ(Form->lblBrigthness.Caption(), L"Brigthness");
    EXPECT_EQ(Form->StringGrid1.ColWidths, (std::vector<int>{102, 134, 26}));
    EXPECT_EQ(Form->actRefreshList.Hint, L"Refresh");
    EXPECT_EQ(Form->TrackBar1.Max, 100);
    EXPECT_EQ(Form->TrackBar1.Frequency, 10);
}

TEST(ApplicationTitle, IsTheFileNameUpToItsFirstDotWithTheRestInLowerCase) {
    const struct {
        const wchar_t* Path;
        const wchar_t* Title;
    } cases[] = {
        {L"C:\\Program Files\\Lumetra\\LumetraControlBox.exe", L"Lumetracontrolbox"},
        {L"C:\\x\\My.Box.exe", L"My"},
        {L"/opt/LUMETRA", L"Lumetra"},
        {L"noext", L"noext"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ApplicationTitleOf(c.Path), c.Title) << WideToUtf8(c.Path);
}

}  // namespace
