#include "app/installer_app.h"

BOOL CinstkitApp::InitInstance(const wchar_t*)
{
    return TRUE;
}
