#pragma once
// The update engine's INI reader.
//
// Text: a byte-order mark (UTF-8, UTF-16 LE or BE) selects the encoding; without one the
// bytes are UTF-8, or, when they are not valid UTF-8, the whole file is read in the ANSI
// code page. Lines end in CR LF, LF or CR and are trimmed. Empty lines and lines starting
// with ";" are skipped. "[name]" opens a section (name trimmed); lines before the first
// section are ignored. Any other line is "key=value" split at the first "=", both trimmed;
// a line without "=" holds no key. Names match without regard to ASCII case.
//
// Repeats: a section named again continues the first one, and when a key is given twice
// in a section the first value stays. A control file is written top to bottom by hand;
// keeping the first occurrence means a stray copy further down never silently overrides
// the value a reader sees first.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The text of a file's bytes by the rules above.
std::wstring DecodeTextBytes(const std::uint8_t* data, std::size_t size);

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing
// above U+10FFFF).
bool IsValidUtf8(const std::uint8_t* data, std::size_t size);

class TIniFile {
public:
    TIniFile() = default;
    static TIniFile FromBytes(const std::uint8_t* data, std::size_t size);
    static TIniFile FromBytes(const std::vector<std::uint8_t>& bytes) {
        return FromBytes(bytes.data(), bytes.size());
    }
    static TIniFile FromText(const std::wstring& text);

    bool SectionExists(const std::wstring& section) const;
    bool ValueExists(const std::wstring& section, const std::wstring& key) const;
    // Number of distinct sections.
    std::size_t SectionCount() const { return FSections.size(); }

    std::wstring ReadString(const std::wstring& section, const std::wstring& key,
                            const std::wstring& defaultValue = {}) const;
    // ParseIniInteger of the value; the default when the key is missing or malformed.
    std::int32_t ReadInteger(const std::wstring& section, const std::wstring& key,
                             std::int32_t defaultValue) const;

private:
    using TKeys = std::map<std::wstring, std::wstring>;  // upper-case key -> value
    std::map<std::wstring, TKeys> FSections;              // upper-case name -> keys
};
