// The application object: its start routine reads the command line, picks one
// of the six behaviours and runs it to the end.
#pragma once
#include <windows.h>

class CinstkitApp {
public:
    // commandLine: the text after the program's own path. Always returns TRUE;
    // no behaviour reports its outcome through the exit code.
    BOOL InitInstance(const wchar_t* commandLine);
    int ExitInstance() { return 0; }

private:
    void RunServiceDispatch(const wchar_t* commandLine);
    void RunInstall();
    void RunMaintenance(const wchar_t* commandLine);
};
