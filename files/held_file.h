// Replacing or removing a file that a running program holds, without ending
// that program: the held file is renamed aside on its own volume and the
// system deletes it at the next restart.
#pragma once
#include <windows.h>

// Moves path aside (same folder, "<name>.<number>.old") and has it deleted
// at the next restart; the programs that hold it are logged. True when
// path is free afterwards; a restart is then needed to finish. aside
// (MAX_PATH), when given, receives the new name.
bool MoveHeldFileAside(const wchar_t* path, int modules32, wchar_t* aside = nullptr);

// Deletes path; a held file is moved aside for deletion at the next restart.
// True when path is gone.
bool RemoveFileOrSchedule(const wchar_t* path, int modules32);
