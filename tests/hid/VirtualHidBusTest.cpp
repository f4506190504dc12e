#include "HidTestSupport.h"

#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;

class VirtualHidBusTest : public HidTest {};

TEST_F(VirtualHidBusTest, AReadEndsForTheThreadThatStartedIt) {
    auto box = Bus.PlugControlBox(L"S1");
    HidFilePtr file = Bus.Open(box->Path(), THidOpenKind::OverlappedRead);
    ASSERT_TRUE(file);
    THidOverlapped ovl;
    std::uint8_t buffer[17] = {};
    std::uint32_t bytes = 99;

    ASSERT_TRUE(Bus.ReadEx(*file, ovl, buffer, sizeof buffer));
    EXPECT_FALSE(Bus.OverlappedResult(*file, ovl, bytes)) << "not completed yet";
    EXPECT_EQ(Bus.SleepAlertable(5), THidWaitResult::Timeout);

    // Completed from another thread: only the reader's wait sees it, and only once.
    std::thread other([&] {
        box->QueueInput({0x01, 1, 2, 3});
        EXPECT_EQ(Bus.SleepAlertable(5), THidWaitResult::Timeout);
    });
    other.join();
    EXPECT_EQ(Bus.SleepAlertable(1000), THidWaitResult::IoCompletion);
    EXPECT_EQ(Bus.SleepAlertable(5), THidWaitResult::Timeout);
    ASSERT_TRUE(Bus.OverlappedResult(*file, ovl, bytes));
    EXPECT_EQ(bytes, 4u);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 4), (std::vector<std::uint8_t>{1, 1, 2, 3}));

    // Input queued before the read: the read completes at once; the overflow is cut.
    box->QueueInput(std::vector<std::uint8_t>(40, 7));
    ASSERT_TRUE(Bus.ReadEx(*file, ovl, buffer, sizeof buffer));
    EXPECT_EQ(Bus.SleepAlertable(0), THidWaitResult::IoCompletion);
    ASSERT_TRUE(Bus.OverlappedResult(*file, ovl, bytes));
    EXPECT_EQ(bytes, 17u);
}

TEST_F(VirtualHidBusTest, CancelCloseAndUnplugEndOutstandingReads) {
    struct Case {
        const char* name;
        void (*end)(VirtualHidBus&, HidFilePtr&, const VirtualHidDevicePtr&);
        std::uint32_t error;
    };
    const Case cases[] = {
        {"cancel", [](VirtualHidBus& b, HidFilePtr& f, const VirtualHidDevicePtr&) { EXPECT_TRUE(b.CancelIo(*f)); },
         kErrorOperationAborted},
        {"unplug", [](VirtualHidBus& b, HidFilePtr&, const VirtualHidDevicePtr& d) { b.Unplug(d); },
         kErrorDeviceNotConnected},
        {"close", [](VirtualHidBus&, HidFilePtr& f, const VirtualHidDevicePtr&) { f.reset(); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualHidBus bus;
        auto box = bus.PlugControlBox(L"S1");
        HidFilePtr file = bus.Open(box->Path(), THidOpenKind::OverlappedRead);
        THidOverlapped ovl;
        std::uint8_t buffer[17];
        ASSERT_TRUE(bus.ReadEx(*file, ovl, buffer, sizeof buffer));
        EXPECT_EQ(bus.PendingReads(), 1);
        c.end(bus, file, box);
        EXPECT_EQ(bus.PendingReads(), 0);
        EXPECT_EQ(bus.SleepAlertable(1000), THidWaitResult::IoCompletion);
        if (file) {
            std::uint32_t bytes = 5;
            EXPECT_FALSE(bus.OverlappedResult(*file, ovl, bytes));
            EXPECT_EQ(bytes, 0u);
            EXPECT_EQ(bus.LastError(), c.error);
        }
    }
}

TEST_F(VirtualHidBusTest, OpenModesAndAccess) {
    TVirtualHidDescription noAccess = VirtualControlBoxDescription(L"N");
    noAccess.NoAccessOnly = true;
    auto n = Bus.Plug(noAccess);
    auto box = Bus.PlugControlBox(L"S1");
    EXPECT_FALSE(Bus.Open(n->Path(), THidOpenKind::ReadWrite));
    EXPECT_FALSE(Bus.Open(n->Path(), THidOpenKind::OverlappedRead));
    HidFilePtr query = Bus.Open(n->Path(), THidOpenKind::NoAccess);
    ASSERT_TRUE(query);
    THIDDAttributes attributes{12};
    EXPECT_TRUE(Bus.GetAttributes(*query, attributes));
    std::uint8_t report[17] = {0x05};
    EXPECT_FALSE(Bus.SetFeature(*query, report, sizeof report));
    EXPECT_EQ(Bus.LastError(), kErrorAccessDenied);
    EXPECT_FALSE(Bus.Open(L"\\\\?\\nothing", THidOpenKind::ReadWrite));
    EXPECT_EQ(Bus.LastError(), kErrorFileNotFound);

    // Reports are recorded in order, features and outputs together.
    HidFilePtr rw = Bus.Open(box->Path(), THidOpenKind::ReadWrite);
    std::uint8_t reset[17] = {0x0B, 0x63};
    std::uint8_t page[4] = {0x02, 0x01, 0x00, 0x00};
    std::uint32_t written = 0;
    ASSERT_TRUE(Bus.SetFeature(*rw, reset, sizeof reset));
    ASSERT_TRUE(Bus.Write(*rw, page, sizeof page, written));
    EXPECT_EQ(written, 4u);
    const auto reports = box->Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].Kind, TVirtualReportKind::Feature);
    EXPECT_EQ(reports[0].Bytes.size(), 17u);
    EXPECT_EQ(reports[1].Kind, TVirtualReportKind::Output);
    EXPECT_EQ(box->OpenHandles(), 1);

    // After an unplug the open handle fails.
    Bus.Unplug(box);
    EXPECT_FALSE(Bus.Write(*rw, page, sizeof page, written));
    EXPECT_EQ(Bus.LastError(), kErrorDeviceNotConnected);
    rw.reset();
    EXPECT_EQ(box->OpenHandles(), 0);
}

