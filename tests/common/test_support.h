// Helpers shared by the tests: scripted answers for message boxes, a dialog
// driver hook, scratch folders and paths of the build tree, files, system
// folders, shell links, version resources and product keys read back.
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
void DeleteTree(const std::wstring& path);  // recursive, in-process; links go as themselves

// A symbolic link to a folder, as a user could plant one. Under Wine a Unix
// link (made with the machine's ln; Wine makes no junctions) shows as a
// reparse point and is followed by every call: remove it only with
// RemoveFolderLink. False where it cannot be made.
bool MakeFolderLink(const std::wstring& link, const std::wstring& target);
bool RemoveFolderLink(const std::wstring& link);

// Runs a program and waits; returns its exit code, or -1 when it did not start.
int RunAndWait(const std::wstring& commandLine, DWORD timeoutMs = 60000);
// Starts a program (CreateProcessW's flags; on another window station's desktop when given).
PROCESS_INFORMATION StartProcess(std::wstring commandLine, DWORD flags = 0, const wchar_t* desktop = nullptr);
// Waits for it and lets it go: its exit code; -1 when it did not start or end in time (then it is ended).
int ExitCodeOf(PROCESS_INFORMATION& process, DWORD timeoutMs);

// Reads a registry string (any view by path); empty when missing.
std::wstring RegString(HKEY root, const std::wstring& key, const wchar_t* value);
bool RegKeyExists(HKEY root, const std::wstring& key);
// A REG_DWORD value; 0xFFFFFFFF when missing or of another type.
DWORD RegDword(HKEY root, const std::wstring& key, const wchar_t* value);
// The key with everything below it.
void DeleteRegistryKey(HKEY root, const std::wstring& key);
// The renames and deletions Windows carries out at the next restart
// (PendingFileRenameOperations), joined by '|'.
std::wstring PendingRenames();

// A program that holds `file` until it is ended (the files fixtures' holder):
// it loads it, or with `mapped` maps it as an image without loading it, so
// that no module list names it.
class FileHolder {
public:
    // comesBack: a holder ended by anyone is started again at once, as
    // Windows starts Explorer again (mapped is then not looked at).
    FileHolder(const std::wstring& file, bool mapped, bool comesBack = false);
    ~FileHolder() { End(); }
    bool Ready() const { return ready_; }
    bool Running() const;
    void End();

private:
    PROCESS_INFORMATION pi_{};
    bool ready_ = false;
};


// The SHA-256 of the bytes as 64 upper-case hexadecimal digits, from the
// system's own implementation; empty when it is not available.
std::wstring Sha256Text(const std::string& bytes);

// A fresh braced GUID text, unique per call: a product key of its own.
std::wstring NewGuidText();
// The product's uninstall entry below HKEY_LOCAL_MACHINE.
std::wstring UninstallKeyPath(const std::wstring& productKey);

// Folders, each with a trailing backslash.
std::wstring WithBackslash(const std::wstring& path);
std::wstring TempFolder();
std::wstring CommonFolder(int csidl);  // created when missing
std::wstring SystemFolder(bool wow64 = false);
inline std::wstring Wow64Folder() { return SystemFolder(true); }

// <Windows folder>\Temp\ of the machine, and the setup's work folders in it
// (ZerdaIME3.<unique>), full paths without a trailing backslash, sorted.
std::wstring MachineTempFolder();
std::vector<std::wstring> SetupWorkFolders();

// MakeFolderLink for the lifetime of the object.
class UnixLink {
public:
    UnixLink(const std::wstring& link, const std::wstring& target);
    ~UnixLink();
    bool Made() const { return made_; }

private:
    std::wstring link_;
    bool made_ = false;
};

// Names of a folder's entries without "." and ".." (the folder with or
// without its trailing backslash), sorted or in the order the listing gives.
std::vector<std::wstring> Listing(const std::wstring& folder, bool inListingOrder = false);

// The owner and access list as SDDL text ("" when unreadable); how many
// names (hard links) a file has; and everything a folder holds as its owner
// would miss it: names, bytes, names per file, owners and lists (not `skip`).
std::wstring SecurityText(const std::wstring& path);
DWORD NameCount(const std::wstring& path);
std::wstring FolderSnapshot(const std::wstring& folder, const std::wstring& skip = L"");

struct ShellLinkInfo {
    bool loaded = false;
    std::wstring path;    // the path text as stored (may be a narrow copy)
    std::wstring target;  // from the item list, in full; else the path text
    std::wstring arguments, workingFolder, description, iconPath;
    int iconIndex = -1;
    int showCommand = -1;
};
// Loads a .lnk file through IShellLinkW and IPersistFile (COM initialised by the caller).
ShellLinkInfo ReadShellLink(const std::wstring& file);

// The language of the first translation pair and the FileVersion text of the
// string block named after it; language 0 when the file has none.
WORD VersionLanguage(const std::wstring& file, std::wstring* fileVersion = nullptr);
