// The application object: its start routine reads the command line, picks one
// of the six behaviours and runs it to the end.
#pragma once
#include <windows.h>

class CinstkitApp {
public:
    // commandLine: the text after the program's own path.
    BOOL InitInstance(const wchar_t* commandLine);
    int ExitInstance() { return 0; }
};
