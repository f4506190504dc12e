// upd.exe: the updater the program starts when it must close to have its own files
// replaced.
#include <windows.h>

#include "Updater.h"
#include "UpdaterCommandLine.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Libraries come from the system folder only, never from the folder we were run from.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return RunUpdater(SkipProgramName(GetCommandLineW()));
}
