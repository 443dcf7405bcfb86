// Decides whether a folder named by the registry may be removed as a whole.
#pragma once

// False for texts that would take far more than one product with them: an
// empty or relative path, a volume root, a folder of the system or of the
// users (Windows, system, program files, application data, profiles, Start
// menu, desktop, documents, fonts), the engine family's shared data folder,
// and any folder that holds one of these.
bool IsFolderSafeToRemove(const wchar_t* path);
