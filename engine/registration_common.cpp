// What registration and its removal share: the rule for product key names
// and the notice to every window that a keyboard setting changed.
#include "engine/registration_common.h"

#include <objbase.h>

#include <cwchar>

#include "base/setup_context.h"
#include "platform/window.h"

bool ParseProductKeyName(const wchar_t* name, GUID* guid)
{
    if (!name || !name[0] || wcschr(name, L'\\') || wcslen(name) >= kNameChars) return false;
    GUID parsed{};
    if (FAILED(IIDFromString(name, &parsed))) return false;
    if (guid) *guid = parsed;
    return true;
}

void BroadcastSettingChange(const wchar_t* keyText)
{
    LPARAM text = reinterpret_cast<LPARAM>(keyText);
    DWORD_PTR answer = 0;
    for (int attempt = 0; attempt < 6; ++attempt) {
        if (SendMessageTimeoutW(HWND_BROADCAST, WM_WININICHANGE, 0, text, SMTO_NOTIMEOUTIFNOTHUNG, 100, &answer))
            break;
    }
    // The system refuses to post a pointer to other processes; kept for the
    // windows of this one. Without one (a quiet run) it would reach nobody.
    if (!ProcessHasTopLevelWindow()) return;
    Sleep(200);
    PostMessageW(HWND_BROADCAST, WM_WININICHANGE, 0, text);
}
