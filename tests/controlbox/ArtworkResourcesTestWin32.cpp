// The key pictures as the executable carries them: the resource compiler stores a bitmap
// without its file header, and each must still read as the committed file does.

#include "TextUtils.h"
#include "uStreamDeck.h"

#include <gtest/gtest.h>

namespace {

Bitmap24 FromFile(const std::string& name) {
    return Bitmap24::LoadFromFile(Utf8ToWide(std::string(LUMETRA_RESOURCES_DIR) + "/" + name));
}

TEST(ArtworkResources, EveryKeyPictureReadsLikeItsFile) {
    EXPECT_EQ(Bitmap24::LoadFromResource(L"NOIR80"), Noir80());
    for (int key = 0; key < 6; ++key) {
        const std::string n = std::to_string(key);
        EXPECT_EQ(Bitmap24::LoadFromResource(L"KEY" + Utf8ToWide(n)), FromFile("Key" + n + ".bmp")) << key;
    }
}

TEST(ArtworkResources, MissingOrNonBitmapResourceIsRefused) {
    EXPECT_THROW(Bitmap24::LoadFromResource(L"NO_SUCH_PICTURE"), EInvalidGraphic);
    EXPECT_THROW(Bitmap24::LoadFromResource(L"LOGO"), EInvalidGraphic);  // raw data, not a bitmap
}

}  // namespace
