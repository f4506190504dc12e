// Race day at the finish line: boxes pulled and plugged again in every order the hot-plug
// passes can see it, reads that die, drivers that refuse. Whatever happens, a connected box
// ends listed over its live device, current when it is the default, and forwards presses.

#include "SDListTestSupport.h"

#include <chrono>
#include <random>

namespace {

using Strings = std::vector<std::wstring>;

class ReplugTest : public SDListTest {
protected:
    // A key going down on `box` and coming back up, through its read thread.
    bool PressArrives(const VirtualHidDevicePtr& box, int key) {
        const std::size_t before = Pushes();
        std::vector<std::uint8_t> down(17, 0);
        down[0] = 1;
        down[1 + key] = 1;
        box->QueueInput(down);
        const bool arrived = MainThread::ServeUntil([&] { return Pushes() > before; }, std::chrono::seconds(10));
        box->QueueInput(std::vector<std::uint8_t>(17, 0) = [] {
            std::vector<std::uint8_t> up(17, 0);
            up[0] = 1;
            return up;
        }());
        MainThread::ServeUntil([&] { return box->QueuedInputCount() == 0; }, std::chrono::seconds(10));
        MainThread::ProcessMessages();
        return arrived && Pushes() == before + 1;
    }
    std::size_t Pushes() const {
        return static_cast<std::size_t>(std::count_if(Events.begin(), Events.end(),
                                                      [](const std::wstring& e) { return e.starts_with(L"push:"); }));
    }
    // Every listed box sits over a live device, and each serial is listed once.
    void ExpectListSound() {
        std::vector<std::wstring> seen;
        for (int i = 0; i < List->Count(); ++i) {
            TSD* sd = List->Get(i);
            EXPECT_TRUE(sd->Device()->IsPluggedIn()) << "listed over a gone device";
            EXPECT_FALSE(sd->Device()->ReadFailed()) << "listed over a dead device";
            EXPECT_EQ(std::count(seen.begin(), seen.end(), sd->Serial()), 0);
            seen.push_back(sd->Serial());
        }
    }
    // Pulled and plugged again without a single pass meanwhile (the main thread is busy):
    // the same device number comes back. The read thread sees its read die first.
    VirtualHidDevicePtr ReplugWhileBusy(const VirtualHidDevicePtr& box, TJvHidDevice* device) {
        Bus.Unplug(box);
        MainThread::ServeUntil([&] { return device->ReadFailed(); }, std::chrono::milliseconds(0));
        for (int i = 0; i < 10000 && !device->ReadFailed(); ++i) std::this_thread::yield();
        auto again = Bus.PlugAgain(box);
        MainThread::ProcessMessages();
        return again;
    }
};

TEST_F(ReplugTest, EveryOrderingEndsWithTheBoxListedCurrentAndForwarding) {
    struct Case {
        const char* what;
        bool secondBoxIsDefault;  // the re-plugged box is not the default
        std::function<VirtualHidDevicePtr(ReplugTest&, const VirtualHidDevicePtr&)> replug;
    };
    const auto withinOnePass = [this](ReplugTest&, const VirtualHidDevicePtr& box) {
        // The node-change pass sees it gone; it is back before the wrapper pass looks.
        Bus.Unplug(box);
        List->HidController().JvController().DeviceChange();
        auto again = Bus.PlugAgain(box);
        List->CheckChanged();
        MainThread::ProcessMessages();
        return again;
    };
    const Case cases[] = {
        {"departure then arrival within one pass", false, withinOnePass},
        {"arrival seen before the departure (another port)", false,
         [this](ReplugTest&, const VirtualHidDevicePtr& box) {
             Bus.Unplug(box);
             auto again = Bus.PlugControlBox(L"AL01");
             List->CheckChanged();
             MainThread::ProcessMessages();
             return again;
         }},
        {"no pass during the absence", false,
         [this](ReplugTest&, const VirtualHidDevicePtr& box) {
             return ReplugWhileBusy(box, List->Get(List->IndexOf(L"AL01"))->Device());
         }},
        {"two re-plugs in a row", false,
         [&](ReplugTest& t, const VirtualHidDevicePtr& box) { return withinOnePass(t, withinOnePass(t, box)); }},
        {"a box that is not the default", true, withinOnePass},
        {"a box that is not the default, no pass during the absence", true,
         [this](ReplugTest&, const VirtualHidDevicePtr& box) {
             return ReplugWhileBusy(box, List->Get(List->IndexOf(L"AL01"))->Device());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StoreDefault(c.secondBoxIsDefault ? L"AL02" : L"AL01");
        auto box = Bus.PlugControlBox(L"AL01");
        auto other = c.secondBoxIsDefault ? Bus.PlugControlBox(L"AL02") : nullptr;
        MakeList();
        MainThread::ProcessMessages();
        ASSERT_TRUE(PressArrives(c.secondBoxIsDefault ? other : box, 0));

        box = c.replug(*this, box);
        MainThread::ProcessMessages();

        ExpectListSound();
        EXPECT_NE(List->IndexOf(L"AL01"), -1) << "the re-plugged box is listed";
        EXPECT_EQ(Current(), c.secondBoxIsDefault ? L"AL02" : L"AL01");
        if (c.secondBoxIsDefault) {
            EXPECT_TRUE(PressArrives(other, 2));
        } else {
            EXPECT_TRUE(PressArrives(box, 2)) << "the re-plugged default forwards presses";
            EXPECT_GT(PicturesWritten(box), 0u) << "its keys are painted again";
        }

        List.reset();
        MainThread::ProcessMessages();
        Bus.Unplug(box);
        if (other) Bus.Unplug(other);
        MainThread::ProcessMessages();
        Events.clear();
        Trace.Lines.clear();
    }
}

TEST_F(ReplugTest, ReadsThatKeepFailingAreReopenedAndTracedOnce) {
    StoreDefault(L"AL01");
    auto box = Bus.PlugControlBox(L"AL01");
    MakeList();
    TJvHidDevice* device = List->CurrentSD()->Device();
    const int opens = box->OpensSucceeded();
    box->SetReadFails(true);
    box->QueueInput({1, 0, 0, 0, 0, 0, 0});  // wakes the outstanding read
    ASSERT_TRUE(MainThread::ServeUntil([&] { return device->ConsecutiveReadFailures() >= 6; },
                                       std::chrono::seconds(10)));
    EXPECT_GE(box->OpensSucceeded() - opens, 5) << "every retry opens a fresh read handle";
    const auto lines = Trace.Texts();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::wstring& l) { return l.find(L"lecture en \u00e9chec") != std::wstring::npos; }),
              1)
        << "traced once";

