// Unattended deployment of the packed demo setup: quiet and passive runs,
// their exit codes, logs and the uninstall entry's quiet command, watched on
// the virtual display for the whole of each run.
#include "base/shared_routines.h"
#include "robot_test_support.h"

#include "common/keyboard_lists.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include "responsiveness_probe.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <set>
#include <thread>

#include "files/files_test_helpers.h"
#include "payload/zip_builder.h"

using namespace robot_test;

namespace {

// The guard's name before it moved into the Administrators' namespace:
// anyone could make it first.
const wchar_t kOldGuardName[] = L"Global\\ZerdaIME3.Setup.Run";
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

// Looks again and again, on a thread of its own, until stopped, and
// collects what each look finds.
class Watch {
public:
    using Look = std::function<void(std::set<std::wstring>& found)>;
    void Start(Look look, DWORD pauseMs)
    {
        stop_ = false;
        seen_.clear();
        thread_ = std::thread([this, look, pauseMs] {
            while (!stop_) {
                look(seen_);
                Sleep(pauseMs);
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
    std::atomic<bool> stop_{false};
    std::set<std::wstring> seen_;
    std::thread thread_;
};

// The captions of visible top-level windows that setup programs own.
BOOL CALLBACK CollectSetupWindow(HWND window, LPARAM found)
{
    if (!IsWindowVisible(window)) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId()) return TRUE;
    std::wstring exe = ProcessName(pid);
    if (exe.find(L"setup") == std::wstring::npos && exe != L"installer.exe") return TRUE;
    wchar_t caption[256] = L"";
    GetWindowTextW(window, caption, 256);
    reinterpret_cast<std::set<std::wstring>*>(found)->insert(exe + L": " + caption);
    return TRUE;
}

class WindowWatch : public Watch {
public:
    void Start()
    {
        Watch::Start([](std::set<std::wstring>& found) {
            EnumWindows(&CollectSetupWindow, reinterpret_cast<LPARAM>(&found));
        }, 20);
    }
};

// The names of processes that were not there before, or of all when before is null.
std::set<DWORD> ListProcesses(std::set<std::wstring>* names, const std::set<DWORD>* before)
{
    std::set<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        ids.insert(entry.th32ProcessID);
        if (names && !(before && before->count(entry.th32ProcessID))) names->insert(Lower(entry.szExeFile));
    }
    CloseHandle(snapshot);
    return ids;
}

// The names of the programs that start while it runs.
class ProcessWatch : public Watch {
public:
    void Start()
    {
        std::set<DWORD> before = ListProcesses(nullptr, nullptr);
        Watch::Start([before](std::set<std::wstring>& found) { ListProcesses(&found, &before); }, 5);
    }
};

std::string Join(const std::set<std::wstring>& items)
{
    std::string all;
    for (const std::wstring& s : items) all += Narrow(s) + "\n";
    return all;
}

std::wstring ReadLog(const std::wstring& path) { return FromUtf8(Bytes(path)); }

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

// The logs of runs without /log=, by name.
std::wstring LogsFolder() { return robot_test::Folder(CSIDL_COMMON_APPDATA) + L"ZerdaIME3\\Logs\\"; }
std::vector<std::wstring> DefaultLogs() { return Listing(LogsFolder()); }
// The one log named with prefix that was not there before holds each of lines.
void ExpectNewLog(const std::vector<std::wstring>& before, const std::wstring& prefix,
                  std::initializer_list<const wchar_t*> lines)
{
    std::vector<std::wstring> made;
    for (const std::wstring& name : DefaultLogs())
        if (name.rfind(prefix, 0) == 0 && std::find(before.begin(), before.end(), name) == before.end()) made.push_back(name);
    ASSERT_EQ(1u, made.size()) << Narrow(prefix);
    const std::wstring log = ReadLog(LogsFolder() + made[0]);
    for (const wchar_t* line : lines) EXPECT_NE(std::wstring::npos, log.find(line)) << Narrow(line) << "\n" << Narrow(log);
}

// The first visible top-level window that matches, within a minute.
HWND WaitForWindow(std::function<bool(HWND)> match)
{
    struct Look {
        std::function<bool(HWND)>& match;
        HWND found;
        static BOOL CALLBACK Visit(HWND w, LPARAM l)
        {
            Look* look = reinterpret_cast<Look*>(l);
            if (IsWindowVisible(w) && look->match(w)) look->found = w;
            return TRUE;
        }
    } look{match, nullptr};
    for (int i = 0; i < 600 && !look.found; ++i) {
        EnumWindows(&Look::Visit, reinterpret_cast<LPARAM>(&look));
        if (!look.found) Sleep(100);
    }
    return look.found;
}

// Programs in the start-up of every user.
DWORD RunValueCount()
{
    DWORD values = 0;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return values;
}

bool SetRegString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& text)
{
    HKEY k;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
    return rc == ERROR_SUCCESS;
}

// TMP and TEMP name a folder "%Z%", and Z holds a command that starts a
// planted program wherever cmd would read that text; restored on destruction.
class HostileTemp {
public:
    HostileTemp()
    {
        root_ = TempFolder() + L"zt_hostile";
        const std::wstring folder = root_ + L"\\%Z%";
        planted_ = root_ + L"\\e.exe";
        saved_[0] = EnvString(L"TMP");
        saved_[1] = EnvString(L"TEMP");
        ready_ = CreateFolderPath(folder.c_str()) &&
                 CopyFileW((BuildDir() + L"\\tests\\robot\\planted_program.exe").c_str(), planted_.c_str(), FALSE);
        DeleteFileW((planted_ + L".ran").c_str());
        SetEnvironmentVariableW(L"TMP", folder.c_str());
        SetEnvironmentVariableW(L"TEMP", folder.c_str());
        SetEnvironmentVariableW(L"Z", (L"x\" & \"" + planted_ + L"\" & \"").c_str());
    }
    ~HostileTemp()
    {
        SetEnvironmentVariableW(L"TMP", saved_[0].c_str());
        SetEnvironmentVariableW(L"TEMP", saved_[1].c_str());
        SetEnvironmentVariableW(L"Z", nullptr);
        DeleteTree(root_);
    }
    bool Ready() const { return ready_; }
    bool PlantedRan() const { return FileExists(planted_ + L".ran"); }

private:
    std::wstring root_, planted_, saved_[2];
    bool ready_ = false;
};

std::wstring WindowsFolder()
{
    wchar_t folder[MAX_PATH] = L"";
    GetWindowsDirectoryW(folder, MAX_PATH);
    return WithBackslash(folder);
}

// The scanner program of the file fixtures, watching the folders while it lives.
class Scanner {
public:
    Scanner(const std::wstring& log, std::initializer_list<std::wstring> folders)
    {
        const std::wstring event = L"ZerdaDeployScannerStop";
        stop_ = CreateEventW(nullptr, TRUE, FALSE, event.c_str());
        std::wstring command = Quoted(BuildDir() + L"\\tests\\files\\fixtures\\scanner.exe") + L" " + event + L" " +
                               Quoted(log);
        for (std::wstring folder : folders) {
            if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
            command += L" " + Quoted(folder);
        }
        if (stop_) pi_ = StartProcess(command);
        started_ = pi_.hProcess != nullptr;
        Sleep(500);  // its first look, which holds nothing
    }
    ~Scanner()
    {
        if (started_) {
            SetEvent(stop_);
            WaitForSingleObject(pi_.hProcess, 10000);
            CloseHandle(pi_.hThread);
            CloseHandle(pi_.hProcess);
        }
        if (stop_) CloseHandle(stop_);
    }
    bool Started() const { return started_; }

private:
    HANDLE stop_ = nullptr;
    PROCESS_INFORMATION pi_{};
    bool started_ = false;
};

class Deploy : public InstallRun {
public:
    void SetUp() override
    {
        InstallRun::SetUp();
        copy = TempFolder() + L"copy of setup.exe";
        quietFolder = L"C:\\ZerdaRobot\\Deploy Quiet\\";
        CreateDirectoryW(L"C:\\ZerdaRobot", nullptr);
    }

