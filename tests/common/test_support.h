// Helpers shared by the tests: scripted answers for message boxes, a dialog
// driver hook, scratch folders and paths of the build tree.
#pragma once
#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/prompt.h"
#include "platform/window.h"

struct RecordedPrompt {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT type;
};

// Answers message boxes from a queue (default when empty: the given answer)
// and records every box shown. Installs itself for its lifetime.
class ScriptedPrompts {
public:
    explicit ScriptedPrompts(int defaultAnswer = IDCANCEL);
    ~ScriptedPrompts();
    void Queue(int answer) { answers_.push_back(answer); }
    const std::vector<RecordedPrompt>& Shown() const { return shown_; }
    void Clear() { shown_.clear(); }

private:
    static int Respond(const PromptRequest& request, void* user);
    std::deque<int> answers_;
    std::vector<RecordedPrompt> shown_;
    int defaultAnswer_;
};

// Plays the person in dialogs: each dialog that opens is handed to the
// function, on the dialog's thread, once it is initialised.
class ScriptedDialogs {
public:
    using Script = std::function<void(CDialog& dialog)>;
    explicit ScriptedDialogs(Script script);
    ~ScriptedDialogs();
    int Opened() const { return opened_; }

private:
    static void Drive(CDialog* dialog, void* user);
    Script script_;
    int opened_ = 0;
};

// Clicks a button of a dialog the way a person would (BN_CLICKED by message).
void ClickButton(HWND dialog, int controlId);

// A fresh folder below the prefix's temporary folder; removed on destruction.
class ScratchFolder {
public:
    explicit ScratchFolder(const wchar_t* tag = L"t");
    ~ScratchFolder();
    const std::wstring& Path() const { return path_; }  // no trailing backslash
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

std::wstring BuildDir();   // the build tree, as a Windows path
std::wstring SourceDir();  // the source tree, as a Windows path
std::wstring EnvString(const wchar_t* name);

bool WriteFileBytes(const std::wstring& path, const void* data, size_t size);
bool WriteFileText(const std::wstring& path, const std::string& text);
bool ReadFileBytes(const std::wstring& path, std::string* out);
bool FileExists(const std::wstring& path);
bool DirExists(const std::wstring& path);
void DeleteTree(const std::wstring& path);  // recursive, in-process

// Runs a program and waits; returns its exit code, or -1 when it did not start.
int RunAndWait(const std::wstring& commandLine, DWORD timeoutMs = 60000);

// Reads a registry string (any view by path); empty when missing.
std::wstring RegString(HKEY root, const std::wstring& key, const wchar_t* value);
bool RegKeyExists(HKEY root, const std::wstring& key);
