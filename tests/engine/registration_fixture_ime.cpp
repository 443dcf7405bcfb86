// A stand-in IME driver for the registration tests: a DLL that the tests copy
// into the system folders under a <name>.ime file name.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }
