#include "SDListTestSupport.h"

namespace {

const std::wstring kConnected = L"ConnectDefaultSD|Connect\u00e9 au N\u00b0Serie ";
const std::wstring kNoDefault = L"ConnectDefaultSD|pas de SD par default";

using Strings = std::vector<std::wstring>;

TVirtualHidDescription WithProduct(TVirtualHidDescription description, std::uint16_t vendor, std::uint16_t product) {
    description.Attributes.VendorID = vendor;
    description.Attributes.ProductID = product;
    return description;
}

}  // namespace

TEST_F(SDListTest, StartWithTheStoredDefaultPluggedIn) {
    StoreDefault(L"AL01");
    auto box = Bus.PlugControlBox(L"AL01");
    MakeList();
    EXPECT_EQ(Serials(), Strings{L"AL01"});
    EXPECT_EQ(Current(), L"AL01");
    EXPECT_TRUE(Events.empty());  // the events were set after the enumeration
    // Keys painted once, black: no default pictures yet. Every pixel byte is zero (after
    // the bitmap header on a key's first page, after the report header on the others).
    ASSERT_EQ(PicturesWritten(box), 6u);
    for (const auto& report : box->OutputReports()) {
        ASSERT_EQ(report.size(), 1024u);
        for (std::size_t i = report[2] == 0 ? 61 : 16; i < 1024; ++i)
            if (report[i] != 0) {
                ADD_FAILURE() << "a key is not black: page " << int{report[2]} << " byte " << i;
                return;
            }
    }
}

TEST_F(SDListTest, ArrivalOfTheDefaultAtRunTime) {
    StoreDefault(L"AL01");
    MakeList();
    auto box = PlugBox(L"AL01");
    EXPECT_EQ(Current(), L"AL01");
    EXPECT_EQ(Events, (Strings{L"current:AL01", L"change"}));
    EXPECT_EQ(PicturesWritten(box), 6u);  // written once
    EXPECT_TRUE(Trace.Lines.empty());
}

TEST_F(SDListTest, AnotherBoxArrivesWhileTheDefaultIsCurrent) {
    StoreDefault(L"AL01");
    auto first = Bus.PlugControlBox(L"AL01");
    MakeList();
    first->ClearReports();
    auto second = PlugBox(L"AL02");
    EXPECT_EQ(Serials(), (Strings{L"AL01", L"AL02"}));
    EXPECT_EQ(Current(), L"AL01");
    EXPECT_EQ(Events, Strings{L"change"});
    EXPECT_EQ(PicturesWritten(first), 6u);  // repainted through the stored default
    EXPECT_EQ(PicturesWritten(second), 0u);
}

TEST_F(SDListTest, EmptyStoredDefault) {
    MakeList();
    auto box = PlugBox(L"AL01");
    EXPECT_EQ(Serials(), Strings{L"AL01"});
    EXPECT_EQ(Current(), L"none");
    EXPECT_EQ(Events, Strings{L"change"});
    EXPECT_TRUE(Trace.Lines.empty());
    EXPECT_EQ(PicturesWritten(box), 0u);
}

TEST_F(SDListTest, RemovalOfTheCurrentAndOfAnotherBox) {
    StoreDefault(L"AL01");
    auto current = Bus.PlugControlBox(L"AL01");
    auto other = Bus.PlugControlBox(L"AL02");
    MakeList();

    Unplug(other);
    EXPECT_EQ(Events, (Strings{L"change", L"current:AL01"}));  // raised although unchanged
    Events.clear();

    current->ClearReports();
    Unplug(current);
    EXPECT_TRUE(Serials().empty());
    EXPECT_EQ(Current(), L"none");
    EXPECT_EQ(Events, (Strings{L"change", L"current:none"}));
    EXPECT_TRUE(Trace.Lines.empty());
    EXPECT_TRUE(current->Reports().empty());  // nothing sent to a box that is gone
}

TEST_F(SDListTest, SameSerialInAnotherLetterCase) {
    StoreDefault(L"AL01");
    auto listed = Bus.PlugControlBox(L"AL01");
    MakeList();
    auto twin = PlugBox(L"al01");
    EXPECT_EQ(Serials(), Strings{L"AL01"});
    EXPECT_TRUE(Events.empty());

    // Pulling the twin, which was never listed, leaves the listed box alone: it is still
    // connected, listed and current.
    Unplug(twin);
    EXPECT_EQ(Serials(), Strings{L"AL01"});
    EXPECT_EQ(Current(), L"AL01");
    EXPECT_TRUE(Events.empty());

    Unplug(listed);
    EXPECT_TRUE(Serials().empty());
    EXPECT_EQ(List->CurrentSD(), nullptr);
    EXPECT_EQ(Events, (Strings{L"change", L"current:none"}));
    List->SetActive(true);  // would touch the freed box if the list still pointed at it
    List->RAZ();
}

