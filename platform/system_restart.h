// Restarting Windows, as its own Restart does.
#pragma once
#include <windows.h>

// Switches the shutdown privilege on and asks Windows to restart: programs
// are asked to close as at a restart from the Start menu. ERROR_SUCCESS once
// the restart has begun (a program or the person may still stop it), else
// the error, e.g. ERROR_SHUTDOWN_USERS_LOGGED_ON while others are signed in.
DWORD RestartWindows();
