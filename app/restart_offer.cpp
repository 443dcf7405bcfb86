#include "app/restart_offer.h"

#include <windows.h>

#include "app/messages.h"
#include "base/run_log.h"
#include "base/run_options.h"
#include "base/setup_context.h"
#include "platform/prompt.h"
#include "platform/system_restart.h"

void OfferRestart()
{
    if (!RunNeedsRestart()) return;
    // A relaunched copy's starter asks, once the whole run is over; the copy
    // holds the foreground and hands it on, or the question would wait
    // unseen behind other windows while whoever started the run waits too.
    if (g_setup.relaunched) {
        if (!IsUnattendedRun()) AllowSetForegroundWindow(ASFW_ANY);
        return;
    }
    if (IsUnattendedRun()) {
        RunLog(L"A restart completes the change; nobody is asked in a %s run", IsQuietRun() ? L"quiet" : L"passive");
        return;
    }
    if (g_run.noRestart) {
        RunLog(L"A restart completes the change; nobody is asked (/norestart)");
        return;
    }
    if (ShowMessageBox(nullptr, msg::kRestartText, msg::kRestartCaption, MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) !=
        IDYES) {
        RunLog(L"A restart completes the change; the person restarts later");
        return;
    }
    DWORD rc = RestartWindows();
    if (rc == ERROR_SUCCESS) RunLog(L"Windows restarts, as the person asked");
    else RunLogFailure(L"Windows could not be restarted", L"", rc);
}
