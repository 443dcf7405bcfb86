// The application object: its start routine reads the command line, picks one
// of the six behaviours and runs it to the end.
#pragma once
#include <windows.h>

class CinstkitApp {
public:
    // commandLine: the text after the program's own path. Always returns TRUE.
    BOOL InitInstance(const wchar_t* commandLine);
    // The run's exit code (0, 3010, 1602, 1603, 1618 or 87).
    int ExitInstance();

private:
    void RunServiceDispatch(const wchar_t* commandLine);
    void RunInstall();
    void RunMaintenance(const wchar_t* commandLine);

    bool setupRun_ = false;  // neither the service behaviours nor a user's step
};
