// Window screenshots for tests that show dialogs on the virtual display.
#pragma once
#include <windows.h>

#include <string>

// Captures the window's screen rectangle from the screen DC (what is on the
// display there, the window's frame included) into a 24-bit BMP file.
bool SaveWindowScreenshot(HWND window, const std::wstring& bmpPath);
