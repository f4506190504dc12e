#include "UpdateSystem.h"

std::wstring WindowsNameFor(unsigned platform, unsigned major, unsigned minor, bool server) {
    if (platform == 1) {
        if (major == 4 && minor == 0) return L"Windows 95";
        if (major == 4 && minor == 10) return L"Windows 98";
        if (major == 4 && minor == 90) return L"Windows ME";
        return L"Unknown";
    }
    if (platform != 2) return L"Unknown";
    if (major == 4) return L"Windows NT 4";
    if (major == 5 && minor == 0) return L"Windows 2000";
    if (major == 5 && minor == 1) return L"Windows XP";
    if (major == 5 && minor == 2) return server ? L"Windows Server 2003" : L"Windows XP x64";
    if (major == 6 && minor == 0) return server ? L"Windows Server 2008" : L"Windows Vista";
    if (major == 6 && minor == 1) return server ? L"Windows Server 2008R2" : L"Windows 7";
    if (major == 6 && minor == 2) return server ? L"Windows Server 2012" : L"Windows 8";
    if (major == 6 && minor == 3) return server ? L"Windows Server 2012R2" : L"Windows 8.1";
    if (major == 10 && minor == 0) return server ? L"Windows Server 2016" : L"Windows 10";
    return L"Unknown";
}
