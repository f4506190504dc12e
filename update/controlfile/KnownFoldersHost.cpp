#include "KnownFolders.h"

TKnownFolders SystemKnownFolders() {
    TKnownFolders folders;
    folders.Windows = L"C:\\Windows";
    folders.System = L"C:\\Windows\\system32";
    folders.Application = L"C:\\Program Files\\Lumetra";
    folders.Temp = L"C:\\Users\\Operator\\AppData\\Local\\Temp\\";
    folders.Documents = L"C:\\Users\\Operator\\Documents";
    folders.ProgramFiles = L"C:\\Program Files";
    folders.LocalAppData = L"C:\\Users\\Operator\\AppData\\Local";
    folders.CommonAppData = L"C:\\ProgramData";
    return folders;
}
