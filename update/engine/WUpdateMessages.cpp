#include "WUpdate.h"

#include <iterator>

namespace {

struct TMessage {
    int Ident;
    const wchar_t* Text;
};

// The engine's string table. Numbers without an entry (and 908, reported without text)
// give an empty text.
constexpr TMessage kMessages[] = {
    {909, L"Download update file : "},
    {910, L"Download update files ?"},
    {911, L"Shutdown application to update executable files ?"},
    {912, L"Equal source and target files : %s"},
    {913, L"File not found : %s"},
    {914, L"Zero length source file : %s"},
    {915, L"Download : %s"},
    {916, L"Http status : %s"},
    {917, L"File not found : %s"},
    {918, L"Checking for Internet connection"},
    {919, L"Prompt to open new Internet connection"},
    {920, L"Opening Internet connection"},
    {921, L"Found open Internet connection"},
    {922, L"Cannot open Internet connection"},
    {923, L"Connect to host : %s"},
    {924, L"Cannot connect to FTP host : %s"},
    {925, L"Update control file not found"},
    {926, L"Update control file found"},
    {927, L"Invalid signature in update control file"},
    {928, L"Date based update found"},
    {929, L"New version found : %s"},
    {930, L"No new version found"},
    {931, L"Checksum based update found"},
    {932, L"File size based update found"},
    {933, L"Version based update found"},
    {934, L"Found message instruction"},
    {935, L"Found HTML dialog instruction"},
    {936, L"Found query instruction"},
    {937, L"Found whatsnew instruction"},
    {938, L"Whatsnew not accepted"},
    {939, L"Found license agreement instruction"},
    {940, L"License agreement not accepted"},
    {941, L"Found URL redirection instruction"},
    {942, L"Found URL show instruction"},
    {943, L"Found file update instruction"},
    {944, L"Version check : %s"},
    {945, L"Download update : %s"},
    {946, L"Cannot download update file : %s"},
    {947, L"Error decompressing CAB file : %s"},
    {948, L"Finished processing update control file"},
    {949, L"Closed Internet connection"},
    {950, L"Failed to spawn updater process : %s"},
    {951, L"Cannot connect to server for post"},
    {952, L"Cannot access resource for post"},
    {953, L"Dialup failed"},
    {954, L"Closed FTP connection"},
    {955, L"Disconnect dialup"},
    {956, L"Authentication cancelled"},
    {957, L"Authentication failed"},
    {958, L"Spawn %s"},
    {959, L"Restart app in directory : %s"},
    {960, L"Threaded update execution done"},
    {961, L"Restart after threaded update"},
    {962, L"Found application component : %s"},
    {963, L"Start WebUpdate process with version : %s"},
    {964, L"WebUpdate process cancelled"},
    {965, L"Extract CAB file : %s"},
    {966, L"OS version : %s"},
    {967, L"IE version : %s"},
    {968, L"Start update : %s ---------------------------"},
    {969, L"Compiler : %s"},
    {970, L"Installed IDEs : %s"},
    {971, L"Processing file : %s"},
    {972, L"Cannot delete file : %s"},
    {973, L"Cannot rename file : %s"},
    {974, L"Change FTP directory to : %s"},
    {975, L"Cannot change FTP directory to : %s"},
    {976, L"System error : %s"},
    {977, L"Downloading : %s"},
    {978, L"Downloading..."},
    {979, L"Check versions"},
    {980, L"Cannot connect to SFTP host : %s"},
    // Our own, for signed releases.
    {981, L"Update control file refused, older than the release of %s"},
    {982, L"Update control file refused, it carries no valid release date"},
    {984, L"Update control file refused, it expired on %s"},
    {985, L"Update refused, its version %s is older than this program's"},
    {986, L"Update control file older than this program (built %s): nothing newer"},
    {983, L"License agreement refused, it is not the one the signed release names : %s"},
};

}  // namespace

std::wstring StatusMessage(int ident) {
    for (const TMessage& message : kMessages)
        if (message.Ident == ident) return message.Text;
    return {};
}

std::wstring FormatStatusText(int ident, const std::wstring& extra) {
    std::wstring text = StatusMessage(ident);
    // A plain substitution: the extra text (file names, server texts) is never read as a format.
    const std::size_t at = text.find(L"%s");
    if (at != std::wstring::npos) text.replace(at, 2, extra);
    return text;
}
