#include "Application.h"
#include "BridgeTestSupport.h"
#include "SDListAdapter.h"
#include "ScriptedDesktopWindows.h"
#include "VirtualHidBus.h"
#include "uLumetraMain.h"
#include "uStreamDeck.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using bridgetest::ControlBoxOnlyHint;
using bridgetest::NoControlBoxHint;
using bridgetest::ReadyHint;
using bridgetest::Record;
using bridgetest::WatchedWindow;
using Window = ScriptedDesktopWindows::TWindow;
using Labels = std::vector<std::wstring>;

TEST(BridgeTitle, SplitsEventFolderAndRace) {
    struct Case {
        std::wstring Title;
        std::wstring Event, Folder, Race;
    };
    const Case cases[] = {
        {L"VANTO3 - [12] Marathon - Finish line > [3] 10 km", L"Marathon", L"Finish line", L"10 km"},
        // Without " > " there is no folder, and the race keeps its bracket.
        {L"VANTO3 - [12] Marathon - [3] 10 km", L"Marathon", L"", L"[3] 10 km"},
        {L"VANTO3 - [1] A - B > C", L"A", L"B", L"C"},
        // The folder keeps its bracket.
        {L"VANTO3 - A - [2] B > [3] C", L"A", L"[2] B", L"C"},
        // Only the first separator of each kind counts.
        {L"VANTO3 - A - B > C > D", L"A", L"B", L"C > D"},
        {L"VANTO3 - [1] [2] A - B > [3] [4] C - D", L"[2] A", L"B", L"[4] C - D"},
        {L"VANTO3 - A - B - C", L"A", L"", L"B - C"},
        // Whatever precedes the first " - " goes with the prefix.
        {L"x - y - VANTO3 - A", L"y", L"", L"VANTO3 - A"},
        // A single " - " and titles without separators give nothing.
        {L"VANTO3 - Marathon", L"", L"", L""},
        {L"VANTO3", L"", L"", L""},
        {L"", L"", L"", L""},
        {L"VANTO3 -Marathon- Finish", L"", L"", L""},
        // Separators with nothing around them.
        {L"VANTO3 -  - ", L"", L"", L""},
        {L"VANTO3 - ]  -  > ] ", L"", L"", L""},
        {L"VANTO3 - A -  > ", L"A", L"", L""},
        {L"VANTO3 - A - B >C", L"A", L"", L"B >C"},
        {L"VANTO3 - A]B - C", L"A]B", L"", L"C"},
        {L"VANTO3 - \u00c9preuve \u00e9t\u00e9 - Dossier > Course \u00e0 pied", L"\u00c9preuve \u00e9t\u00e9",
         L"Dossier", L"Course \u00e0 pied"},
    };
    for (const Case& c : cases) {
        // Outputs start empty whatever they held.
        std::wstring event = L"old", folder = L"old", race = L"old";
        TfrmMain::ParseWindowTitle(c.Title, event, folder, race);
        EXPECT_EQ(Labels({event, folder, race}), Labels({c.Event, c.Folder, c.Race})) << testing::PrintToString(c.Title);
    }
}

