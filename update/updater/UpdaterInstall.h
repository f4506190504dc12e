#pragma once
// The updater's installation of the components, all or nothing: every component is first
// copied beside its target and flushed to disk; only when all copies stand are they
// swapped in, and when one swap fails the ones already swapped are put back.

#include <functional>
#include <string>
#include <vector>

#include "UpdateInstall.h"

using TUpdaterLogLine = std::function<void(const std::wstring& line)>;

// Installs the components `names`, waiting in `tempFolder`, into `folder` (both with their
// trailing separator). True when every one was replaced; otherwise nothing was, and the
// log says why. Copies and backups never stay behind; the components leave the temporary
// folder only once installed.
bool InstallComponents(TUpdateFileSystem& fs, const std::wstring& tempFolder, const std::wstring& folder,
                       const std::vector<std::wstring>& names, const TUpdaterLogLine& log,
                       const TRetryPolicy& retry = {});
