#include "PngImage.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint32_t kMaxChunkLength = 0x7FFFFFFFu;
constexpr std::uint8_t kColourRgb = 2;
constexpr std::uint8_t kColourRgba = 6;

[[noreturn]] void Refuse(const std::wstring& why) {
    throw EInvalidGraphic(L"Invalid PNG picture: " + why);
}

std::uint32_t BigU32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

void PutBigU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 24));
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

std::wstring ChunkName(const std::uint8_t* type) {
    std::wstring name;
    for (int i = 0; i < 4; ++i) name += static_cast<wchar_t>(type[i]);
    return name;
}

bool IsLetter(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsType(const std::uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

// Inflates the concatenated IDAT data, chunk by chunk, into exactly `expected` bytes. The
// output grows only as data actually inflates, so a header announcing a big picture with
// little data behind it allocates little.
class RowInflater {
public:
    explicit RowInflater(std::size_t expected) : FExpected(expected) {
        std::memset(&FStream, 0, sizeof FStream);
        if (inflateInit(&FStream) != Z_OK) Refuse(L"the decompressor cannot start");
    }
    ~RowInflater() { inflateEnd(&FStream); }
    RowInflater(const RowInflater&) = delete;
    RowInflater& operator=(const RowInflater&) = delete;

    void Feed(const std::uint8_t* data, std::uint32_t size) {
        if (FEnded) return;  // bytes after the end of the stream are not picture data
        FStream.next_in = const_cast<Bytef*>(data);
        FStream.avail_in = size;
        std::uint8_t scratch[16384];
        for (;;) {
            FStream.next_out = scratch;
            FStream.avail_out = sizeof scratch;
            const int rc = inflate(&FStream, Z_NO_FLUSH);
            if (rc == Z_BUF_ERROR) break;  // no progress: wants the next chunk's bytes
            if (rc != Z_OK && rc != Z_STREAM_END) Refuse(L"the compressed data is corrupt");
            const std::size_t produced = sizeof scratch - FStream.avail_out;
            if (produced > FExpected - FOut.size())
                Refuse(L"the compressed data holds more than the rows the header announces");
            FOut.insert(FOut.end(), scratch, scratch + produced);
            if (rc == Z_STREAM_END) {
                FEnded = true;
                break;
            }
            // A full scratch buffer may leave output pending inside the decompressor.
            if (FStream.avail_in == 0 && FStream.avail_out != 0) break;
        }
    }

    std::vector<std::uint8_t> Finish() {
        if (!FEnded) Refuse(L"the compressed data ends early");
        if (FOut.size() != FExpected)
            Refuse(L"the compressed data holds fewer rows than the header announces");
        return std::move(FOut);
    }

private:
    z_stream FStream;
    std::size_t FExpected;
    std::vector<std::uint8_t> FOut;
    bool FEnded = false;
};

std::uint8_t Paeth(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    int p = static_cast<int>(a) + b - c;
    int pa = std::abs(p - a);
    int pb = std::abs(p - b);
    int pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    if (pb <= pc) return b;
    return c;
}

// Undoes the per-row filters in place; `raw` holds height rows of one filter byte plus
// `stride` bytes.
void Unfilter(std::vector<std::uint8_t>& raw, std::size_t height, std::size_t stride,
              std::size_t bpp) {
    for (std::size_t y = 0; y < height; ++y) {
        std::uint8_t* row = raw.data() + y * (stride + 1);
        const std::uint8_t filter = row[0];
        std::uint8_t* cur = row + 1;
        const std::uint8_t* prev = y > 0 ? raw.data() + (y - 1) * (stride + 1) + 1 : nullptr;
        for (std::size_t i = 0; i < stride; ++i) {
            const std::uint8_t a = i >= bpp ? cur[i - bpp] : 0;
            const std::uint8_t b = prev ? prev[i] : 0;
            const std::uint8_t c = (prev && i >= bpp) ? prev[i - bpp] : 0;
            switch (filter) {
                case 0: break;
                case 1: cur[i] = static_cast<std::uint8_t>(cur[i] + a); break;
                case 2: cur[i] = static_cast<std::uint8_t>(cur[i] + b); break;
                case 3: cur[i] = static_cast<std::uint8_t>(cur[i] + ((a + b) >> 1)); break;
                case 4: cur[i] = static_cast<std::uint8_t>(cur[i] + Paeth(a, b, c)); break;
                default:
                    Refuse(L"row " + std::to_wstring(y) + L" has unknown filter type " +
                           std::to_wstring(filter));
            }
        }
    }
}

}  // namespace

std::uint32_t PngImage::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= Width || y >= Height)
        throw ERangeError(L"Pixel (" + std::to_wstring(x) + L", " + std::to_wstring(y) +
                          L") outside a " + std::to_wstring(Width) + L" x " +
                          std::to_wstring(Height) + L" picture");
    const std::uint8_t* p =
        Rgba.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) + x) * 4;
    return (static_cast<std::uint32_t>(p[3]) << 24) | (static_cast<std::uint32_t>(p[0]) << 16) |
           (static_cast<std::uint32_t>(p[1]) << 8) | p[2];
}

