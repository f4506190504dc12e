#include "Bitmap24.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "TextUtils.h"

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kPixelsPerMetre = 3780;  // 96 dots per inch
// Larger than any picture of this program by far; stops a huge file from being read whole.
constexpr std::uintmax_t kMaxFileBytes = 64u * 1024u * 1024u;

std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::int32_t I32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(U32(p));
}
void PutU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void PutU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

[[noreturn]] void Refuse(const std::wstring& why) {
    throw EInvalidGraphic(L"Invalid bitmap: " + why);
}

std::size_t RowStride(int width) {
    return (static_cast<std::size_t>(width) * 3 + 3) & ~static_cast<std::size_t>(3);
}

}  // namespace

Bitmap24::Bitmap24(int width, int height, Rgb fill) {
    if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide)
        throw ERangeError(L"Bitmap size out of range: " + std::to_wstring(width) + L" x " +
                          std::to_wstring(height));
    FWidth = width;
    FHeight = height;
    FPixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    Fill(fill);
}

void Bitmap24::CheckInside(int x, int y) const {
    if (x < 0 || y < 0 || x >= FWidth || y >= FHeight)
        throw ERangeError(L"Pixel (" + std::to_wstring(x) + L", " + std::to_wstring(y) +
                          L") outside a " + std::to_wstring(FWidth) + L" x " +
                          std::to_wstring(FHeight) + L" bitmap");
}

Rgb Bitmap24::Pixel(int x, int y) const {
    CheckInside(x, y);
    const std::uint8_t* p = Row(y) + static_cast<std::size_t>(x) * 3;
    return Rgb{p[2], p[1], p[0]};
}

void Bitmap24::SetPixel(int x, int y, Rgb colour) {
    CheckInside(x, y);
    std::uint8_t* p = Row(y) + static_cast<std::size_t>(x) * 3;
    p[0] = colour.B;
    p[1] = colour.G;
    p[2] = colour.R;
}

void Bitmap24::FillRect(int left, int top, int right, int bottom, Rgb colour) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, FWidth);
    bottom = std::min(bottom, FHeight);
    for (int y = top; y < bottom; ++y) {
        std::uint8_t* p = Row(y) + static_cast<std::size_t>(left) * 3;
        for (int x = left; x < right; ++x, p += 3) {
            p[0] = colour.B;
            p[1] = colour.G;
            p[2] = colour.R;
        }
    }
}

Bitmap24 Bitmap24::LoadFromBmp(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size == 0) Refuse(L"no data");

    // A file starts with the 14-byte file header; a resource starts with the information
    // header. The file header's "BM" cannot begin an information header: its first four
    // bytes are the header size, whose low byte would then be 0x42, which no header has.
    const bool isFile = size >= 2 && data[0] == 'B' && data[1] == 'M';
    std::size_t infoAt = 0;
    std::uint32_t fileOffBits = 0;
    if (isFile) {
        if (size < kFileHeaderSize + 4) Refuse(L"file header truncated");
        const std::uint32_t fileSize = U32(data + 2);
        if (fileSize != 0 && fileSize > size)
            Refuse(L"file truncated (header says " + std::to_wstring(fileSize) + L" bytes, " +
                   std::to_wstring(size) + L" present)");
        fileOffBits = U32(data + 10);
        infoAt = kFileHeaderSize;
    } else if (size < 4) {
        Refuse(L"header truncated");
    }

    const std::uint8_t* info = data + infoAt;
    const std::size_t infoAvail = size - infoAt;
    const std::uint32_t headerSize = U32(info);
    if (headerSize == kCoreHeaderSize) Refuse(L"OS/2 bitmap headers are not supported");
    // BITMAPINFOHEADER and its longer successors (V2, V3, V4, V5) begin alike.
    if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
        headerSize != 124)
        Refuse(L"unknown header (size " + std::to_wstring(headerSize) + L")");
    if (infoAvail < headerSize) Refuse(L"header truncated");

    const std::int32_t width = I32(info + 4);
    const std::int32_t rawHeight = I32(info + 8);
    const std::uint16_t planes = U16(info + 12);
    const std::uint16_t bitCount = U16(info + 14);
    const std::uint32_t compression = U32(info + 16);
    const std::uint32_t sizeImage = U32(info + 20);
    const std::uint32_t clrUsed = U32(info + 32);

    if (planes != 1) Refuse(L"plane count " + std::to_wstring(planes) + L" (must be 1)");
    if (bitCount != 24)
        Refuse(L"not a 24-bit bitmap (" + std::to_wstring(bitCount) + L" bits per pixel)");
    if (compression != 0)
        Refuse(L"compressed bitmaps are not supported (compression " +
               std::to_wstring(compression) + L")");
    if (width <= 0 || width > kMaxSide)
        Refuse(L"width " + std::to_wstring(width) + L" out of range");
    // INT32_MIN has no positive counterpart; the range check refuses it before negation.
    if (rawHeight == 0 || rawHeight < -kMaxSide || rawHeight > kMaxSide)
        Refuse(L"height " + std::to_wstring(rawHeight) + L" out of range");
    const bool topDown = rawHeight < 0;
    const int height = topDown ? -rawHeight : rawHeight;

    const std::size_t stride = RowStride(width);
    const std::size_t pixelBytes = stride * static_cast<std::size_t>(height);
    if (sizeImage != 0 && sizeImage < pixelBytes)
        Refuse(L"image size " + std::to_wstring(sizeImage) + L" too small for " +
               std::to_wstring(width) + L" x " + std::to_wstring(height) + L" pixels");

    // Where the pixels begin. A colour table is optional for 24-bit pictures; in a
    // resource it sits between the header and the pixels.
    std::size_t pixelsAt;
    if (isFile) {
        if (fileOffBits < kFileHeaderSize + headerSize)
            Refuse(L"pixel offset " + std::to_wstring(fileOffBits) + L" inside the header");
        pixelsAt = fileOffBits;
    } else {
        if (clrUsed > (1u << 24)) Refuse(L"colour table too large");
        pixelsAt = headerSize + static_cast<std::size_t>(clrUsed) * 4;
    }
    if (pixelsAt > size || size - pixelsAt < pixelBytes)
        Refuse(L"pixel data truncated (" + std::to_wstring(pixelBytes) + L" bytes needed)");

    Bitmap24 result(width, height);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    for (int r = 0; r < height; ++r) {
        const int y = topDown ? r : height - 1 - r;
        std::memcpy(result.Row(y), data + pixelsAt + stride * static_cast<std::size_t>(r),
                    rowBytes);
    }
    return result;
}

