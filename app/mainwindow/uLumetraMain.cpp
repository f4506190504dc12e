// The main window: construction of its components in their design state, the log line
// writer, and the services it talks through.

#include "uLumetraMain.h"

#include "SDListPort.h"
#include "WUpdate.h"
#include "uLogs.h"
#include "uStreamDeck.h"

namespace {

// The bridge's view of a window whose list is not made yet (before FormCreate, or when
// it could not be made): no current control box, nothing to switch.
class TNoSDListLink : public TSDListLink {
public:
    bool HasCurrentSD() override { return false; }
    void SetActive(bool) override {}
};

}  // namespace

TfrmMain::TfrmMain(TfrmMainServices services)
    : FServices(services), FNoSDListLink(std::make_unique<TNoSDListLink>()) {
    tsParam.SetCaption(L"Settings");
    tsParam.Tag = 1;
    tsSDList.SetCaption(L"Control Boxes");
    tsSDList.Tag = 1;
    TabSheet1.Tag = 0;
    PageControl1.Pages = {&tsParam, &tsSDList, &TabSheet1};
    PageControl1.SetActivePage(&tsParam);

    gbVanto.SetCaption(L"Vanto V3");
    lblEventCaption.SetCaption(L"Event");
    lblFolderCaption.SetCaption(L"Folder");
    lblRaceCaption.SetCaption(L"Race");
    for (TLabel* value : {&lblEpreuve, &lblDossier, &lblCourse})
        value->Bold = true;

    imlTrayIcon.ResourceNames.assign(std::begin(TrayIconResources), std::end(TrayIconResources));
    TrayIcon1.Icons = &imlTrayIcon;

    // Off until the creation steps switch it on; then it runs until the program ends.
    TimerFindVanto.SetInterval(1000);
    TimerFindVanto.SetEnabled(false);
    TimerFindVanto.OnTimer = [this](void* Sender) { TimerFindVantoTimer(Sender); };

    DesignStartup();
    DesignControlBoxes();
}

TfrmMain::~TfrmMain() {
    // Work posted for this window finds it gone; a key-down sender stops.
    FAlive.reset();
    FKeyDownSender.reset();
    // The platform side goes first: it refers to the components.
    FPeer.reset();
}

DesktopWindows& TfrmMain::Desktop() const {
    return FServices.Desktop ? *FServices.Desktop : CurrentDesktopWindows();
}

TSDListLink& TfrmMain::SDListLink() {
    if (FServices.SDList)
        return *FServices.SDList;
    if (FSDListPort)
        return *FSDListPort;
    return *FNoSDListLink;
}

void TfrmMain::LogError(const std::wstring& _ProcName, const std::wstring& _ErrorStr) {
    if (FLogErrorFile.empty())
        WriteLog(_ProcName, _ErrorStr);
    else
        AppendLogLine(FLogErrorFile, _ProcName, _ErrorStr);
}