TEST(BridgeSearch, KeepsTheLastVisibleWindowWhoseTitleStartsWithVanto3) {
    const std::wstring longTitle = L"VANTO3 - A - B > " + std::wstring(300, L'r');
    struct Case {
        const char* Name;
        std::vector<Window> Windows;  // top of the z-order first
        std::wstring Title;           // found title, empty for none
        TWindowHandle Handle;
    };
    const std::vector<Case> cases = {
        {"lower case", {{10, L"vanto3 - a - b", true}}, L"vanto3 - a - b", 10},
        {"mixed case, exactly six", {{10, L"Vanto3", true}}, L"Vanto3", 10},
        {"hidden", {{10, L"VANTO3 - A - B", false}}, L"", 0},
        {"five characters", {{10, L"VANTO", true}}, L"", 0},
        {"leading blank", {{10, L" VANTO3 - A - B", true}}, L"", 0},
        {"other program", {{10, L"Untitled - Notepad", true}, {11, L"", true}}, L"", 0},
        {"no windows", {}, L"", 0},
        {"later in z-order wins",
         {{10, L"VANTO3 - top", true}, {11, L"Notepad", true}, {12, L"VANTO3 - below", true}, {13, L"VANTO3 - hidden", false}},
         L"VANTO3 - below", 12},
        {"title read into 255 characters", {{10, longTitle, true}}, longTitle.substr(0, 254), 10},
        // Full-width letters are not ASCII.
        {"not ASCII", {{10, L"\uff36ANTO3 - A - B", true}}, L"", 0},
    };
    for (const Case& c : cases) {
        ScriptedDesktopWindows desktop;
        desktop.Windows = c.Windows;
        WatchedWindow w(desktop);
        w.Form.TimerFindVantoTimer(nullptr);
        const std::vector<std::wstring> expected = c.Title.empty() ? std::vector<std::wstring>{}
                                                                   : std::vector<std::wstring>{c.Title};
        EXPECT_EQ(w.Form.FListChercheVanto, expected) << c.Name;
        EXPECT_EQ(w.Form.FTrouveVanto, c.Title.empty() ? 0 : 1) << c.Name;
        if (!c.Title.empty())
            EXPECT_EQ(w.Form.FHandleVanto, c.Handle) << c.Name;
    }
}

TEST(BridgeSearch, CallbackVisitsEveryWindowAndFollowsTheList) {
    ScriptedDesktopWindows desktop;
    desktop.Windows = {{1, L"VANTO3 - A", true}, {2, L"Other", true}};
    WatchedWindow w(desktop);
    std::vector<std::wstring> list;
    EXPECT_TRUE(w.Form.EnumWindowsCallback(1, list));
    EXPECT_EQ(w.Form.FTrouveVanto, 1);
    EXPECT_TRUE(w.Form.EnumWindowsCallback(2, list));
    EXPECT_EQ(list, std::vector<std::wstring>{L"VANTO3 - A"}) << "a window that does not match keeps the found one";
    list.clear();
    EXPECT_TRUE(w.Form.EnumWindowsCallback(2, list));
    EXPECT_EQ(w.Form.FTrouveVanto, 0);
}

// One tick from each state, with the timing software's window present or not.
TEST(BridgeTick, FollowsThePresenceStateTable) {
    const std::wstring title = L"VANTO3 - [12] Marathon - Finish line > [3] 10 km";
    const Labels parsed = {L"Marathon", L"Finish line", L"10 km"};
    const Labels before = {L"e", L"f", L"r"};
    struct Case {
        int Previous;
        std::vector<Window> Windows;
        int Now;
        Record Events;
        Labels After;
    };
    const std::vector<Case> cases = {
        {-1, {{7, L"Explorer", true}}, 0, {}, before},
        {-1, {{7, L"Explorer", true}, {66070, title, true}}, 1,
         {L"tray 2|" + ReadyHint, L"active 1", L"log TimerFindVanto|Vanto trouv\u00e9 : 66070"}, parsed},
        {0, {{7, L"Explorer", true}}, 0, {}, before},
        {0, {{66070, title, true}}, 1,
         {L"tray 2|" + ReadyHint, L"active 1", L"log TimerFindVanto|Vanto trouv\u00e9 : 66070"}, parsed},
        {1, {{66070, title, true}}, 1, {}, parsed},
        {1, {{7, L"Explorer", true}}, 0,
         {L"active 0", L"log TimerFindVanto|Vanto non trouv\u00e9", L"tray 1|" + ControlBoxOnlyHint}, {L"", L"", L""}},
        // A search that sees no window at all still ends with the timing software absent.
        {1, {}, 0,
         {L"active 0", L"log TimerFindVanto|Vanto non trouv\u00e9", L"tray 1|" + ControlBoxOnlyHint}, {L"", L"", L""}},
    };
    for (const Case& c : cases) {
        ScriptedDesktopWindows desktop;
        desktop.Windows = c.Windows;
        WatchedWindow w(desktop);
        w.Form.FTrouveVanto = c.Previous;
        if (c.Previous == 1)
            w.Form.FListChercheVanto = {L"VANTO3 - stale"};
        w.Form.lblEpreuve.SetCaption(before[0]);
        w.Form.lblDossier.SetCaption(before[1]);
        w.Form.lblCourse.SetCaption(before[2]);

        w.Form.TimerFindVantoTimer(nullptr);

        const std::string name = "from " + std::to_string(c.Previous) + " to " + std::to_string(c.Now);
        EXPECT_EQ(w.Form.FTrouveVanto, c.Now) << name;
        EXPECT_EQ(w.Events, c.Events) << name;
        EXPECT_EQ(w.Labels(), c.After) << name;
    }
}

