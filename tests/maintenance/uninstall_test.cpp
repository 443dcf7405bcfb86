// The uninstall dialog on prepared installations: it shows its sequence at
// work while staying open to messages.
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

struct DialogOutcome {
    std::wstring titleBefore, buttonBefore;
    std::wstring buttonAfter, log;
    int state = -1;
    int bar = -1;
    bool barVisible = true;
    INT_PTR result = 0;
    // Right after the press: the sequence runs, the button waits, closing is refused.
    int stateWhileRunning = -1;
    bool buttonEnabledWhileRunning = true, closedWhileRunning = true, finished = false;
};

// Runs the uninstall dialog, presses the uninstall button once, tries to
// close it while the sequence runs, reads what it shows at the end, then
// presses the finish button.
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
        out.stateWhileRunning = dialog.m_state;
        out.buttonEnabledWhileRunning = IsWindowEnabled(GetDlgItem(h, IDOK)) != FALSE;
        ClickButton(h, IDCANCEL);
        SendMessageW(h, WM_CLOSE, 0, 0);
        out.closedWhileRunning = !IsWindow(h) || dialog.m_state != 1 || !dialog.m_busy;
        out.finished = PumpUntilButton(h, expect::kFinishButton);
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

    // The tool of the install folder, taking a moment as a real one would.
    ASSERT_TRUE(CopyFileW(HelperExe(L"maint_recorder.exe").c_str(),
                          (product.installFolder + L"tools\\varekinputtool.exe").c_str(), FALSE));
    RecorderLog recorder(1000);
    product.LoadIntoSetup();
    SetToolCommand(L"{appPath}\\tools\\varekinputtool.exe /do=unstall");

    DialogOutcome out = RunUninstallDialog(L"uninstall");

    EXPECT_EQ(out.stateWhileRunning, 1);
    EXPECT_FALSE(out.buttonEnabledWhileRunning) << "one press only";
    EXPECT_FALSE(out.closedWhileRunning) << "the dialog cannot be closed while the sequence runs";
    ASSERT_TRUE(out.finished);

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

    std::string record;
    ReadFileBytes(recorder.Path(), &record);
    EXPECT_NE(record.find("varekinputtool.exe\" /do=unstall\n"), std::string::npos) << "ended before its folder went";

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
