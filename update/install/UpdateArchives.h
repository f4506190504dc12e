#pragma once
// The archives of a release: cabinets unpacked with the FDI of cabinet.dll and files in the
// Windows LZ format expanded with lz32.dll. Host builds have neither library: extraction
// and expansion fail plainly there, while the checks of entry paths and headers are the
// same in both builds.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TUpdateFileSystem;
class TWritableFile;

// Unpacks every file of the cabinet into `targetFolder` (with its trailing separator),
// recreating sub-folders, writing through `fs`. Entry paths that would leave the folder or
// name no usable file are refused and fail the extraction, and so does an output of more
// than `maxOutput` bytes in all. `written` receives the paths, relative to the folder, of
// the files it created or began to create, whatever the outcome. False on any failure.
bool ExtractCabinetFiles(const std::wstring& cabinet, const std::wstring& targetFolder, TUpdateFileSystem& fs,
                         std::int64_t maxOutput, std::vector<std::wstring>& written);

// Where a cabinet entry goes: target folder + entry path, or nullopt when the entry path is
// absolute, names a drive, climbs above the target folder with "..", or has a part that
// names no usable file (a device name, a character a file name cannot hold).
std::optional<std::wstring> CabinetEntryTarget(const std::wstring& targetFolder, const std::wstring& entryPath);

// True when the bytes start with the header of the Windows LZ compression format.
bool IsLZHeader(const std::uint8_t* data, std::size_t size);

// Expands the LZ file `path` into `out` (not closed), refusing more than `maxOutput` bytes.
// False on failure.
bool ExpandLZ(const std::wstring& path, TWritableFile& out, std::int64_t maxOutput);
// The expanded name stored in the LZ file's header ("" when it cannot be read).
std::wstring LZExpandedName(const std::wstring& path);
