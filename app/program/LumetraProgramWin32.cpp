#include "LumetraProgram.h"

#include "AppShell.h"
#include "Application.h"
#include "HidPlatformWin32.h"
#include "MainThread.h"
#include "ProcessInfo.h"
#include "SDListAdapter.h"
#include "VrRunOnce.h"
#include "uLogs.h"

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
    // The main thread carries every key press from its read thread to the timing
    // software; it must not wait behind CPU-bound work beside it (a build, a scan).
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);

    if (!services.CreateSDList)
        services.CreateSDList = [&hid] { return std::make_unique<TSDListAdapter>(hid); };
    auto form = std::make_unique<TfrmMain>(std::move(services));
    // The trace's own writer: no line waits on the disk or on a program holding the file.
    StartTraceWriter([f = form.get()](const std::wstring& message) { f->TraceNotice(message); });
    // A second copy ends inside Check, before any creation step.
    form->VrRunOnce1.Check(applicationTitle);
    bool made = false;
    Application::Guarded([&] {
        form->CreateWnd();
        made = true;
    });
    // Without its window the program could show nothing, search nothing and be quit by
    // nobody: it goes before any creation step has opened a box or read a setting.
    if (!made) {
        StopTraceWriter(TraceStopLimit);
        return nullptr;
    }
    Application::Guarded([&] { form->FormCreate(form.get()); });
    return form;
}

void FinishMainWindow(TfrmMain& form) {
    Application::Guarded([&] { form.FormDestroy(&form); });
    // What waits is written; a file still held gets a little time, not the session's.
    StopTraceWriter(TraceStopLimit);
    if (form.Peer())
        form.Peer()->RemoveTrayIcon();
}

void EndMainWindow(std::unique_ptr<TfrmMain> form) {
    if (!form)
        return;
    FinishMainWindow(*form);
    if (form->Peer())
        form->Peer()->Hide();
    form.reset();
}

void EndMainWindowForExit(std::unique_ptr<TfrmMain> form) {
    if (!form)
        return;
    FinishMainWindow(*form);
    // Kept, not destroyed: its windows go with the process an instant later, where taking
    // each off the screen here could wait seconds (see LumetraProgram.h).
    (void)form.release();
}

void RunMessageLoop() {
    MSG message;
    while (!AppShell::Terminated() && GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

int RunProgram(TfrmMainServices services, HidPlatform& hid, const std::wstring& applicationTitle) {
    auto form = StartMainWindow(std::move(services), hid, applicationTitle);
    if (!form)
        return 1;
    RunMessageLoop();
    EndMainWindowForExit(std::move(form));
    return 0;
}

int RunLumetraControlBox() {
    MainThread::Initialize();
    InstallMessageBoxErrorHandler();
    std::unique_ptr<HidPlatform> hid = CreateWin32HidPlatform();
    return RunProgram({}, *hid, ApplicationTitleOf(ProcessInfo::ExecutablePath()));
}
