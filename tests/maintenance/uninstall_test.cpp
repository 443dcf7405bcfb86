// The uninstall dialog and its sequence on prepared installations.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>

#include "base/setup_context.h"
#include "common/test_support.h"
#include "expected_texts.h"
#include "maint_fixture.h"
#include "maintenance/uninstall_dialog.h"
#include "resources/resource.h"

namespace {

std::wstring HelperExe(const wchar_t* name) { return BuildDir() + L"\\tests\\maintenance\\" + name; }

void SetToolCommand(const std::wstring& command)
{
    wcsncpy(ToolUninstallCommand(g_setup), command.c_str(), kToolCommandChars - 1);
}

// Waits until the recorder has written a line (the shell starts it on its own).
std::string WaitForRecord(const std::wstring& log, DWORD timeoutMs = 15000)
{
    std::string text;
    for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
        if (ReadFileBytes(log, &text) && !text.empty() && text.back() == '\n') return text;
        Sleep(100);
    }
    return text;
}

class RecorderLog {
public:
    RecorderLog() : path_(folder_ / L"calls.log") { SetEnvironmentVariableW(L"ZT_MAINT_RECORDER_LOG", path_.c_str()); }
    ~RecorderLog() { SetEnvironmentVariableW(L"ZT_MAINT_RECORDER_LOG", nullptr); }
    const std::wstring& Path() const { return path_; }

private:
    ScratchFolder folder_{L"rec"};
    std::wstring path_;
};

struct DialogOutcome {
    std::wstring titleBefore, buttonBefore;
    std::wstring buttonAfter, log;
    int state = -1;
    int bar = -1;
    bool barVisible = true;
    INT_PTR result = 0;
};

// Runs the uninstall dialog, presses the uninstall button once, reads what it
// shows, then presses the finish button.
DialogOutcome RunUninstallDialog(const wchar_t* shotName = nullptr)
{
    DialogOutcome out;
    CCZD_Uninstall dialog;
    dialog.m_hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_UNINSTALL));
    ScriptedDialogs script([&](CDialog& d) {
        if (d.TemplateId() != IDD_UNINSTALL) return;
        HWND h = d.m_hWnd;
        out.titleBefore = WindowText(h);
        out.buttonBefore = WindowText(GetDlgItem(h, IDOK));
        if (shotName) SaveWindowShot(h, (std::wstring(shotName) + L"_ready").c_str());
        ClickButton(h, IDOK);
        out.buttonAfter = WindowText(GetDlgItem(h, IDOK));
        out.log = WindowText(GetDlgItem(h, IDC_LOG));
        out.bar = static_cast<int>(SendDlgItemMessageW(h, IDC_PROGRESS, PBM_GETPOS, 0, 0));
        out.barVisible = IsWindowVisible(GetDlgItem(h, IDC_PROGRESS)) != 0;
        out.state = dialog.m_state;
        if (shotName) SaveWindowShot(h, (std::wstring(shotName) + L"_finished").c_str());
        ClickButton(h, IDOK);
    });
    SetMainWindow(&dialog);
    out.result = dialog.DoModal();
    SetMainWindow(nullptr);
    return out;
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

}  // namespace

// A lone product: every trace goes, the family keys go with it, and an
// unrelated product without data keeps its folders, entry and class keys.
TEST(UninstallDialog, RemovesTheWholeProductAndTheFamilyWhenItWasTheLast)
{
    FamilyFolderAside aside;
    FakeProduct product(L"solo");
    FakeProduct bystander(L"by");
    product.Install();
    bystander.Install();
    DeleteTree(bystander.dataFolder.substr(0, bystander.dataFolder.size() - 1));
    ASSERT_EQ(Joined(product.MissingTraces()), L"") << "preparation failed";

    RecorderLog recorder;
    product.LoadIntoSetup();
    SetToolCommand(HelperExe(L"maint_recorder.exe") + L" /do=unstall");

    DialogOutcome out = RunUninstallDialog(L"uninstall");

    EXPECT_EQ(out.titleBefore, product.displayName + expect::kUninstallTitleSuffix);
    EXPECT_EQ(out.buttonBefore, expect::kUninstallButton);
    EXPECT_EQ(out.buttonAfter, expect::kFinishButton);
    EXPECT_EQ(out.state, 2);
    EXPECT_FALSE(out.barVisible);
    EXPECT_EQ(out.bar, 100);
    EXPECT_EQ(out.result, IDOK) << "the finish button closes the dialog";
    EXPECT_EQ(out.log, JoinLog({expect::kUninstallStart, expect::kUninstallStep1, expect::kUninstallStep2,
                                expect::kUninstallStep3, expect::kUninstallStep4, expect::kUninstallStep5,
                                expect::kUninstallFamily, expect::kUninstallStep7, expect::kUninstallStep8}));

    EXPECT_EQ(Joined(product.PresentTraces()), L"");
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZerdaIME3"));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\ZerdaIME3"));

    // The bystander had no data, so its product keys went with the family;
    // nothing else of it may be touched.
    EXPECT_TRUE(DirExists(bystander.installFolder));
    EXPECT_TRUE(FileExists(bystander.SystemDriver()));
    EXPECT_TRUE(FileExists(bystander.Wow64Driver()));
    EXPECT_TRUE(DirExists(bystander.groupFolder));
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, bystander.UninstallKey()));
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\" + bystander.guid));

    std::string record = WaitForRecord(recorder.Path());
    EXPECT_NE(record.find("maint_recorder.exe"), std::string::npos) << record;
    EXPECT_NE(record.find(" /do=unstall\n"), std::string::npos) << record;

    product.Erase();
    bystander.Erase();
}