TEST(BridgeTick, LogsArrivalOnceAndDepartureOnlyAfterAnArrival) {
    ScriptedDesktopWindows desktop;
    desktop.Windows = {{3, L"Explorer", true}};
    WatchedWindow w(desktop);
    w.Form.UpdateStatus();  // as the creation steps do while nothing was searched yet
    for (int i = 0; i < 3; ++i)
        w.Form.TimerFindVantoTimer(nullptr);
    EXPECT_EQ(w.Events, Record({L"tray 1|" + ControlBoxOnlyHint}));

    desktop.Windows.push_back({5, L"VANTO3 - A - B > C", true});
    w.Form.TimerFindVantoTimer(nullptr);
    desktop.Windows.back().Title = L"VANTO3 - A - B > D";
    w.Form.TimerFindVantoTimer(nullptr);
    EXPECT_EQ(w.Labels(), Labels({L"A", L"B", L"D"})) << "the labels follow the title on every tick";
    desktop.Windows.pop_back();
    w.Form.TimerFindVantoTimer(nullptr);
    w.Form.TimerFindVantoTimer(nullptr);

    EXPECT_EQ(w.Events, Record({L"tray 1|" + ControlBoxOnlyHint, L"tray 2|" + ReadyHint, L"active 1",
                                L"log TimerFindVanto|Vanto trouv\u00e9 : 5", L"active 0",
                                L"log TimerFindVanto|Vanto non trouv\u00e9", L"tray 1|" + ControlBoxOnlyHint}));
}

TEST(BridgeKeys, ForwardsEachPressAsOneFunctionKey) {
    struct Case {
        const char* Name;
        std::vector<std::wstring> Found;
        std::int32_t Key;
        Record Events;
        std::vector<ScriptedDesktopWindows::TKeyDown> Sent;
        // The desktop holds no timing software at all.
        bool Empty = false;
    };
    const std::vector<std::wstring> found = {L"VANTO3 - A - B > C"};
    const std::vector<Case> cases = {
        {"absent", {}, 0, {L"log EnvoyerVanto|ERROR : FListChercheVanto.Count = 0"}, {}, true},
        {"absent, key out of range", {}, 6, {L"log EnvoyerVanto|ERROR : FListChercheVanto.Count = 0"}, {}, true},
        {"window gone", {L"VANTO3 - closed since"}, 0, {L"log EnvoyerVanto|ERROR : ProgramHwnd = 0"}, {}, true},
        {"key 0", found, 0, {L"log SendMessage|Handle=900 wParam=116"}, {{900, 116}}},
        {"key 1", found, 1, {L"log SendMessage|Handle=900 wParam=117"}, {{900, 117}}},
        {"key 2", found, 2, {L"log SendMessage|Handle=900 wParam=118"}, {{900, 118}}},
        {"key 3", found, 3, {L"log SendMessage|Handle=900 wParam=123"}, {{900, 123}}},
        {"key 4", found, 4, {L"log SendMessage|Handle=900 wParam=114"}, {{900, 114}}},
        {"key 5", found, 5, {L"log SendMessage|Handle=900 wParam=119"}, {{900, 119}}},
        {"key 6", found, 6, {}, {}},
        {"key 15", found, 15, {}, {}},
        {"negative key", found, -1, {}, {}},
        // The look-up takes the first window with that exact title, hidden or not.
        {"first of equal titles", {L"VANTO3 - twin"}, 0, {L"log SendMessage|Handle=800 wParam=116"}, {{800, 116}}},
        // A title with a single " - " shows no labels but is still forwarded to.
        {"title without labels", {L"VANTO3 - Marathon"}, 1, {L"log SendMessage|Handle=901 wParam=117"}, {{901, 117}}},
    };
    for (const Case& c : cases) {
        ScriptedDesktopWindows desktop;
        desktop.Windows = {{800, L"VANTO3 - twin", false}, {900, L"VANTO3 - A - B > C", true},
                           {901, L"VANTO3 - Marathon", true}, {902, L"VANTO3 - twin", true}};
        if (c.Empty) desktop.Windows = {{800, L"Notepad", true}};
        WatchedWindow w(desktop);
        w.Form.FListChercheVanto = c.Found;
        w.Form.FHandleVanto = 902;
        w.Press(c.Key);
        EXPECT_EQ(w.Events, c.Events) << c.Name;
        EXPECT_EQ(desktop.KeyDowns, c.Sent) << c.Name;
    }
}

