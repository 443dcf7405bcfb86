// The setup run as a new user would run it, with files planted in the places
// such a user (and every program the user runs) can write: DLLs beside the
// downloaded setup, a command interpreter named by "COMSPEC". Windows' DLL
// search order is reproduced by asking Wine for the native DLL first. None of
// the planted files may run, and the setup must still work; what it keeps in
// its work folder (the unpacked payload, the repair copy) and its own file
// must be closed to others; a log asked for through a link is not written.
// That no DLL is looked up beside the program at load time at all is the
// image test's part: the import table names known DLLs only.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <shlobj.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/messages.h"
#include "common/test_support.h"

namespace {

const wchar_t kLicenceSuffix[] = L" - ئىشلىتىش كېلىشىمى";
const wchar_t kWizardSuffix[] = L" قاچىلاش يېتەكچىسى";
const wchar_t kProduct[] = L"{3E9A1C57-2B64-4D8F-A0C3-5F7E9B1D2A46}";

std::wstring Planted() { return BuildDir() + L"\\tests\\robot\\planted.dll"; }
std::wstring PlantedProgram() { return BuildDir() + L"\\tests\\robot\\planted_program.exe"; }
// Loaded at all, and called from the program itself (see planted.c).
bool Ran(const std::wstring& planted) { return FileExists(planted + L".ran"); }
bool Used(const std::wstring& planted) { return FileExists(planted + L".used"); }

// Windows' search order for the named DLLs, for programs of that file name,
// while the object lives: Wine then looks in the program's folder before its
// own DLLs. (WINEDLLOVERRIDES would do it too, but Wine reads it from the Unix
// environment, which a Windows parent does not hand on.)
class NativeFirst {
public:
    NativeFirst(const std::wstring& program, std::initializer_list<const wchar_t*> dlls)
        : key_(L"Software\\Wine\\AppDefaults\\" + program + L"\\DllOverrides")
    {
        HKEY k;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr))
            return;
        static const wchar_t kOrder[] = L"native,builtin";
        for (const wchar_t* dll : dlls)
            RegSetValueExW(k, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(kOrder), sizeof kOrder);
        RegCloseKey(k);
    }
    ~NativeFirst() { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }

private:
    std::wstring key_;
};

struct Process {
    PROCESS_INFORMATION pi{};
    bool Start(const std::wstring& commandLine, const std::wstring& folder)
    {
        STARTUPINFOW si{};
        si.cb = sizeof si;
        std::wstring cmd = commandLine;
        return CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi) != 0;
    }
    bool WaitEnd(DWORD ms) { return WaitForSingleObject(pi.hProcess, ms) == WAIT_OBJECT_0; }
    ~Process()
    {
        if (!pi.hProcess) return;
        if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 9);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
};

// A visible top-level window whose caption ends with the text.
HWND WaitForWindowEndingWith(const std::wstring& suffix, DWORD timeoutMs)
{
    struct Search {
        const std::wstring* suffix;
        HWND found;
    };
    for (DWORD waited = 0; waited < timeoutMs; waited += 200) {
        Search search{&suffix, nullptr};
        EnumWindows(
            [](HWND hwnd, LPARAM p) -> BOOL {
                auto* s = reinterpret_cast<Search*>(p);
                wchar_t text[512] = L"";
                GetWindowTextW(hwnd, text, 512);
                std::wstring caption = text;
                if (IsWindowVisible(hwnd) && caption.size() >= s->suffix->size() &&
                    caption.compare(caption.size() - s->suffix->size(), s->suffix->size(), *s->suffix) == 0) {
                    s->found = hwnd;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        Sleep(200);
    }
    return nullptr;
}

bool IsSid(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof buffer;
    return CreateWellKnownSid(type, nullptr, buffer, &size) && EqualSid(sid, buffer);
}

// What the access list of the path grants to anyone but SYSTEM, the
// Administrators and the owner (the elevated setup, or, under Wine, whose
// Unix owner the file has), one line per entry; "unreadable" when it cannot
// be read. grantsSystem tells whether SYSTEM has an entry at all.
std::vector<std::wstring> GrantsToOthers(const std::wstring& path, bool* grantsSystem)
{
    *grantsSystem = false;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return {L"unreadable"};
    std::vector<std::wstring> others;
    if (!dacl) others.push_back(L"no access list: everyone has full control");
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)) || header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        PSID sid = &ace->SidStart;
        if (IsSid(sid, WinLocalSystemSid)) *grantsSystem = true;
        if (IsSid(sid, WinLocalSystemSid) || IsSid(sid, WinBuiltinAdministratorsSid) || (owner && EqualSid(sid, owner)))
            continue;
        if (!(ace->Mask & (FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE | GENERIC_ALL)))
            continue;
        wchar_t name[256] = L"?", domain[256] = L"";
        DWORD nameChars = 256, domainChars = 256;
        SID_NAME_USE use;
        LookupAccountSidW(nullptr, sid, name, &nameChars, domain, &domainChars, &use);
        wchar_t mask[16];
        wsprintfW(mask, L"%08lx", ace->Mask);
        others.push_back(std::wstring(name) + L" " + mask);
    }
    LocalFree(descriptor);
    return others;
}

