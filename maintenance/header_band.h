// Pieces the repair and uninstall dialogs share: the log font, the white
// header band with the product icon and one line of text, and the action
// button that runs the sequence once and then closes the dialog.
#pragma once
#include <windows.h>

#include "platform/window.h"

// Face "ALKATIP", height 19, weight 400.
void CreateMaintenanceLogFont(CFont& font);
void DrawMaintenanceHeader(const DRAWITEMSTRUCT* item, int iconId, const wchar_t* text);
// Repaints a control at once: the sequences run without returning to the
// message loop.
void RepaintNow(HWND control);

struct MaintenanceControls {
    CButton& action;
    CProgressCtrl& progress;
    CEdit& log;
    CButton& header;
};

// The action button's click: with actionText on it, checks that the input
// method is not loaded, runs the sequence with the bar and log attached and
// turns the button into Finish; with Finish on it, closes the dialog.
void RunMaintenanceAction(CDialog& dialog, const MaintenanceControls& controls, int& state,
                          const wchar_t* actionText, bool (*sequence)());
