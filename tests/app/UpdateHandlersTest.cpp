// The main window's answers to its update engine: the check at start-up keeps quiet where
// the menu speaks, the restart question, and the close that ends the program for the
// updater. The server is an address where nothing listens, so a run ends on its
// connection error in every build.
#include "MainWindowTestSupport.h"

#include "AppShell.h"
#include "ScriptedDesktopWindows.h"
#include "UpdateDialogs.h"
#include "WUpdate.h"
#include "uLumetraMainUpdate.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace mainwindowtest;
using TKind = TScriptedUpdateDialogs::TKind;

const std::wstring kUnreachable =
    L"http://127.0.0.1:1/softwares/Lumetra%20CONTROLBOX/V1/LumetraControlBox.INF";

class UpdateHandlers : public ::testing::Test {
protected:
    void SetUp() override {
        SetUpdateDialogs(&Dialogs);
        SetUpdateURL(kUnreachable);
    }
    void TearDown() override {
        Form.reset();
        SetUpdateDialogs(nullptr);
        SetUpdateURL(L"");
        AppShell::ResetTerminated();
    }
    void Start(bool alwaysCheckUpdates) {
        RegWriteBool(MainSettings::CheckUpdatesAuto, alwaysCheckUpdates);
        Form = std::make_unique<TfrmMain>(Env.Services(Desktop, {}));
        AppShell::ResetTerminated();
        Form->FormCreate(Form.get());
    }
    bool Logged(const std::wstring& line) const {
        const auto lines = Env.LogLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    Environment Env;
    ScriptedDesktopWindows Desktop;
    TScriptedUpdateDialogs Dialogs;
    std::unique_ptr<TfrmMain> Form;
};

TEST_F(UpdateHandlers, StartUpCheckIsQuietAboutTheConnectionAndTheMenuIsNot) {
    Start(true);
    // The check ran during the creation steps, with this program's engine settings.
    ASSERT_NE(Form->WebUpdate1, nullptr);
    EXPECT_EQ(Form->WebUpdate1->URL(), kUnreachable);
    EXPECT_TRUE(Dialogs.Events.empty());
    EXPECT_FALSE(Form->FDemarrage);

    Form->actCheckUpdates.Execute();
    ASSERT_EQ(Dialogs.Of(TKind::Message).size(), 1u);
    EXPECT_EQ(Dialogs.Of(TKind::Message)[0].Text, L"No Internet Connection Found");
    // The silent abort went no further than the action.
    EXPECT_FALSE(AppShell::Terminated());
}

TEST_F(UpdateHandlers, NoCheckAtStartUpWhenSwitchedOff) {
    Start(false);
    EXPECT_EQ(Form->WebUpdate1, nullptr);
    // Pointed elsewhere on a running window, as the simulator's update-url does.
    SetWebUpdateURL(*Form, L"http://127.0.0.1:1/other.INF");
    EXPECT_EQ(Form->WebUpdate1->URL(), L"http://127.0.0.1:1/other.INF");
}

TEST_F(UpdateHandlers, WithoutAnAddressOfItsOwnATestBuildStaysOnThisMachine) {
    // The tests link the loopback server address: a test that forgets to point the engine
    // somewhere must not reach the real update server.
    SetUpdateURL(L"");
    Start(false);
    CreateWebUpdate1(*Form);
    EXPECT_EQ(Form->WebUpdate1->URL(), L"https://127.0.0.1:1/softwares/Lumetra%20CONTROLBOX/V1/LumetraControlBox.INF");
}

TEST_F(UpdateHandlers, StatusCodesAsTheWindowTellsThem) {
    Start(false);
    CreateWebUpdate1(*Form);
    struct TCase {
        bool Starting;
        int Code;
        std::wstring Shown;  // "" for nothing
        bool Aborts;
    };
    const TCase cases[] = {
        {false, 1, L"No Internet Connection Found", true},
        {true, 1, L"", true},
        {false, 4, L"No new version available", false},
        {true, 4, L"", false},
        {false, 2, L"Update control file not found\rUpdate discontinued", false},
        {true, 2, L"Update control file not found\rUpdate discontinued", false},
        {false, 3, L"", false},
        {false, 6, L"", false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Code);
        Dialogs.Events.clear();
        Form->FDemarrage = c.Starting;
        bool aborted = false;
        try {
            WebUpdate1Status(*Form, *Form->WebUpdate1, L"Update control file not found", c.Code, 0);
        } catch (const EAbort&) {
            aborted = true;
        }
        EXPECT_EQ(aborted, c.Aborts);
        const auto shown = Dialogs.Of(TKind::Message);
        EXPECT_EQ(shown.size(), c.Shown.empty() ? 0u : 1u);
        if (!shown.empty()) EXPECT_EQ(shown[0].Text, c.Shown);
    }
}

TEST_F(UpdateHandlers, RestartQuestionAndTheCloseThatEndsTheProgram) {
    Start(false);
    CreateWebUpdate1(*Form);
    for (bool answer : {false, true}) {
        Dialogs.Answers = {answer};
        bool allow = !answer;
        WebUpdate1AppRestart(*Form, *Form->WebUpdate1, allow);
        EXPECT_EQ(allow, answer);
    }
    ASSERT_EQ(Dialogs.Of(TKind::Confirmation).size(), 2u);
    EXPECT_EQ(Dialogs.Of(TKind::Confirmation)[0].Text, L"Shutting down application to update executable files ?");

    WebUpdate1AppDoClose(*Form, *Form->WebUpdate1);
    EXPECT_TRUE(Form->FForceClose);
    EXPECT_TRUE(AppShell::Terminated());
    EXPECT_TRUE(Logged(L"FormCloseQuery|"));
    EXPECT_TRUE(Logged(L"FormClose|"));
}

}  // namespace
