#include "SDListTestSupport.h"

namespace {

using Strings = std::vector<std::wstring>;
using Bytes = std::vector<std::uint8_t>;

Bytes Keys(std::size_t size, std::initializer_list<std::pair<std::size_t, std::uint8_t>> set) {
    Bytes data(size, 0);
    for (auto [at, value] : set) data.at(at) = value;
    return data;
}

// The three lines of one pressed key.
Strings Pressed(int key, bool active) {
    const std::wstring b = L"HIDreader|Bouton N\u00b0" + std::to_wstring(key + 1);
    return {b, b + L" appuy\u00e9", b + L" ACurrentList.CurrentSD.Active " + (active ? L"-1" : L"0")};
}

Strings Join(std::initializer_list<Strings> parts) {
    Strings out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

class KeyPressTest : public SDListTest {
protected:
    void SetUp() override {
        SDListTest::SetUp();
        StoreDefault(L"AL01");
        Box = Bus.PlugControlBox(L"AL01");
        MakeList();
        Events.clear();
    }
    void Report(const Bytes& data) {
        List->HIDreader(List->CurrentSD()->Device(), 0x01, data.data(), static_cast<std::uint16_t>(data.size()));
    }
    VirtualHidDevicePtr Box;
};

}  // namespace

TEST_F(KeyPressTest, KeyStateTable) {
    // Each report alone, after a report with every key released.
    const struct {
        const char* what;
        Bytes data;
        bool active;
        Strings events;
        Strings trace;
    } cases[] = {
        {"key 2 alone, inactive", Keys(16, {{2, 1}}), false, {L"push:2"}, Pressed(2, false)},
        {"key 2 alone, active", Keys(16, {{2, 1}}), true, {L"push:2"}, Pressed(2, true)},
        {"2 and 0xFF are not pressed", Keys(16, {{0, 2}, {1, 0xFF}}), false, {}, {}},
        {"keys 0 and 5, lower first", Keys(16, {{0, 1}, {5, 1}}), true, {L"push:0", L"push:5"},
         Join({Pressed(0, true), Pressed(5, true)})},
        {"byte 7: no such key", Keys(16, {{7, 1}}), false, {}, {L"HIDreader|Bouton N\u00b08"}},
        {"byte 29 is the last one looked at", Keys(40, {{29, 1}, {30, 1}, {39, 1}}), false, {},
         {L"HIDreader|Bouton N\u00b030"}},
        {"shorter than the six keys: not a key report", Keys(2, {{1, 1}}), false, {}, {}},
        {"exactly the six keys", Keys(6, {{5, 1}}), false, {L"push:5"}, Pressed(5, false)},
        {"empty data", Bytes{}, false, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        List->SetActive(c.active);
        Report(Keys(16, {}));
        Events.clear();
        Trace.Lines.clear();
        Report(c.data);
        EXPECT_EQ(Events, c.events);
        EXPECT_EQ(Trace.Texts(), c.trace);
    }
}

TEST_F(KeyPressTest, AKeyFiresWhenItGoesDownAndNotWhileItIsHeld) {
    // Reports in a row on one box; what each one fires.
    const struct {
        const char* what;
        Bytes data;
        Strings events;
        Strings extraTrace = {};  // lines of positions without a key
    } steps[] = {
        {"A down", Keys(16, {{0, 1}}), {L"push:0"}},
        {"the same report again", Keys(16, {{0, 1}}), {}},
        {"B down while A is held", Keys(16, {{0, 1}, {1, 1}}), {L"push:1"}},
        {"A up while B is held", Keys(16, {{1, 1}}), {}},
        {"B up", Keys(16, {}), {}},
        {"C down", Keys(16, {{2, 1}}), {L"push:2"}},
        {"D down while C is held", Keys(16, {{2, 1}, {3, 1}}), {L"push:3"}},
        {"D up", Keys(16, {{2, 1}}), {}},
        {"C up", Keys(16, {}), {}},
        {"A pressed again", Keys(16, {{0, 1}}), {L"push:0"}},
        {"A turns to 2 (not pressed)", Keys(16, {{0, 2}}), {}},
        {"A back to 1: a new press", Keys(16, {{0, 1}}), {L"push:0"}},
        {"a short report changes nothing", Keys(3, {}), {}},
        {"A still held: nothing", Keys(16, {{0, 1}}), {}},
        {"a report of another id changes nothing", Keys(0, {}), {}},
        {"E and F down together", Keys(16, {{4, 1}, {5, 1}}), {L"push:4", L"push:5"}},
        {"position 7 goes down beside them", Keys(16, {{4, 1}, {5, 1}, {7, 1}}), {}, {L"HIDreader|Bouton N\u00b08"}},
        {"all three held", Keys(16, {{4, 1}, {5, 1}, {7, 1}}), {}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        Events.clear();
        Trace.Lines.clear();
        Report(step.data);
        EXPECT_EQ(Events, step.events);
        // Three lines per press, none for a key held through the report.
        Strings trace;
        for (const auto& e : step.events) {
            const auto lines = Pressed(std::stoi(e.substr(5)), false);
            trace.insert(trace.end(), lines.begin(), lines.end());
        }
        trace.insert(trace.end(), step.extraTrace.begin(), step.extraTrace.end());
        EXPECT_EQ(Trace.Texts(), trace);
    }
}

TEST_F(KeyPressTest, AKeyHeldWhileTheCurrentBoxChangesFiresOnlyWhenPressedAgain) {
    // Key 0 is down before the change. A key still held after it must not fire (one runner,
    // one press); a key released or pressed while the box was not current must not be lost.
    const Bytes down = Keys(16, {{0, 1}});
    const Bytes up = Keys(16, {});
    const auto reportOf = [&](const Bytes& data) {
        TJvHidDevice* device = List->Get(List->IndexOf(L"AL01"))->Device();
        List->HIDreader(device, 0x01, data.data(), static_cast<std::uint16_t>(data.size()));
    };
    const struct {
        const char* what;
        std::function<void()> change;
        std::vector<Bytes> whileNotCurrent;  // reports while no box is current
        Strings afterHeld;                   // the held key's report once current again
    } cases[] = {
        {"default cleared and chosen again, key held through",
         [&] { List->ClearDefault(); }, {}, {}},
        {"default cleared, key released meanwhile",
         [&] { List->ClearDefault(); }, {up}, {L"push:0"}},
        {"default cleared, key released and pressed meanwhile",
         [&] { List->ClearDefault(); }, {up, down}, {}},
        {"unplugged and plugged again: a new device, a new press",
         [&] {
             Unplug(Box);
             Box = Bus.PlugAgain(Box);
             MainThread::ProcessMessages();
         },
         {}, {L"push:0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reportOf(down);
        c.change();
        for (const Bytes& r : c.whileNotCurrent) reportOf(r);
        List->SetDefaultSerialList(L"AL01");
        ASSERT_EQ(Current(), L"AL01");
        Events.clear();
        reportOf(down);
        EXPECT_EQ(Events, c.afterHeld);
        reportOf(up);
        reportOf(down);  // released and pressed again: always a press
        EXPECT_EQ(Events.back(), L"push:0");
        reportOf(up);
    }
}

TEST_F(KeyPressTest, AReportOfAnotherIdChangesNothing) {
    TJvHidDevice* device = List->CurrentSD()->Device();
    const Bytes down = Keys(16, {{3, 1}});
    const Bytes up = Keys(16, {});
    List->HIDreader(device, 0x01, down.data(), 16);
    Events.clear();
    List->HIDreader(device, 0x02, up.data(), 16);    // not a key report: key 3 still held
    List->HIDreader(device, 0x00, down.data(), 16);  // nor this one
    List->HIDreader(device, 0x01, down.data(), 16);  // held: nothing
    EXPECT_TRUE(Events.empty());
    List->HIDreader(device, 0x01, up.data(), 16);
    List->HIDreader(device, 0x01, down.data(), 16);
    EXPECT_EQ(Events, Strings{L"push:3"});
}

TEST_F(KeyPressTest, ReportsOfOtherDevicesAreIgnored) {
    auto other = PlugBox(L"AL02");
    Events.clear();
    Trace.Lines.clear();
    const Bytes data = Keys(16, {{0, 1}});
    List->HIDreader(List->Get(1)->Device(), 1, data.data(), 16);
    List->HIDreader(nullptr, 1, data.data(), 16);
    Unplug(Box);  // no current control box any more
    Events.clear();
    Trace.Lines.clear();
    List->HIDreader(List->Get(0)->Device(), 1, data.data(), 16);
    EXPECT_TRUE(Events.empty());
    EXPECT_TRUE(Trace.Lines.empty());
}

TEST_F(KeyPressTest, TheKeyDownsOfAReportGoBeforeItsTraceWhichKeepsItsOrder) {
    const Bytes data = Keys(16, {{0, 1}, {1, 1}});
    TJvHidDevice* device = List->CurrentSD()->Device();
    // Whatever happens while the trace is written (here the box pulled), both presses
    // have gone already, and each press's lines are all there.
    Trace.InsideLine = [&](const CapturedTrace::Line&) {  // once, in the first line
        Events.push_back(L"line");
        Unplug(Box);
    };
    List->HIDreader(device, 1, data.data(), 16);
    EXPECT_EQ(Events, (Strings{L"push:0", L"push:1", L"line", L"change", L"current:none"}));
    Strings lines = Pressed(0, true);
    lines.push_back(Pressed(1, false)[0]);
    lines.push_back(Pressed(1, false)[1]);
    lines.push_back(Pressed(1, false)[2]);
    lines[2] = Pressed(0, false)[2];  // the active flag as it is when the line is written
    EXPECT_EQ(Trace.Texts(), lines);
}

TEST_F(KeyPressTest, CurrentBoxPulledByThePushHandler) {
    const Bytes data = Keys(16, {{0, 1}, {1, 1}});
    TJvHidDevice* device = List->CurrentSD()->Device();
    OnPush = [&](std::int32_t) { Unplug(Box); };
    List->HIDreader(device, 1, data.data(), 16);
    // The second key is not sent to a box that is gone; its going down is still traced.
    EXPECT_EQ(Events, (Strings{L"push:0", L"change", L"current:none"}));
    Strings lines = Pressed(0, false);
    lines.push_back(Pressed(1, false)[0]);
    EXPECT_EQ(Trace.Texts(), lines);
}

TEST_F(KeyPressTest, InputReportsArriveThroughTheReadThread) {
    // End to end: a report queued on the virtual box reaches the event on this thread.
    Box->QueueInput(Keys(17, {{0, 1}, {6, 1}}));  // report id 1, then key 5 pressed
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Events.empty() && std::chrono::steady_clock::now() < until) {
        MainThread::ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(Events, Strings{L"push:5"});
}

TEST_F(KeyPressTest, OverlappingPressesThroughTheReadThreadFireOncePerPress) {
    // Report id first: A down, A+B down, A up, B up; then C down, C+D, D up, C up.
    const std::vector<Bytes> reports = {
        Keys(17, {{0, 1}, {1, 1}}), Keys(17, {{0, 1}, {1, 1}, {2, 1}}), Keys(17, {{0, 1}, {2, 1}}), Keys(17, {{0, 1}}),
        Keys(17, {{0, 1}, {3, 1}}), Keys(17, {{0, 1}, {3, 1}, {4, 1}}), Keys(17, {{0, 1}, {3, 1}}), Keys(17, {{0, 1}}),
        Keys(17, {{0, 1}, {6, 1}}),  // key 5 last: reports arrive in order, so its event closes the run
    };
    for (const auto& r : reports) Box->QueueInput(r);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((Events.empty() || Events.back() != L"push:5") && std::chrono::steady_clock::now() < until) {
        MainThread::ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(Events, (Strings{L"push:0", L"push:1", L"push:2", L"push:3", L"push:5"}));
}