std::uint32_t PngCrc(const std::uint8_t* data, std::size_t size) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes at most uInt bytes per call.
    while (size > 0) {
        const uInt part = size > 0x40000000u ? 0x40000000u : static_cast<uInt>(size);
        crc = crc32(crc, data, part);
        data += part;
        size -= part;
    }
    return static_cast<std::uint32_t>(crc);
}

PngImage DecodePng(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < sizeof kSignature ||
        std::memcmp(data, kSignature, sizeof kSignature) != 0)
        Refuse(L"the PNG signature is missing");

    std::size_t pos = sizeof kSignature;
    bool haveHeader = false, idatStarted = false, idatEnded = false, ended = false;
    std::uint32_t width = 0, height = 0;
    std::size_t bpp = 0;
    std::unique_ptr<RowInflater> inflater;

    while (!ended) {
        if (size - pos < 12) Refuse(L"the file ends before its IEND chunk");
        const std::uint32_t length = BigU32(data + pos);
        const std::uint8_t* type = data + pos + 4;
        if (length > kMaxChunkLength) Refuse(L"a chunk announces an impossible length");
        if (length > size - pos - 12) Refuse(L"chunk " + ChunkName(type) + L" runs past the end of the file");
        for (int i = 0; i < 4; ++i)
            if (!IsLetter(type[i])) Refuse(L"a chunk has an invalid type");
        const std::uint8_t* body = type + 4;
        if (PngCrc(type, 4 + static_cast<std::size_t>(length)) != BigU32(body + length))
            Refuse(L"chunk " + ChunkName(type) + L" fails its CRC check");
        pos += 12 + static_cast<std::size_t>(length);

        if (!haveHeader) {
            if (!IsType(type, "IHDR") || length != 13) Refuse(L"the file does not start with a valid IHDR chunk");
            width = BigU32(body);
            height = BigU32(body + 4);
            const std::uint8_t depth = body[8], colour = body[9], compression = body[10],
                               filter = body[11], interlace = body[12];
            if (width == 0 || height == 0 || width > PngImage::kMaxSide || height > PngImage::kMaxSide)
                Refuse(L"unsupported size " + std::to_wstring(width) + L" x " + std::to_wstring(height));
            if (compression != 0 || filter != 0) Refuse(L"unknown compression or filter method");
            if (interlace != 0) Refuse(L"interlaced pictures are not supported");
            if (depth != 8 || (colour != kColourRgb && colour != kColourRgba))
                Refuse(L"only 8-bit RGB and RGBA pictures are supported (bit depth " +
                       std::to_wstring(depth) + L", colour type " + std::to_wstring(colour) + L")");
            bpp = colour == kColourRgba ? 4 : 3;
            const std::size_t expected =
                static_cast<std::size_t>(height) * (1 + static_cast<std::size_t>(width) * bpp);
            inflater = std::make_unique<RowInflater>(expected);
            haveHeader = true;
            continue;
        }
        if (IsType(type, "IHDR")) Refuse(L"a second IHDR chunk");
        if (IsType(type, "IDAT")) {
            if (idatEnded) Refuse(L"the IDAT chunks are not consecutive");
            idatStarted = true;
            inflater->Feed(body, length);
            continue;
        }
        if (idatStarted) idatEnded = true;
        if (IsType(type, "IEND")) {
            if (length != 0) Refuse(L"the IEND chunk is not empty");
            ended = true;
        } else if (IsType(type, "PLTE")) {
            // A suggested palette for truecolour displays: allowed before the data, unused.
            if (idatStarted) Refuse(L"a PLTE chunk after the picture data");
        } else if (type[0] >= 'A' && type[0] <= 'Z') {
            Refuse(L"unknown critical chunk " + ChunkName(type));
        }
        // Ancillary chunks (text, gamma, physical size...) do not change the pixels we draw.
    }
    if (!idatStarted) Refuse(L"the file has no picture data");

    std::vector<std::uint8_t> raw = inflater->Finish();
    const std::size_t stride = static_cast<std::size_t>(width) * bpp;
    Unfilter(raw, height, stride, bpp);

    PngImage image;
    image.Width = static_cast<int>(width);
    image.Height = static_cast<int>(height);
    image.Rgba.resize(static_cast<std::size_t>(width) * height * 4);
    std::uint8_t* out = image.Rgba.data();
    for (std::size_t y = 0; y < height; ++y) {
        const std::uint8_t* row = raw.data() + y * (stride + 1) + 1;
        for (std::size_t x = 0; x < width; ++x, out += 4) {
            const std::uint8_t* px = row + x * bpp;
            out[0] = px[0];
            out[1] = px[1];
            out[2] = px[2];
            out[3] = bpp == 4 ? px[3] : 255;
        }
    }
    return image;
}

