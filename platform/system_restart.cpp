#include "platform/system_restart.h"

#include <reason.h>

#include "platform/privileges.h"

DWORD RestartWindows()
{
    const ScopedPrivileges shutdown{SE_SHUTDOWN_NAME};
    if (shutdown.result() != ERROR_SUCCESS) return shutdown.result();
    // Not ExitWindowsEx: that ends only the caller's own logon session, and
    // an administrator who elevated with other credentials is not the user
    // at the desktop. Other users signed in are never logged off by force.
    return InitiateShutdownW(nullptr, nullptr, 0, SHUTDOWN_RESTART,
                             SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION |
                                 SHTDN_REASON_FLAG_PLANNED);
}