TEST(BridgeKeys, ALongTitleFallsBackToTheWindowOfTheLastSearch) {
    // The search reads 254 characters of a longer title, which then matches no window
    // exactly; the window it recorded takes the keys while it is still the timing software.
    const std::wstring longTitle = L"VANTO3 - Marathon - Arriv\u00e9e > " + std::wstring(300, L'r');
    const std::wstring stored = longTitle.substr(0, 254);
    struct Case {
        const char* Name;
        std::vector<Window> Windows;
        Record Events;
        std::vector<ScriptedDesktopWindows::TKeyDown> Sent;
    };
    const Record notFound = {L"log EnvoyerVanto|ERROR : ProgramHwnd = 0"};
    const std::vector<Case> cases = {
        {"still there", {{10, longTitle, true}}, {L"log SendMessage|Handle=10 wParam=116"}, {{10, 116}}},
        {"title grown since", {{10, longTitle + L" more", true}}, {L"log SendMessage|Handle=10 wParam=116"},
         {{10, 116}}},
        // Gone: a search then and there finds the window that is there now.
        {"gone", {{11, longTitle, true}}, {L"log SendMessage|Handle=11 wParam=116"}, {{11, 116}}},
        {"gone, nothing else", {{11, L"Notepad", true}}, notFound, {}},
        {"hidden since", {{10, longTitle, false}}, notFound, {}},
        // The race changes, the program stays: its window still takes the keys.
        {"title changed", {{10, L"VANTO3 - Semi - Arriv\u00e9e > " + std::wstring(300, L'r'), true}},
         {L"log SendMessage|Handle=10 wParam=116"}, {{10, 116}}},
        {"no longer the timing software's", {{10, L"Notepad", true}}, notFound, {}},
        {"another window with the exact cut title comes first",
         {{10, longTitle, true}, {12, stored, false}},
         {L"log SendMessage|Handle=12 wParam=116"},
         {{12, 116}}},
    };
    for (const Case& c : cases) {
        ScriptedDesktopWindows desktop;
        desktop.Windows = {{10, longTitle, true}};
        WatchedWindow w(desktop);
        w.Form.TimerFindVantoTimer(nullptr);
        ASSERT_EQ(w.Form.FListChercheVanto, std::vector<std::wstring>{stored});
        ASSERT_EQ(w.Form.FHandleVanto, 10u);
        desktop.Windows = c.Windows;
        w.Events.clear();
        w.Press(0);
        EXPECT_EQ(w.Events, c.Events) << c.Name;
        EXPECT_EQ(desktop.KeyDowns, c.Sent) << c.Name;
    }
}

