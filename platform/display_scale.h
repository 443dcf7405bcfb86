// What the program draws itself, at the scale and in the colours of the
// screen: the DPI a window is shown at, fonts and icons sized for it, and the
// system's colours when high contrast is on. Dialog templates scale with the
// DPI by themselves; pixel sizes of the program's own drawing do not.
#pragma once
#include <windows.h>

constexpr UINT kBaseDpi = 96;

// The window's DPI: its monitor's on Windows 10 1607 and later, the system's
// before (where a program's DPI is one for all its windows).
UINT WindowDpi(HWND window);
// Pixels at 96 DPI to pixels at `dpi`, rounded.
int ScaleToDpi(int pixels, UINT dpi);
// A font of the given face, height (pixels at 96 DPI) and weight at `dpi`:
// default character set, character clipping, proof quality.
HFONT CreateFontForDpi(const wchar_t* face, int height, int weight, UINT dpi);
// Icon resource `id` of the program at size x size pixels, scaled down from a
// larger image of the icon where it has none of that size. Null on failure;
// the caller destroys it.
HICON LoadIconOfSize(int id, int size);
// A control inside a dialog whose font the program sets itself: when the
// DPI changes, the dialog manager leaves its font to the program (Windows 10
// 1703 and later; earlier systems do not rescale dialogs).
void KeepOwnFontOnDpiChange(HWND control);

// Whether the user has high contrast on; owner-drawn parts then use the
// system's colours (COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_HOTLIGHT).
bool HighContrastOn();
// Test seam: 1 or 0 answers in place of the system; -1 asks the system again.
void SetHighContrastOverride(int state);
