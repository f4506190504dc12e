#include "LumetraProgram.h"

#include "AppShell.h"
#include "Application.h"
#include "HidPlatformWin32.h"
#include "MainThread.h"
#include "ProcessInfo.h"
#include "SDListAdapter.h"
#include "VrRunOnce.h"

#include <windows.h>
#include <commctrl.h>

void InstallMessageBoxErrorHandler() {
    Application::SetMessageShower([](const std::wstring& message) { AppShell::ShowMessage(message); });
}

std::unique_ptr<TfrmMain> StartMainWindow(TfrmMainServices services, HidPlatform& hid,
                                          const std::wstring& applicationTitle) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES |
                                                           ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    AppShell::ResetTerminated();
    AppShell::Initialize(applicationTitle);

    if (!services.CreateSDList)
        services.CreateSDList = [&hid] { return std::make_unique<TSDListAdapter>(hid); };
    auto form = std::make_unique<TfrmMain>(std::move(services));
    // A second copy ends inside Check, before any creation step.
    form->VrRunOnce1.Check(applicationTitle);
    Application::Guarded([&] {
        form->CreateWnd();
        form->FormCreate(form.get());
    });
    return form;
}

void EndMainWindow(std::unique_ptr<TfrmMain> form) {
    if (!form)
        return;
    if (form->Peer())
        form->Peer()->Hide();
    Application::Guarded([&] { form->FormDestroy(form.get()); });
    form.reset();
}

void RunMessageLoop() {
    MSG message;
    while (!AppShell::Terminated() && GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

int RunLumetraControlBox() {
    MainThread::Initialize();
    InstallMessageBoxErrorHandler();
    std::unique_ptr<HidPlatform> hid = CreateWin32HidPlatform();
    auto form = StartMainWindow({}, *hid, ApplicationTitleOf(ProcessInfo::ExecutablePath()));
    RunMessageLoop();
    EndMainWindow(std::move(form));
    return 0;
}
