// Where a run logs when the command line names no log: the family's log
// folder <CommonAppData>\ZerdaIME3\Logs\, which only administrators may
// change, one file a run, named by product, mode and time.
#pragma once

// Opens the run's log (g_run.logPath first, then the log folder) when none
// is open yet; product: the product key name when it is one, else unknown.
void OpenRunLogOnce(const wchar_t* product, const wchar_t* mode);

// Only the newest kept; the others in the folder go.
constexpr int kRunLogsKept = 50;
