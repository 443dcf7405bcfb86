// The repair and uninstall sequences and their parts on prepared
// installations (the dialogs that show them are tested with the maintenance
// folder).
#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstring>
#include <string>

#include "base/run_log.h"
#include "base/setup_context.h"
#include "common/test_support.h"
#include "engine/repair_sequence.h"
#include "engine/tool_command.h"
#include "engine/uninstall_sequence.h"
#include "maintenance/expected_texts.h"
#include "maintenance/maint_fixture.h"

namespace {

// Waits until the recorder has written a line; what it wrote.
std::string WaitForRecord(const std::wstring& log, DWORD timeoutMs = 15000)
{
    std::string text;
    for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
        if (ReadFileBytes(log, &text) && !text.empty() && text.back() == '\n') return text;
        Sleep(100);
    }
    return text;
}

// The current folder for the lifetime of the object.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::wstring& folder)
    {
        GetCurrentDirectoryW(MAX_PATH, previous_);
        SetCurrentDirectoryW(folder.c_str());
    }
    ~CurrentFolder() { SetCurrentDirectoryW(previous_); }

private:
    wchar_t previous_[MAX_PATH] = L"";
};

bool ProcessRunning(const wchar_t* exeName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry))
        found = _wcsicmp(entry.szExeFile, exeName) == 0;
    CloseHandle(snapshot);
    return found;
}

std::wstring Joined(const std::vector<std::wstring>& items)
{
    std::wstring s;
    for (const auto& i : items) s += i + L"\n";
    return s;
}

std::string Narrow(const std::wstring& w)
{
    std::string s;
    for (wchar_t c : w) s += static_cast<char>(c < 128 ? c : '?');
    return s;
}

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

void LoadProduct(const FakeProduct& product, const std::wstring& payload)
{
    product.LoadIntoSetup();
    wcsncpy(LanguageName(g_setup), L"Zt layout", kLanguageNameChars - 1);
    SetLangId(g_setup, 0x0480);
    wcsncpy(g_setup.payloadFolder, payload.c_str(), kPathChars - 1);
}

}  // namespace

TEST(UninstallSequence, ProductKeyWithoutInstallLocationRemovesTheRest)
{
    FamilyFolderAside aside;
    FakeProduct product(L"noloc");
    product.Install(/*withInstallLocation=*/false);
    product.LoadIntoSetup();
    {
        ProgressWindows windows;
        EXPECT_TRUE(RunUninstallSequence());
        EXPECT_EQ(windows.BarPosition(), 100);
        EXPECT_NE(windows.LogText().find(expect::kUninstallStep8.text), std::wstring::npos);
    }
    // Nothing names the install folder, so it stays; everything else goes.
    EXPECT_TRUE(FileExists(product.installFolder + L"config.exe"));
    std::vector<std::wstring> left = product.PresentTraces();
    ASSERT_EQ(left.size(), 1u) << Narrow(Joined(left));
    EXPECT_EQ(left[0].find(L"install folder"), 0u);
    product.Erase();
}

TEST(UninstallSequence, EmptyFamilyFolderAbsentStillRunsTheFamilyCleanUp)
{
    FamilyFolderAside aside;
    DeleteTree(FamilyFolder());
    EXPECT_TRUE(IsEngineFamilyFolderEmpty());

    CreateDirectoryW(FamilyFolder().c_str(), nullptr);
    EXPECT_TRUE(IsEngineFamilyFolderEmpty());
    WriteFileText(FamilyFolder() + L"\\stray.txt", "x");
    EXPECT_FALSE(IsEngineFamilyFolderEmpty()) << "a file counts as data";
    DeleteFileW((FamilyFolder() + L"\\stray.txt").c_str());
    CreateDirectoryW((FamilyFolder() + L"\\other").c_str(), nullptr);
    EXPECT_FALSE(IsEngineFamilyFolderEmpty());
    DeleteTree(FamilyFolder());
}

// --- the companion tool's uninstall command ---