    // Runs a command line, watching the display and probing every window
    // the setup shows; the 32-bit exit code.
    int Run(const std::wstring& commandLine, DWORD timeoutMs = 180000, const wchar_t* desktop = nullptr)
    {
        watch.Start();
        answers.Start();
        PROCESS_INFORMATION process = StartProcess(commandLine, 0, desktop);
        int code = ExitCodeOf(process, timeoutMs);
        answers.Stop();
        windows = watch.Stop();
        return code;
    }

    void ExpectAnsweredThroughout(const char* what)
    {
        ExpectAnswering(static_cast<long>(answers.Longest()), static_cast<long>(answers.ReferenceLongest()),
                        FromUtf8(what) + L": " + answers.Summary());
        EXPECT_GT(answers.Probes(), 0u) << what << ": no window was probed";
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
        // The fonts are in (a quiet run installs them meanwhile), none carried into the folder.
        EXPECT_FALSE(DirExists(folder + L"$fonts$"));
        wchar_t fonts[MAX_PATH] = L"";
        ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_FONTS, nullptr, 0, fonts)));
        for (const wchar_t* font : {L"ukijtut.ttf", L"ukijtuz.ttf", L"ukijtztr.ttf"})
            EXPECT_TRUE(FileExists(std::wstring(fonts) + L"\\" + font)) << Narrow(font);
        EXPECT_TRUE(DirExists(groupFolder));
        EXPECT_EQ(L"\"" + folder + L"installer.exe\" /n " + guid + L" /u /quiet",
                  RegString(HKEY_LOCAL_MACHINE, UninstallKey(), L"QuietUninstallString"));
        DWORD size = RegDword(HKEY_LOCAL_MACHINE, UninstallKey(), L"EstimatedSize");
        // The backup alone is the packed payload's size.
        EXPECT_GE(static_cast<uint64_t>(size) * 1024, Bytes(folder + L"_backup_.dat").size());
        EXPECT_NE(0xFFFFFFFFu, size);
        EXPECT_EQ(config[L"display_version"], RegString(HKEY_LOCAL_MACHINE, UninstallKey(), L"DisplayVersion"));
    }

    // Nothing of the product is left once the command has returned (the
    // copies go within 15 s).
    void ExpectGone(const std::wstring& folder)
    {
        EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKey()));
        EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, L"Software\\ZerdaIME3\\" + guid));
        const std::wstring ime = Lower(imeName) + L".ime";
        bool gone = false;
        for (int i = 0; i < 150 && !gone; ++i) {
            gone = !DirExists(folder) && !DirExists(dataFolder) && !FileExists(SystemFolder(false) + ime) &&
                   !FileExists(SystemFolder(true) + ime) && CopiesLeft() == 0;
            if (!gone) Sleep(100);
        }
        EXPECT_TRUE(gone) << "left after 15 s: " << Narrow(folder) << " " << DirExists(folder)
                          << DirExists(dataFolder) << FileExists(SystemFolder(false) + ime) << CopiesLeft();
    }

    WindowWatch watch;
    // The programs this test starts itself (the robot sees to its own).
    probe::UnmanagedWindows unmanaged{{L"ZerdaIME3_Setup.exe", L"installer.exe"}};
    probe::ResponsivenessProbe answers;
    std::set<std::wstring> windows;
    std::wstring copy, quietFolder;
};