TEST_F(SDListTest, ABoxWhoseFirstSerialReadFailedGoesWhenItIsPulled) {
    // The hot-plug wrapper reads the serial first and gets nothing; the box's own read
    // just after succeeds. The removal must still find the box.
    for (const bool current : {true, false}) {
        SCOPED_TRACE(current ? "the current box" : "a box that is not current");
        StoreDefault(current ? L"AL01" : L"");
        MakeList();
        auto box = Bus.PlugControlBox(L"AL01");
        box->FailSerialReads(1);
        MainThread::ProcessMessages();
        ASSERT_EQ(Serials(), Strings{L"AL01"});
        EXPECT_EQ(Current(), current ? L"AL01" : L"none");
        Events.clear();

        Unplug(box);
        MainThread::ProcessMessages();
        EXPECT_TRUE(Serials().empty());
        EXPECT_EQ(List->CurrentSD(), nullptr);
        EXPECT_EQ(Events, (Strings{L"change", L"current:none"}));
        // The next pass frees the device object; nothing may point at it afterwards.
        List->CheckChanged();
        List->SetActive(true);
        List->Refresh();
        List->RAZ();
        List.reset();
        Events.clear();
        Trace.Lines.clear();
    }
}

TEST_F(SDListTest, AnEmptyStoredDefaultNeverPicksABoxWithoutASerial) {
    TVirtualHidDescription noSerial = VirtualControlBoxDescription(L"");
    noSerial.HasSerialNumber = false;
    for (const bool stored : {true, false}) {
        SCOPED_TRACE(stored ? "stored empty" : "absent");
        if (stored) StoreDefault(L"");
        MakeList();
        auto box = Plug(noSerial);
        EXPECT_EQ(Serials(), Strings{L""});
        EXPECT_EQ(Current(), L"none");
        EXPECT_EQ(List->GetDefaultSD(), nullptr);
        EXPECT_EQ(Events, Strings{L"change"});
        EXPECT_EQ(PicturesWritten(box), 0u);
        Unplug(box);
        List.reset();
        Events.clear();
    }
}

