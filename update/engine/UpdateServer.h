#pragma once
// Where this program's releases are published.

#include <string>

// The update server's host name, chosen when the program is built.
std::wstring UpdateServerHost();

// "https://" + host + "/softwares/Lumetra%20CONTROLBOX/V1/LumetraControlBox.INF": the
// address of the control file.
std::wstring DefaultUpdateURL();
