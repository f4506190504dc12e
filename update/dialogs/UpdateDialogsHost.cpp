#include "UpdateDialogs.h"

// No desktop on Linux: nothing is shown, every question is answered no and nothing is
// opened, so that an update run there can never go further than the user would allow.

namespace {

class THostUpdateDialogs : public TUpdateDialogs {
public:
    void ShowMessage(const std::wstring&) override {}
    bool AskYesNo(const std::wstring&) override { return false; }
    bool Confirm(const std::wstring&) override { return false; }
    bool WhatsNewDialog(const TWhatsNewDialogData&) override { return false; }
    bool EULADialog(const TEULADialogData&) override { return false; }
    void ShowHTMLDialog(const std::wstring&) override {}
    bool ShellOpen(const std::wstring&, const std::wstring&) override { return false; }
};

}  // namespace

std::unique_ptr<TUpdateDialogs> MakeSystemUpdateDialogs() { return std::make_unique<THostUpdateDialogs>(); }