TEST(BridgeKeys, AKeyDownWindowsRefusesIsTracedAndToldOnce) {
    ScriptedDesktopWindows desktop;
    desktop.Windows = {{900, L"VANTO3 - A - B > C", true}};
    WatchedWindow w(desktop);
    w.Form.TimerFindVantoTimer(nullptr);
    w.Events.clear();
    const std::wstring sent = L"log SendMessage|Handle=900 wParam=116";
    const std::wstring refused = L"log SendMessage|ERROR : Handle=900 wParam=116 refus\u00e9 par Windows "
                                 L"(acc\u00e8s refus\u00e9) : Vanto V3 tourne avec des droits plus \u00e9lev\u00e9s";
    const std::wstring told = std::wstring(L"msgbox ") + VantoRefusesKeysMessage;
    // Each press in turn, with what the window does with it and what follows.
    const struct {
        const char* What;
        std::uint32_t SendError;
        Record Events;
    } presses[] = {
        {"refused: traced, tray and one message", KeyDownRefused, {sent, refused, L"tray 1|" + bridgetest::RefusedHint, told}},
        {"refused again: traced only", KeyDownRefused, {sent, refused}},
        {"delivered: the tray is ready again", 0, {sent, L"tray 2|" + bridgetest::ReadyHint}},
        {"delivered again: nothing more", 0, {sent}},
        {"refused anew: told anew", KeyDownRefused, {sent, refused, L"tray 1|" + bridgetest::RefusedHint, told}},
        {"another error: the key-down is not called refused", 1400,
         {sent, L"log SendMessage|ERROR : Handle=900 wParam=116 non envoy\u00e9 (erreur 1400)"}},
    };
    for (const auto& p : presses) {
        desktop.Windows[0].SendError = p.SendError;
        w.Events.clear();
        w.Press(0);
        MainThread::ProcessMessages();  // the message comes after the press was handled
        EXPECT_EQ(w.Events, p.Events) << p.What;
    }
    EXPECT_EQ(desktop.KeyDowns.size(), 2u) << "only delivered key-downs reach the window";

    // The timing software going clears the tray's warning with the rest.
    w.Events.clear();
    desktop.Windows.clear();
    w.Form.TimerFindVantoTimer(nullptr);
    EXPECT_EQ(w.Events, Record({L"active 0", L"log TimerFindVanto|Vanto non trouv\u00e9",
                                L"tray 1|" + bridgetest::ControlBoxOnlyHint}));
    EXPECT_FALSE(w.Form.FVantoRefusesKeys);
}

TEST(BridgeKeys, ATraceThatCannotBeWrittenStopsNoKeyNorTheTray) {
    ScriptedDesktopWindows desktop;
    desktop.Windows = {{900, L"VANTO3 - A - B > C", true}};
    WatchedWindow w(desktop);
    std::vector<std::wstring> shown;
    Application::SetMessageShower([&](const std::wstring& m) { shown.push_back(m); });
    w.Trace.Refuse = true;
    w.Form.TimerFindVantoTimer(nullptr);
    w.Press(0);
    desktop.Windows.clear();
    w.Form.TimerFindVantoTimer(nullptr);
    Application::SetMessageShower(nullptr);
    w.Trace.Refuse = false;
    w.Form.LogError(L"", L"");  // a line written: the next failure is told anew

    EXPECT_EQ(desktop.KeyDowns, (std::vector<ScriptedDesktopWindows::TKeyDown>{{900, 116}}));
    EXPECT_EQ(w.Events, Record({L"tray 2|" + ReadyHint, L"active 1", L"log TimerFindVanto|Vanto trouv\u00e9 : 900",
                                L"log SendMessage|Handle=900 wParam=116", L"active 0",
                                L"log TimerFindVanto|Vanto non trouv\u00e9", L"tray 1|" + ControlBoxOnlyHint,
                                L"log |"}));
    EXPECT_EQ(w.Labels(), Labels({L"", L"", L""})) << "the labels are cleared after the failing line";
    EXPECT_EQ(shown, std::vector<std::wstring>{L"Cannot write to \"Error.log\": held by another program"})
        << "told once for three lines";
}

