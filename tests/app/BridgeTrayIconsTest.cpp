// The committed tray icons must be what the tray status shows: a six-key control box
// crossed out in red, with dark keys, and with coloured keys.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct Pixel {
    int R, G, B, A;
};

struct Icon {
    int Width = 0, Height = 0, Bits = 0;
    std::vector<Pixel> Pixels;  // top-down
    std::vector<bool> Masked;   // top-down, true where the AND mask is set
    const Pixel& At(int x, int y) const { return Pixels[static_cast<std::size_t>(y * Width + x)]; }
};

unsigned Get(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
    unsigned v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | b.at(at + static_cast<std::size_t>(i));
    return v;
}

Icon Load(const std::string& name) {
    std::ifstream in(std::string(LUMETRA_TEST_DATA_DIR) + "/../../resources/" + name, std::ios::binary);
    const std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Icon icon;
    if (b.size() < 22 || Get(b, 0, 2) != 0 || Get(b, 2, 2) != 1 || Get(b, 4, 2) != 1)
        return icon;
    const std::size_t offset = Get(b, 18, 4);
    const std::size_t size = Get(b, 14, 4);
    if (offset + size != b.size() || Get(b, offset, 4) != 40)
        return icon;
    icon.Width = static_cast<int>(Get(b, offset + 4, 4));
    icon.Height = static_cast<int>(Get(b, offset + 8, 4)) / 2;
    icon.Bits = static_cast<int>(Get(b, offset + 14, 2));
    if (icon.Bits != 32 || b[6] != icon.Width || b[7] != icon.Height)
        return icon;
    const std::size_t colours = offset + 40;
    const std::size_t maskStride = static_cast<std::size_t>((icon.Width + 31) / 32 * 4);
    const std::size_t mask = colours + static_cast<std::size_t>(icon.Width * icon.Height * 4);
    if (mask + maskStride * static_cast<std::size_t>(icon.Height) != b.size())
        return icon;
    for (int y = 0; y < icon.Height; ++y) {
        const std::size_t row = static_cast<std::size_t>(icon.Height - 1 - y);  // stored bottom-up
        for (int x = 0; x < icon.Width; ++x) {
            const std::size_t p = colours + (row * static_cast<std::size_t>(icon.Width) + static_cast<std::size_t>(x)) * 4;
            icon.Pixels.push_back({b[p + 2], b[p + 1], b[p], b[p + 3]});
            icon.Masked.push_back((b[mask + row * maskStride + static_cast<std::size_t>(x / 8)] & (0x80 >> (x % 8))) != 0);
        }
    }
    return icon;
}

bool Saturated(const Pixel& p) { return p.A > 0 && std::max({p.R, p.G, p.B}) - std::min({p.R, p.G, p.B}) > 100; }
bool Red(const Pixel& p) { return p.A == 255 && p.R > 180 && p.G < 80 && p.B < 80; }

TEST(BridgeTrayIcons, ShowTheControlBoxInItsThreeStates) {
    const char* names[] = {"TrayNoControlBox.ico", "TrayControlBox.ico", "TrayReady.ico"};
    std::vector<Icon> icons;
    for (const char* name : names) {
        icons.push_back(Load(name));
        const Icon& icon = icons.back();
        ASSERT_EQ(std::tie(icon.Width, icon.Height, icon.Bits), std::make_tuple(16, 16, 32)) << name;
        for (std::size_t i = 0; i < icon.Pixels.size(); ++i)
            EXPECT_EQ(icon.Masked[i], icon.Pixels[i].A == 0) << name << " pixel " << i;
        EXPECT_EQ(icon.At(8, 0).A, 0) << name << ": the body leaves the top rows clear";
        EXPECT_EQ(icon.At(8, 8).A, 255) << name << ": the body is opaque";
    }

    // Crossed out: red from corner to corner through the middle.
    for (const auto& [x, y] : {std::pair{2, 2}, {7, 7}, {13, 2}, {2, 13}, {13, 13}})
        EXPECT_TRUE(Red(icons[0].At(x, y))) << "cross at " << x << "," << y;

    // Dark keys: nothing coloured anywhere.
    EXPECT_TRUE(std::none_of(icons[1].Pixels.begin(), icons[1].Pixels.end(), Saturated));

    // Coloured keys: six different colours, no red cross over them.
    std::set<std::tuple<int, int, int>> colours;
    for (const Pixel& p : icons[2].Pixels)
        if (Saturated(p))
            colours.insert({p.R, p.G, p.B});
    EXPECT_EQ(colours.size(), 6u);
    EXPECT_FALSE(Red(icons[2].At(7, 7)) || Red(icons[2].At(2, 2)));
}

}  // namespace
