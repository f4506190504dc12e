#pragma once
// The updater's installation of the components, all or nothing: every component is first
// checked against the SHA-256 the program took when it fetched it, then copied beside its
// target and flushed to disk, held open against writers from its check to the end of its
// copy; only when all copies stand are they swapped in, and when one swap fails the ones
// already swapped are put back.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "UpdateInstall.h"

using TUpdaterLogLine = std::function<void(const std::wstring& line)>;

// One component as the program hands it over: its file name and the SHA-256 (hex) of the
// copy it fetched.
struct TUpdaterComponent {
    std::wstring Name;
    std::wstring Sha256;
};

// The SHA-256 (lower-case hex) of what remains to be read of `file`; "" when it cannot be
// read or hashed.
using TFileHasher = std::function<std::wstring(TReadableFile& file)>;

// Installs the components, waiting in `tempFolder`, into `folder` (both with their
// trailing separator). True when every one was replaced; otherwise nothing was, and the
// log says why. A component without its hash, or whose copy differs from it, is refused.
// Copies and backups never stay behind; the components leave the temporary folder only
// once installed.
bool InstallComponents(TUpdateFileSystem& fs, const std::wstring& tempFolder, const std::wstring& folder,
                       const std::vector<TUpdaterComponent>& components, const TFileHasher& hasher,
                       const TUpdaterLogLine& log, const TRetryPolicy& retry = {});