    // The next pass replaces the object whose reads failed; the box reads again.
    box->SetReadFails(false);
    List->CheckChanged();
    MainThread::ProcessMessages();
    ExpectListSound();
    EXPECT_EQ(Current(), L"AL01");
    EXPECT_TRUE(PressArrives(box, 1));
}

// A read failed once while the box stayed plugged in; then some other device (a phone put
// on charge) makes the HID controller run a pass of its own. That pass drops the object
// whose read failed and lists a fresh one, and no notice of the box follows: the box must
// still be taken up again, current, and deliver its presses.
TEST_F(ReplugTest, ABoxDroppedForAFailedReadByAnotherDevicesPassIsTakenUpAgain) {
    StoreDefault(L"AL01");
    auto box = Bus.PlugControlBox(L"AL01");
    MakeList();
    MainThread::ProcessMessages();
    TJvHidDevice* device = List->CurrentSD()->Device();
    device->SetThreadSleepTime(10);
    ASSERT_TRUE(PressArrives(box, 0));

    box->SetReadFails(true);
    ASSERT_TRUE(MainThread::ServeUntil([&] { return device->ReadFailed(); }, std::chrono::seconds(10)));
    box->SetReadFails(false);

    Bus.PostUsbNotices(true);
    MainThread::ProcessMessages();
    ASSERT_TRUE(MainThread::ServeUntil([&] { return List->CurrentSD() && List->CurrentSD()->Device() != device; },
                                       std::chrono::seconds(10)))
        << "the dropped object is never replaced in the list";
    ExpectListSound();
    EXPECT_EQ(Current(), L"AL01");
    EXPECT_TRUE(PressArrives(box, 3)) << "the box reads again";
}

