#pragma once
// A 24-bit picture held in memory: width, height and pixels, nothing else.
//
// Pixels are stored top-down, row after row, three bytes each in the order blue, green, red
// (the order of a 24-bit Windows bitmap), with no padding between rows. The key-image
// encoder reads rows directly through Row(), so that layout is part of the contract.
//
// Pictures come from the bytes of a 24-bit BMP: a whole file ("BM" header first) or a
// bitmap resource (the information header first, as the resource compiler stores it).
// Anything else, and any header that does not agree with the bytes that follow it, is
// refused with EInvalidGraphic; nothing is ever guessed.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Exceptions.h"

// Bytes that are not a 24-bit uncompressed bitmap we can read, or a picture size we refuse.
// An input/output error: the picture could not be read.
class EInvalidGraphic : public EInOutError {
public:
    using EInOutError::EInOutError;
};

struct Rgb {
    std::uint8_t R = 0;
    std::uint8_t G = 0;
    std::uint8_t B = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

class Bitmap24 {
public:
    // Largest width or height accepted anywhere; far above any picture of this program,
    // low enough that width × height × 3 cannot overflow.
    static constexpr int kMaxSide = 32768;

    // An empty picture (0 × 0).
    Bitmap24() = default;
    // A picture of the given size filled with one colour. ERangeError for a negative size
    // or a side above kMaxSide.
    Bitmap24(int width, int height, Rgb fill = {});

    int Width() const noexcept { return FWidth; }
    int Height() const noexcept { return FHeight; }
    bool Empty() const noexcept { return FWidth == 0 || FHeight == 0; }

    // Pixel access; x and y must lie inside the picture (checked: ERangeError).
    Rgb Pixel(int x, int y) const;
    void SetPixel(int x, int y, Rgb colour);

    // Fills the rectangle [left, right) × [top, bottom), clipped to the picture.
    void FillRect(int left, int top, int right, int bottom, Rgb colour);
    void Fill(Rgb colour) { FillRect(0, 0, FWidth, FHeight, colour); }

    // Row y, Width() × 3 bytes in blue, green, red order. y must lie inside the picture.
    const std::uint8_t* Row(int y) const noexcept { return FPixels.data() + RowOffset(y); }
    std::uint8_t* Row(int y) noexcept { return FPixels.data() + RowOffset(y); }

    friend bool operator==(const Bitmap24&, const Bitmap24&) = default;

    // Reads a 24-bit BMP, file or resource form, with bottom-up or top-down rows.
    static Bitmap24 LoadFromBmp(const std::uint8_t* data, std::size_t size);
    static Bitmap24 LoadFromBmp(const std::vector<std::uint8_t>& bytes) {
        return LoadFromBmp(bytes.data(), bytes.size());
    }
    // Reads a BMP file. EInOutError when the file cannot be read, EInvalidGraphic when its
    // contents are not a picture we accept.
    static Bitmap24 LoadFromFile(const std::wstring& path);
#ifdef _WIN32
    // Reads the bitmap resource `name` of the executable. EInvalidGraphic when there is no
    // such resource or it is not a picture we accept.
    static Bitmap24 LoadFromResource(const std::wstring& name);
#endif

    // The picture as a BMP file: 54-byte header, bottom-up rows padded to four bytes,
    // 3780 pixels per metre both ways.
    std::vector<std::uint8_t> SaveToBmp() const;
    // Writes SaveToBmp() to a file. The bytes go to a temporary file beside it first, which
    // then replaces the target, so a failed write never leaves half a picture behind.
    void SaveToFile(const std::wstring& path) const;

private:
    std::size_t RowOffset(int y) const noexcept {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(FWidth) * 3;
    }
    void CheckInside(int x, int y) const;

    int FWidth = 0;
    int FHeight = 0;
    std::vector<std::uint8_t> FPixels;
};
