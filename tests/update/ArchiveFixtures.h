#pragma once
// Archives written by the tests: a Microsoft cabinet with stored (uncompressed) data, so
// that any entry name can be tried, and a file in the Windows LZ format (literals only).

#include <cstdint>
#include <string>
#include <vector>

struct TCabEntry {
    std::string Name;  // path inside the cabinet, "\" separated
    std::string Data;
    std::uint16_t Date = 0;  // DOS date and time; 0 and 0 mean "no stamp"
    std::uint16_t Time = 0;
};

inline void PutLE(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

inline std::vector<std::uint8_t> MakeCabinet(const std::vector<TCabEntry>& entries) {
    std::string folderData;
    std::size_t fileTable = 0;
    for (const auto& e : entries) {
        fileTable += 16 + e.Name.size() + 1;
        folderData += e.Data;
    }
    const std::size_t blockSize = 32768;
    const std::size_t blocks = (folderData.size() + blockSize - 1) / blockSize;
    const std::size_t dataStart = 36 + 8 + fileTable;
    const std::size_t total = dataStart + blocks * 8 + folderData.size();

    std::vector<std::uint8_t> cab = {'M', 'S', 'C', 'F'};
    PutLE(cab, 0, 4);
    PutLE(cab, static_cast<std::uint32_t>(total), 4);
    PutLE(cab, 0, 4);
    PutLE(cab, 36 + 8, 4);  // first file entry
    PutLE(cab, 0, 4);
    cab.push_back(3);  // version 1.3
    cab.push_back(1);
    PutLE(cab, 1, 2);  // folders
    PutLE(cab, static_cast<std::uint32_t>(entries.size()), 2);
    PutLE(cab, 0, 2);       // flags
    PutLE(cab, 0x1234, 2);  // set id
    PutLE(cab, 0, 2);       // cabinet number
    // The one folder: stored data.
    PutLE(cab, static_cast<std::uint32_t>(dataStart), 4);
    PutLE(cab, static_cast<std::uint32_t>(blocks), 2);
    PutLE(cab, 0, 2);
    std::uint32_t offset = 0;
    for (const auto& e : entries) {
        PutLE(cab, static_cast<std::uint32_t>(e.Data.size()), 4);
        PutLE(cab, offset, 4);
        PutLE(cab, 0, 2);  // folder 0
        PutLE(cab, e.Date, 2);
        PutLE(cab, e.Time, 2);
        PutLE(cab, 0x20, 2);  // archive attribute
        cab.insert(cab.end(), e.Name.begin(), e.Name.end());
        cab.push_back(0);
        offset += static_cast<std::uint32_t>(e.Data.size());
    }
    for (std::size_t at = 0; at < folderData.size(); at += blockSize) {
        const std::size_t size = std::min(blockSize, folderData.size() - at);
        PutLE(cab, 0, 4);  // no checksum
        PutLE(cab, static_cast<std::uint32_t>(size), 2);
        PutLE(cab, static_cast<std::uint32_t>(size), 2);
        cab.insert(cab.end(), folderData.begin() + static_cast<std::ptrdiff_t>(at),
                   folderData.begin() + static_cast<std::ptrdiff_t>(at + size));
    }
    return cab;
}

// "SZDD" format: header, then groups of a flag byte and up to eight items; a set flag bit
// is a literal byte. `missing` is the last character of the original name.
inline std::vector<std::uint8_t> MakeLZFile(const std::string& data, char missing) {
    std::vector<std::uint8_t> out = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, 'A',
                                     static_cast<std::uint8_t>(missing)};
    PutLE(out, static_cast<std::uint32_t>(data.size()), 4);
    for (std::size_t at = 0; at < data.size(); at += 8) {
        out.push_back(0xFF);
        for (std::size_t i = at; i < at + 8 && i < data.size(); ++i) out.push_back(static_cast<std::uint8_t>(data[i]));
    }
    return out;
}
