// The PNG decoder: the formats our artwork uses decode to the right pixels; everything
// else, and every damaged file, is refused with EInvalidGraphic and never crashes.

#include "PngImage.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void PutU32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void Chunk(Bytes& out, const char* type, const Bytes& body) {
    PutU32(out, static_cast<std::uint32_t>(body.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    PutU32(out, PngCrc(out.data() + start, out.size() - start));
}

Bytes Header(std::uint32_t w, std::uint32_t h, std::uint8_t depth = 8, std::uint8_t colour = 2,
             std::uint8_t interlace = 0) {
    Bytes b;
    PutU32(b, w);
    PutU32(b, h);
    b.insert(b.end(), {depth, colour, 0, 0, interlace});
    return b;
}

Bytes Deflate(const Bytes& raw) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9), Z_OK);
    out.resize(size);
    return out;
}

const Bytes kSignature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// A file from its chunks: signature, IHDR, optional extras, the IDAT data split into
// `parts` chunks, IEND.
Bytes File(const Bytes& header, const Bytes& packed, int parts = 1, const Bytes& extraType = {},
           const Bytes& extraBody = {}) {
    Bytes f = kSignature;
    Chunk(f, "IHDR", header);
    if (!extraType.empty()) Chunk(f, reinterpret_cast<const char*>(extraType.data()), extraBody);
    const std::size_t step = (packed.size() + parts - 1) / parts;
    for (std::size_t at = 0; at < packed.size(); at += step)
        Chunk(f, "IDAT", Bytes(packed.begin() + at, packed.begin() + std::min(packed.size(), at + step)));
    Chunk(f, "IEND", {});
    return f;
}

std::uint8_t PaethOf(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
    if (pb <= pc) return static_cast<std::uint8_t>(b);
    return static_cast<std::uint8_t>(c);
}

// Filters `rows` (each width × bpp bytes) with the given filter type per row, the way an
// encoder does, so that decoding must undo each type.
Bytes Filtered(const std::vector<Bytes>& rows, const std::vector<int>& filters, std::size_t bpp) {
    Bytes out;
    for (std::size_t y = 0; y < rows.size(); ++y) {
        out.push_back(static_cast<std::uint8_t>(filters[y]));
        for (std::size_t i = 0; i < rows[y].size(); ++i) {
            const int x = rows[y][i];
            const int a = i >= bpp ? rows[y][i - bpp] : 0;
            const int b = y > 0 ? rows[y - 1][i] : 0;
            const int c = (y > 0 && i >= bpp) ? rows[y - 1][i - bpp] : 0;
            int v = x;
            switch (filters[y]) {
                case 1: v = x - a; break;
                case 2: v = x - b; break;
                case 3: v = x - ((a + b) / 2); break;
                case 4: v = x - PaethOf(a, b, c); break;
            }
            out.push_back(static_cast<std::uint8_t>(v));
        }
    }
    return out;
}

// A 7 × 5 picture with varied channels, so that every filter has real work.
std::vector<Bytes> Rows(std::size_t bpp) {
    std::vector<Bytes> rows;
    for (int y = 0; y < 5; ++y) {
        Bytes row;
        for (int x = 0; x < 7; ++x)
            for (std::size_t ch = 0; ch < bpp; ++ch)
                row.push_back(static_cast<std::uint8_t>((x * 37 + y * 91 + ch * 53 + x * y * 13) & 0xFF));
        rows.push_back(row);
    }
    return rows;
}

PngImage Sample() {
    PngImage img;
    img.Width = 5;
    img.Height = 3;
    for (int i = 0; i < 15; ++i)
        img.Rgba.insert(img.Rgba.end(), {static_cast<std::uint8_t>(i * 17), static_cast<std::uint8_t>(255 - i),
                                         static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 16)});
    return img;
}

TEST(PngImage, EncodeThenDecodeGivesTheSamePixels) {
    const PngImage img = Sample();
    const PngImage back = DecodePng(EncodePng(img));
    EXPECT_EQ(back.Width, 5);
    EXPECT_EQ(back.Height, 3);
    EXPECT_EQ(back.Rgba, img.Rgba);
    EXPECT_EQ(back.Pixel(1, 0), (16u << 24) | (17u << 16) | (254u << 8) | 1u);
}

TEST(PngImage, EveryFilterTypeIsUndoneForRgbAndRgba) {
    for (std::size_t bpp : {std::size_t{3}, std::size_t{4}}) {
        const auto rows = Rows(bpp);
        // Rows 0..4 use filters 4, 1, 2, 3, 4: Paeth on the first row sees no row above.
        const Bytes raw = Filtered(rows, {4, 1, 2, 3, 4}, bpp);
        const PngImage img = DecodePng(File(Header(7, 5, 8, bpp == 4 ? 6 : 2), Deflate(raw)));
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x) {
                const std::uint8_t* want = rows[y].data() + x * bpp;
                const std::uint8_t* got = img.Rgba.data() + (y * 7 + x) * 4;
                EXPECT_EQ(got[0], want[0]) << "bpp " << bpp << " at " << x << "," << y;
                EXPECT_EQ(got[1], want[1]);
                EXPECT_EQ(got[2], want[2]);
                EXPECT_EQ(got[3], bpp == 4 ? want[3] : 255);
            }
    }
}