void RunDeployment(Deploy& t)
{
    // Bad command lines change nothing and show nothing.
    EXPECT_EQ(87, t.Run(t.Setup() + L" /quiet /bogus"));
    EXPECT_EQ(87, t.Run(t.Setup() + L" /QUIET /dir=relative\\folder"));
    EXPECT_EQ(87, t.Run(t.Setup() + L" /passive /dir=C:\\"));
    // Below a guarded folder is as much the system's as the folder itself.
    EXPECT_EQ(87, t.Run(t.Setup() + L" /quiet \"/dir=" + SystemFolder(false) + L"drivers\\Zerda\""));
    // So is a network drive (X: in the test prefixes).
    EXPECT_EQ(87, t.Run(t.Setup() + L" /quiet /dir=X:\\Zerda"));
    EXPECT_FALSE(DirExists(L"X:\\Zerda"));
    EXPECT_TRUE(t.windows.empty()) << Join(t.windows);
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, t.UninstallKey()));

    // A folder that holds another program, a person's notes, a folder of
    // theirs and a second name of an outside file is not the product's: the
    // quiet install ends with 87, says why and which folder it would take,
    // and changes nothing in it.
    const std::wstring others = L"C:\\ZerdaRobot\\Tools\\", outside = L"C:\\ZerdaRobot\\outside.dll";
    ASSERT_TRUE(CreateDirectoryW(others.c_str(), nullptr) && CreateDirectoryW((others + L"other").c_str(), nullptr));
    ASSERT_TRUE(WriteFileText(others + L"notes.txt", "a person's notes") &&
                WriteFileText(others + L"other\\app.exe", "another program") && WriteFileText(outside, "two names"));
    ASSERT_TRUE(CreateHardLinkW((others + L"shared.dll").c_str(), outside.c_str(), nullptr));
    ASSERT_TRUE(OpenToEveryone(others));
    const std::wstring othersBefore = FolderSnapshot(others), othersLog = TempFolder() + L"deploy others.log";
    DeleteFileW(othersLog.c_str());
    for (const wchar_t* ui : {L" /quiet", L" /passive"})
        EXPECT_EQ(87, t.Run(t.Setup() + ui + L" \"/dir=" + others + L"\" \"/log=" + othersLog + L"\"")) << Narrow(ui);
    EXPECT_EQ(Narrow(othersBefore), Narrow(FolderSnapshot(others)));
    EXPECT_NE(std::wstring::npos, ReadLog(othersLog).find(L"Refused as the install folder (it holds files or folders that "
                                                          L"are not the product's): " + others +
                                                          L"; a folder of the product's own would be accepted: " +
                                                          others + t.config[L"default_folder"] + L"\\"))
        << Narrow(ReadLog(othersLog));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, t.UninstallKey()));
    EXPECT_EQ(87, t.Run(t.Setup() + L" /quiet /log=relative.log"));
    // A folder with blanks, unquoted, is cut at the first blank: refused, with the reason.
    const std::wstring strayLog = TempFolder() + L"deploy stray words.log";
    DeleteFileW(strayLog.c_str());
    EXPECT_EQ(87, t.Run(t.Setup() + L" /quiet /dir=" + t.quietFolder + L" \"/log=" + strayLog + L"\""));
    EXPECT_NE(std::wstring::npos, ReadLog(strayLog).find(L"must stand in quotes")) << Narrow(ReadLog(strayLog));
    EXPECT_FALSE(DirExists(L"C:\\ZerdaRobot\\Deploy"));
    EXPECT_TRUE(t.windows.empty()) << Join(t.windows);
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, t.UninstallKey()));

    // An unknown switch in a run with a window shows why and the switch list, and no wizard.
    {
        PROCESS_INFORMATION unknown = StartProcess(t.Setup() + L" /S");
        HWND box = WaitForWindow([](HWND w) {
            wchar_t caption[64] = L"";
            return GetWindowTextW(w, caption, 64) && wcscmp(caption, L"ZerdaIME3 Setup") == 0;
        });
        ASSERT_NE(nullptr, box) << "no switch list";
        wchar_t text[2048] = L"";
        GetDlgItemTextW(box, 0xFFFF, text, 2048);
        for (const wchar_t* part : {L"unknown switch: /S", L"/norestart", L"/dir=FOLDER"})
            EXPECT_NE(nullptr, wcsstr(text, part)) << Narrow(part) << "\n" << Narrow(text);
        ClickButton(box, IDOK);
        EXPECT_EQ(87, ExitCodeOf(unknown, 60000));
    }

    // A capability word without the text-service bit fails at step 2 on this
    // road: the drivers, folders, keys and entry of the first install go again.
    if (IsTextServiceRoad()) {
        const std::wstring failedLog = TempFolder() + L"deploy step 2 failed.log";
        DeleteFileW(failedLog.c_str());
        EXPECT_EQ(1603, t.Run(Quoted(BuildDir() + L"\\demo\\variants\\no_text_service\\setup.exe") + L" /quiet \"/dir=" +
                              t.quietFolder + L"\" \"/log=" + failedLog + L"\""));
        EXPECT_NE(std::wstring::npos, ReadLog(failedLog).find(L"Taking back what this run placed")) << Narrow(ReadLog(failedLog));
        t.ExpectGone(t.quietFolder);
        EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, L"Software\\ZerdaIME3"));
    }

    // Repair and uninstall of a product that is not installed fail, and say why.
    // Its log goes into folders that the run makes.
    const std::wstring newLogs = TempFolder() + L"zt deploy logs";
    DeleteTree(newLogs);
    const std::wstring failLog = newLogs + L"\\deeper\\deploy not installed.log";
    EXPECT_EQ(1603, t.Run(t.Setup() + L" /n " + t.guid + L" /r /quiet \"/log=" + failLog + L"\""));
    std::wstring log = ReadLog(failLog);
    EXPECT_NE(std::wstring::npos, log.find(L"is not installed")) << Narrow(log);
    EXPECT_NE(std::wstring::npos, log.find(L"Exit code: 1603")) << Narrow(log);
    DeleteTree(newLogs);

    // A payload cut short: the setup's own failure, nothing installed.
    std::string packed = Bytes(t.setup);
    ASSERT_TRUE(WriteFileBytes(t.copy, packed.data(), PayloadOffset(packed) + 100));
    EXPECT_EQ(1603, t.Run(Quoted(t.copy) + L" /quiet"));
    EXPECT_TRUE(t.windows.empty()) << Join(t.windows);
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, t.UninstallKey()));

    // A damaged entry that the wizard does not need: the wizard shows while
    // it is unpacked, and Install ends the run as a damaged payload does, with
    // nothing installed.
    {
        std::string damaged = Bytes(t.setup);
        const std::string header("PK\3\4", 4);
        size_t at = damaged.find(header, PayloadOffset(damaged));
        while (at != std::string::npos && damaged.compare(at + 30, 10, "config.exe") != 0) at = damaged.find(header, at + 4);
        ASSERT_NE(std::string::npos, at);
        auto field = [&](size_t offset, size_t bytes) {
            uint32_t value = 0;
            std::memcpy(&value, &damaged[at + offset], bytes);
            return value;
        };
        ASSERT_GT(field(18, 4), 16u);
        damaged[at + 30 + field(26, 2) + field(28, 2) + field(18, 4) / 2] ^= 0x55;
        ASSERT_TRUE(WriteFileBytes(t.copy, damaged.data(), damaged.size()));
        const std::wstring damagedLog = TempFolder() + L"deploy damaged entry.log";
        DeleteFileW(damagedLog.c_str());
        EXPECT_EQ(1603, t.Run(Quoted(t.copy) + L" /passive \"/dir=" + t.quietFolder + L"\" \"/log=" + damagedLog + L"\""));
        log = ReadLog(damagedLog);
        size_t behind = log.find(L"unpacked behind the wizard");
        EXPECT_NE(std::wstring::npos, behind) << Narrow(log);
        EXPECT_NE(std::wstring::npos, log.find(L"The payload could not be unpacked", behind)) << Narrow(log);
        EXPECT_FALSE(DirExists(t.quietFolder));
        EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, t.UninstallKey()));
        EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, L"Software\\ZerdaIME3\\" + t.guid));
    }

    // The setup's file swapped between its start and its first look at
    // itself (another build of another product put under its name): the
    // setup refuses it and installs nothing.
    {
        const std::wstring started = TempFolder() + L"swapped setup.exe", away = started + L".away";
        const std::wstring swapLog = TempFolder() + L"deploy swapped.log";
        const std::wstring variant = BuildDir() + L"\\demo\\variants\\agreement_first\\setup.exe";
        const std::wstring variantEntry = UninstallKeyPath(L"{7A3C4E1D-5B2F-4C8A-9E61-2D0F3B8A4C59}");
        for (const std::wstring& f : {started, away, swapLog}) DeleteFileW(f.c_str());
        std::string other = Bytes(variant);
        ASSERT_GT(other.size(), 0x200u);
        other[*reinterpret_cast<const uint32_t*>(&other[0x3C]) + 8] ^= 1;  // its own time stamp
        ASSERT_TRUE(CopyFileW(t.setup.c_str(), started.c_str(), FALSE));
        PROCESS_INFORMATION swapped = StartProcess(Quoted(started) + L" /quiet \"/log=" + swapLog + L"\"", CREATE_SUSPENDED);
        ASSERT_NE(nullptr, swapped.hProcess);
        EXPECT_TRUE(MoveFileExW(started.c_str(), away.c_str(), 0));
        EXPECT_TRUE(WriteFileBytes(started, other.data(), other.size()));
        ResumeThread(swapped.hThread);
        EXPECT_EQ(1603, ExitCodeOf(swapped, 120000));
        EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, variantEntry));
        EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, t.UninstallKey()));
        log = ReadLog(swapLog);
        EXPECT_NE(std::wstring::npos, log.find(L"not the program that runs")) << Narrow(log);
        for (const std::wstring& f : {started, away}) DeleteFileW(f.c_str());
    }

    // On a system without private namespaces (Wine) the guard has a global
    // name: an object of that name that is not the Administrators' is no
    // guard, and the run fails and says so rather than wait for nobody.
    if (HANDLE boundary = CreateBoundaryDescriptorW(L"ZerdaIME3", 0)) {
        DeleteBoundaryDescriptor(boundary);
    } else {
        HANDLE squatted = CreateMutexW(nullptr, TRUE, L"Global\\ZerdaIME3.Setup.Guard");
        ASSERT_NE(nullptr, squatted);
        const std::wstring guardLog = TempFolder() + L"deploy guard.log";
        DeleteFileW(guardLog.c_str());
        EXPECT_EQ(1603, t.Run(t.Setup() + L" /quiet \"/log=" + guardLog + L"\""));
        EXPECT_NE(std::wstring::npos, ReadLog(guardLog).find(L"could not be made")) << Narrow(ReadLog(guardLog));
        CloseHandle(squatted);
    }

    // Users' keyboard lists: no desktop shell, so every profile through its hive.
    auto inputDll = std::make_unique<InputDllStandIn>();
    auto profiles = std::make_unique<OtherProfiles>();
    ASSERT_TRUE(inputDll->Placed());
    // Another account's profile is theirs to change: no install folder.
    EXPECT_EQ(87, t.Run(t.Setup() + L" /quiet /dir=C:\\users\\zerda_second\\Documents\\Zerda"));
    EXPECT_FALSE(DirExists(L"C:\\users\\zerda_second\\Documents"));
    const WORD langId = static_cast<WORD>(wcstoul(t.config[L"language_id"].c_str(), nullptr, 0));


    // Two quiet installs a moment apart: the first works, the second ends with
    // 1618. A mutex of the guard's old name, which anyone could make, holds
    // neither back.
    HANDLE oldGuard = CreateMutexW(nullptr, TRUE, kOldGuardName);
    ASSERT_NE(nullptr, oldGuard);
    const std::wstring quietLog = TempFolder() + L"deploy quiet.log";
    DeleteFileW(quietLog.c_str());
    const std::wstring startPage = RegString(HKEY_CURRENT_USER, kStartPageKey, L"Start Page");
    const DWORD startUp = RunValueCount();
    t.watch.Start();
    PROCESS_INFORMATION pi = StartProcess(t.Setup() + L" /quiet \"/dir=" + t.quietFolder + L"\" \"/log=" + quietLog + L"\"");
    ASSERT_NE(nullptr, pi.hProcess);
    HANDLE guard = nullptr;
    for (int i = 0; i < 200 && !guard; ++i) {
        guard = OpenRunGuard();
        if (!guard) Sleep(25);
    }
    EXPECT_NE(nullptr, guard) << "the first setup never took the guard";
    if (guard) CloseHandle(guard);
    // Paused while it holds the guard: a quiet install may be done before a second process has started.
    PauseProcess(pi.dwProcessId, true);
    EXPECT_EQ(1618, RunAndWait(t.Setup() + L" /quiet"));
    PauseProcess(pi.dwProcessId, false);
    int firstCode = ExitCodeOf(pi, 180000);
    t.windows = t.watch.Stop();
    CloseHandle(oldGuard);
    EXPECT_EQ(0, firstCode);
    EXPECT_TRUE(t.windows.empty()) << Join(t.windows);
    t.ExpectInstalledIn(t.quietFolder);
    // Nobody was asked: the start page and the start-up list are as they were.
    EXPECT_EQ(startPage, RegString(HKEY_CURRENT_USER, kStartPageKey, L"Start Page"));
    EXPECT_EQ(startUp, RunValueCount());
    log = ReadLog(quietLog);
    EXPECT_NE(std::wstring::npos, log.find(L"Mode: install, quiet"));
    // Windows 10 and 11 tell a program that declares them their own version
    // (this test program declares none and is told 6.2).
    EXPECT_NE(std::wstring::npos, log.find(IsTextServiceRoad() ? L"Windows 10.0" : L"Windows 6.1")) << Narrow(log);
    for (const wchar_t* line : {L"  1.", L"  4.", L"  7.قاچىلاش ئاخىرلاشتى.", L"Placed: c:\\zerdarobot\\deploy quiet\\config.exe",
                                L"Registry key written: HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\",
                                L"Exit code: 0"})
        EXPECT_NE(std::wstring::npos, log.find(line)) << Narrow(line) << "\n" << Narrow(log);
    ExpectOneChangePerProfile(inputDll->Calls(), false, KeyboardListEntry(t.guid, t.imeName, langId),
                              L"InstallLayoutOrTipUserReg");
    EXPECT_NE(std::wstring::npos, log.find(std::wstring(L"Profile skipped, its registry hive could not be loaded: ") +
                                           OtherProfiles::DamagedHive()))
        << Narrow(log);
    EXPECT_NE(std::wstring::npos, log.find(std::wstring(L"Profile skipped, it roams (CentralProfile): ") +
                                           OtherProfiles::RoamingSid()));
    for (const wchar_t* line : {L"read back does not match", L"still loaded"})
        EXPECT_EQ(std::wstring::npos, log.find(line)) << Narrow(log);

    // The product's own folder, opened to everyone since, with newer programs
    // of someone else's under the product's names and a second name of an
    // outside file where a placement writes first: the next install takes
    // the folder over.
    const std::wstring planted = BuildDir() + L"\\tests\\robot\\planted_newer.exe";
    const wchar_t* const programs[] = {L"config.exe", L"installer.exe", L"tools\\VarekInputTool.exe"};
    for (const wchar_t* name : programs) {
        // The companion tool the install started may still be running.
        bool copied = false;
        for (int i = 0; i < 100 && !(copied = CopyFileW(planted.c_str(), (t.quietFolder + name).c_str(), FALSE)); ++i)
            Sleep(100);
        ASSERT_TRUE(copied) << Narrow(name) << " error " << GetLastError();
    }
    const std::wstring victim = L"C:\\ZerdaRobot\\victim.dll";
    ASSERT_TRUE(WriteFileText(victim, "somebody else's file"));
    ASSERT_TRUE(CreateHardLinkW((t.quietFolder + L"main.chm.zerda-part").c_str(), victim.c_str(), nullptr));
    ASSERT_TRUE(OpenToEveryone(t.quietFolder) && OpenToEveryone(t.quietFolder + L"tools"));
    const std::wstring payload = BuildDir() + L"\\demo\\payload\\";

    // A program holds the placed driver: the install replaces it without
    // ending the program, and the old file goes at the next restart.
    const std::wstring driver = SystemFolder(false) + Lower(t.imeName) + L".ime";
    const std::string placedDriver = Bytes(driver);
    ASSERT_FALSE(placedDriver.empty());
    FileHolder holder(driver, false);
    ASSERT_TRUE(holder.Ready());
    const std::wstring heldLog = TempFolder() + L"deploy held.log";
    DeleteFileW(heldLog.c_str());
    DeleteFileW(t.callsLog.c_str());
    EXPECT_EQ(3010, t.Run(t.Setup() + L" /quiet \"/log=" + heldLog + L"\""));
    EXPECT_TRUE(holder.Running()) << "the holder was ended";
    EXPECT_TRUE(t.windows.empty()) << Join(t.windows);
    // The same driver as the first installation placed, under its own name again.
    EXPECT_TRUE(placedDriver == Bytes(driver));
    log = ReadLog(heldLog);
    EXPECT_NE(std::wstring::npos, log.find(L"In use by holder.exe")) << Narrow(log);
    EXPECT_NE(std::wstring::npos, log.find(L"A restart completes the change; nobody is asked in a quiet run"));
    std::wstring pending = PendingRenames();
    EXPECT_NE(std::wstring::npos, Lower(pending).find(Lower(Lower(t.imeName) + L".ime."))) << Narrow(pending);
    holder.End();
    t.ExpectInstalledIn(t.quietFolder);

    // The planted programs gave way to the payload's and none of them ran;
    // the second name got data of its own, the outside file kept its own.
    EXPECT_TRUE(Bytes(payload + L"config.exe") == Bytes(t.quietFolder + L"config.exe"));
    EXPECT_TRUE(Bytes(payload + L"tools\\VarekInputTool.exe") == Bytes(t.quietFolder + L"tools\\varekinputtool.exe"));
    EXPECT_FALSE(Bytes(planted) == Bytes(t.quietFolder + L"installer.exe"));
    for (const wchar_t* name : programs) EXPECT_FALSE(FileExists(t.quietFolder + name + L".ran")) << Narrow(name);
    // The copy is data nobody recorded: an uninstall would keep it, and with
    // it the folder. It goes here, once checked.
    for (const std::wstring& name : {victim, t.quietFolder + L"main.chm.zerda-part"}) {
        EXPECT_EQ("somebody else's file", Bytes(name)) << Narrow(name);
        EXPECT_EQ(1u, NameCount(name)) << Narrow(name);
    }
    DeleteFileW((t.quietFolder + L"main.chm.zerda-part").c_str());
    for (const wchar_t* line : {L"Taken over (owned by or open to others): C:\\ZerdaRobot\\Deploy Quiet",
                                L"Given a copy of its own (it was a second name of another file): "})
        EXPECT_NE(std::wstring::npos, log.find(line)) << Narrow(line) << "\n" << Narrow(log);
    // Read and run only, for everyone but SYSTEM and the Administrators,
    // the folder and all it holds; the data files as the input method needs them.
    for (const wchar_t* name : {L"", L"tools", L"_backup_.dat", L"main.chm", L"installer.exe", L"config.exe",
                                L"license.html", L"colourful", L"colourful\\default.icc"})
        EXPECT_EQ("", WritableByOthers(t.quietFolder + name)) << Narrow(name);
    EXPECT_EQ("", WritableByOthers(t.dataFolder));
    EXPECT_NE("", WritableByOthers(t.dataFolder + L"main.dmg"));
    // The backup's digest, as the system computes it, in both views of the product key.
    const std::wstring digest = Sha256Text(Bytes(t.quietFolder + L"_backup_.dat"));
    ASSERT_EQ(64u, digest.size());
    for (const wchar_t* root : {L"Software\\ZerdaIME3\\", L"Software\\Wow6432Node\\ZerdaIME3\\"})
        EXPECT_EQ(digest, RegString(HKEY_LOCAL_MACHINE, root + t.guid, L"BackupSHA256")) << Narrow(root);

    // Waits for the companion tool's install calls (it is started, not waited for), then forgets them.
    auto callsSettled = [&t](size_t installs) {
        auto seen = [&t] {
            std::string calls = Bytes(t.callsLog);
            size_t n = 0;
            for (size_t at = calls.find("/do=install"); at != std::string::npos; at = calls.find("/do=install", at + 1)) ++n;
            return n;
        };
        for (int i = 0; i < 100 && seen() < installs; ++i) Sleep(100);
        DeleteFileW(t.callsLog.c_str());
    };

    // The backup replaced by another valid payload, with a driver and a
    // companion tool of its own that would start without switches: a repair
    // refuses it before it unpacks anything, says why and what mends it; and
    // running the setup again does.
    const std::wstring backup = t.quietFolder + L"_backup_.dat";
    const std::wstring plantedZip = TempFolder() + L"zt planted payload.zip";
    const std::wstring plainCommandConfig = BuildDir() + L"\\demo\\variants\\maint_cmd_plain\\payload\\$dataFiles$\\config.dsc";
    ASSERT_TRUE(BuildZip(plantedZip, {{"$dataFiles$\\config.dsc", Bytes(plainCommandConfig)},
                                      {"zerdaIME.ime", "a planted driver"},
                                      {"x86\\zerdaIME.ime", "a planted driver"},
                                      {"tools\\VarekInputTool.exe", Bytes(BuildDir() + L"\\tests\\robot\\planted_program.exe")}}));
    ASSERT_TRUE(CopyFileW(plantedZip.c_str(), backup.c_str(), FALSE));
    callsSettled(1);
    const std::wstring installer = Quoted(t.quietFolder + L"installer.exe");
    const std::wstring refusedLog = TempFolder() + L"deploy planted backup.log";
    DeleteFileW(refusedLog.c_str());
    EXPECT_EQ(1603, t.Run(installer + L" /n " + t.guid + L" /r /quiet \"/log=" + refusedLog + L"\""));
    EXPECT_TRUE(t.windows.empty()) << Join(t.windows);
    log = ReadLog(refusedLog);
    for (const wchar_t* line : {L"is not the one the installation kept", L"Running the setup program again repairs"})
        EXPECT_NE(std::wstring::npos, log.find(line)) << Narrow(line) << "\n" << Narrow(log);
    EXPECT_TRUE(placedDriver == Bytes(driver)) << "the planted driver was placed";
    EXPECT_EQ(0, t.Run(t.Setup() + L" /QUIET /NoRestart"));
    // A repair without /quiet on a window station without a display (a
    // service's): nobody could answer a window, so it runs quietly and says so.
    {
        HWINSTA station = CreateWindowStationW(L"ZerdaNoDisplay", 0, GENERIC_ALL, nullptr);
        ASSERT_NE(nullptr, station);
        const std::wstring hiddenLog = TempFolder() + L"deploy no display.log";
        DeleteFileW(hiddenLog.c_str());
        EXPECT_EQ(0, t.Run(installer + L" /n " + t.guid + L" /r \"/log=" + hiddenLog + L"\"", 120000, L"ZerdaNoDisplay\\Default"));
        EXPECT_TRUE(t.windows.empty()) << Join(t.windows);
        CloseWindowStation(station);
        log = ReadLog(hiddenLog);
        for (const wchar_t* line : {L"Nobody can see a window of this run (a window station without a display)",
                                    L"Mode: repair, quiet", L"Exit code: 0"})
            EXPECT_NE(std::wstring::npos, log.find(line)) << Narrow(line) << "\n" << Narrow(log);
    }
    t.ExpectInstalledIn(t.quietFolder);
    callsSettled(2);

    // The entry the uninstall takes out of every list: the installs above
    // registered again, so the layout may have a new identifier.
    const std::wstring entry = KeyboardListEntry(t.guid, t.imeName, langId);

    // A layout of the driver that the uninstalling account has no more in
    // its list (under Wine every layout is listed; a second key naming the
    // driver, as Windows stores it, by file name, is one that only its
    // "Ime File" value finds), with Preload entries in other users' lists:
    // all of it goes, the other entries stay.
    const std::wstring stale = L"E0FE0480", layouts = L"SYSTEM\\CurrentControlSet\\Control\\Keyboard Layouts\\";
    const std::wstring otherUser = L"S-1-5-21-7341-zerda-deploy", preload = L"\\Keyboard Layout\\Preload";
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, layouts + stale, L"Ime File", Lower(t.imeName) + L".ime"));
    ASSERT_TRUE(SetRegString(HKEY_LOCAL_MACHINE, layouts + stale, L"Layout Text", L"taken off the list"));
    for (const std::wstring& user : {std::wstring(L".DEFAULT"), otherUser}) {
        ASSERT_TRUE(SetRegString(HKEY_USERS, user + preload, L"8", stale));
        ASSERT_TRUE(SetRegString(HKEY_USERS, user + preload, L"9", L"00000409"));
    }

    // The setup program itself with the name switch (upper case), started
    // outside the install folder, with that backup in place again: it is not
    // used, and the uninstall goes on from the registry and the record.
    ASSERT_TRUE(CopyFileW(plantedZip.c_str(), backup.c_str(), FALSE));
    inputDll->ClearCalls();
    EXPECT_EQ(0, t.Run(t.Setup() + L" /N " + t.guid + L" /U /QUIET"));
    EXPECT_TRUE(t.windows.empty()) << Join(t.windows);
    t.ExpectGone(t.quietFolder);
    // Only the installed tool ran, with the command the install recorded.
    EXPECT_EQ("/do=unstall\r\n", Bytes(t.callsLog));
    DeleteFileW(plantedZip.c_str());
    ExpectOneChangePerProfile(inputDll->Calls(), true, entry, L"InstallLayoutOrTipUserReg");
    profiles.reset();
    inputDll.reset();

    EXPECT_EQ(0, ImeLayouts(t.imeName));
    for (const std::wstring& user : {std::wstring(L".DEFAULT"), otherUser}) {
        EXPECT_EQ(L"", RegString(HKEY_USERS, user + preload, L"8")) << Narrow(user);
        EXPECT_EQ(L"00000409", RegString(HKEY_USERS, user + preload, L"9")) << Narrow(user);
        DeleteValue(HKEY_USERS, (user + preload).c_str(), L"9");
    }
    DeleteRegistryKey(HKEY_USERS, otherUser);

    // The data folder exists already, made by someone else and open to
    // everyone, with a file of theirs and a second name of an outside file.
    CreateDirectoryW((robot_test::Folder(CSIDL_COMMON_APPDATA) + L"ZerdaIME3").c_str(), nullptr);
    ASSERT_TRUE(CreateDirectoryW(t.dataFolder.c_str(), nullptr));
    ASSERT_TRUE(WriteFileText(t.dataFolder + L"config.dsc", "somebody else's configuration"));
    ASSERT_TRUE(CreateHardLinkW((t.dataFolder + L"main.dmg.zerda-part").c_str(), victim.c_str(), nullptr));
    ASSERT_TRUE(OpenToEveryone(t.dataFolder));

    // Passive: the progress view only, closing itself; a value with forward
    // slashes ending in "/u" is a folder, not the uninstall switch. A scanner
    // holds each freshly unpacked driver for half a second: the setup waits,
    // nothing is taken for a held file. Install, repair and uninstall run
    // passive (their dialogs work by themselves and keep answering) with the
    // account's temporary folder named through "%Z%", and Z a command that
    // starts a planted program in any command line that lets cmd read it:
    // nothing planted runs.
    const std::wstring scanLog = TempFolder() + L"deploy scanner.log", passiveLog = TempFolder() + L"deploy passive.log";
    DeleteFileW(scanLog.c_str());
    DeleteFileW(passiveLog.c_str());
    const std::wstring accountTemp = TempFolder();
    const std::wstring passiveFolder = L"C:\\ZerdaRobot\\fonts\\u\\";
    {
        HostileTemp hostile;
        ASSERT_TRUE(hostile.Ready());
        // No command interpreter is started at all (Wine's own cmd would not
        // read "%Z%" as Windows' does, so its absence is what is checked).
        ProcessWatch started;
        started.Start();
        {
            Scanner scanner(scanLog, {accountTemp, WindowsFolder() + L"Temp"});
            ASSERT_TRUE(scanner.Started());
            EXPECT_EQ(0, t.Run(t.Setup() + L" /passive /dir=C:/ZerdaRobot/fonts/u \"/log=" + passiveLog + L"\""));
        }
        EXPECT_FALSE(t.windows.empty()) << "the passive run showed nothing";
        t.ExpectAnsweredThroughout("passive install");
        const std::wstring scanned = Lower(FromUtf8(Bytes(scanLog)));
        EXPECT_NE(std::wstring::npos, scanned.find(L"\\zerdaime.")) << "the scanner held no driver: " << Narrow(scanned);
        log = ReadLog(passiveLog);
        EXPECT_EQ(std::wstring::npos, log.find(L"In use by")) << Narrow(log);
        EXPECT_EQ(std::wstring::npos, log.find(L"FAILED")) << Narrow(log);
        // Without input.dll the keyboard lists stay as they are and the log says so.
        EXPECT_NE(std::wstring::npos, log.find(L"input.dll with InstallLayoutOrTip is missing")) << Narrow(log);
        t.ExpectInstalledIn(passiveFolder);
        EXPECT_EQ(startUp, RunValueCount());
        EXPECT_EQ(startPage, RegString(HKEY_CURRENT_USER, kStartPageKey, L"Start Page"));
        EXPECT_EQ("somebody else's file", Bytes(victim));
        EXPECT_EQ("somebody else's file", Bytes(t.dataFolder + L"main.dmg.zerda-part"));
        EXPECT_EQ(1u, NameCount(victim));
        DeleteFileW((t.dataFolder + L"main.dmg.zerda-part").c_str());
        EXPECT_EQ("", WritableByOthers(t.dataFolder));
        EXPECT_EQ(Bytes(payload + L"$dataFiles$\\config.dsc").size(), Bytes(t.dataFolder + L"config.dsc").size());

        const std::wstring uninstallCommand = RegString(HKEY_LOCAL_MACHINE, t.UninstallKey(), L"UninstallString");
        // Without /log= each run logs into the log folder, named by product and mode.
        std::vector<std::wstring> logsBefore = DefaultLogs();
        EXPECT_EQ(0, t.Run(Quoted(passiveFolder + L"installer.exe") + L" /n " + t.guid + L" /r /passive"));
        ExpectNewLog(logsBefore, t.guid + L"_repair_", {L"Mode: repair, passive", L"Exit code: 0"});
        EXPECT_NE(std::string::npos, Join(t.windows).find(Narrow(L" - پىروگرامما ئوڭشاش"))) << Join(t.windows);
        t.ExpectAnsweredThroughout("passive repair");
        t.ExpectInstalledIn(passiveFolder);
        ASSERT_FALSE(uninstallCommand.empty());
        logsBefore = DefaultLogs();
        EXPECT_EQ(0, t.Run(uninstallCommand + L" /passive"));
        EXPECT_FALSE(t.windows.empty()) << "the passive uninstall showed nothing";
        // Starter and relaunched copy write one log, which outlives the family's last product.
        ExpectNewLog(logsBefore, t.guid + L"_uninstall_", {L"Mode: uninstall, passive", L"Starting the temporary copy", L"Exit code: 0"});
        t.ExpectAnsweredThroughout("passive uninstall");
        t.ExpectGone(passiveFolder);

        std::set<std::wstring> programs = started.Stop();
        EXPECT_FALSE(hostile.PlantedRan()) << "a command line read the temporary folder's %Z%";
        // The watch sees what starts: the relaunched copies, for one.
        EXPECT_EQ(1u, programs.count(L"installer.exe")) << Join(programs);
        for (const wchar_t* interpreter : {L"cmd.exe", L"ping.exe", L"e.exe"})
            EXPECT_EQ(0u, programs.count(interpreter)) << Narrow(interpreter) << " started:\n" << Join(programs);
    }

    // An interactive wizard closed before installing: cancelled, and logged.
    const std::vector<std::wstring> logsBefore = DefaultLogs();
    PROCESS_INFORMATION wizard = StartProcess(t.Setup());
    // The wizard: the visible dialog with the install-folder box.
    HWND window = WaitForWindow([](HWND w) { return GetDlgItem(w, kFolderEditId) != nullptr; });
    ASSERT_NE(nullptr, window) << "no wizard";
    PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    int cancelled = ExitCodeOf(wizard, 60000);
    EXPECT_EQ(1602, cancelled);
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, t.UninstallKey()));
    ExpectNewLog(logsBefore, t.guid + L"_install_", {L"Mode: install, interactive", L"The wizard was closed", L"Exit code: 1602"});

    // The log folder keeps the 50 newest: older ones found there go first, the runs' own stay.
    const std::vector<std::wstring> runs = DefaultLogs();
    const FILETIME past{0, 0x01D00000};
    for (int i = 0; i < 60; ++i) {
        const std::wstring old = LogsFolder() + L"zt old " + std::to_wstring(i) + L".log";
        HANDLE file = CreateFileW(old.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        SetFileTime(file, nullptr, nullptr, &past);
        CloseHandle(file);
    }
    EXPECT_EQ(87, t.Run(t.Setup() + L" /quiet /qn"));
    EXPECT_EQ(50u, DefaultLogs().size());
    // The planted ones are the oldest: they go before any run's own.
    const size_t own = runs.size() + 1;
    size_t plantedLeft = 0;
    for (int i = 0; i < 60; ++i) plantedLeft += FileExists(LogsFolder() + L"zt old " + std::to_wstring(i) + L".log");
    EXPECT_EQ(own >= 50 ? 0u : 50u - own, plantedLeft) << own << " logs of the runs";
    if (own <= 50) {
        for (const std::wstring& name : runs) EXPECT_TRUE(FileExists(LogsFolder() + name)) << Narrow(name);
    }
    for (int i = 0; i < 60; ++i) DeleteFileW((LogsFolder() + L"zt old " + std::to_wstring(i) + L".log").c_str());
}

}  // namespace

TEST_F(Deploy, QuietPassiveAndInteractiveRunsEndWithTheirCodes) { RunDeployment(*this); }
