#pragma once
// upd.exe: replaces the files of a program that could not replace them while it ran.
//
// Given the program's process, it reads the folder the program was started from, waits
// for it to end (up to a time limit: past it, it gives up and touches nothing), and
// installs the components from the temporary folder into that folder all or nothing
// (UpdaterInstall.h). It then starts the program again with its parameters unless told
// "null": the new version, or the old one when the installation was rolled back. The
// outcome goes to the update log named in "WUPDATE.INI" of the Documents folder, where
// the next start finds it; with "L" every step goes there too.

#include <string>

// Exit codes.
inline constexpr int kUpdaterDone = 0;
// Nothing was replaced (rolled back, or the program's folder unknown).
inline constexpr int kUpdaterSomeFilesFailed = 1;
inline constexpr int kUpdaterGaveUp = 2;
inline constexpr int kUpdaterBadParameters = 3;

// How long to wait for the program to end; LUMETRA_UPDATER_WAIT_MS overrides it (tests).
inline constexpr unsigned kUpdaterWaitMs = 60000;

// Runs the updater on its parameter line (without its own name). Windows only.
int RunUpdater(const std::wstring& parameters);
