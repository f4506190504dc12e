#pragma once
// Small text helpers shared by every folder.

#include <cstddef>
#include <cstdint>
#include <string>

// UTF-8 form of a wide string (UTF-16 on Windows, UTF-32 elsewhere). Unpaired
// surrogates and invalid code points become U+FFFD.
std::string WideToUtf8(const std::wstring& text);

// Wide string from UTF-8; invalid sequences become U+FFFD.
std::wstring Utf8ToWide(const std::string& text);

// Text held in a buffer of UTF-16 units: up to the first NUL, at most maxUnits units.
// Surrogate pairs are joined where wchar_t is 32 bits wide.
std::wstring Utf16BufferToWide(const std::uint16_t* units, std::size_t maxUnits);

// UTF-16 units of a wide string (no terminating NUL).
std::u16string WideToUtf16(const std::wstring& text);

// ASCII-only case folding: 'a'..'z' become 'A'..'Z'; every other unit is left alone.
std::wstring AsciiUpper(const std::wstring& text);
bool SameTextAscii(const std::wstring& a, const std::wstring& b);
