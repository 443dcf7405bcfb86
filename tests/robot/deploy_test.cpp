// Unattended deployment of the packed demo setup: quiet and passive runs,
// their exit codes, logs and the uninstall entry's quiet command, watched on
// the virtual display for the whole of each run.
#include "robot_test_support.h"

#include "common/keyboard_lists.h"

#include <tlhelp32.h>

#include <atomic>
#include <memory>
#include <set>
#include <thread>

using namespace robot_test;

namespace {

const wchar_t kGuardName[] = L"Global\\ZerdaIME3.Setup.Run";
const int kFolderEditId = 1022;  // the wizard's install-folder box

std::wstring ProcessName(DWORD pid)
{
    std::wstring name;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return name;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == pid) name = Lower(entry.szExeFile);
    CloseHandle(snapshot);
    return name;
}

// Collects the captions of visible top-level windows that setup programs own.
class WindowWatch {
public:
    void Start()
    {
        stop_ = false;
        seen_.clear();
        thread_ = std::thread([this] {
            while (!stop_) {
                EnumWindows(&WindowWatch::Visit, reinterpret_cast<LPARAM>(this));
                Sleep(20);
            }
        });
    }
    std::set<std::wstring> Stop()
    {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return seen_;
    }

private:
    static BOOL CALLBACK Visit(HWND window, LPARAM self)
    {
        if (!IsWindowVisible(window)) return TRUE;
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid == GetCurrentProcessId()) return TRUE;
        std::wstring exe = ProcessName(pid);
        if (exe.find(L"setup") == std::wstring::npos && exe != L"installer.exe") return TRUE;
        wchar_t caption[256] = L"";
        GetWindowTextW(window, caption, 256);
        reinterpret_cast<WindowWatch*>(self)->seen_.insert(exe + L": " + caption);
        return TRUE;
    }
    std::atomic<bool> stop_{false};
    std::set<std::wstring> seen_;
    std::thread thread_;
};

std::string Join(const std::set<std::wstring>& items)
{
    std::string all;
    for (const std::wstring& s : items) all += Narrow(s) + "\n";
    return all;
}

std::wstring ReadLog(const std::wstring& path) { return FromUtf8(Bytes(path)); }

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