TEST(BridgeKeys, PressesAreForwardedWhateverTheActiveFlag) {
    ScriptedDesktopWindows desktop;
    desktop.Windows = {{900, L"VANTO3 - A - B > C", true}};
    WatchedWindow w(desktop);
    w.SDList.Current = false;
    w.Form.TimerFindVantoTimer(nullptr);
    w.Press(3);
    w.Press(3);
    EXPECT_EQ(desktop.KeyDowns, (std::vector<ScriptedDesktopWindows::TKeyDown>{{900, 123}, {900, 123}}));
}

TEST(BridgeTray, ShowsWhetherControlBoxAndTimingSoftwareAreReady) {
    struct Case {
        bool Current;
        int Trouve;
        int Picture;
        std::wstring Hint;
    };
    const Case cases[] = {
        {false, -1, tpNoControlBox, NoControlBoxHint}, {false, 0, tpNoControlBox, NoControlBoxHint},
        {false, 1, tpNoControlBox, NoControlBoxHint},  {true, -1, tpControlBoxOnly, ControlBoxOnlyHint},
        {true, 0, tpControlBoxOnly, ControlBoxOnlyHint}, {true, 1, tpReady, ReadyHint},
    };
    for (const Case& c : cases) {
        ScriptedDesktopWindows desktop;
        WatchedWindow w(desktop);
        w.SDList.Current = c.Current;
        w.Form.FTrouveVanto = c.Trouve;
        w.Form.UpdateStatus();
        EXPECT_EQ(w.Form.TrayIcon1.IconIndex(), c.Picture) << c.Current << " " << c.Trouve;
        EXPECT_EQ(w.Form.TrayIcon1.Hint(), c.Hint) << c.Current << " " << c.Trouve;
    }
    ScriptedDesktopWindows desktop;
    WatchedWindow w(desktop);
    w.Form.SetTrayHint(L"", L"");
    EXPECT_EQ(w.Form.TrayIcon1.Hint(), L"LUMETRA CONTROL BOX\r\r");
}

// Without another link the bridge talks to the window's own control box list, which does
// not exist before the creation steps: no current control box, nobody to tell.
TEST(BridgeControlBoxList, WithoutAListThereIsNoCurrentControlBox) {
    ScriptedDesktopWindows desktop;
    desktop.Windows = {{900, L"VANTO3 - A - B > C", true}};
    TfrmMain form(TfrmMainServices{&desktop, nullptr});
    bridgetest::Record record;
    bridgetest::RecordingTrace trace(record);
    MainThread::Initialize();
    SetTraceFile(&trace);

    form.TimerFindVantoTimer(nullptr);
    EXPECT_EQ(form.FTrouveVanto, 1);
    EXPECT_EQ(form.TrayIcon1.Hint(), NoControlBoxHint);
    EXPECT_EQ(form.TrayIcon1.IconIndex(), tpNoControlBox);

    MainThread::ProcessMessages();
    SetTraceFile(nullptr);
}

// The window's own list: its current control box takes the timing software's presence.
TEST(BridgeControlBoxList, TheCurrentControlBoxFollowsTheTimingSoftware) {
    MainThread::Initialize();
    bridgetest::Record record;
    bridgetest::RecordingTrace trace(record);
    SetTraceFile(&trace);
    VirtualHidBus bus;  // outlives the window, whose list resets its box on the way out
    bus.Plug(VirtualControlBoxDescription(L"AL01"));
    ScriptedDesktopWindows desktop;
    {
        TfrmMain form(TfrmMainServices{&desktop, nullptr});
        form.FSDListPort = std::make_unique<TSDListAdapter>(bus);
        TSDList& list = static_cast<TSDListAdapter&>(*form.FSDListPort).List();
        list.SetDefaultSerialList(L"AL01");
        ASSERT_NE(list.CurrentSD(), nullptr);
        form.UpdateStatus();
        EXPECT_EQ(form.TrayIcon1.Hint(), ControlBoxOnlyHint);

        desktop.Windows = {{900, L"VANTO3 - A - B > C", true}};
        form.TimerFindVantoTimer(nullptr);
        EXPECT_TRUE(list.Active());
        ASSERT_NE(list.CurrentSD(), nullptr);
        EXPECT_TRUE(list.CurrentSD()->Active());
        EXPECT_EQ(form.TrayIcon1.Hint(), ReadyHint);

        desktop.Windows.clear();
        form.TimerFindVantoTimer(nullptr);
        EXPECT_FALSE(list.Active());
        ASSERT_NE(list.CurrentSD(), nullptr);
        EXPECT_FALSE(list.CurrentSD()->Active());
        EXPECT_EQ(form.TrayIcon1.Hint(), ControlBoxOnlyHint);
    }
    MainThread::ProcessMessages();
    SetTraceFile(nullptr);
}