std::string Joined(const std::vector<std::wstring>& lines)
{
    std::string all;
    for (const auto& line : lines) all += std::string(line.begin(), line.end()) + "; ";
    return all;
}


}  // namespace

// The newest dated log of an install that had not read its product yet, in the log folder.
std::wstring NewestDatedLog()
{
    const std::wstring folder = CommonFolder(CSIDL_COMMON_APPDATA) + L"ZerdaIME3\\Logs\\";
    std::wstring newest;
    for (const std::wstring& name : Listing(folder))
        if (name.rfind(L"ZerdaIME3_install_", 0) == 0 && name > newest) newest = name;
    return newest.empty() ? newest : folder + newest;
}

TEST(PlantedFiles, DownloadedSetupRunsNoneAndKeepsItsFilesClosed)
{
    ASSERT_TRUE(FileExists(Planted()));
    ASSERT_TRUE(FileExists(PlantedProgram()));
    ScratchFolder downloads(L"downloads"), elsewhere(L"elsewhere");
    const std::wstring setup = downloads / L"ZerdaIME3_Setup.exe";
    ASSERT_TRUE(CopyFileW((BuildDir() + L"\\demo\\variants\\agreement_first\\setup.exe").c_str(), setup.c_str(), FALSE));
    const std::wstring version = downloads / L"version.dll", atl = downloads / L"atl.dll";
    const std::wstring interpreter = downloads / L"cmd.exe";
    ASSERT_TRUE(CopyFileW(Planted().c_str(), version.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(Planted().c_str(), atl.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(PlantedProgram().c_str(), interpreter.c_str(), FALSE));
    // The log asked for in a folder that leads elsewhere.
    UnixLink logs(downloads / L"logs", elsewhere.Path());
    ASSERT_TRUE(logs.Made());
    const std::wstring logPath = downloads / L"logs\\setup.log";
    const std::vector<std::wstring> workBefore = SetupWorkFolders();

    NativeFirst search(L"ZerdaIME3_Setup.exe", {L"version", L"atl"});
    // The user's own "COMSPEC" reaches the setup through its environment.
    const std::wstring systemInterpreter = EnvString(L"COMSPEC");
    SetEnvironmentVariableW(L"COMSPEC", interpreter.c_str());
    Process p;
    const bool started = p.Start(L"\"" + setup + L"\" \"/log=" + logPath + L"\"", downloads.Path());
    SetEnvironmentVariableW(L"COMSPEC", systemInterpreter.c_str());
    ASSERT_TRUE(started);

    // The agreement page hosts the browser through atl.dll.
    HWND page = WaitForWindowEndingWith(kLicenceSuffix, 60000);
    ASSERT_NE(nullptr, page) << "no agreement page";
    EXPECT_NE(nullptr, FindWindowExW(page, nullptr, L"AtlAxWin", nullptr)) << "the page has no browser host";
    EXPECT_FALSE(Ran(atl)) << "atl.dll beside the setup ran";
    ClickButton(page, IDOK);

    HWND wizard = WaitForWindowEndingWith(kWizardSuffix, 60000);
    ASSERT_NE(nullptr, wizard) << "no wizard";
    std::wstring work;
    for (const std::wstring& folder : SetupWorkFolders())
        if (std::find(workBefore.begin(), workBefore.end(), folder) == workBefore.end()) work = folder;
    ASSERT_FALSE(work.empty()) << "no work folder of this run";
    EXPECT_TRUE(FileExists(work + L"\\makedata.zip"));
    bool grantsSystem = false;
    std::vector<std::wstring> others = GrantsToOthers(work, &grantsSystem);
    EXPECT_TRUE(others.empty()) << Joined(others);
    EXPECT_TRUE(grantsSystem);
    // While it runs, neither its own file nor its work folder can be renamed
    // away to put something else in their place.
    EXPECT_FALSE(MoveFileExW(setup.c_str(), (setup + L".away").c_str(), 0));
    EXPECT_FALSE(MoveFileExW(work.c_str(), (work + L".away").c_str(), 0));
    EXPECT_FALSE(DirExists(work + L".away"));

    PostMessageW(wizard, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(p.WaitEnd(30000));
    EXPECT_FALSE(DirExists(work)) << "the work folder stayed after cancel";
    // Wine's own user32 imports version.dll, so under Wine the planted one is
    // loaded whatever the setup does (Windows' user32 is a known DLL without
    // that import); what counts is that the setup never calls into it. The
    // install road asks for the driver's version before the wizard opens.
    EXPECT_FALSE(Used(version)) << "the setup called version.dll beside it";
    EXPECT_FALSE(Ran(interpreter)) << "the interpreter named by COMSPEC ran";
    // Nothing written through the link; the dated log says why.
    EXPECT_TRUE(Listing(elsewhere.Path()).empty());
    std::string dated;
    ASSERT_TRUE(ReadFileBytes(NewestDatedLog(), &dated));
    EXPECT_NE(std::string::npos, dated.find("The log file could not be created")) << dated;
}

TEST(PlantedFiles, RepairCopyInItsWorkFolderIsClosedToOthers)
{
    ScratchFolder install(L"inst");
    ASSERT_TRUE(CopyFileW((BuildDir() + L"\\installer.exe").c_str(), (install / L"installer.exe").c_str(), FALSE));
    const std::wstring key = std::wstring(L"Software\\ZerdaIME3\\") + kProduct;
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &k, nullptr));
    const std::wstring folder = install.Path() + L"\\";
    RegSetValueExW(k, L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * 2));
    RegCloseKey(k);

    Process p;
    ASSERT_TRUE(p.Start(L"\"" + install / L"installer.exe" + L"\" /n " + kProduct + L" /r", install.Path()));
    // The copy runs with "/f"; with no backup beside the installation it stops
    // at the environment message, running from its starter's work folder.
    HWND box = nullptr;
    for (int i = 0; i < 300 && !box; ++i, Sleep(100)) box = FindWindowW(L"#32770", msg::kRepairCaption);
    ASSERT_NE(nullptr, box) << "the copy did not run";
    std::wstring copy;
    for (const std::wstring& work : SetupWorkFolders())
        if (FileExists(work + L"\\installer.exe")) copy = work + L"\\installer.exe";
    ASSERT_FALSE(copy.empty()) << "no copy in a work folder";
    bool grantsSystem = false;
    std::vector<std::wstring> others = GrantsToOthers(copy, &grantsSystem);
    EXPECT_TRUE(others.empty()) << Joined(others);
    EXPECT_TRUE(grantsSystem);
    // Neither overwritten nor swapped while it runs.
    HANDLE writer = CreateFileW(copy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    EXPECT_FALSE(MoveFileExW(copy.c_str(), (copy + L".swapped").c_str(), MOVEFILE_REPLACE_EXISTING));

    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(p.WaitEnd(30000));
    for (int i = 0; i < 100 && FindWindowW(L"#32770", msg::kRepairCaption); ++i) Sleep(100);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
    // The starter deleted the copy once it had ended.
    EXPECT_FALSE(FileExists(copy));
}
