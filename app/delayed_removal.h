// Removal that has to wait until this process is gone.
#pragma once

// Starts a hidden command interpreter (the system folder's cmd.exe) that
// removes folder with everything below it, trying once a second for ten
// seconds, so that it also goes once the files this process and its helpers
// hold are free. True when the command was started.
bool ScheduleFolderRemovalAfterExit(const wchar_t* folder);
