// Pieces the repair and uninstall dialogs share: the log font and the white
// header band with the product icon and one line of text.
#pragma once
#include <windows.h>

#include "platform/window.h"

// Face "ALKATIP", height 19, weight 400.
void CreateMaintenanceLogFont(CFont& font);
void DrawMaintenanceHeader(const DRAWITEMSTRUCT* item, int iconId, const wchar_t* text);
// Repaints a control at once: the sequences run without returning to the
// message loop.
void RepaintNow(HWND control);