Bitmap24 Bitmap24::LoadFromFile(const std::wstring& path) {
    namespace fs = std::filesystem;
    const fs::path p(path);
    std::error_code ec;
    const std::uintmax_t length = fs::file_size(p, ec);
    if (ec)
        throw EInOutError(L"Cannot read \"" + path + L"\": " +
                          Utf8ToWide(ec.message()));
    if (length > kMaxFileBytes)
        throw EInvalidGraphic(L"Invalid bitmap: \"" + path + L"\" is too large");
    std::ifstream in(p, std::ios::binary);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    if (!in || !in.read(reinterpret_cast<char*>(bytes.data()),
                        static_cast<std::streamsize>(bytes.size())))
        throw EInOutError(L"Cannot read \"" + path + L"\"");
    try {
        return LoadFromBmp(bytes);
    } catch (const EInvalidGraphic& e) {
        throw EInvalidGraphic(e.Message() + L" in \"" + path + L"\"");
    }
}

std::vector<std::uint8_t> Bitmap24::SaveToBmp() const {
    const std::size_t stride = RowStride(FWidth);
    const std::size_t pixelBytes = stride * static_cast<std::size_t>(FHeight);
    const std::size_t offBits = kFileHeaderSize + kInfoHeaderSize;
    std::vector<std::uint8_t> out(offBits + pixelBytes, 0);
    std::uint8_t* h = out.data();
    h[0] = 'B';
    h[1] = 'M';
    PutU32(h + 2, static_cast<std::uint32_t>(out.size()));
    PutU32(h + 10, static_cast<std::uint32_t>(offBits));
    std::uint8_t* info = h + kFileHeaderSize;
    PutU32(info, kInfoHeaderSize);
    PutU32(info + 4, static_cast<std::uint32_t>(FWidth));
    PutU32(info + 8, static_cast<std::uint32_t>(FHeight));
    PutU16(info + 12, 1);
    PutU16(info + 14, 24);
    PutU32(info + 20, static_cast<std::uint32_t>(pixelBytes));
    PutU32(info + 24, kPixelsPerMetre);
    PutU32(info + 28, kPixelsPerMetre);
    const std::size_t rowBytes = static_cast<std::size_t>(FWidth) * 3;
    for (int y = 0; y < FHeight; ++y)
        std::memcpy(out.data() + offBits + stride * static_cast<std::size_t>(FHeight - 1 - y),
                    Row(y), rowBytes);
    return out;
}

void Bitmap24::SaveToFile(const std::wstring& path) const {
    namespace fs = std::filesystem;
    const std::vector<std::uint8_t> bytes = SaveToBmp();
    const fs::path target(path);
    fs::path temp = target;
    temp += L".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            fs::remove(temp, ignored);
            throw EInOutError(L"Cannot write \"" + path + L"\"");
        }
    }
    std::error_code ec;
    fs::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        throw EInOutError(L"Cannot write \"" + path + L"\": " + Utf8ToWide(ec.message()));
    }
}