// Another product keeps data in the family folder: the family keys and that
// product stay whole, while this product's own keys still go.
TEST(UninstallDialog, KeepsTheFamilyWhileAnotherProductKeepsData)
{
    FamilyFolderAside aside;
    FakeProduct product(L"one");
    FakeProduct other(L"two");
    product.Install();
    other.Install();
    ASSERT_EQ(Joined(other.MissingTraces()), L"") << "preparation failed";

    product.LoadIntoSetup();
    DialogOutcome out = RunUninstallDialog();

    EXPECT_EQ(out.log, JoinLog({expect::kUninstallStart, expect::kUninstallStep1, expect::kUninstallStep2,
                                expect::kUninstallStep3, expect::kUninstallStep4, expect::kUninstallStep5,
                                expect::kUninstallStep7, expect::kUninstallStep8}));
    EXPECT_EQ(out.bar, 100);
    EXPECT_EQ(Joined(product.PresentTraces()), L"");
    EXPECT_EQ(Joined(other.MissingTraces()), L"");
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZerdaIME3"));
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\ZerdaIME3"));
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, other.ProductKey(), L"IMEName"), other.imeName);

    product.Erase();
    other.Erase();
}

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

TEST(ToolUninstallCommand, StartsTheToolFromTheInstallFolder)
{
    ScratchFolder install(L"tool");
    CreateDirectoryW((install / L"tools").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(HelperExe(L"maint_recorder.exe").c_str(), (install / L"tools\\rec.exe").c_str(), FALSE));
    std::memset(&g_setup, 0, sizeof g_setup);
    wcsncpy(g_setup.installFolder, (install.Path() + L"\\").c_str(), kPathChars - 1);

    {
        RecorderLog recorder;
        SetToolCommand(L"{appPath}\\tools\\rec.exe /do=unstall /quiet");
        RunToolUninstallCommand();
        std::string record = WaitForRecord(recorder.Path());
        EXPECT_NE(record.find("tools\\rec.exe"), std::string::npos) << record;
        EXPECT_NE(record.find(" /do=unstall /quiet\n"), std::string::npos) << record;
    }
    {
        RecorderLog recorder;
        SetToolCommand(L"{appPath}\\tools\\rec.exe");
        RunToolUninstallCommand();
        std::string record = WaitForRecord(recorder.Path());
        ASSERT_FALSE(record.empty());
        EXPECT_EQ(record.find('/'), std::string::npos) << "no parameters expected: " << record;
    }
    {
        // Relative to the install folder, wherever the uninstaller was started from.
        RecorderLog recorder;
        ScratchFolder elsewhere(L"cwd");
        wchar_t previous[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, previous);
        SetCurrentDirectoryW(elsewhere.Path().c_str());
        SetToolCommand(L"tools\\rec.exe /do=unstall");
        RunToolUninstallCommand();
        SetCurrentDirectoryW(previous);
        std::string record = WaitForRecord(recorder.Path());
        EXPECT_NE(record.find("tools\\rec.exe"), std::string::npos) << record;
        EXPECT_NE(record.find(" /do=unstall\n"), std::string::npos) << record;
    }
    {
        RecorderLog recorder;
        SetToolCommand(L"");
        RunToolUninstallCommand();
        std::string record = WaitForRecord(recorder.Path(), 2000);
        EXPECT_TRUE(record.empty()) << "an empty command starts nothing";
    }
    Sleep(300);  // let the last recorder end before its folder goes
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

// --- the input method still loaded somewhere ---

TEST(UninstallDialog, CancelOnTheProcessListChangesNothing)
{
    FakeProduct product(L"held");
    product.Install();
    product.LoadIntoSetup();

    ScratchFolder holderFolder(L"hold");
    std::wstring driverCopy = holderFolder / (product.imeName + L".ime");
    ASSERT_TRUE(CopyFileW(HelperExe(L"maint_fake_ime.dll").c_str(), driverCopy.c_str(), FALSE));
    std::wstring ready = holderFolder / L"ready";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring command = L"\"" + HelperExe(L"maint_holder.exe") + L"\" \"" + driverCopy + L"\" \"" + ready + L"\"";
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    for (int i = 0; i < 100 && !FileExists(ready); ++i) Sleep(100);
    ASSERT_TRUE(FileExists(ready)) << "holder did not load the driver";

    int listRows = -1;
    std::wstring buttonAfterCancel, logAfterCancel;
    int stateAfterCancel = -1;
    bool barVisible = true;
    CCZD_Uninstall dialog;
    ScriptedDialogs script([&](CDialog& d) {
        HWND h = d.m_hWnd;
        if (d.TemplateId() == IDD_IME_LOAD_STATUS) {
            listRows = static_cast<int>(SendDlgItemMessageW(h, IDC_PROCESS_LIST, LVM_GETITEMCOUNT, 0, 0));
            SaveWindowShot(h, L"uninstall_process_list");
            ClickButton(h, IDCANCEL);
            return;
        }
        ClickButton(h, IDOK);
        buttonAfterCancel = WindowText(GetDlgItem(h, IDOK));
        logAfterCancel = WindowText(GetDlgItem(h, IDC_LOG));
        stateAfterCancel = dialog.m_state;
        barVisible = IsWindowVisible(GetDlgItem(h, IDC_PROGRESS)) != 0;
        ClickButton(h, IDCANCEL);
    });
    INT_PTR result = dialog.DoModal();

    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 5000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(listRows, 1) << "the holder is listed";
    EXPECT_EQ(buttonAfterCancel, expect::kUninstallButton) << "the dialog stays ready";
    EXPECT_EQ(stateAfterCancel, 0);
    EXPECT_EQ(logAfterCancel, L"");
    EXPECT_FALSE(barVisible);
    EXPECT_EQ(Joined(product.MissingTraces()), L"") << "nothing may be removed";
    product.Erase();
}