TEST_F(VirtualHidBusTest, StringsAreTerminatedWhenShorterAndCutWhenLonger) {
    TVirtualHidDescription description = VirtualControlBoxDescription(L"S1");
    description.Product = std::wstring(300, L'p');
    auto box = Bus.Plug(description);
    HidFilePtr file = Bus.Open(box->Path(), THidOpenKind::NoAccess);
    std::vector<std::uint16_t> buffer(254, 0xFFFF);
    ASSERT_TRUE(Bus.GetString(*file, THidStringKind::Manufacturer, buffer.data(), 508));
    EXPECT_EQ(buffer[14], 0);
    EXPECT_EQ(buffer[15], 0xFFFF);
    ASSERT_TRUE(Bus.GetString(*file, THidStringKind::Product, buffer.data(), 508));
    EXPECT_EQ(buffer[253], L'p');
    std::fill(buffer.begin(), buffer.end(), 0xFFFF);
    ASSERT_TRUE(Bus.GetString(*file, THidStringKind::LanguageList, buffer.data(), 508));
    EXPECT_EQ(buffer[0], 0x0409);
    EXPECT_EQ(buffer[1], 0);
    box->SetLanguageListFails(true);
    EXPECT_FALSE(Bus.GetString(*file, THidStringKind::LanguageList, buffer.data(), 508));
}

TEST_F(VirtualHidBusTest, PlugAndUnplugPostTheNoticesWindowsWouldSend) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> all, usb;
    auto allWindow = Bus.CreateNotifyWindow([&](std::uint32_t e, std::uint32_t t, const std::wstring&) { all.push_back({e, t}); }, false);
    auto usbWindow = Bus.CreateNotifyWindow([&](std::uint32_t e, std::uint32_t t, const std::wstring&) { usb.push_back({e, t}); }, true);
    auto box = Bus.PlugControlBox(L"S1");
    EXPECT_TRUE(all.empty()) << "notices arrive through the main thread's queue";
    MainThread::ProcessMessages();
    using Notices = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
    EXPECT_EQ(all, (Notices{{DBT_DEVNODES_CHANGED_, kNoDeviceHeader}}));
    EXPECT_EQ(usb, (Notices{{DBT_DEVNODES_CHANGED_, kNoDeviceHeader},
                            {DBT_DEVICEARRIVAL_, DBT_DEVTYP_DEVICEINTERFACE_}}));

    Bus.Unplug(box);
    usbWindow->PostDeviceChange(0x0018);
    usbWindow.reset();  // what was posted to it is dropped
    MainThread::ProcessMessages();
    EXPECT_EQ(all.size(), 2u);
    EXPECT_EQ(usb.size(), 2u);
    EXPECT_EQ(Bus.NotifyWindows(), 1);
}

TEST_F(VirtualHidBusTest, ServicesAreCountedAndCanBeMissing) {
    EXPECT_TRUE(Bus.Acquire());
    EXPECT_TRUE(Bus.Acquire());
    Bus.Release();
    EXPECT_EQ(Bus.AcquireCount(), 1);
    Bus.Release();
    Bus.SetAvailable(false);
    EXPECT_FALSE(Bus.Acquire());
    std::vector<THidInterface> found{{L"x", 1}};
    EXPECT_FALSE(Bus.Enumerate(found));
    EXPECT_TRUE(found.empty());
}

