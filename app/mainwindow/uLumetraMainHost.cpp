// The Linux build has no desktop to put the window on: the components' state is all
// there is, which is what the host tests read.

#include "uLumetraMain.h"

void TfrmMain::CreateWnd() {}
