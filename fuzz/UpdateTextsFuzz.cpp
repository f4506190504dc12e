// Any bytes as the texts an update run takes from outside: a release-notes document shown
// as simple formatted text, and the updater's parameter line. Nothing may crash, hang,
// leak or overflow, and a parameter line is either read whole or refused with a reason.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "UpdateDialogs.h"
#include "UpdaterCommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    const std::wstring text = DocumentText(bytes);
    (void)ClassifyDocument(text);
    (void)HtmlToText(text);

    std::wstring error;
    const auto command = ParseUpdaterCommand(SkipProgramName(text), error);
    if (!command && error.empty()) std::abort();
    if (command) {
        if (command->TempFolder.empty() || command->ProcessId == 0) std::abort();
        for (const std::wstring& name : command->Components)
            if (name.empty() || name.find_first_of(L"\\/:") != std::wstring::npos || name == L"..") std::abort();
    }
    return 0;
}
