// Progress of the running sequence: the bar and one appended log line.
#pragma once
#include <windows.h>

void ReportProgress(int percentage, const wchar_t* text);
// A run with a window that would end before a person could read what it
// shows is held here, before its last line, until this long after its
// start; the whole run, never a step or a file. Unattended runs go on.
constexpr DWORD kReadableRunMs = 500;
void HoldUntilReadable(ULONGLONG startedAt);
void ClearVirtualizedCopies();