TEST_F(ReplugTest, InputBuffersAndReportSizes) {
    StoreDefault(L"AL01");
    TVirtualHidDescription refusing = VirtualControlBoxDescription(L"AL01");
    refusing.InputBuffersRefused = true;
    TVirtualHidDescription sizeless = VirtualControlBoxDescription(L"AL02");
    sizeless.CapsFail = true;
    auto good = Bus.PlugControlBox(L"AL03");
    auto a = Bus.Plug(refusing);
    auto b = Bus.Plug(sizeless);
    MakeList();
    MainThread::ProcessMessages();
    EXPECT_EQ(good->InputBuffers(), 512u);
    const auto count = [&](const std::wstring& text) {
        const auto lines = Trace.Texts();
        return std::count(lines.begin(), lines.end(), text);
    };
    const std::wstring refused = L"HIDPlugged|N\u00b0Serie AL01 : tampon de 512 rapports refus\u00e9";
    const std::wstring unknown = L"HIDPlugged|N\u00b0Serie AL02 : tailles des rapports illisibles";
    EXPECT_EQ(count(refused), 1);
    EXPECT_EQ(count(unknown), 1);
    EXPECT_TRUE(PressArrives(a, 0)) << "a refused buffer count still reads";

    // The box without sizes gets no read thread; each pass tries again, traced once.
    List->CheckChanged();
    List->CheckChanged();
    EXPECT_EQ(count(unknown), 1);
    StoreDefault(L"AL02");
    b->SetCapsFail(false);
    List->CheckChanged();
    MainThread::ProcessMessages();
    ExpectListSound();
    EXPECT_EQ(Current(), L"AL02");
    EXPECT_TRUE(PressArrives(b, 4));
}

// Long seeded runs of race-day trouble: boxes pulled, plugged, re-plugged within one pass
// and while the main thread is busy, other devices' notices, presses. After every step a
// connected default box is listed once, current and forwards its press exactly once, and
// nothing listed sits over a gone or dead device. Run under ThreadSanitizer too.
class ReplugStressTest : public ReplugTest {};

TEST_F(ReplugStressTest, SeededRaceDay) {
    StoreDefault(L"D1");
    VirtualHidDevicePtr def = Bus.PlugControlBox(L"D1");
    VirtualHidDevicePtr other = Bus.PlugControlBox(L"O2");
    MakeList();
    for (int i = 0; i < List->Count(); ++i) List->Get(i)->Device()->SetThreadSleepTime(10);
    const auto replugWithinOnePass = [&](VirtualHidDevicePtr& box) {
        Bus.Unplug(box);
        List->HidController().JvController().DeviceChange();
        box = Bus.PlugAgain(box);
        List->CheckChanged();
    };
    for (unsigned seed : {1u, 2u, 3u}) {
        std::mt19937 random(seed);
        for (int step = 0; step < 1000; ++step) {
            SCOPED_TRACE("seed " + std::to_string(seed) + " step " + std::to_string(step));
            const unsigned action = random() % 8;
            switch (action) {
            case 0:  // the default box pulled, or plugged into some port
                if (def) {
                    Bus.Unplug(def);
                    def = nullptr;
                } else {
                    def = Bus.PlugControlBox(L"D1");
                }
                break;
            case 1:
                if (other) {
                    Bus.Unplug(other);
                    other = nullptr;
                } else {
                    other = Bus.PlugControlBox(L"O2");
                }
                break;
            case 2:
                if (def) replugWithinOnePass(def);
                break;
            case 3:
                if (def) def = ReplugWhileBusy(def, List->Get(List->IndexOf(L"D1"))->Device());
                break;
            case 4:
                if (other) replugWithinOnePass(other);
                break;
            case 5:
                Bus.PostUsbNotices(random() % 2 == 0);
                break;
            case 6:  // the default box's read fails for a moment; then another device's notice
                if (def) {
                    TJvHidDevice* device = List->Get(List->IndexOf(L"D1"))->Device();
                    def->SetReadFails(true);
                    MainThread::ServeUntil([&] { return device->ReadFailed(); }, std::chrono::seconds(10));
                    def->SetReadFails(false);
                    Bus.PostUsbNotices(random() % 2 == 0);
                    // The HID controller's own pass drops the object; the take-up runs at
                    // the next turn of the message loop.
                    MainThread::ProcessMessages();
                }
                break;
            default:  // presses
                break;
            }
            MainThread::ProcessMessages();
            for (int i = 0; i < List->Count(); ++i) List->Get(i)->Device()->SetThreadSleepTime(10);

            ExpectListSound();
            ASSERT_EQ(List->IndexOf(L"D1") != -1, def != nullptr);
            ASSERT_EQ(List->IndexOf(L"O2") != -1, other != nullptr);
            ASSERT_EQ(Current(), def ? L"D1" : L"none");
            if (def) ASSERT_TRUE(PressArrives(def, static_cast<int>(random() % 6))) << "a press lost or doubled";
        }
    }
}

}  // namespace
