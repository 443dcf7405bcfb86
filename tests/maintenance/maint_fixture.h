// A prepared installation of a made-up product (registry keys in both views,
// uninstall entry, class keys, install and data folders, driver files in the
// system folders, a Start-menu group), and windows that stand in for a
// dialog's log box and progress bar.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "common/test_support.h"

struct FakeProduct {
    std::wstring guid;         // braced, upper case
    std::wstring imeName;
    std::wstring displayName;
    std::wstring installFolder;  // ends with a backslash
    std::wstring dataFolder;     // <CommonAppData>\ZerdaIME3\<imeName>\, ends with a backslash
    std::wstring groupFolder;    // Start-menu group, ends with a backslash

    // Unique names for this process and tag.
    explicit FakeProduct(const wchar_t* tag);
    // Writes keys, folders, files and shortcuts.
    void Install(bool withInstallLocation = true);
    // Removes whatever is left of it (test clean-up).
    void Erase();

    std::wstring ProductKey() const { return L"Software\\ZerdaIME3\\" + guid; }
    std::wstring ProductKey32() const { return L"Software\\Wow6432Node\\ZerdaIME3\\" + guid; }
    std::wstring UninstallKey() const { return UninstallKeyPath(guid); }
    std::wstring SystemDriver() const;
    std::wstring Wow64Driver() const;

    // Every trace the installation left, for "all gone" / "all there" checks.
    std::vector<std::wstring> PresentTraces() const;
    std::vector<std::wstring> MissingTraces() const;

    // Points the setup context at this product.
    void LoadIntoSetup() const;
};

std::wstring CommonAppData();   // no trailing backslash
std::wstring CommonPrograms();  // no trailing backslash
std::wstring FamilyFolder();    // <CommonAppData>\ZerdaIME3

// Moves the family folder aside for the lifetime of the object, so that a
// test sees it as empty; restores it afterwards.
class FamilyFolderAside {
public:
    FamilyFolderAside();
    ~FamilyFolderAside();

private:
    std::wstring aside_;
};

// A hidden edit box and progress bar wired into the setup context.
class ProgressWindows {
public:
    ProgressWindows();
    ~ProgressWindows();
    std::wstring LogText() const;
    int BarPosition() const;

private:
    HWND log_ = nullptr;
    HWND bar_ = nullptr;
};

// The stand-ins built with these tests: maint_recorder.exe (a companion tool
// that records its calls), maint_holder.exe, maint_fake_ime.dll.
std::wstring HelperExe(const wchar_t* name);
// The companion tool's uninstall command of the setup context.
void SetToolCommand(const std::wstring& command);

// Where the recorder writes its command line (its working folder goes to the
// same name with ".cwd"), and how long it works before it does.
class RecorderLog {
public:
    explicit RecorderLog(DWORD delayMs = 0);
    ~RecorderLog();
    const std::wstring& Path() const { return path_; }
    // The recorder's working folder, without a trailing backslash.
    std::string WorkingFolder() const;

private:
    ScratchFolder folder_{L"rec"};
    std::wstring path_;
};

std::wstring WindowText(HWND window);
// Serves this thread's messages until the dialog's action button reads
// `text` and is enabled (its sequence has ended); false when time ran out.
bool PumpUntilButton(HWND dialog, const wchar_t* text, DWORD timeoutMs = 120000);
// Joins report lines the way the log box shows them.
struct ExpectedLine;
std::wstring JoinLog(const std::vector<ExpectedLine>& lines);

// Saves the window's pixels as a .bmp below <build>\screenshots.
void SaveWindowShot(HWND window, const wchar_t* name);