std::wstring MultiString(HKEY root, const wchar_t* key, const wchar_t* value)
{
    HKEY k;
    if (RegOpenKeyExW(root, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return L"";
    std::vector<wchar_t> data(65536);
    DWORD bytes = static_cast<DWORD>((data.size() - 2) * sizeof(wchar_t));
    LONG rc = RegQueryValueExW(k, value, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &bytes);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS) return L"";
    std::wstring all(data.data(), bytes / sizeof(wchar_t));
    for (wchar_t& c : all)
        if (c == L'\0') c = L'|';
    return all;
}

class Deploy : public InstallRun {
public:
    void SetUp() override
    {
        InstallRun::SetUp();
        copy = TempFolder() + L"copy of setup.exe";
        quietFolder = L"C:\\ZerdaRobot\\Deploy Quiet\\";
        CreateDirectoryW(L"C:\\ZerdaRobot", nullptr);
    }

    // Runs a command line, watching the display; the 32-bit exit code.
    int Run(const std::wstring& commandLine, DWORD timeoutMs = 180000)
    {
        watch.Start();
        int code = RunAndWait(commandLine, timeoutMs);
        windows = watch.Stop();
        return code;
    }

    std::wstring Setup() const { return Quoted(setup); }

    void ExpectInstalledIn(const std::wstring& folder)
    {
        SCOPED_TRACE(Narrow(folder));
        EXPECT_EQ(folder, RegString(HKEY_LOCAL_MACHINE, L"Software\\ZerdaIME3\\" + guid, L"InstallLocation"));
        EXPECT_EQ(folder, RegString(HKEY_LOCAL_MACHINE, UninstallKey(), L"InstallLocation"));
        const std::wstring ime = Lower(imeName) + L".ime";
        for (bool wow64 : {false, true}) EXPECT_TRUE(FileExists(SystemFolder(wow64) + ime));
        for (const wchar_t* name : {L"installer.exe", L"_backup_.dat", L"config.exe", L"main.chm"})
            EXPECT_TRUE(FileExists(folder + name)) << Narrow(name);
        EXPECT_TRUE(FileExists(dataFolder + L"config.dsc"));
        EXPECT_TRUE(DirExists(groupFolder));
        EXPECT_EQ(L"\"" + folder + L"installer.exe\" /n " + guid + L" /u /quiet",
                  RegString(HKEY_LOCAL_MACHINE, UninstallKey(), L"QuietUninstallString"));
        DWORD size = RegDword(HKEY_LOCAL_MACHINE, UninstallKey(), L"EstimatedSize");
        // The backup alone is the packed payload's size.
        EXPECT_GE(static_cast<uint64_t>(size) * 1024, Bytes(folder + L"_backup_.dat").size());
        EXPECT_NE(0xFFFFFFFFu, size);
        EXPECT_EQ(config[L"display_version"], RegString(HKEY_LOCAL_MACHINE, UninstallKey(), L"DisplayVersion"));
    }

    // Runs the entry's quiet command as a deployment tool would: nothing of
    // the product is left once it has returned (the copies go within 15 s).
    void UninstallQuietly(int expected)
    {
        std::wstring command = RegString(HKEY_LOCAL_MACHINE, UninstallKey(), L"QuietUninstallString");
        ASSERT_FALSE(command.empty());
        std::wstring folder = RegString(HKEY_LOCAL_MACHINE, UninstallKey(), L"InstallLocation");
        EXPECT_EQ(expected, Run(command));
        EXPECT_TRUE(windows.empty()) << Join(windows);
        EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKey()));
        EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, L"Software\\ZerdaIME3\\" + guid));
        const std::wstring ime = Lower(imeName) + L".ime";
        bool gone = false;
        for (int i = 0; i < 150 && !gone; ++i) {
            gone = !DirExists(folder) && !DirExists(dataFolder) && !FileExists(SystemFolder(false) + ime) &&
                   !FileExists(SystemFolder(true) + ime) && !FileExists(TempFolder() + L"installer.exe");
            if (!gone) Sleep(100);
        }
        EXPECT_TRUE(gone) << "left after 15 s: " << Narrow(folder) << " " << DirExists(folder)
                          << DirExists(dataFolder) << FileExists(SystemFolder(false) + ime)
                          << FileExists(TempFolder() + L"installer.exe");
    }

    WindowWatch watch;
    std::set<std::wstring> windows;
    std::wstring copy, quietFolder;
};

