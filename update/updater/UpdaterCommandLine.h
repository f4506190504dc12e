#pragma once
// The updater's parameter line, as the program hands it over when it restarts:
//
//   PID  X|L  PROGRAM|null  PARAMETERS  "TEMPORARY FOLDER\"  COMPONENTS...
//
// Words are separated by blanks; a word in double quotes may hold blanks and ends at the
// next double quote (a backslash before it is an ordinary character, so a quoted folder
// may end in one). The components are the rest of the line: names separated by blanks,
// commas or semicolons, each possibly in double quotes; only the file name of each counts.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TUpdaterCommand {
    std::uint32_t ProcessId = 0;
    bool Log = false;              // "L"; "X" logs nothing
    bool Restart = true;           // false for "null"
    std::wstring Program;          // the program to start again
    std::wstring Parameters;       // its parameters (a single blank means none)
    std::wstring TempFolder;       // where the components wait, with its trailing backslash
    std::vector<std::wstring> Components;
    std::vector<std::wstring> Hashes;  // one per component; "" when none was given
};

// The command line without the program's own name at its start.
std::wstring SkipProgramName(const std::wstring& commandLine);

// Reads the parameter line; nullopt with `error` set when it is malformed.
std::optional<TUpdaterCommand> ParseUpdaterCommand(const std::wstring& parameters, std::wstring& error);

// The folder the components go to: the program's folder, with a trailing backslash.
std::wstring FolderOfProgram(const std::wstring& program);