TEST(PngImage, DataSplitOverManyChunksAndAncillaryChunksAreAccepted) {
    const auto rows = Rows(3);
    const Bytes packed = Deflate(Filtered(rows, {0, 0, 0, 0, 0}, 3));
    const Bytes text = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'h', 'i'};
    const Bytes tEXt = {'t', 'E', 'X', 't'};
    const PngImage a = DecodePng(File(Header(7, 5), packed, static_cast<int>(packed.size()), tEXt, text));
    const PngImage b = DecodePng(File(Header(7, 5), packed));
    EXPECT_EQ(a.Rgba, b.Rgba);
    EXPECT_EQ(a.Pixel(6, 4) & 0xFFFFFFu,
              (std::uint32_t{rows[4][18]} << 16) | (std::uint32_t{rows[4][19]} << 8) | rows[4][20]);
}

TEST(PngImage, PixelOutsideThePictureIsARangeError) {
    const PngImage img = Sample();
    EXPECT_THROW(img.Pixel(5, 0), ERangeError);
    EXPECT_THROW(img.Pixel(0, -1), ERangeError);
}

struct Refusal {
    const char* Name;
    Bytes File;
};

std::vector<Refusal> Refusals() {
    const Bytes raw = Filtered(Rows(3), {0, 0, 0, 0, 0}, 3);
    const Bytes packed = Deflate(raw);
    const Bytes good = File(Header(7, 5), packed);
    std::vector<Refusal> cases;

    cases.push_back({"empty", {}});
    cases.push_back({"signature only", kSignature});
    Bytes badSig = good;
    badSig[1] = 'Q';
    cases.push_back({"bad signature", badSig});
    Bytes badCrc = good;
    badCrc[8 + 8 + 13] ^= 0x01;  // last byte of the IHDR CRC
    cases.push_back({"bad CRC", badCrc});
    Bytes hugeLength = kSignature;
    PutU32(hugeLength, 0xFFFFFFF0u);
    hugeLength.insert(hugeLength.end(), {'I', 'H', 'D', 'R', 0, 0, 0, 0});
    cases.push_back({"impossible chunk length", hugeLength});
    cases.push_back({"palette picture", File(Header(7, 5, 8, 3), packed)});
    cases.push_back({"grey picture", File(Header(7, 5, 8, 0), packed)});
    cases.push_back({"16-bit picture", File(Header(7, 5, 16, 2), packed)});
    cases.push_back({"interlaced", File(Header(7, 5, 8, 2, 1), packed)});
    cases.push_back({"zero width", File(Header(0, 5), packed)});
    cases.push_back({"huge size", File(Header(100000, 100000), packed)});
    cases.push_back({"height says more rows", File(Header(7, 6), packed)});
    cases.push_back({"height says fewer rows", File(Header(7, 4), packed)});
    Bytes badFilter = raw;
    badFilter[0] = 5;
    cases.push_back({"unknown filter type", File(Header(7, 5), Deflate(badFilter))});
    Bytes corrupt = packed;
    corrupt[0] = 0x00;  // not a zlib header
    cases.push_back({"corrupt compressed data", File(Header(7, 5), corrupt)});
    cases.push_back({"unknown critical chunk", File(Header(7, 5), packed, 1, {'Z', 'Z', 'Z', 'Z'}, {})});
    Bytes noIdat = kSignature;
    Chunk(noIdat, "IHDR", Header(7, 5));
    Chunk(noIdat, "IEND", {});
    cases.push_back({"no picture data", noIdat});
    Bytes noIend = kSignature;
    Chunk(noIend, "IHDR", Header(7, 5));
    Chunk(noIend, "IDAT", packed);
    cases.push_back({"no IEND", noIend});
    Bytes idatFirst = kSignature;
    Chunk(idatFirst, "IDAT", packed);
    Chunk(idatFirst, "IHDR", Header(7, 5));
    Chunk(idatFirst, "IEND", {});
    cases.push_back({"IHDR not first", idatFirst});
    Bytes split = kSignature;
    Chunk(split, "IHDR", Header(7, 5));
    Chunk(split, "IDAT", Bytes(packed.begin(), packed.begin() + 10));
    Chunk(split, "tEXt", {'a', 0, 'b'});
    Chunk(split, "IDAT", Bytes(packed.begin() + 10, packed.end()));
    Chunk(split, "IEND", {});
    cases.push_back({"IDAT chunks not consecutive", split});
    return cases;
}

TEST(PngImage, RefusesWhatItCannotDrawWithAClearError) {
    for (const Refusal& c : Refusals()) {
        try {
            DecodePng(c.File);
            ADD_FAILURE() << c.Name << ": decoded";
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(e.Message().rfind(L"Invalid PNG picture: ", 0), 0u) << c.Name;
        }
    }
}

TEST(PngImage, EveryTruncationAndEveryFlippedByteIsRefusedOrDecoded) {
    const Bytes good = EncodePng(Sample());
    for (std::size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_THROW(DecodePng(good.data(), cut), EInvalidGraphic) << "cut at " << cut;
    for (std::size_t at = 0; at < good.size(); ++at) {
        Bytes bad = good;
        bad[at] ^= 0x5A;
        try {
            DecodePng(bad);
        } catch (const EInvalidGraphic&) {
        }
    }
}

TEST(PngImage, EncoderRefusesPixelsThatDisagreeWithTheSize) {
    PngImage img = Sample();
    img.Rgba.pop_back();
    EXPECT_THROW(EncodePng(img), ERangeError);
}

}  // namespace
