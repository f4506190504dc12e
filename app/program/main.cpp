// LumetraControlBox.exe: the tray program.
#include <windows.h>

#include "LumetraProgram.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Libraries come from the system folder only: a DLL planted beside the program, or in
    // the folder it was started from, is never loaded.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return RunLumetraControlBox();
}
