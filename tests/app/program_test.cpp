// Whole-program runs of installer.exe under Wine: the windows it shows are
// real, found by their captions and answered through window messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/messages.h"
#include "common/test_support.h"

namespace {

const wchar_t kProduct[] = L"{5D1E0C2B-8A47-4F39-B6E2-7C90A1D3F468}";

std::wstring Installer() { return BuildDir() + L"\\installer.exe"; }

// A top-level dialog window (message boxes are dialogs) with this caption.
HWND WaitForDialog(const wchar_t* caption, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
        HWND hwnd = FindWindowW(L"#32770", caption);
        if (hwnd) return hwnd;
        Sleep(100);
    }
    return nullptr;
}

std::wstring MessageBoxText(HWND box)
{
    wchar_t text[1024] = L"";
    GetDlgItemTextW(box, 0xFFFF, text, 1024);
    return text;
}

struct Process {
    PROCESS_INFORMATION pi{};
    bool Start(const std::wstring& commandLine)
    {
        STARTUPINFOW si{};
        si.cb = sizeof si;
        std::wstring cmd = commandLine;
        return CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi) != 0;
    }
    bool WaitEnd(DWORD ms) { return WaitForSingleObject(pi.hProcess, ms) == WAIT_OBJECT_0; }
    ~Process()
    {
        if (pi.hProcess) {
            if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 9);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
    }
};

void SetInstallLocation(const std::wstring& folder)
{
    HKEY key;
    std::wstring path = std::wstring(L"Software\\ZerdaIME3\\") + kProduct;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    RegSetValueExW(key, L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * 2));
    RegCloseKey(key);
}

void RemoveProductKey()
{
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(L"Software\\ZerdaIME3\\") + kProduct).c_str());
}

}  // namespace

TEST(Program, UpdateSwitchShowsTheUpdateMessage)
{
    Process p;
    ASSERT_TRUE(p.Start(L"\"" + Installer() + L"\" /g"));
    HWND box = WaitForDialog(msg::kUpdateCaption, 20000);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(msg::kUpdateText, MessageBoxText(box));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(p.WaitEnd(20000));
}

TEST(Program, UninstallWithoutInstallLocationShowsTheEnvironmentMessage)
{
    RemoveProductKey();
    Process p;
    ASSERT_TRUE(p.Start(L"\"" + Installer() + L"\" /n " + kProduct + L" /u /f"));
    HWND box = WaitForDialog(msg::kUninstallCaption, 20000);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(msg::kEnvironmentText, MessageBoxText(box));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(p.WaitEnd(20000));
}

TEST(Program, UninstallRelaunchesFromACopyInItsWorkFolder)
{
    ScratchFolder install(L"inst");
    ASSERT_TRUE(CopyFileW(Installer().c_str(), (install / L"installer.exe").c_str(), FALSE));
    SetInstallLocation(install.Path());  // without the backslash: the reader adds it
    const std::vector<std::wstring> before = SetupWorkFolders();

    Process p;
    ASSERT_TRUE(p.Start(L"\"" + Installer() + L"\" /n " + kProduct + L" /r"));

    // The copy runs with "/f": no backup archive there, so it reports the
    // repair environment failure instead of relaunching again.
    HWND box = WaitForDialog(msg::kRepairCaption, 30000);
    ASSERT_NE(nullptr, box);
    std::wstring copy;
    for (const std::wstring& folder : SetupWorkFolders())
        if (FileExists(folder + L"\\installer.exe")) copy = folder + L"\\installer.exe";
    EXPECT_FALSE(copy.empty()) << "no copy in a work folder";
    EXPECT_EQ(msg::kEnvironmentText, MessageBoxText(box));
    // The first run waits for its copy and ends with the copy's failure.
    EXPECT_FALSE(p.WaitEnd(500));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(p.WaitEnd(30000));
    DWORD code = 0;
    GetExitCodeProcess(p.pi.hProcess, &code);
    EXPECT_EQ(1603u, code);
    // The starter deleted the copy once it ended; both work folders are gone.
    EXPECT_FALSE(FileExists(copy));
    EXPECT_EQ(before, SetupWorkFolders());
    RemoveProductKey();
}

TEST(Program, RelaunchCopyFailureNamesThePaths)
{
    ScratchFolder install(L"empty");
    SetInstallLocation(install.Path() + L"\\");
    Process p;
    ASSERT_TRUE(p.Start(L"\"" + Installer() + L"\" /n " + kProduct + L" /u"));
    HWND box = WaitForDialog(msg::kRelaunchCaption, 20000);
    ASSERT_NE(nullptr, box);
    std::wstring text = MessageBoxText(box);
    EXPECT_NE(std::wstring::npos, text.find(L"install:" + install.Path() + L"\\\r\n"));
    EXPECT_NE(std::wstring::npos, text.find(L"source:" + install.Path() + L"\\installer.exe\r\n"));
    EXPECT_NE(std::wstring::npos, text.find(L"dest:" + MachineTempFolder() + L"ZerdaIME3.")) << text;
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(p.WaitEnd(20000));
    RemoveProductKey();
}

// A folder that is no full path would be looked up in the current folder:
// the run ends with the environment message before anything is copied or started.
TEST(Program, UninstallWithARelativeInstallLocationStartsNothing)
{
    ScratchFolder current(L"cwd");
    ASSERT_TRUE(CreateDirectoryW((current / L"planted").c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(Installer().c_str(), (current / L"planted\\installer.exe").c_str(), FALSE));
    SetInstallLocation(L"planted\\");
    const std::vector<std::wstring> before = SetupWorkFolders();
    STARTUPINFOW si{};
    si.cb = sizeof si;
    Process p;
    std::wstring command = L"\"" + Installer() + L"\" /n " + kProduct + L" /u";
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, current.Path().c_str(), &si,
                               &p.pi));
    HWND box = WaitForDialog(msg::kUninstallCaption, 20000);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(msg::kEnvironmentText, MessageBoxText(box));
    EXPECT_EQ(before, SetupWorkFolders()) << "a copy was made";
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(p.WaitEnd(20000));
    DWORD code = 0;
    GetExitCodeProcess(p.pi.hProcess, &code);
    EXPECT_EQ(1603u, code);
    RemoveProductKey();
}

// The work folder of old, a fixed name in the temporary folder, means nothing
// now: held by someone, it does not stop a run (the run guard keeps setups apart).
TEST(Program, AHeldFolderOfTheOldWorkFolderNameStopsNothing)
{
    std::wstring old = TempFolder() + L"$zerdaInstaller$";
    CreateDirectoryW(old.c_str(), nullptr);
    std::wstring held = old + L"\\held.bin";
    HANDLE h = CreateFileW(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);

    // The plain program carries no payload: it ends with the install failure.
    Process p;
    ASSERT_TRUE(p.Start(L"\"" + Installer() + L"\""));
    HWND box = WaitForDialog(msg::kInstallFailedCaption, 30000);
    EXPECT_NE(nullptr, box) << "the run did not get as far as its payload";
    if (box) PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(p.WaitEnd(30000));
    EXPECT_FALSE(FileExists(old + L"\\makedata.zip"));
    CloseHandle(h);
    DeleteTree(old);
}

TEST(Program, ServiceSwitchWithTextThatIsNoGuidEndsWithNoEffect)
{
    Process p;
    ASSERT_TRUE(p.Start(L"\"" + Installer() + L"\" /EMMODE=2 /GUID=not-a-guid"));
    EXPECT_TRUE(p.WaitEnd(20000));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, L"Software\\ZerdaIME3\\not-a-guid"));
}
