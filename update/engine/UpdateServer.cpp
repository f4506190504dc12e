#include "UpdateServer.h"

#ifndef LUMETRA_UPDATE_HOST
#define LUMETRA_UPDATE_HOST "update.lumetra.fr"
#endif

std::wstring UpdateServerHost() { return L"" LUMETRA_UPDATE_HOST; }

std::wstring DefaultUpdateURL() {
    return L"https://" + UpdateServerHost() + L"/softwares/Lumetra%20CONTROLBOX/V1/LumetraControlBox.INF";
}
