// An installation run through the real wizard dialog: a prepared payload,
// Install pressed, the dialog's state taken when the worker's end reached it.
#pragma once
#include <windows.h>

#include <string>

#include "common/test_support.h"

struct WizardOutcome {
    bool finished = false;  // the worker ended within the time allowed
    LONG stage = -1, busy = -1;
    std::wstring log, buttonText;
    int bar = -1;
    bool buttonEnabled = false, logVisible = false, barVisible = false, folderVisible = false,
         groupVisible = false, browseVisible = false, agreeVisible = false, licenceVisible = false,
         homepageVisible = false, newsVisible = false, homepageChecked = false, newsChecked = false;
    HWND dialog = nullptr;
    INT_PTR result = -2;
};

class InstallRun {
public:
    InstallRun();
    ~InstallRun();

    // The payload of a small product: both drivers, a data tree, program files.
    void PreparePayload();
    // Runs the wizard with the folder text and presses Install.
    WizardOutcome RunWizard(const std::wstring& folderText);
    void Cleanup();

    ScratchFolder scratch{L"seq"};
    std::wstring name, ime, display, payload, work, dataFolder, group;
};

std::wstring StartLine();
std::wstring StepLine(int step);
std::wstring FailureLine();
std::wstring OverwriteCaption();
std::wstring OverwriteText();
std::wstring CreateErrorCaption();
std::wstring CreateErrorText(const std::wstring& folder);
