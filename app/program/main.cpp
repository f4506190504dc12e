// LumetraControlBox.exe: the tray program.
#include <windows.h>

#include "LumetraProgram.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return RunLumetraControlBox(); }
