#pragma once
// upd.exe: replaces the files of a program that could not replace them while it ran.
//
// Given the program's process, it waits for it to end (up to a time limit: past it, it
// gives up and touches nothing), moves each component from the temporary folder into the
// program's folder (copied beside the old file first, then swapped in, so that a failure
// never leaves a half-written file in place of a good one), and starts the program again
// with its parameters unless told "null". With "L" it logs each step to the update log
// named in "WUPDATE.INI" of the Documents folder.

#include <string>

// Exit codes.
inline constexpr int kUpdaterDone = 0;
inline constexpr int kUpdaterSomeFilesFailed = 1;
inline constexpr int kUpdaterGaveUp = 2;
inline constexpr int kUpdaterBadParameters = 3;

// How long to wait for the program to end; LUMETRA_UPDATER_WAIT_MS overrides it (tests).
inline constexpr unsigned kUpdaterWaitMs = 60000;

// Runs the updater on its parameter line (without its own name). Windows only.
int RunUpdater(const std::wstring& parameters);
