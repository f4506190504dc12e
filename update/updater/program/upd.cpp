// upd.exe: the updater the program starts when it must close to have its own files
// replaced.
#include <windows.h>

#include "Updater.h"
#include "UpdaterCommandLine.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return RunUpdater(SkipProgramName(GetCommandLineW())); }