void RunDeployment(Deploy& t)
{
    // Bad command lines change nothing and show nothing.
    EXPECT_EQ(87, t.Run(t.Setup() + L" /quiet /bogus"));
    EXPECT_EQ(87, t.Run(t.Setup() + L" /QUIET /dir=relative\\folder"));
    EXPECT_EQ(87, t.Run(t.Setup() + L" /passive /dir=C:\\"));
    EXPECT_TRUE(t.windows.empty()) << Join(t.windows);
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, t.UninstallKey()));

    // Repair and uninstall of a product that is not installed fail, and say why.
    const std::wstring failLog = TempFolder() + L"deploy not installed.log";
    DeleteFileW(failLog.c_str());
    EXPECT_EQ(1603, t.Run(t.Setup() + L" /n " + t.guid + L" /r /quiet \"/log=" + failLog + L"\""));
    std::wstring log = ReadLog(failLog);
    EXPECT_NE(std::wstring::npos, log.find(L"could not be copied")) << Narrow(log);
    EXPECT_NE(std::wstring::npos, log.find(L"Exit code: 1603")) << Narrow(log);

    // A payload cut short: the setup's own failure, nothing installed.
    std::string packed = Bytes(t.setup);
    ASSERT_TRUE(WriteFileBytes(t.copy, packed.data(), PayloadOffset(packed) + 100));
    EXPECT_EQ(1603, t.Run(Quoted(t.copy) + L" /quiet"));
    EXPECT_TRUE(t.windows.empty()) << Join(t.windows);
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, t.UninstallKey()));

    // Another setup of the family holds the guard.
    HANDLE held = CreateMutexW(nullptr, TRUE, kGuardName);
    ASSERT_NE(nullptr, held);
    EXPECT_EQ(1618, t.Run(t.Setup() + L" /quiet"));
    ReleaseMutex(held);
    CloseHandle(held);

    // Users' keyboard lists: no desktop shell, so every profile through its hive.
    auto inputDll = std::make_unique<InputDllStandIn>();
    auto profiles = std::make_unique<OtherProfiles>();
    ASSERT_TRUE(inputDll->Placed());
    const WORD langId = static_cast<WORD>(wcstoul(t.config[L"language_id"].c_str(), nullptr, 0));

    // Two quiet installs a moment apart: the first works, the second ends with 1618.
    const std::wstring quietLog = TempFolder() + L"deploy quiet.log";
    DeleteFileW(quietLog.c_str());
    std::wstring first = t.Setup() + L" /quiet \"/dir=" + t.quietFolder + L"\" \"/log=" + quietLog + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    t.watch.Start();
    ASSERT_TRUE(CreateProcessW(nullptr, &first[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    HANDLE guard = nullptr;
    for (int i = 0; i < 200 && !guard; ++i) {
        guard = OpenMutexW(SYNCHRONIZE, FALSE, kGuardName);
        if (!guard) Sleep(25);
    }
    EXPECT_NE(nullptr, guard) << "the first setup never took the guard";
    if (guard) CloseHandle(guard);
    EXPECT_EQ(1618, RunAndWait(t.Setup() + L" /quiet"));
    DWORD firstCode = 1;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 180000));
    GetExitCodeProcess(pi.hProcess, &firstCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    t.windows = t.watch.Stop();
    EXPECT_EQ(0u, firstCode);
    EXPECT_TRUE(t.windows.empty()) << Join(t.windows);
    t.ExpectInstalledIn(t.quietFolder);
    log = ReadLog(quietLog);
    EXPECT_NE(std::wstring::npos, log.find(L"Mode: install, quiet"));
    for (const wchar_t* line : {L"  1.", L"  4.", L"  7.قاچىلاش ئاخىرلاشتى.", L"Placed: c:\\zerdarobot\\deploy quiet\\config.exe",
                                L"Registry key written: HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\",
                                L"Exit code: 0"})
        EXPECT_NE(std::wstring::npos, log.find(line)) << Narrow(line) << "\n" << Narrow(log);
    ExpectOneChangePerProfile(inputDll->Calls(), false, KeyboardListEntry(t.guid, t.imeName, langId),
                              L"InstallLayoutOrTipUserReg");
    EXPECT_NE(std::wstring::npos, log.find(std::wstring(L"Profile skipped, its registry hive could not be loaded: ") +
                                           OtherProfiles::DamagedHive()))
        << Narrow(log);

    // A program holds the placed driver: the install replaces it without
    // ending the program, and the old file goes at the next restart.
    const std::wstring driver = SystemFolder(false) + Lower(t.imeName) + L".ime";
    const std::string placedDriver = Bytes(driver);
    ASSERT_FALSE(placedDriver.empty());
    const std::wstring holder = BuildDir() + L"\\tests\\files\\fixtures\\holder.exe";
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"ZerdaDeployHolderReady");
    std::wstring holderCommand = Quoted(holder) + L" " + Quoted(driver) + L" ZerdaDeployHolderReady";
    PROCESS_INFORMATION holderProcess{};
    ASSERT_TRUE(CreateProcessW(nullptr, &holderCommand[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                               &holderProcess));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 30000));
    const std::wstring heldLog = TempFolder() + L"deploy held.log";
    DeleteFileW(heldLog.c_str());
    EXPECT_EQ(3010, t.Run(t.Setup() + L" /quiet \"/log=" + heldLog + L"\""));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(holderProcess.hProcess, 0)) << "the holder was ended";
    EXPECT_TRUE(t.windows.empty()) << Join(t.windows);
    // The same driver as the first installation placed, under its own name again.
    EXPECT_TRUE(placedDriver == Bytes(driver));
    log = ReadLog(heldLog);
    EXPECT_NE(std::wstring::npos, log.find(L"In use by holder.exe")) << Narrow(log);
    std::wstring pending = MultiString(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                                       L"PendingFileRenameOperations");
    EXPECT_NE(std::wstring::npos, Lower(pending).find(Lower(Lower(t.imeName) + L".ime."))) << Narrow(pending);
    TerminateProcess(holderProcess.hProcess, 0);
    WaitForSingleObject(holderProcess.hProcess, 10000);
    CloseHandle(holderProcess.hThread);
    CloseHandle(holderProcess.hProcess);
    CloseHandle(ready);
    t.ExpectInstalledIn(t.quietFolder);

    // The uninstall entry's quiet command; its log goes to the temporary folder.
    // (The install above registered again: the layout may have a new identifier.)
    const std::wstring entry = KeyboardListEntry(t.guid, t.imeName, langId);
    inputDll->ClearCalls();
    t.UninstallQuietly(0);
    ExpectOneChangePerProfile(inputDll->Calls(), true, entry, L"InstallLayoutOrTipUserReg");
    profiles.reset();
    inputDll.reset();

    // Passive: the progress view only, closing itself; a value with forward
    // slashes ending in "/u" is a folder, not the uninstall switch. Without
    // input.dll the keyboard lists stay as they are and the log says so.
    const std::wstring passiveLog = TempFolder() + L"deploy passive.log";
    DeleteFileW(passiveLog.c_str());
    EXPECT_EQ(0, t.Run(t.Setup() + L" /passive /dir=C:/ZerdaRobot/fonts/u \"/log=" + passiveLog + L"\""));
    EXPECT_FALSE(t.windows.empty()) << "the passive run showed nothing";
    t.ExpectInstalledIn(L"C:\\ZerdaRobot\\fonts\\u\\");
    log = ReadLog(passiveLog);
    EXPECT_NE(std::wstring::npos, log.find(L"input.dll with InstallLayoutOrTip is missing")) << Narrow(log);
    t.UninstallQuietly(0);

    // An interactive wizard closed before installing: cancelled.
    std::wstring interactive = t.Setup();
    PROCESS_INFORMATION wizard{};
    ASSERT_TRUE(CreateProcessW(nullptr, &interactive[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &wizard));
    // The wizard: the visible dialog with the install-folder box.
    struct Find {
        static BOOL CALLBACK Visit(HWND w, LPARAM out)
        {
            if (IsWindowVisible(w) && GetDlgItem(w, kFolderEditId)) *reinterpret_cast<HWND*>(out) = w;
            return TRUE;
        }
    };
    HWND window = nullptr;
    for (int i = 0; i < 600 && !window; ++i) {
        EnumWindows(&Find::Visit, reinterpret_cast<LPARAM>(&window));
        if (!window) Sleep(100);
    }
    ASSERT_NE(nullptr, window) << "no wizard";
    PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    DWORD cancelled = 0;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(wizard.hProcess, 60000));
    GetExitCodeProcess(wizard.hProcess, &cancelled);
    CloseHandle(wizard.hThread);
    CloseHandle(wizard.hProcess);
    EXPECT_EQ(1602u, cancelled);
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, t.UninstallKey()));
}

}  // namespace

TEST_F(Deploy, QuietPassiveAndInteractiveRunsEndWithTheirCodes) { RunDeployment(*this); }
