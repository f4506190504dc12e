#include "ControlBoxTestSupport.h"

#include "Exceptions.h"

namespace {

struct ModelCase {
    std::uint16_t productId;
    TSDType type;
    int keys;
};

class TSDModel : public ControlBoxTest, public ::testing::WithParamInterface<ModelCase> {};

TEST_P(TSDModel, ProductIdGivesModelAndKeyCount) {
    TVirtualHidDescription desc = VirtualControlBoxDescription(L"M1");
    desc.Attributes.ProductID = GetParam().productId;
    TSD box(&List, Attach(desc));
    EXPECT_EQ(box.SDType(), GetParam().type);
    EXPECT_EQ(box.Buttons()->Count(), GetParam().keys);
    EXPECT_EQ(box.PID(), GetParam().productId);
}

INSTANTIATE_TEST_SUITE_P(Table, TSDModel,
                         ::testing::Values(ModelCase{0x0060, sdtStandard, 15},
                                           ModelCase{0x0063, sdtMini, 6},
                                           ModelCase{0x006C, sdtXL, 32},
                                           ModelCase{0x0090, sdtMini, 6},
                                           ModelCase{0x0062, sdtUndefined, 1},
                                           ModelCase{0x0000, sdtUndefined, 1}));

TEST_F(ControlBoxTest, CreationReadsTheIdentityAndSendsNothing) {
    List.SetActive(true);
    VirtualHidDevicePtr v;
    TSD& box = NewBox(v, L"AL12K1C01234");
    EXPECT_EQ(box.Serial(), L"AL12K1C01234");
    EXPECT_EQ(box.Vendor(), L"Elgato Systems");
    EXPECT_EQ(box.Model(), L"Stream Deck Mini");
    EXPECT_EQ(box.VID(), 0x0FD9);
    EXPECT_EQ(box.PID(), 0x0063);
    EXPECT_EQ(box.SDType(), sdtMini);
    EXPECT_EQ(box.Id(), static_cast<std::int32_t>(v->DevInst()));
    EXPECT_FALSE(box.DefaultSD());
    EXPECT_TRUE(box.Active());  // the list's flag at creation
    EXPECT_EQ(box.SDList(), &List);
    EXPECT_TRUE(v->Reports().empty());
}

TEST_F(ControlBoxTest, DeviceWithoutSerialGivesEmptySerial) {
    TVirtualHidDescription desc = VirtualControlBoxDescription(L"");
    desc.HasSerialNumber = false;
    TSD box(&List, Attach(desc));
    EXPECT_EQ(box.Serial(), L"");
    EXPECT_EQ(box.Model(), L"Stream Deck Mini");
}

TEST_F(ControlBoxTest, SerialAndVendorCanBeRewritten) {
    VirtualHidDevicePtr v;
    TSD& box = NewBox(v);
    box.SetSerial(L"X");
    box.SetVendor(L"Y");
    EXPECT_EQ(box.Serial(), L"X");
    EXPECT_EQ(box.Vendor(), L"Y");
    EXPECT_TRUE(v->Reports().empty());
}

Bytes FeatureReport(std::initializer_list<std::uint8_t> head) {
    Bytes r(17, 0);
    std::copy(head.begin(), head.end(), r.begin());
    return r;
}

TEST_F(ControlBoxTest, ResetReport) {
    VirtualHidDevicePtr v;
    NewBox(v).RAZ();
    ASSERT_EQ(v->Reports().size(), 1u);
    EXPECT_EQ(v->FeatureReports()[0], FeatureReport({0x0B, 0x63}));
}

TEST_F(ControlBoxTest, BrightnessIsSentModulo101) {
    VirtualHidDevicePtr v;
    TSD& box = NewBox(v);
    const std::pair<int, std::uint8_t> cases[] = {{0, 0}, {50, 50}, {100, 100}, {101, 0}, {150, 49}, {202, 0}};
    for (const auto& [value, sent] : cases) {
        v->ClearReports();
        box.SetBrigtness(value);
        ASSERT_EQ(v->FeatureReports().size(), 1u) << value;
        EXPECT_EQ(v->FeatureReports()[0], FeatureReport({0x05, 0x55, 0xAA, 0xD1, 0x01, sent})) << value;
    }
}

TEST_F(ControlBoxTest, NegativeBrightnessIsARangeErrorAndSendsNothing) {
    VirtualHidDevicePtr v;
    TSD& box = NewBox(v);
    EXPECT_THROW(box.SetBrigtness(-1), ERangeError);
    EXPECT_THROW(box.SetBrigtness(-101), ERangeError);
    EXPECT_TRUE(v->Reports().empty());
}

TEST_F(ControlBoxTest, FeatureReportsTooShortForTheFieldsAreNotSent) {
    // A device whose feature length cannot hold the brightness fields must not get a
    // report cut short, nor have bytes written past its buffer.
    TVirtualHidDescription desc = VirtualControlBoxDescription(L"SHORT");
    desc.Caps.FeatureReportByteLength = 4;
    VirtualHidDevicePtr v;
    TSD box(&List, Attach(desc, &v));
    box.SetBrigtness(50);
    box.RAZ();  // two bytes fit
    ASSERT_EQ(v->FeatureReports().size(), 1u);
    EXPECT_EQ(v->FeatureReports()[0], (Bytes{0x0B, 0x63, 0, 0}));
}

TEST_F(ControlBoxTest, ReportsToAnUnpluggedDeviceAreDroppedQuietly) {
    VirtualHidDevicePtr v;
    TSD& box = NewBox(v);
    Bus.Unplug(v);
    Controller->DeviceChange();
    EXPECT_NO_THROW(box.RAZ());
    EXPECT_NO_THROW(box.SetBrigtness(10));
    EXPECT_NO_THROW(box.RefreshImageButtons());
    EXPECT_TRUE(v->Reports().empty());
}

TEST_F(ControlBoxTest, WithoutADeviceNothingIsSent) {
    TSD box(&List, nullptr);
    EXPECT_EQ(box.SDType(), sdtUndefined);
    EXPECT_EQ(box.Buttons()->Count(), 1);
    EXPECT_NO_THROW(box.RAZ());
    EXPECT_NO_THROW(box.SetBrigtness(10));
    EXPECT_NO_THROW(box.RefreshImageButtons());
}

}  // namespace