TEST(ToolUninstallCommand, IsExpandedAndSplitAtTheFirstBlankSlash)
{
    wchar_t file[MAX_PATH], params[MAX_PATH];
    struct Case {
        const wchar_t* command;
        bool started;
        const wchar_t* file;
        const wchar_t* params;
    } cases[] = {
        {L"{appPath}\\tools\\varekinputtool.exe /do=unstall", true, L"C:\\Apps\\Ime\\tools\\varekinputtool.exe",
         L"/do=unstall"},
        {L"{appPath}\\a.exe /x {appPath}\\b /y", true, L"C:\\Apps\\Ime\\a.exe", L"/x C:\\Apps\\Ime\\b /y"},
        {L"{appPath}\\tools\\tool.exe", true, L"C:\\Apps\\Ime\\tools\\tool.exe", L""},
        {L" /do=unstall", true, L" /do=unstall", L""},
        {L"{APPPATH}\\t.exe /q", true, L"{APPPATH}\\t.exe", L"/q"},
        {L"", false, L"", L""},
    };
    for (const Case& c : cases) {
        bool started = SplitToolUninstallCommand(c.command, L"C:\\Apps\\Ime\\", file, MAX_PATH, params, MAX_PATH);
        EXPECT_EQ(started, c.started) << Narrow(c.command);
        EXPECT_STREQ(file, c.file) << Narrow(c.command);
        EXPECT_STREQ(params, c.params) << Narrow(c.command);
    }
}