TEST(BridgeWindowDesign, StartsWithTheTimerOffAndThreeTrayPictures) {
    TfrmMain form;
    EXPECT_FALSE(form.TimerFindVanto.Enabled());
    EXPECT_EQ(form.TimerFindVanto.Interval(), 1000u);
    EXPECT_EQ(form.FTrouveVanto, -1);
    EXPECT_EQ(form.imlTrayIcon.Count(), 3);
    EXPECT_EQ(form.gbVanto.Caption(), L"Vanto V3");
    EXPECT_EQ(Labels({form.lblEventCaption.Caption(), form.lblFolderCaption.Caption(), form.lblRaceCaption.Caption()}),
              Labels({L"Event", L"Folder", L"Race"}));
}

}  // namespace

namespace {

using bridgetest::Record;
using bridgetest::WatchedWindow;

TEST(BridgeKeys, APressBeforeTheFirstSearchFindsTheWindowThenAndThere) {
    ScriptedDesktopWindows desktop;
    desktop.Windows = {{900, L"VANTO3 - A - B > C", true}};
    WatchedWindow w(desktop);
    // No tick yet: the press searches and the key-down leaves; the tick's bookkeeping
    // (tray, list, labels, its line) is left to the tick.
    w.Press(2);
    EXPECT_EQ(desktop.KeyDowns, (std::vector<ScriptedDesktopWindows::TKeyDown>{{900, 118}}));
    EXPECT_EQ(w.Events, Record({L"log SendMessage|Handle=900 wParam=118"}));
    w.Form.TimerFindVantoTimer(nullptr);
    EXPECT_EQ(w.Labels(), (std::vector<std::wstring>{L"A", L"B", L"C"}));
}

TEST(BridgeKeys, ATimingSoftwareThatDoesNotAnswerIsToldUntilAKeyDownIsConfirmed) {
    ScriptedDesktopWindows desktop;
    desktop.Windows = {{900, L"VANTO3 - A - B > C", true}};
    WatchedWindow w(desktop);
    w.Form.TimerFindVantoTimer(nullptr);
    const std::wstring sent = L"log SendMessage|Handle=900 wParam=116";
    const std::wstring notResponding = L"LUMETRA CONTROL BOX\rControlBox OK\rVanto V3 not responding";
    const struct {
        const char* What;
        bool Hung;
        Record Events;
    } presses[] = {
        {"not answered: traced with its delay, tray, one message", true,
         {sent, L"log SendMessage|ERROR : Handle=900 wParam=116 non confirm\u00e9 apr\u00e8s # ms : Vanto V3 ne "
                L"r\u00e9pond pas",
          L"tray 1|" + notResponding, std::wstring(L"msgbox ") + VantoNotRespondingMessage}},
        {"not answered again: traced only", true,
         {sent, L"log SendMessage|ERROR : Handle=900 wParam=116 non confirm\u00e9 apr\u00e8s # ms : Vanto V3 ne "
                L"r\u00e9pond pas"}},
        {"confirmed: the tray is ready again", false, {sent, L"tray 2|" + bridgetest::ReadyHint}},
        {"confirmed again: nothing more", false, {sent}},
        {"not answered once more", true,
         {sent, L"log SendMessage|ERROR : Handle=900 wParam=116 non confirm\u00e9 apr\u00e8s # ms : Vanto V3 ne "
                L"r\u00e9pond pas",
          L"tray 1|" + notResponding, std::wstring(L"msgbox ") + VantoNotRespondingMessage}},
    };
    for (const auto& p : presses) {
        desktop.Windows[0].Hung = p.Hung;
        w.Events.clear();
        w.Press(0);
        // The delay's figure is the clock's; the rest is exact.
        for (std::wstring& e : w.Events) {
            const std::size_t at = e.find(L"apr\u00e8s ");
            if (at == std::wstring::npos) continue;
            const std::size_t from = at + 6, to = e.find(L" ms", from);
            ASSERT_NE(to, std::wstring::npos);
            e.replace(from, to - from, L"#");
        }
        EXPECT_EQ(w.Events, p.Events) << p.What;
        // The notice is in the tray's balloon at once, not only in the box that follows.
        if (p.Events.size() > 2) EXPECT_EQ(w.Form.TrayIcon1.BalloonText(), VantoNotRespondingMessage) << p.What;
    }
    EXPECT_EQ(desktop.KeyDowns.size(), 5u) << "each key-down sent once, answered or not";
    // The program answers again: the three key-downs it had left are traced late, and the
    // first answer makes the tray ready again.
    w.Events.clear();
    desktop.AnswerLate();
    w.Form.SettleKeyDowns(std::chrono::seconds(30));
    ASSERT_EQ(w.Events.size(), 4u);
    const std::wstring head = L"log SendMessage|ERROR : Handle=900 wParam=116 re\u00e7u avec ";
    for (int i : {0, 2, 3}) EXPECT_EQ(w.Events[i].substr(0, head.size()), head);
    EXPECT_EQ(w.Events[1], L"tray 2|" + bridgetest::ReadyHint);
}

TEST(BridgeKeys, AKeyDownConfirmedLateIsTracedWithItsDelay) {
    ScriptedDesktopWindows desktop;
    desktop.Windows = {{900, L"VANTO3 - A - B > C", true}};
    // The program takes its time over this key-down, as while it writes its database.
    desktop.OnKeyDown = [](const ScriptedDesktopWindows::TKeyDown&) {
        std::this_thread::sleep_for(VantoLateKeyDown + std::chrono::milliseconds(20));
    };
    WatchedWindow w(desktop);
    w.Form.TimerFindVantoTimer(nullptr);
    w.Events.clear();
    w.Press(5);
    ASSERT_EQ(w.Events.size(), 2u);
    const std::wstring late = w.Events[1];
    const std::wstring head = L"log SendMessage|ERROR : Handle=900 wParam=119 re\u00e7u avec ";
    ASSERT_EQ(late.substr(0, head.size()), head) << std::string(late.begin(), late.end());
    EXPECT_GE(std::stoi(late.substr(head.size())), VantoLateKeyDown.count());
    EXPECT_EQ(late.substr(late.size() - 13), L" ms de retard");
}

TEST(BridgeNotices, AMessageBoxWaitsForTheLoopAndIsNeverShownOnTheWayOut) {
    ScriptedDesktopWindows desktop;
    WatchedWindow w(desktop);
    // Told inside a press: nothing shown until the loop serves it.
    w.Form.ShowOperatorMessage(L"first");
    EXPECT_TRUE(w.Events.empty());
    MainThread::ProcessMessages();
    EXPECT_EQ(w.Events, Record({L"msgbox first"}));
    // Quit asked before the loop came round: dropped.
    w.Events.clear();
    w.Form.ShowOperatorMessage(L"during Quit");
    MainThread::RequestQuit();
    MainThread::ProcessMessages();
    MainThread::ClearQuitRequest();
    // The way out has begun: not even queued.
    w.Form.FEnding = true;
    w.Form.ShowOperatorMessage(L"on the way out");
    MainThread::ProcessMessages();
    EXPECT_TRUE(w.Events.empty());
}

}  // namespace
