// What an install leaves on the machine, as lines that two runs can be
// compared by, and the check that nothing registered names a missing driver.
#pragma once
#include "robot_test_support.h"

#include <tlhelp32.h>

#include <chrono>
#include <memory>
#include <set>

namespace robot_test {

const wchar_t kLayoutsKey[] = L"System\\CurrentControlSet\\Control\\Keyboard Layouts";

inline std::wstring FileNameOf(const std::wstring& path)
{
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

inline std::wstring Quote(const std::wstring& s) { return L"\"" + s + L"\""; }

// Every key and value below root\key, one line each, with sizes for binary data.
inline void DumpKey(HKEY root, const std::wstring& key, const std::wstring& shown, std::vector<std::wstring>& out)
{
    HKEY k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return;
    out.push_back(shown + L"\\");
    wchar_t name[260];
    std::vector<BYTE> data(8192);
    for (DWORD i = 0;; ++i) {
        DWORD chars = 260, type = 0, bytes = static_cast<DWORD>(data.size() - 2);
        if (RegEnumValueW(k, i, name, &chars, nullptr, &type, data.data(), &bytes) != ERROR_SUCCESS) break;
        std::wstring value;
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            data[bytes] = data[bytes + 1] = 0;
            value = reinterpret_cast<const wchar_t*>(data.data());
        } else if (type == REG_DWORD) {
            value = std::to_wstring(*reinterpret_cast<const DWORD*>(data.data()));
        } else {
            value = L"<" + std::to_wstring(bytes) + L" bytes>";
        }
        out.push_back(shown + L"\\" + name + L"=" + value);
    }
    std::vector<std::wstring> subs;
    for (DWORD i = 0;; ++i) {
        DWORD chars = 260;
        if (RegEnumKeyExW(k, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subs.push_back(name);
    }
    RegCloseKey(k);
    for (const std::wstring& sub : subs) DumpKey(root, key + L"\\" + sub, shown + L"\\" + sub, out);
}

// Files below folder with their sizes; the folder's own existence as a line.
inline void DumpFolder(const std::wstring& folder, const std::wstring& shown, std::vector<std::wstring>& out)
{
    if (!DirExists(folder)) return;
    out.push_back(shown);
    for (const std::wstring& name : Listing(folder)) {
        std::wstring path = folder + name;
        if (DirExists(path)) DumpFolder(path + L"\\", shown + name + L"\\", out);
        else out.push_back(shown + Lower(name) + L" " + std::to_wstring(Bytes(path).size()));
    }
}

// Values of layouts whose "Ime File" names driverFile; the layout's own
// number differs from one registration to the next and is left out.
inline std::vector<std::wstring> OurLayouts(const std::wstring& driverFile)
{
    std::vector<std::wstring> found;
    HKEY layouts;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLayoutsKey, 0, KEY_READ, &layouts) != ERROR_SUCCESS) return found;
    wchar_t name[64];
    for (DWORD i = 0;; ++i) {
        DWORD chars = 64;
        if (RegEnumKeyExW(layouts, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        std::wstring key = std::wstring(kLayoutsKey) + L"\\" + name;
        std::wstring imeFile = RegString(HKEY_LOCAL_MACHINE, key, L"Ime File");
        if (!imeFile.empty() && Lower(FileNameOf(imeFile)) == Lower(driverFile))
            found.push_back(imeFile + L" | " + RegString(HKEY_LOCAL_MACHINE, key, L"Layout Text"));
    }
    RegCloseKey(layouts);
    return found;
}

struct Product {
    std::wstring guid, imeName, displayName, installFolder, dataFolder, groupFolder;
    std::wstring Driver(bool wow64) const { return SystemFolder(wow64) + Lower(imeName) + L".ime"; }
    std::wstring UninstallKey() const { return L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + guid; }
};

// The product's traces: files, keys, entry, registrations and shortcuts.
inline std::vector<std::wstring> MachineState(const Product& p)
{
    std::vector<std::wstring> out;
    DumpFolder(p.installFolder, L"[install]\\", out);
    DumpFolder(p.dataFolder, L"[data]\\", out);
    DumpFolder(p.groupFolder, L"[group]\\", out);
    for (bool wow64 : {false, true}) {
        // The driver and anything beside it that carries its name.
        std::wstring folder = SystemFolder(wow64);
        for (const std::wstring& name : Listing(folder))
            if (Lower(name).rfind(Lower(p.imeName) + L".", 0) == 0)
                out.push_back(std::wstring(wow64 ? L"[wow64]\\" : L"[system]\\") + Lower(name) + L" " +
                              std::to_wstring(Bytes(folder + name).size()));
    }
    std::wstring desktop = Folder(CSIDL_DESKTOPDIRECTORY);
    for (const std::wstring& name : Listing(desktop))
        if (name.find(p.displayName) != std::wstring::npos) out.push_back(L"[desktop]\\" + name);
    DumpKey(HKEY_LOCAL_MACHINE, L"Software\\ZerdaIME3\\" + p.guid, L"[product]", out);
    DumpKey(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\ZerdaIME3\\" + p.guid, L"[product32]", out);
    DumpKey(HKEY_LOCAL_MACHINE, p.UninstallKey(), L"[entry]", out);
    // Each run unpacks into a work folder of its own name.
    const std::wstring source = L"[entry]\\InstallSource=" + MachineTempFolder() + L"ZerdaIME3.";
    for (std::wstring& line : out)
        if (line.rfind(source, 0) == 0) line = source + L"*" + line.substr(line.find(L'\\', source.size()));
    DumpKey(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\" + p.guid, L"[clsid]", out);
    DumpKey(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Wow6432Node\\CLSID\\" + p.guid, L"[clsid32]", out);
    DumpKey(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\CTF\\TIP\\" + p.guid, L"[tip]", out);
    for (const std::wstring& layout : OurLayouts(Lower(p.imeName) + L".ime")) out.push_back(L"[layout] " + layout);
    return out;
}

inline std::string Lines(const std::vector<std::wstring>& lines)
{
    std::string all;
    for (const std::wstring& line : lines) all += Narrow(line) + "\n";
    return all;
}

// Lines only in a, then lines only in b: empty when the states agree.
inline std::string StateDifference(const std::vector<std::wstring>& a, const std::vector<std::wstring>& b)
{
    std::multiset<std::wstring> left(a.begin(), a.end()), right(b.begin(), b.end());
    std::string text;
    for (const std::wstring& line : left)
        if (left.count(line) > right.count(line)) text += "  expected: " + Narrow(line) + "\n";
    for (const std::wstring& line : right)
        if (right.count(line) > left.count(line)) text += "  found:    " + Narrow(line) + "\n";
    return text;
}

// Registrations whose driver file is missing, one line each.
inline std::string DanglingRegistrations(const Product& p)
{
    std::string found;
    for (bool wow64 : {false, true}) {
        std::wstring key = std::wstring(L"Software\\Classes\\") + (wow64 ? L"Wow6432Node\\" : L"") + L"CLSID\\" + p.guid + L"\\InProcServer32";
        if (!RegKeyExists(HKEY_LOCAL_MACHINE, key)) continue;
        std::wstring server = RegString(HKEY_LOCAL_MACHINE, key, nullptr);
        if (server.empty() || !FileExists(server)) found += "class key names a missing server: " + Narrow(server) + "\n";
    }
    for (const std::wstring& layout : OurLayouts(Lower(p.imeName) + L".ime")) {
        std::wstring file = layout.substr(0, layout.find(L" | "));
        std::wstring path = file.find(L'\\') == std::wstring::npos ? SystemFolder(false) + file : file;
        if (!FileExists(path)) found += "keyboard layout names a missing driver: " + Narrow(path) + "\n";
    }
    if (RegKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\CTF\\TIP\\" + p.guid) && !FileExists(p.Driver(false)))
        found += "text service registered without its driver\n";
    return found;
}

// The process started from image (full path, any case) whose parent is parent.
// The child of parent that runs the relaunched copy: an installer.exe in one
// of the setup's work folders.
inline DWORD FindRelaunchedCopy(DWORD parent)
{
    DWORD found = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    const std::wstring place = Lower(MachineTempFolder() + L"ZerdaIME3.");
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID != parent || Lower(entry.szExeFile) != L"installer.exe") continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (!process) continue;
        wchar_t path[MAX_PATH];
        DWORD chars = MAX_PATH;
        if (QueryFullProcessImageNameW(process, 0, path, &chars) && Lower(path).rfind(place, 0) == 0)
            found = entry.th32ProcessID;
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return found;
}

inline ULONGLONG CreationTime(HANDLE process)
{
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// What a process has started and that still runs: children by parent id,
// started no earlier than the process itself (Wine gives a freed id out
// again at once, so an older process under a reused id is no child).
inline std::vector<HANDLE> OpenDescendants(DWORD root, ULONGLONG rootCreated)
{
    std::vector<HANDLE> opened;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return opened;
    std::vector<PROCESSENTRY32W> all;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        all.push_back(entry);
    CloseHandle(snapshot);
    std::vector<DWORD> tree = {root};
    for (size_t i = 0; i < tree.size(); ++i) {
        for (const PROCESSENTRY32W& e : all) {
            if (e.th32ParentProcessID != tree[i] || e.th32ProcessID == GetCurrentProcessId() ||
                std::find(tree.begin(), tree.end(), e.th32ProcessID) != tree.end())
                continue;
            HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                         e.th32ProcessID);
            if (!process) continue;
            if (CreationTime(process) < rootCreated) {
                CloseHandle(process);
                continue;
            }
            tree.push_back(e.th32ProcessID);
            opened.push_back(process);
        }
    }
    return opened;
}

// Ends those still running, as a deployment tool that kills a process tree
// would. (Under Wine a command interpreter whose starter was killed while
// waiting for it can hang for good.)
inline void EndProcesses(std::vector<HANDLE>& processes)
{
    for (HANDLE process : processes) {
        if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
        }
        CloseHandle(process);
    }
    processes.clear();
}

// A started program, waited for or ended.
struct Started {
    PROCESS_INFORMATION pi{};
    bool ok = false;
    explicit Started(std::wstring commandLine)
    {
        STARTUPINFOW si{};
        si.cb = sizeof si;
        ok = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi) != FALSE;
    }
    // One still running (a test that failed) is ended, not left behind.
    ~Started()
    {
        if (!ok) return;
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(pi.hProcess, 1);
            WaitForSingleObject(pi.hProcess, 10000);
        }
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    // The exit code, or -1 when it did not end within timeoutMs.
    int Wait(DWORD timeoutMs)
    {
        if (!ok || WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        return static_cast<int>(code);
    }
};

// Waits up to timeoutMs for the machine-wide guard to exist: a setup holds
// it from the moment it makes it (the test never takes it, which would turn
// that setup away).
inline bool WaitForGuard(DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 10) {
        HANDLE guard = OpenRunGuard();
        if (guard) {
            CloseHandle(guard);
            return true;
        }
        Sleep(10);
    }
    return false;
}

#ifndef ZERDA_ROAD
#define ZERDA_ROAD "win7"
#endif

using Clock = std::chrono::steady_clock;

inline int Millis(Clock::time_point from) { return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - from).count()); }

enum class Command { Install, Repair, Uninstall };
inline const char* CommandName(Command c) { return c == Command::Install ? "install" : c == Command::Repair ? "repair" : "uninstall"; }

class SetupRuns : public InstallRun {
public:
    void SetUp() override
    {
        InstallRun::SetUp();
        product = {guid, imeName, displayName, L"C:\\ZerdaRobot\\Interrupted\\", dataFolder, groupFolder};
        installer = product.installFolder + L"installer.exe";
        CreateDirectoryW(L"C:\\ZerdaRobot", nullptr);
        road = ZERDA_ROAD;
    }

    // The command as a deployment tool gives it; program: another program
    // to run it with (the setup, when the installed one may be gone).
    std::wstring CommandLine(Command c, bool quiet = true, const std::wstring& program = L"") const
    {
        std::wstring ui = quiet ? L" /quiet" : L"";
        std::wstring exe = Quote(program.empty() ? (c == Command::Install ? setup : installer) : program);
        switch (c) {
        case Command::Install: return exe + ui + L" \"/dir=" + product.installFolder + L"\"";
        case Command::Repair: return exe + L" /n " + guid + L" /r" + ui;
        default: return exe + L" /n " + guid + L" /u" + ui;
        }
    }

    // After an uninstall the install folder goes once the starter has ended.
    void WaitForUninstallRemains()
    {
        for (int i = 0; i < 200 && (DirExists(product.installFolder) || CopiesLeft() > 0); ++i) Sleep(100);
    }

    // An uninterrupted run: its exit code, and how long the process that does
    // the work lived (for repair and uninstall the temporary copy).
    int RunWhole(Command c, int* workMs)
    {
        Started run(CommandLine(c));
        if (!run.ok) return -1;
        Clock::time_point start = Clock::now();
        if (c != Command::Install) {
            // The copy's life, from the moment it is seen.
            HANDLE work = nullptr;
            for (int i = 0; i < 6000 && !work && WaitForSingleObject(run.pi.hProcess, 0) == WAIT_TIMEOUT; ++i) {
                if (DWORD pid = FindRelaunchedCopy(run.pi.dwProcessId)) work = OpenProcess(SYNCHRONIZE, FALSE, pid);
                if (!work) Sleep(5);
            }
            start = Clock::now();
            if (work) {
                WaitForSingleObject(work, 180000);
                CloseHandle(work);
            }
        }
        int code = run.Wait(180000);
        if (workMs) *workMs = Millis(start);
        if (c == Command::Uninstall) WaitForUninstallRemains();
        return code;
    }

    // Starts the command and kills its working process afterMs after that
    // process was seen. False when the process was gone before the kill.
    bool RunAndKill(Command c, int afterMs)
    {
        Started run(CommandLine(c));
        if (!run.ok) return false;
        HANDLE work = nullptr;
        if (c == Command::Install) {
            DuplicateHandle(GetCurrentProcess(), run.pi.hProcess, GetCurrentProcess(), &work, 0, FALSE,
                            DUPLICATE_SAME_ACCESS);
        } else {
            for (int i = 0; i < 6000 && !work && WaitForSingleObject(run.pi.hProcess, 0) == WAIT_TIMEOUT; ++i) {
                if (DWORD pid = FindRelaunchedCopy(run.pi.dwProcessId))
                    work = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
                if (!work) Sleep(5);
            }
        }
        if (!work) {
            run.Wait(180000);
            return false;
        }
        bool killed = WaitForSingleObject(work, static_cast<DWORD>(afterMs)) == WAIT_TIMEOUT &&
                      TerminateProcess(work, 1);
        WaitForSingleObject(work, 30000);
        const DWORD workId = GetProcessId(work);
        const ULONGLONG workCreated = CreationTime(work);
        run.Wait(180000);
        if (killed) {
            // What it started gets a moment to end by itself first.
            Sleep(2000);
            std::vector<HANDLE> started = OpenDescendants(workId, workCreated);
            EndProcesses(started);
        }
        CloseHandle(work);
        return killed;
    }

    Product product;
    std::wstring installer;
    const char* road;
};

}  // namespace robot_test
