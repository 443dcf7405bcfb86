// Entry point of the setup program.
#include <windows.h>

#include "app/installer_app.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int)
{
    CinstkitApp app;
    app.InitInstance(commandLine);
    return app.ExitInstance();
}
