#include "ControlBoxTestSupport.h"

namespace {

class Keys : public ControlBoxTest {
protected:
    void SetUp() override {
        ControlBoxTest::SetUp();
        Pictures.reserve(6);
        for (int i = 0; i < 6; ++i) Pictures.emplace_back(80, 80, Rgb{static_cast<std::uint8_t>(i + 1), 0, 0});
    }
    void AddDefaults(int count) {
        for (int i = 0; i < count; ++i) List.AddDefaultBitmap(&Pictures[static_cast<std::size_t>(i)]);
    }
    std::vector<Bitmap24> Pictures;
    VirtualHidDevicePtr Device;
};

TEST_F(Keys, KeysTakeTheDefaultPictureOfTheirIndexWhenTheListHasOne) {
    AddDefaults(4);
    TSD& box = NewBox(Device);
    TSDButtons& keys = *box.Buttons();
    ASSERT_EQ(keys.Count(), 6);
    for (int i = 0; i < 6; ++i) {
        TSDButton* key = keys.Get(i);
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(key->Id(), i);
        EXPECT_EQ(key->Owner(), &keys);
        if (i < 4) {
            EXPECT_EQ(key->Bitmap(), &Pictures[static_cast<std::size_t>(i)]);
        } else {
            EXPECT_TRUE(key->ShowsOwnBitmap());
            EXPECT_EQ(*key->Bitmap(), Noir80());
        }
    }
    EXPECT_TRUE(Device->Reports().empty());
}

TEST_F(Keys, DefaultsAddedLaterReachExistingKeysOnlyThroughReload) {
    TSD& box = NewBox(Device);
    AddDefaults(6);
    EXPECT_TRUE(box.Buttons()->Get(0)->ShowsOwnBitmap());
    box.Buttons()->ReloadDefaultBitmap();
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(box.Buttons()->Get(i)->Bitmap(), &Pictures[static_cast<std::size_t>(i)]);
    EXPECT_TRUE(Device->Reports().empty());

    // Clear goes back to the key's own black picture.
    box.Buttons()->Get(2)->Clear();
    EXPECT_TRUE(box.Buttons()->Get(2)->ShowsOwnBitmap());
    EXPECT_EQ(*box.Buttons()->Get(2)->Bitmap(), Noir80());
}

TEST_F(Keys, FreeingAControlBoxLeavesTheDefaultPicturesForTheNextOne) {
    AddDefaults(6);
    const std::vector<Bitmap24> copies = Pictures;
    {
        VirtualHidDevicePtr first;
        TSD box(&List, Attach(VirtualControlBoxDescription(L"FIRST"), &first));
        const Bitmap24 extra(80, 80, Rgb{9, 9, 9});
        box.Buttons()->Get(1)->SetDefBitmap(&extra);
    }
    EXPECT_EQ(Pictures, copies);
    TSD& next = NewBox(Device, L"NEXT");
    List.SetActive(true);
    next.RefreshImageButtons();
    const std::vector<Bytes> all = Device->OutputReports();
    ASSERT_EQ(all.size(), 120u);
    EXPECT_EQ(StreamPixel(StreamOf(KeyReports(all, 5)), 0, 0), (Rgb{6, 0, 0}));
}

TEST_F(Keys, GetReachesExistingKeysUpToSixteen) {
    TVirtualHidDescription desc = VirtualControlBoxDescription(L"XL");
    desc.Attributes.ProductID = 0x006C;
    TSD xl(&List, Attach(desc));
    EXPECT_EQ(xl.Buttons()->Count(), 32);
    EXPECT_NE(xl.Buttons()->Get(15), nullptr);
    EXPECT_EQ(xl.Buttons()->Get(16), nullptr);
    EXPECT_EQ(xl.Buttons()->Get(-1), nullptr);

    TSD& mini = NewBox(Device);
    EXPECT_NE(mini.Buttons()->Get(5), nullptr);
    EXPECT_EQ(mini.Buttons()->Get(6), nullptr);  // within sixteen, but no such key
    EXPECT_EQ(mini.Buttons()->List(6), nullptr);
}

TEST_F(Keys, PutReplacesAnExistingKeyAndIgnoresOtherIndexes) {
    TSD& box = NewBox(Device);
    TSDButtons& keys = *box.Buttons();
    auto replacement = std::make_unique<TSDButton>(&keys);
    TSDButton* raw = replacement.get();
    keys.Put(2, std::move(replacement));
    EXPECT_EQ(keys.Get(2), raw);
    EXPECT_EQ(keys.Count(), 6);

    TSDButton* before = keys.Get(5);
    keys.Put(6, std::make_unique<TSDButton>(&keys));
    keys.Put(-1, std::make_unique<TSDButton>(&keys));
    keys.Put(5, nullptr);
    EXPECT_EQ(keys.Get(5), before);
    EXPECT_EQ(keys.Count(), 6);
}

TEST_F(Keys, IndexOfFindsTheFirstKeyWithThatIndex) {
    TSD& box = NewBox(Device);
    TSDButtons& keys = *box.Buttons();
    EXPECT_EQ(keys.IndexOf(3), keys.Get(3));
    EXPECT_EQ(keys.IndexOf(6), nullptr);
    // A key put in place keeps the index it was made with (0).
    auto stray = std::make_unique<TSDButton>(&keys);
    keys.Put(4, std::move(stray));
    EXPECT_EQ(keys.IndexOf(4), nullptr);
    EXPECT_EQ(keys.IndexOf(0), keys.Get(0));
}

TEST(DefaultPictureTable, ReadsAndWritesOnlyExistingEntries) {
    VirtualHidBus bus;  // no devices: the list stays empty
    TSDList list{bus};
    const Bitmap24 a(1, 1), b(2, 2);
    EXPECT_EQ(list.ListDefaultBitmap(0), nullptr);
    list.AddDefaultBitmap(&a);
    list.PutListDefaultBitmap(1, &b);  // no entry 1 yet: ignored
    list.SetListDefaultBitmap(-1, &b);
    EXPECT_EQ(list.GetListDefaultBitmap(0), &a);
    EXPECT_EQ(list.GetListDefaultBitmap(1), nullptr);
    list.SetListDefaultBitmap(0, &b);
    EXPECT_EQ(list.ListDefaultBitmap(0), &b);
    EXPECT_FALSE(list.Active());
    EXPECT_EQ(list.CurrentSD(), nullptr);
}

TEST(Models, KeyCounts) {
    EXPECT_EQ(SDTypeOfProduct(0x0063), sdtMini);
    EXPECT_EQ(SDTypeOfProduct(0x0090), sdtMini);
    EXPECT_EQ(SDTypeOfProduct(0x0061), sdtUndefined);
    for (const auto& [type, keys] : {std::pair{sdtUndefined, 1}, {sdtMini, 6}, {sdtStandard, 15}, {sdtXL, 32}})
        EXPECT_EQ(SDKeyCount(type), keys);
}

}  // namespace