TEST_F(VirtualHidBusTest, InjectedReportFaults) {
    // Five reports of the kind after the fault is set; which ones are refused.
    const struct {
        const char* what;
        TVirtualReportKind kind;
        std::uint32_t nth;
        std::vector<bool> refused;
    } cases[] = {
        {"no fault", TVirtualReportKind::Output, 0, {false, false, false, false, false}},
        {"the 3rd output report", TVirtualReportKind::Output, 3, {false, false, true, false, false}},
        {"the next feature report", TVirtualReportKind::Feature, 1, {true, false, false, false, false}},
        {"every output report", TVirtualReportKind::Output, TVirtualReportFault::Every, {true, true, true, true, true}},
        {"every feature report", TVirtualReportKind::Feature, TVirtualReportFault::Every, {true, true, true, true, true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto box = Bus.PlugControlBox(L"F1");
        HidFilePtr file = Bus.Open(box->Path(), THidOpenKind::ReadWrite);
        ASSERT_TRUE(file);
        box->FailReports(c.kind, {c.nth});
        std::vector<std::uint8_t> recorded;
        for (std::uint8_t i = 0; i < 5; ++i) {
            // The other kind is never refused by this fault.
            std::uint32_t written = 0;
            const std::uint8_t report[2] = {static_cast<std::uint8_t>(c.kind == TVirtualReportKind::Feature ? 5 : 2), i};
            const bool ok = c.kind == TVirtualReportKind::Feature ? Bus.SetFeature(*file, report, 2)
                                                                   : Bus.Write(*file, report, 2, written);
            EXPECT_EQ(ok, !c.refused[i]) << "report " << int(i);
            if (!ok) {
                EXPECT_EQ(Bus.LastError(), kErrorGenFailure);
            }
            if (ok) recorded.push_back(i);
            const std::uint8_t other[2] = {static_cast<std::uint8_t>(c.kind == TVirtualReportKind::Feature ? 2 : 5), 0xEE};
            EXPECT_TRUE(c.kind == TVirtualReportKind::Feature ? Bus.Write(*file, other, 2, written)
                                                              : Bus.SetFeature(*file, other, 2));
        }
        std::vector<std::uint8_t> kept;
        for (const auto& r : box->Reports())
            if (r.Kind == c.kind) kept.push_back(r.Bytes.at(1));
        EXPECT_EQ(kept, recorded) << "a refused report is not recorded";
        file.reset();
        Bus.Unplug(box);
    }
}

TEST_F(VirtualHidBusTest, ShortReadsAndFailingSerialReads) {
    auto box = Bus.PlugControlBox(L"F2");
    HidFilePtr file = Bus.Open(box->Path(), THidOpenKind::OverlappedRead);
    ASSERT_TRUE(file);
    THidOverlapped ovl;
    std::uint8_t buffer[17] = {};
    std::uint32_t bytes = 0;
    box->SetShortReads(3);
    box->QueueInput({0x01, 1, 1, 1, 1});
    ASSERT_TRUE(Bus.ReadEx(*file, ovl, buffer, sizeof buffer));
    EXPECT_EQ(Bus.SleepAlertable(0), THidWaitResult::IoCompletion);
    ASSERT_TRUE(Bus.OverlappedResult(*file, ovl, bytes));
    EXPECT_EQ(bytes, 3u);
    box->SetShortReads(0);
    box->QueueInput({0x01, 1, 1, 1, 1});
    ASSERT_TRUE(Bus.ReadEx(*file, ovl, buffer, sizeof buffer));
    EXPECT_EQ(Bus.SleepAlertable(0), THidWaitResult::IoCompletion);
    ASSERT_TRUE(Bus.OverlappedResult(*file, ovl, bytes));
    EXPECT_EQ(bytes, 5u);

    HidFilePtr query = Bus.Open(box->Path(), THidOpenKind::NoAccess);
    ASSERT_TRUE(query);
    box->FailSerialReads(2);
    std::uint16_t text[8] = {};
    EXPECT_FALSE(Bus.GetString(*query, THidStringKind::SerialNumber, text, sizeof text));
    EXPECT_FALSE(Bus.GetString(*query, THidStringKind::SerialNumber, text, sizeof text));
    EXPECT_TRUE(Bus.GetString(*query, THidStringKind::SerialNumber, text, sizeof text));
    EXPECT_EQ(text[0], u'F');
}

}  // namespace
