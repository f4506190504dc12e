// LumetraSim.exe: the program on a virtual control box bus, driven by a script.
//
//   LumetraSim [SCRIPT]     reads SCRIPT, or standard input without one
//
// Exit code: 0, or 2 when a command could not be carried out (each printed as "error ...").
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "MainThread.h"
#include "SimOutput.h"
#include "SimScript.h"
#include "SimulatorWin32.h"
#include "TextUtils.h"

namespace {

bool ReadAll(std::FILE* stream, std::string& bytes) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, stream)) > 0) bytes.append(buffer, n);
    return !std::ferror(stream);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
    TSimOutput output(stdout);
    if (argc > 2) {
        output.Line(L"error usage: LumetraSim [SCRIPT]");
        return 2;
    }
    std::string bytes;
    if (argc == 2) {
        std::FILE* file = _wfopen(argv[1], L"rb");
        if (!file || !ReadAll(file, bytes)) {
            if (file) std::fclose(file);
            output.Line(L"error cannot read the script \"" + std::wstring(argv[1]) + L"\"");
            return 2;
        }
        std::fclose(file);
    } else if (!ReadAll(stdin, bytes)) {
        output.Line(L"error cannot read the script from standard input");
        return 2;
    }
    // A byte-order mark some editors put first.
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);

    MainThread::Initialize();
    int code = 0;
    {
        TSimulator simulator(output);
        code = simulator.Run(SplitSimLines(Utf8ToWide(bytes)));
    }
    return code;
}
