// Removal of what is still in use when the setup ends (its own running
// image, a file a program holds): Windows deletes it at the next restart.
#pragma once

// Schedules everything below folder, then the folder itself, for deletion at
// the next restart (files before the folders that hold them). Links are not
// followed: what lies behind them is never scheduled. True when the folder
// itself was scheduled.
bool ScheduleRemovalAtRestart(const wchar_t* folder);
