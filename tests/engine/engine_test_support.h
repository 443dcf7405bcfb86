// Helpers of the engine tests: setup-context fields, a log box and progress
// bar to report into, shell links read back, fixture paths.
#pragma once
#include <windows.h>

#include <string>

#include "base/setup_context.h"

// Writes a text field of the product record, cut to its capacity.
void SetProductField(size_t offset, size_t capacity, const std::wstring& text);

// A fresh braced GUID text, unique per call.
std::wstring NewGuidText();

// A hidden top-level window holding a multi-line read-only edit control and a
// progress bar; installs both in g_setup while it lives.
class ReportWindows {
public:
    ReportWindows();
    ~ReportWindows();
    std::wstring LogText() const;
    int BarPosition() const;
    HWND Log() const { return log_; }
    HWND Bar() const { return bar_; }

private:
    HWND frame_ = nullptr, log_ = nullptr, bar_ = nullptr;
};

struct ShellLinkInfo {
    bool loaded = false;
    std::wstring path, arguments, workingFolder, description, iconPath;
    int iconIndex = -1;
    int showCommand = -1;
};
// Loads a .lnk file through IShellLinkW and IPersistFile (COM initialised by the caller).
ShellLinkInfo ReadShellLink(const std::wstring& file);

// The fixture library with a version resource (FileVersion 1.2.3.4, 0409/04B0).
std::wstring FixtureDriverPath();
// The language of the first translation pair and the FileVersion text of the
// string block named after it; language 0 when the file has none.
WORD VersionLanguage(const std::wstring& file, std::wstring* fileVersion = nullptr);

std::wstring SystemFolder();      // with a trailing backslash
std::wstring Wow64Folder();       // with a trailing backslash
std::wstring CommonFolder(int csidl);  // with a trailing backslash
void DeleteRegistryKey(HKEY root, const std::wstring& key);
std::wstring WithBackslash(const std::wstring& path);