TEST_F(SDListTest, AFailingReportNeverStopsTheRestNorAnotherBox) {
    StoreDefault(L"AL01");
    auto failing = Bus.PlugControlBox(L"AL01");
    auto other = Bus.PlugControlBox(L"AL02");
    MakeList();
    const Bitmap24 picture(80, 80);
    for (int k = 0; k < 6; ++k) List->AddDefaultBitmap(&picture);
    List->RefreshDefaultBitmap();

    const struct {
        const char* what;
        TVirtualReportKind kind;
        std::uint32_t nth;
        std::size_t outputs;   // of the 120 pages of a refresh
        std::size_t features;  // of brightness and reset
    } cases[] = {
        {"the 7th page", TVirtualReportKind::Output, 7, 119, 2},
        {"every page", TVirtualReportKind::Output, TVirtualReportFault::Every, 0, 2},
        {"the brightness", TVirtualReportKind::Feature, 1, 120, 1},
        {"every feature report", TVirtualReportKind::Feature, TVirtualReportFault::Every, 120, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        failing->ClearReports();
        failing->FailReports(c.kind, {c.nth});
        List->Refresh();
        List->CurrentSD()->SetBrigtness(40);
        List->RAZ();
        EXPECT_EQ(failing->OutputReports().size(), c.outputs) << "no retry, and the pages after go on";
        EXPECT_EQ(failing->FeatureReports().size(), c.features);
        failing->FailReports(c.kind, {});
    }
    EXPECT_TRUE(Trace.Lines.empty()) << "nothing is logged for a failing report";

    // Every report of the current box refused: its key presses still fire, and another
    // box chosen as default gets its pictures.
    failing->FailReports(TVirtualReportKind::Output, {TVirtualReportFault::Every});
    failing->FailReports(TVirtualReportKind::Feature, {TVirtualReportFault::Every});
    const std::vector<std::uint8_t> key0(16, 0);
    std::vector<std::uint8_t> down = key0;
    down[0] = 1;
    List->HIDreader(List->CurrentSD()->Device(), 1, down.data(), 16);
    EXPECT_EQ(Events, Strings{L"push:0"});
    other->ClearReports();
    List->SetDefaultSerialList(L"AL02");
    EXPECT_EQ(Current(), L"AL02");
    EXPECT_EQ(PicturesWritten(other), 6u);
}

TEST_F(SDListTest, ShortReadsThroughTheReadThread) {
    StoreDefault(L"AL01");
    auto box = Bus.PlugControlBox(L"AL01");
    MakeList();
    const auto waitFor = [&](const std::wstring& event) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while ((Events.empty() || Events.back() != event) && std::chrono::steady_clock::now() < until) {
            MainThread::ProcessMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    // Report id and two key bytes reach the list: fewer than the six keys, so the report
    // says nothing about the others and changes nothing (key 0 does not fire).
    box->SetShortReads(3);
    std::vector<std::uint8_t> report(17, 0);
    report[0] = 1;
    report[1] = 1;
    report[6] = 1;
    box->QueueInput(report);
    box->QueueInput({1});  // the report id alone: no key data, nothing happens
    while (box->QueuedInputCount() > 0) MainThread::ProcessMessages();
    box->SetShortReads(0);
    report[1] = 0;
    box->QueueInput(report);
    waitFor(L"push:5");
    EXPECT_EQ(Events, (Strings{L"push:5"}));
}

TEST_F(SDListTest, CurrentSDWrittenWithoutADefault) {
    Bus.PlugControlBox(L"AL01");
    MakeList();
    List->SetCurrentSD(List->Get(0));
    EXPECT_EQ(Current(), L"none");
    EXPECT_EQ(Trace.Texts(), Strings{kNoDefault});
    EXPECT_TRUE(Events.empty());  // none before, none after
}

TEST_F(SDListTest, ClearDefaultWhileABoxIsCurrent) {
    StoreDefault(L"AL01");
    auto box = Bus.PlugControlBox(L"AL01");
    MakeList();
    box->ClearReports();
    List->ClearDefault();
    EXPECT_EQ(Current(), L"none");
    EXPECT_EQ(Events, Strings{L"current:none"});
    ASSERT_TRUE(StoredDefault().has_value());
    EXPECT_EQ(RegStringFromValue(L"DefaultSerial", *StoredDefault()), L"");
    EXPECT_TRUE(box->Reports().empty());
    EXPECT_EQ(List->GetDefaultSD(), nullptr);

    // Clearing again still tells the owner.
    List->ClearDefault();
    EXPECT_EQ(Events, (Strings{L"current:none", L"current:none"}));
}

TEST_F(SDListTest, DefaultSerialThatIsNotListed) {
    StoreDefault(L"AL01");
    Bus.PlugControlBox(L"AL01");
    MakeList();
    const auto before = StoredDefault();
    List->SetDefaultSerialList(L"ZZ99");
    EXPECT_EQ(Current(), L"AL01");
    EXPECT_TRUE(List->Get(0)->DefaultSD());
    EXPECT_TRUE(Events.empty());
    EXPECT_EQ(StoredDefault()->Data, before->Data);
}

TEST_F(SDListTest, ChoosingAndMovingTheDefault) {
    Bus.PlugControlBox(L"AL01");
    Bus.PlugControlBox(L"AL02");
    MakeList();
    List->SetDefaultSerialList(L"al02");  // ASCII case ignored
    EXPECT_EQ(Current(), L"AL02");
    EXPECT_EQ(List->GetDefaultSerialListIndex(), 1);
    EXPECT_EQ(List->GetDefaultSerialList(), L"AL02");
    List->SetDefaultSerialList(L"AL01");
    EXPECT_EQ(Current(), L"AL01");
    EXPECT_FALSE(List->Get(1)->DefaultSD());
    EXPECT_EQ(Events, (Strings{L"current:AL02", L"current:AL01"}));
    EXPECT_FALSE(StoredDefault().has_value());  // storing it is the window's business
}

TEST_F(SDListTest, DefaultIndexWaitsForTheNextConnection) {
    Bus.PlugControlBox(L"AL01");
    Bus.PlugControlBox(L"AL02");
    MakeList();
    List->SetDefaultIndex(1);
    EXPECT_EQ(List->DefaultIndex(), 1);
    EXPECT_EQ(List->GetDefaultSerialList(), L"AL02");
    EXPECT_EQ(Current(), L"none");
    List->SetCurrentSD(nullptr);  // the next ConnectDefaultSD makes it current
    EXPECT_EQ(Current(), L"AL02");
    EXPECT_EQ(Trace.Texts(), Strings{kConnected + L"AL02"});

    List->SetDefaultIndex(7);  // out of range: no default at all
    EXPECT_EQ(List->GetDefaultSD(), nullptr);
    EXPECT_EQ(Current(), L"none");
}

TEST_F(SDListTest, OnlyTheSixKeyModelIsListed) {
    const struct {
        const char* what;
        std::uint16_t vendor, product;
    } others[] = {
        {"15-key model", 0x0FD9, 0x0060},
        {"32-key model", 0x0FD9, 0x006C},
        {"other vendor", 0x045E, 0x0063},
        {"other vendor, later six-key id", 0x045E, 0x0090},
        {"next to the later six-key id", 0x0FD9, 0x0091},
    };
    MakeList();
    for (const auto& o : others) {
        auto device = Plug(WithProduct(VirtualControlBoxDescription(L"X1"), o.vendor, o.product));
        EXPECT_EQ(List->Count(), 0) << o.what;
        Unplug(device);
    }
    EXPECT_TRUE(Events.empty());
    EXPECT_TRUE(Trace.Lines.empty());
}

// Both revisions of the six-key box: listed, made current as the stored default, painted,
// their key presses forwarded, and removed again.
TEST_F(SDListTest, BothSixKeyRevisionsAreListedAndForwardTheirKeys) {
    for (const std::uint16_t product : {std::uint16_t{0x0063}, std::uint16_t{0x0090}}) {
        SCOPED_TRACE(product);
        Events.clear();
        StoreDefault(L"AL01");
        MakeList();
        auto box = Plug(WithProduct(VirtualControlBoxDescription(L"AL01"), 0x0FD9, product));
        ASSERT_EQ(Serials(), Strings{L"AL01"});
        EXPECT_EQ(List->CurrentSD()->SDType(), sdtMini);
        EXPECT_EQ(List->CurrentSD()->Buttons()->Count(), 6);
        EXPECT_EQ(PicturesWritten(box), 6u);
        EXPECT_EQ(Events, (Strings{L"current:AL01", L"change"}));

        Events.clear();
        box->QueueInput({0x01, 0, 0, 0, 1, 0, 0});  // key 3 pressed
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (Events.empty() && std::chrono::steady_clock::now() < until) {
            MainThread::ProcessMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(Events, Strings{L"push:3"});

        Unplug(box);
        EXPECT_TRUE(Serials().empty());
        List.reset();
        MainThread::ProcessMessages();
    }
}

TEST_F(SDListTest, ConnectDefaultReadsTheCurrentBoxAfreshAfterItsLogLine) {
    auto a = Bus.PlugControlBox(L"AL01");
    MakeList();
    List->SetDefaultIndex(0);
    a->ClearReports();
    // The box is pulled while "Connecté au N°Serie" is written: no picture goes out, and
    // the list ends without a current control box.
    Trace.InsideLine = [&](const CapturedTrace::Line&) { Unplug(a); };
    List->SetCurrentSD(nullptr);
    EXPECT_EQ(Trace.Texts().front(), kConnected + L"AL01");
    EXPECT_EQ(List->Count(), 0);
    EXPECT_EQ(List->CurrentSD(), nullptr);
    EXPECT_TRUE(a->OutputReports().empty());
}

TEST_F(SDListTest, DestructionResetsTheCurrentBox) {
    StoreDefault(L"AL01");
    auto box = Bus.PlugControlBox(L"AL01");
    MakeList();
    box->ClearReports();
    List.reset();
    const auto features = box->FeatureReports();
    ASSERT_EQ(features.size(), 1u);
    EXPECT_EQ(features[0][0], 0x0B);
    EXPECT_TRUE(box->OutputReports().empty());
}

TEST_F(SDListTest, RefreshFindsABoxPluggedWithoutNotice) {
    MakeList();
    Bus.PlugControlBox(L"AL01");  // notices not yet handled
    List->CheckChanged();
    EXPECT_EQ(Serials(), Strings{L"AL01"});
    MainThread::ProcessMessages();  // the late notices find nothing new
    EXPECT_EQ(Events, Strings{L"change"});
}

TEST_F(SDListTest, BoxesListedBeforeTheDefaultPicturesGetThemToo) {
    // Two boxes present at start, none of them the default yet; the owner hands over the
    // default pictures afterwards, as the main window does.
    auto first = Bus.PlugControlBox(L"AL01");
    auto second = Bus.PlugControlBox(L"AL02");
    MakeList();
    Bitmap24 white(80, 80);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 80; ++x) white.SetPixel(x, y, Rgb{255, 255, 255});
    for (int k = 0; k < 6; ++k) List->AddDefaultBitmap(&white);
    List->RefreshDefaultBitmap();
    EXPECT_TRUE(first->Reports().empty());  // nothing sent by the refresh itself

    List->SetActive(true);  // colour, so that white stays white
    List->SetDefaultSerialList(L"AL02");
    const auto reports = second->OutputReports();
    ASSERT_EQ(reports.size(), 120u);
    for (const auto& report : reports)
        for (std::size_t i = 61; i < 109; ++i) ASSERT_EQ(report[i], 0xFF) << "a key is not white";
}
