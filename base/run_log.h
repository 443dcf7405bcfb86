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

// Opens path for appending, made new when missing (with the folders above
// it) and never cut; a path that is no plain file or leads through a
// junction or symbolic link is refused. Then, or without a path, the log
// goes to a new file <stem>_<date>_<time>.log in defaultFolder (ending with
// a backslash), or, without one or when it fails, in the temporary folder
// (the machine's when the account's leads through a link), and its first
// line says why. Returns the path in use.
const wchar_t* OpenRunLog(const wchar_t* path, const wchar_t* defaultFolder = nullptr,
                          const wchar_t* stem = L"ZerdaIME3_Setup");
// From here on, lines logged before a log is open are kept (up to 64 KB)
// and written first into the log once it opens.
void KeepEarlyRunLogLines();
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
