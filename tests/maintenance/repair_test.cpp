// The repair dialog and its sequence.
#include <gtest/gtest.h>

#include <string>

#include "base/setup_context.h"
#include "common/test_support.h"
#include "expected_texts.h"
#include "maint_fixture.h"
#include "maintenance/repair_dialog.h"
#include "maintenance/uninstall_dialog.h"
#include "resources/resource.h"

namespace {

std::wstring HelperExe(const wchar_t* name) { return BuildDir() + L"\\tests\\maintenance\\" + name; }

int g_exitCode = -1;
int g_exitCalls = 0;
void RecordExit(int code)
{
    g_exitCode = code;
    ++g_exitCalls;
}

struct SeenPrompt {
    HWND owner = nullptr;
    std::wstring text, caption, buttonAtThatTime;
    UINT type = 0;
    int count = 0;
};

int RecordPrompt(const PromptRequest& request, void* user)
{
    auto* seen = static_cast<SeenPrompt*>(user);
    ++seen->count;
    seen->owner = request.owner;
    seen->text = request.text;
    seen->caption = request.caption;
    seen->type = request.type;
    seen->buttonAtThatTime = WindowText(GetDlgItem(request.owner, IDOK));
    return IDOK;
}

class WatchedRepair : public CZD_Repair {
public:
    HWND seenWindow = nullptr;

protected:
    BOOL OnInitDialog() override
    {
        seenWindow = m_hWnd;
        return CZD_Repair::OnInitDialog();
    }
};

void LoadProduct(const std::wstring& guid, const std::wstring& display, const std::wstring& ime,
                 const std::wstring& install, const std::wstring& data, const std::wstring& payload)
{
    std::memset(&g_setup, 0, sizeof g_setup);
    wcsncpy(g_setup.name, guid.c_str(), kNameChars - 1);
    wcsncpy(DisplayName(g_setup), display.c_str(), kDisplayNameChars - 1);
    wcsncpy(ImeName(g_setup), ime.c_str(), kImeNameChars - 1);
    wcsncpy(LanguageName(g_setup), L"Zt layout", kLanguageNameChars - 1);
    GUID g{};
    IIDFromString(guid.c_str(), &g);
    SetTextServiceGuid(g_setup, g);
    SetLangId(g_setup, 0x0480);
    wcsncpy(g_setup.installFolder, install.c_str(), kPathChars - 1);
    wcsncpy(g_setup.dataFolder, data.c_str(), kPathChars - 1);
    wcsncpy(g_setup.payloadFolder, payload.c_str(), kPathChars - 1);
}

}  // namespace

TEST(RepairDialog, MissingBackupTellsTheUserAndEndsWithExitCodeOne)
{
    ScratchFolder install(L"nobackup");
    LoadProduct(NewGuidText(), L"Zt Repair", L"ztrep", install.Path() + L"\\", L"", L"");
    SeenPrompt seen;
    SetPromptResponder(&RecordPrompt, &seen);
    SetRepairExitFunction(&RecordExit);
    g_exitCode = -1;
    g_exitCalls = 0;

    WatchedRepair dialog;
    dialog.DoModal();

    SetPromptResponder(nullptr, nullptr);
    SetRepairExitFunction(nullptr);
    EXPECT_EQ(seen.count, 1);
    EXPECT_EQ(seen.text, expect::kMissingBackupText);
    EXPECT_EQ(seen.caption, expect::kMissingBackupCaption);
    EXPECT_EQ(seen.type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
    EXPECT_NE(seen.owner, nullptr);
    EXPECT_EQ(seen.owner, dialog.seenWindow) << "the dialog owns the message";
    EXPECT_EQ(seen.buttonAtThatTime, expect::kFinishButton);
    EXPECT_EQ(g_exitCalls, 1);
    EXPECT_EQ(g_exitCode, 1);
}

// The payload lacks its driver: the placement fails, the sequence stops after
// line 2 and the dialog turns to finished.
TEST(RepairDialog, FailedPlacementStopsTheSequence)
{
    ScratchFolder install(L"rinst");
    ScratchFolder payload(L"rpay");
    ASSERT_TRUE(WriteFileText(install / L"_backup_.dat", "archive"));
    LoadProduct(NewGuidText(), L"Zt Repair", L"ztrepf", install.Path() + L"\\", L"", payload.Path());

    std::wstring title, buttonBefore, buttonAfter, log;
    int bar = -1, state = -1;
    WatchedRepair dialog;
    ScriptedDialogs script([&](CDialog& d) {
        if (d.TemplateId() != IDD_REPAIR) return;
        HWND h = d.m_hWnd;
        title = WindowText(h);
        buttonBefore = WindowText(GetDlgItem(h, IDOK));
        SaveWindowShot(h, L"repair_ready");
        ClickButton(h, IDOK);
        buttonAfter = WindowText(GetDlgItem(h, IDOK));
        log = WindowText(GetDlgItem(h, IDC_LOG));
        bar = static_cast<int>(SendDlgItemMessageW(h, IDC_PROGRESS, PBM_GETPOS, 0, 0));
        state = dialog.m_state;
        SaveWindowShot(h, L"repair_failed");
        ClickButton(h, IDOK);
    });
    INT_PTR result = dialog.DoModal();

    EXPECT_EQ(title, std::wstring(L"Zt Repair") + expect::kRepairTitleSuffix);
    EXPECT_EQ(buttonBefore, expect::kRepairButton);
    EXPECT_EQ(log, JoinLog({expect::kRepairStart, expect::kRepairStep1, expect::kRepairStep2, expect::kPlacementErr1,
                            expect::kRepairFailure}));
    EXPECT_EQ(bar, 0);
    EXPECT_EQ(state, 2);
    EXPECT_EQ(buttonAfter, expect::kFinishButton);
    EXPECT_EQ(result, IDOK) << "the finish button closes the dialog";
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

    LoadProduct(product.guid, product.displayName, product.imeName, product.installFolder, product.dataFolder,
                payload.Path());
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