// The tool runs in the install folder and is waited for: what it writes is
// there when the call returns.
TEST(ToolUninstallCommand, RunsTheProgramOfTheInstallFolderToItsEnd)
{
    ScratchFolder install(L"tool");
    CreateDirectoryW((install / L"tools").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(HelperExe(L"maint_recorder.exe").c_str(), (install / L"tools\\rec.exe").c_str(), FALSE));
    std::memset(&g_setup, 0, sizeof g_setup);
    wcsncpy(g_setup.installFolder, (install.Path() + L"\\").c_str(), kPathChars - 1);
    // Started from elsewhere, as the uninstall entry may be.
    ScratchFolder elsewhere(L"cwd");
    ASSERT_TRUE(CopyFileW(HelperExe(L"maint_recorder.exe").c_str(), (elsewhere / L"rec.exe").c_str(), FALSE));
    CurrentFolder here(elsewhere.Path());

    struct Case {
        const wchar_t* command;
        const char* arguments;  // what the record ends with
    } cases[] = {
        {L"{appPath}\\tools\\rec.exe /do=unstall /quiet", "rec.exe\" /do=unstall /quiet\n"},
        {L"{appPath}\\tools\\rec.exe", "rec.exe\"\n"},
        {L"tools\\rec.exe /do=unstall", "rec.exe\" /do=unstall\n"},
        {L"tools\\..\\tools\\REC.EXE /x", "\" /x\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.command));
        RecorderLog recorder(700);
        SetToolCommand(c.command);
        RunToolUninstallCommand();
        std::string record;
        ReadFileBytes(recorder.Path(), &record);
        ASSERT_GE(record.size(), strlen(c.arguments)) << "not waited for: " << record;
        EXPECT_EQ(record.substr(record.size() - strlen(c.arguments)), c.arguments);
        EXPECT_NE(Lower(record).find(Lower(Narrow(install.Path())) + "\\tools\\rec.exe"), std::string::npos) << record;
        EXPECT_EQ(Lower(recorder.WorkingFolder()), Lower(Narrow(install.Path()))) << "works in the install folder";
    }
}

// Nothing but an existing program below the install folder is started: not
// a program beside the setup, not one reached by climbing out, not a folder.
TEST(ToolUninstallCommand, CommandsNamingAnythingElseStartNothing)
{
    ScratchFolder install(L"tool");
    ScratchFolder outside(L"out");
    CreateDirectoryW((install / L"tools").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(HelperExe(L"maint_recorder.exe").c_str(), (outside / L"rec.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(HelperExe(L"maint_recorder.exe").c_str(), (install / L"tools\\rec.dat").c_str(), FALSE));
    std::memset(&g_setup, 0, sizeof g_setup);
    wcsncpy(g_setup.installFolder, (install.Path() + L"\\").c_str(), kPathChars - 1);
    CurrentFolder here(outside.Path());
    const std::wstring outsideName = outside.Path().substr(outside.Path().rfind(L'\\') + 1);

    const std::wstring commands[] = {
        outside / L"rec.exe",                              // a full path elsewhere
        L"rec.exe /do=unstall",                            // only in the current folder
        L"..\\" + outsideName + L"\\rec.exe /do=unstall",  // climbing out
        L"{appPath}\\tools\\rec.dat",                      // no program
        L"{appPath}\\tools /do=unstall",                    // a folder
        L"{appPath}\\tools\\missing.exe",
    };
    RecorderLog recorder;
    for (const std::wstring& command : commands) {
        SetToolCommand(command);
        RunToolUninstallCommand();
    }
    EXPECT_EQ(WaitForRecord(recorder.Path(), 1500), "") << "nothing may start";

    wchar_t resolved[MAX_PATH];
    EXPECT_FALSE(ResolveToolProgram((outside / L"rec.exe").c_str(), g_setup.installFolder, resolved));
    EXPECT_STREQ(resolved, L"");
}

// A tool that does not end is waited for within the bound, then ended, and
// the log says so.
TEST(ToolUninstallCommand, AToolThatDoesNotEndIsEndedAfterTheBound)
{
    ScratchFolder install(L"tool");
    ScratchFolder logs(L"log");
    ASSERT_TRUE(CopyFileW(HelperExe(L"maint_recorder.exe").c_str(), (install / L"zt_slow_tool.exe").c_str(), FALSE));
    std::memset(&g_setup, 0, sizeof g_setup);
    wcsncpy(g_setup.installFolder, (install.Path() + L"\\").c_str(), kPathChars - 1);
    SetToolCommand(L"zt_slow_tool.exe /do=unstall");
    const std::wstring logPath = logs / L"run.log";
    OpenRunLog(logPath.c_str());

    RecorderLog recorder(30000);
    DWORD start = GetTickCount();
    RunToolUninstallCommand(800);
    DWORD took = GetTickCount() - start;
    CloseRunLog();

    EXPECT_GE(took, 700u);
    EXPECT_LT(took, 10000u);
    EXPECT_FALSE(ProcessRunning(L"zt_slow_tool.exe")) << "the tool must not keep its folder";
    EXPECT_EQ(WaitForRecord(recorder.Path(), 500), "");
    std::string log;
    ReadFileBytes(logPath, &log);
    EXPECT_NE(log.find("did not end within"), std::string::npos) << log;
    EXPECT_NE(log.find("zt_slow_tool.exe"), std::string::npos) << log;
}

// --- damaged registry values ---

TEST(RemoveProductFiles, RefusesFoldersThatHoldFarMoreThanTheProduct)
{
    FamilyFolderAside aside;
    FakeProduct product(L"bad");
    FakeProduct neighbour(L"nb");
    product.Install();
    neighbour.Install();

    wchar_t desktop[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, CSIDL_COMMON_DESKTOPDIRECTORY | CSIDL_FLAG_CREATE, nullptr, 0, desktop);
    std::wstring canary = std::wstring(desktop) + L"\\zt_maint_canary.txt";
    ASSERT_TRUE(WriteFileText(canary, "keep me"));

    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, product.ProductKey().c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    std::wstring install = desktop;  // no trailing backslash: the reader adds it
    std::wstring data = FamilyFolder() + L"\\";
    RegSetValueExW(key, L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(install.c_str()),
                   static_cast<DWORD>((install.size() + 1) * 2));
    RegSetValueExW(key, L"DataLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * 2));
    RegCloseKey(key);

    RemoveProductFiles(product.guid.c_str());

    EXPECT_TRUE(FileExists(canary)) << "the desktop folder must survive";
    EXPECT_TRUE(FileExists(neighbour.dataFolder + L"config.dsc")) << "the family folder must survive";
    // The step goes on past the refused folders.
    EXPECT_FALSE(FileExists(product.SystemDriver()));
    EXPECT_FALSE(FileExists(product.Wow64Driver()));

    DeleteFileW(canary.c_str());
    product.Erase();
    neighbour.Erase();
}

// The record names what goes; an installation by an earlier setup, without
// one, loses only the files every installation places and its payload's names.
TEST(RemoveProductFiles, RemovesWhatTheRecordNamesAndKeepsTheRest)
{
    ScratchFolder earlierPayload(L"opay");
    CreateDirectoryW((earlierPayload / L"tools").c_str(), nullptr);
    ASSERT_TRUE(WriteFileText(earlierPayload / L"tools\\varekinputtool.exe", "program"));
    const struct {
        bool recorded, payload;
    } cases[] = {{true, false}, {false, false}, {false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.recorded ? "with" : "without") + " a record, " + (c.payload ? "with" : "without") +
                     " a payload");
        FakeProduct product(L"rec");
        product.Install();
        if (!c.recorded) DeleteRegistryKey(HKEY_LOCAL_MACHINE, product.ProductKey() + L"\\Placed");
        const std::wstring& folder = product.installFolder;
        ASSERT_TRUE(WriteFileText(folder + L"tools\\mine.txt", "a person's file"));
        wcsncpy(g_setup.payloadFolder, c.payload ? earlierPayload.Path().c_str() : L"", kPathChars - 1);

        RemoveProductFiles(product.guid.c_str());
        for (const wchar_t* gone : {L"config.exe", L"main.chm", L"_backup_.dat"}) EXPECT_FALSE(FileExists(folder + gone));
        EXPECT_EQ(!c.recorded && !c.payload, FileExists(folder + L"tools\\varekinputtool.exe"));
        // The setup the entry runs goes last, with the keys; nobody else's file goes.
        EXPECT_TRUE(FileExists(folder + L"installer.exe") && FileExists(folder + L"tools\\mine.txt"));
        EXPECT_FALSE(DirExists(product.dataFolder) || FileExists(product.SystemDriver()));
        product.Erase();
    }
    g_setup.payloadFolder[0] = L'\0';
}

// The start-up entry goes while it names the product's tool, and only then.
TEST(NewsAutostart, GoesOnlyWhileItNamesTheToolOfTheInstallFolder)
{
    const wchar_t kRun[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\run";
    ASSERT_EQ(ERROR_SUCCESS, WriteNewsAutostart(L"C:\\Zt News\\"));
    RemoveNewsAutostart(L"C:\\Zt News Other\\");
    EXPECT_NE(L"", RegString(HKEY_LOCAL_MACHINE, kRun, L"VarekNews"));
    RemoveNewsAutostart(L"c:\\zt news\\");
    EXPECT_EQ(L"", RegString(HKEY_LOCAL_MACHINE, kRun, L"VarekNews"));
}

TEST(RemoveProductFiles, DriverNameWithAFolderPartDeletesNothingOutsideTheSystemFolders)
{
    FakeProduct product(L"drv");
    product.Install();
    // An IME name that climbs out of the system folder to a file at the root.
    wchar_t leaf[40];
    swprintf(leaf, 40, L"zt_victim_%lx", GetCurrentProcessId());
    std::wstring victim = std::wstring(L"C:\\") + leaf + L".ime";
    ASSERT_TRUE(WriteFileText(victim, "x"));
    std::wstring name = std::wstring(L"..\\..\\") + leaf;
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_TRUE(FileExists(std::wstring(system) + L"\\" + name + L".ime")) << "the crafted name must reach the victim";
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, product.ProductKey().c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    RegSetValueExW(key, L"IMEName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                   static_cast<DWORD>((name.size() + 1) * 2));
    RegCloseKey(key);

    RemoveProductFiles(product.guid.c_str());
    EXPECT_TRUE(FileExists(victim));
    EXPECT_FALSE(DirExists(product.dataFolder)) << "the data folder still goes";
    // The install folder goes later, with the product's keys.
    EXPECT_TRUE(DirExists(product.installFolder));
    DeleteFileW(victim.c_str());
    product.Erase();
}

TEST(RemoveProductShortcuts, GroupNameThatClimbsOutOfProgramsIsNotRemoved)
{
    std::wstring startMenu = CommonPrograms().substr(0, CommonPrograms().rfind(L'\\'));
    std::wstring canary = startMenu + L"\\zt_maint_canary.txt";
    ASSERT_TRUE(WriteFileText(canary, "keep me"));
    RemoveProductShortcuts(L"..");
    EXPECT_TRUE(FileExists(canary));
    EXPECT_TRUE(DirExists(CommonPrograms()));
    DeleteFileW(canary.c_str());

    // Empty display name: nothing at all is touched.
    std::wstring programsCanary = CommonPrograms() + L"\\zt_maint_canary.txt";
    ASSERT_TRUE(WriteFileText(programsCanary, "keep me"));
    RemoveProductShortcuts(L"");
    EXPECT_TRUE(FileExists(programsCanary));
    DeleteFileW(programsCanary.c_str());
}

// A payload with both drivers and a program file: everything is put back,
// registered and the shortcut group is made again.
TEST(RepairSequence, PutsTheInstallationBack)
{
    FamilyFolderAside aside;
    FakeProduct product(L"rep");
    product.Install();
    // The damage a repair mends: files and the group gone.
    DeleteFileW(product.SystemDriver().c_str());
    DeleteFileW((product.installFolder + L"config.exe").c_str());
    DeleteTree(product.groupFolder.substr(0, product.groupFolder.size() - 1));

    ScratchFolder payload(L"rpay");
    std::wstring fakeDriver = HelperExe(L"maint_fake_ime.dll");
    CreateDirectoryW((payload / L"x86").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(fakeDriver.c_str(), (payload / L"zerdaIME.ime").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(fakeDriver.c_str(), (payload / L"x86\\zerdaIME.ime").c_str(), FALSE));
    ASSERT_TRUE(WriteFileText(payload / L"config.exe", "program"));

    LoadProduct(product, payload.Path());
    SetEngineFlags(g_setup, 0x20000000 | 0x1000 | 0x800);
    SetImeOptionWord(g_setup, 0x1000);

    bool ok;
    std::wstring log;
    int bar;
    {
        ProgressWindows windows;
        ok = RunRepairSequence();
        log = windows.LogText();
        bar = windows.BarPosition();
    }
    EXPECT_TRUE(ok);
    EXPECT_EQ(log, JoinLog({expect::kRepairStart, expect::kRepairStep1, expect::kRepairStep2, expect::kRepairStep3,
                            expect::kRepairStep4, expect::kRepairStep5, expect::kRepairStep6}));
    EXPECT_EQ(bar, 100);
    EXPECT_TRUE(FileExists(product.SystemDriver()));
    EXPECT_TRUE(FileExists(product.installFolder + L"config.exe"));
    EXPECT_TRUE(DirExists(product.groupFolder));
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, product.ProductKey(), L"InstallLocation"), product.installFolder);

    // Clean up through the uninstaller, which also drops the registration.
    {
        ProgressWindows windows;
        RunUninstallSequence();
    }
    product.Erase();
}

// A thread already in the multi-threaded apartment cannot enter a
// single-threaded one: both sequences stop at once with the COM line.
TEST(MaintenanceSequences, ComThatCannotStartStopsBothBeforeAnyChange)
{
    FakeProduct product(L"com");
    product.Install();
    product.LoadIntoSetup();
    struct Outcome {
        bool repaired = true, uninstalled = true;
        std::wstring repairLog, uninstallLog;
        int repairBar = -1, uninstallBar = -1;
    } out;
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD {
            auto* o = static_cast<Outcome*>(p);
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            {
                ProgressWindows windows;
                o->repaired = RunRepairSequence();
                o->repairLog = windows.LogText();
                o->repairBar = windows.BarPosition();
            }
            {
                ProgressWindows windows;
                o->uninstalled = RunUninstallSequence();
                o->uninstallLog = windows.LogText();
                o->uninstallBar = windows.BarPosition();
            }
            CoUninitialize();
            return 0;
        },
        &out, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, 60000);
    CloseHandle(thread);

    EXPECT_FALSE(out.repaired);
    EXPECT_EQ(out.repairLog, JoinLog({expect::kRepairStart, expect::kComFailure}));
    EXPECT_EQ(out.repairBar, 0);
    EXPECT_FALSE(out.uninstalled);
    EXPECT_EQ(out.uninstallLog, JoinLog({expect::kUninstallStart, expect::kUninstallComFailure}));
    EXPECT_EQ(out.uninstallBar, 0);
    EXPECT_EQ(product.MissingTraces().size(), 0u) << "nothing may be removed";
    product.Erase();
}
