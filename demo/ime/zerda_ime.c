/* Stand-in for the input method's IME driver: a DLL that the setup places,
   stamps and registers. It carries what the setup relies on: a version
   resource with a translation table, and the icons that shortcuts name. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}

/* Lets a test tell the two builds apart once loaded. */
__declspec(dllexport) int WINAPI ZerdaDemoImeBits(void)
{
    return (int)(sizeof(void*) * 8);
}
