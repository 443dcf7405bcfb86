// The run's log file (UTF-8) and its result, in the exit codes that
// deployment tools read.
#pragma once
#include <windows.h>

enum : DWORD {
    kExitSuccess = 0,
    kExitBadCommandLine = 87,
    kExitCancelled = 1602,
    kExitFailure = 1603,
    kExitAnotherSetup = 1618,
    kExitRestartNeeded = 3010,
};

// Opens path for appending, made new when missing and never cut; a path
// that is no plain file or leads through a junction or symbolic link is
// refused. Then, or without a path, the log goes to a dated file
// (<temp>\ZerdaIME3_Setup_<date>_<time>.log; the machine's temporary folder
// when the account's leads through a link), and its first line says why.
// Returns the path in use.
const wchar_t* OpenRunLog(const wchar_t* path);
bool IsRunLogOpen();
const wchar_t* RunLogPath();
void CloseRunLog();

// One line, with the time and process id in front. Nothing when no log is open.
void RunLog(const wchar_t* format, ...);
// A failure: what failed, the object, and the Windows error code with its text.
void RunLogFailure(const wchar_t* what, const wchar_t* object, DWORD error);

// The outcome: the first failure or cancellation sticks; a needed restart
// turns a success into 3010.
void SetRunResult(DWORD code);
DWORD RunResult();
void NoteRestartNeeded();
// Whether the run, as it stands, ends with 3010.
bool RunNeedsRestart();
// The exit code of the run, logged once.
DWORD FinishRunResult();