namespace {

void PutChunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& body) {
    PutBigU32(out, static_cast<std::uint32_t>(body.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    PutBigU32(out, PngCrc(out.data() + start, out.size() - start));
}

}  // namespace

std::vector<std::uint8_t> EncodePng(const PngImage& image) {
    if (image.Width <= 0 || image.Height <= 0 ||
        static_cast<std::uint32_t>(image.Width) > PngImage::kMaxSide ||
        static_cast<std::uint32_t>(image.Height) > PngImage::kMaxSide ||
        image.Rgba.size() != static_cast<std::size_t>(image.Width) * image.Height * 4)
        throw ERangeError(L"PNG encoding: the picture's size and pixels disagree");

    const std::size_t stride = static_cast<std::size_t>(image.Width) * 4;
    std::vector<std::uint8_t> raw;
    raw.reserve(static_cast<std::size_t>(image.Height) * (stride + 1));
    for (int y = 0; y < image.Height; ++y) {
        raw.push_back(0);
        const std::uint8_t* row = image.Rgba.data() + static_cast<std::size_t>(y) * stride;
        raw.insert(raw.end(), row, row + stride);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK)
        throw EInOutError(L"PNG encoding: the compressor failed");
    packed.resize(packedSize);

    std::vector<std::uint8_t> out(kSignature, kSignature + sizeof kSignature);
    std::vector<std::uint8_t> header;
    PutBigU32(header, static_cast<std::uint32_t>(image.Width));
    PutBigU32(header, static_cast<std::uint32_t>(image.Height));
    header.insert(header.end(), {8, kColourRgba, 0, 0, 0});
    PutChunk(out, "IHDR", header);
    PutChunk(out, "IDAT", packed);
    PutChunk(out, "IEND", {});
    return out;
}
