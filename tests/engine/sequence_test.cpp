#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "base/bounded_string.h"
#include "base/setup_context.h"
#include "base/shared_routines.h"
#include "engine/install_sequence.h"
#include "engine_test_support.h"
#include "resources/resource.h"
#include "sequence_fixture.h"

namespace {

std::wstring RegisteredName(const wchar_t* value)
{
    std::wstring text = RegString(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion", value);
    return text.substr(0, 63);
}

}  // namespace

TEST(InstallWorker, FullInstallationEndsInTheFinishedStage)
{
    InstallRun run;
    run.PreparePayload();
    SetEngineFlags(g_setup, 0x20000000 | 0x80 | 0x800);
    std::wstring install = run.scratch / L"Program Files\\Zt Product";  // no trailing backslash

    // Left over from an earlier run of the input method's tools.
    wchar_t userCi[MAX_PATH];
    ASSERT_NE(0u, JoinTempPath(L"_temp_userci_.txt", userCi));
    ASSERT_TRUE(WriteFileText(userCi, "old"));

    ScriptedPrompts prompts(IDCANCEL);
    WizardOutcome o = run.RunWizard(install);
    ASSERT_TRUE(o.finished);
    EXPECT_TRUE(prompts.Shown().empty());
    EXPECT_FALSE(FileExists(userCi));

    std::wstring expected = StartLine() + L"\r\n";
    for (int step = 1; step <= 7; ++step) expected += StepLine(step) + L"\r\n";
    EXPECT_EQ(expected, o.log);
    EXPECT_EQ(100, o.bar);
    EXPECT_EQ(2, o.stage);
    EXPECT_EQ(0, o.busy);
    EXPECT_EQ(L"تامام(&O)", o.buttonText);
    EXPECT_TRUE(o.buttonEnabled);
    EXPECT_TRUE(o.logVisible);
    EXPECT_FALSE(o.barVisible);
    EXPECT_FALSE(o.folderVisible || o.groupVisible || o.browseVisible || o.agreeVisible || o.licenceVisible);
    EXPECT_TRUE(o.homepageVisible && o.newsVisible && o.homepageChecked && o.newsChecked);
    EXPECT_EQ(0, o.result);  // closed by Finish

    // The folder gained its backslash; everything landed.
    EXPECT_EQ(install + L"\\", std::wstring(g_setup.installFolder));
    EXPECT_EQ(run.dataFolder, std::wstring(g_setup.dataFolder));
    EXPECT_TRUE(FileExists(SystemFolder() + run.ime + L".ime"));
    EXPECT_TRUE(FileExists(Wow64Folder() + run.ime + L".ime"));
    EXPECT_TRUE(FileExists(run.dataFolder + L"main.dmg"));
    EXPECT_TRUE(FileExists(install + L"\\config.exe"));
    EXPECT_TRUE(FileExists(install + L"\\installer.exe"));
    EXPECT_TRUE(FileExists(install + L"\\_backup_.dat"));
    EXPECT_FALSE(FileExists(run.work + L"\\makedata.zip"));
    EXPECT_TRUE(FileExists(run.group + L"سېستىما تەڭشىكى.lnk"));
    EXPECT_TRUE(FileExists(run.group + L"كومپىيۇتېردىن يۇيۇش.lnk"));
    EXPECT_FALSE(FileExists(run.group + L"ياردەم ھۆججىتى.lnk"));

    const std::wstring entry = UninstallKeyPath(run.name);
    EXPECT_EQ(L"\"" + install + L"\\installer.exe\" /n " + run.name + L" /u",
              RegString(HKEY_LOCAL_MACHINE, entry, L"UninstallString"));
    EXPECT_EQ(RegisteredName(L"RegisteredOwner"), RegString(HKEY_LOCAL_MACHINE, entry, L"RegOwner"));
    EXPECT_EQ(RegisteredName(L"RegisteredOrganization"), RegString(HKEY_LOCAL_MACHINE, entry, L"RegCompany"));
    EXPECT_EQ(install + L"\\", RegString(HKEY_LOCAL_MACHINE, L"Software\\ZerdaIME3\\" + run.name, L"InstallLocation"));
}

// The product's key names the folder: it is the product's own.
static void RecordInstallFolder(const InstallRun& run, const std::wstring& folder)
{
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, (L"Software\\ZerdaIME3\\" + run.name).c_str(), L"InstallLocation", REG_SZ,
                    folder.c_str(), static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
}

// A folder that holds what is not the product's: first a folder of the
// product's own inside it is offered (declined here), then, once recorded
// as the product's, the overwrite question. Declined, nothing changes.
TEST(InstallWorker, ExistingFolderDeclinedLeavesEverythingAsItWas)
{
    InstallRun run;
    run.PreparePayload();
    BoundedCopy(DefaultFolderName(g_setup), kDefaultFolderNameChars, L"Zt Own");
    std::wstring install = run.scratch / L"existing\\";
    CreateDirectoryW(install.c_str(), nullptr);
    ASSERT_TRUE(WriteFileText(install + L"config.exe", "old"));

    ScriptedPrompts prompts;
    prompts.Queue(IDNO);
    prompts.Queue(IDNO);
    WizardOutcome offer = run.RunWizard(install);
    ASSERT_TRUE(offer.finished);
    ASSERT_EQ(1u, prompts.Shown().size());
    EXPECT_EQ(L"باشقا مۇندەرىجىگە قاچىلامسىز؟", prompts.Shown()[0].caption);
    EXPECT_NE(std::wstring::npos, prompts.Shown()[0].text.find(install + L"Zt Own\\"));
    EXPECT_EQ(0, offer.stage);
    EXPECT_FALSE(DirExists(install + L"Zt Own"));
    RecordInstallFolder(run, install);
    WizardOutcome o = run.RunWizard(install);
    ASSERT_TRUE(o.finished);
    ASSERT_EQ(2u, prompts.Shown().size());
    const RecordedPrompt& question = prompts.Shown()[1];
    EXPECT_EQ(OverwriteCaption(), question.caption);
    EXPECT_EQ(OverwriteText(), question.text);
    EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONQUESTION), question.type);
    EXPECT_EQ(o.dialog, question.owner);

    EXPECT_EQ(0, o.stage);
    EXPECT_EQ(0, o.busy);
    EXPECT_TRUE(o.buttonEnabled);
    EXPECT_NE(L"تامام(&O)", o.buttonText);
    EXPECT_TRUE(o.folderVisible);
    EXPECT_FALSE(o.logVisible);
    EXPECT_EQ(L"", o.log);
    EXPECT_TRUE(FileExists(install + L"config.exe"));
    EXPECT_TRUE(FileExists(run.payload + L"\\zerdaIME.ime"));
    EXPECT_FALSE(FileExists(SystemFolder() + run.ime + L".ime"));
}

TEST(InstallWorker, ExistingFolderAcceptedClearsTheOldInstallationFirst)
{
    InstallRun run;
    run.PreparePayload();
    // A payload without the driver: step 1 fails once the old files are gone.
    DeleteFileW((run.payload + L"\\zerdaIME.ime").c_str());
    std::wstring install = run.scratch / L"existing\\";
    CreateDirectoryW(install.c_str(), nullptr);
    for (const wchar_t* f : {L"config.exe", L"installer.exe", L"_backup_.dat", L"main.chm", L"user.txt"})
        ASSERT_TRUE(WriteFileText(install + f, "old"));
    ASSERT_EQ(0, SHCreateDirectoryExW(nullptr, run.dataFolder.c_str(), nullptr));
    ASSERT_TRUE(WriteFileText(run.dataFolder + L"old.dmg", "old"));
    RecordInstallFolder(run, install);

    ScriptedPrompts prompts;
    prompts.Queue(IDYES);
    WizardOutcome o = run.RunWizard(install);
    ASSERT_TRUE(o.finished);
    EXPECT_EQ(1u, prompts.Shown().size());

    for (const wchar_t* f : {L"config.exe", L"installer.exe", L"_backup_.dat", L"main.chm"})
        EXPECT_FALSE(FileExists(install + f)) << f;
    EXPECT_TRUE(FileExists(install + L"user.txt"));
    // The old data went; the step made the folder afresh before it failed.
    EXPECT_FALSE(FileExists(run.dataFolder + L"old.dmg"));

    EXPECT_EQ(StartLine() + L"\r\n" + StepLine(1) + L"\r\n     错误: 无法创建IME驱动文件(err1)\r\n" + FailureLine() +
                  L"\r\n",
              o.log);
    EXPECT_EQ(0, o.bar);
    EXPECT_EQ(3, o.stage);
    EXPECT_EQ(0, o.busy);
    EXPECT_EQ(L"تامام(&O)", o.buttonText);
    EXPECT_TRUE(o.buttonEnabled);
    EXPECT_TRUE(o.homepageChecked && o.newsChecked);
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKeyPath(run.name)));
}

TEST(InstallWorker, FolderThatCannotBeCreatedReturnsToTheFolderPage)
{
    InstallRun run;
    run.PreparePayload();
    ASSERT_TRUE(WriteFileText(run.scratch / L"afile", "x"));
    // Below a file: no folder can be made there.
    std::wstring install = run.scratch / L"afile\\sub\\";

    ScriptedPrompts prompts;
    WizardOutcome o = run.RunWizard(install);
    ASSERT_TRUE(o.finished);
    ASSERT_EQ(1u, prompts.Shown().size());
    const RecordedPrompt& box = prompts.Shown()[0];
    EXPECT_EQ(CreateErrorCaption(), box.caption);
    EXPECT_EQ(CreateErrorText(install), box.text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), box.type & MB_ICONMASK);
    EXPECT_EQ(static_cast<UINT>(MB_OK), box.type & MB_TYPEMASK);
    EXPECT_EQ(o.dialog, box.owner);

    EXPECT_EQ(0, o.stage);
    EXPECT_EQ(0, o.busy);
    EXPECT_TRUE(o.buttonEnabled);
    EXPECT_TRUE(o.folderVisible);
    EXPECT_FALSE(o.logVisible);
    EXPECT_FALSE(FileExists(SystemFolder() + run.ime + L".ime"));
}

// A folder of the system typed in the wizard is refused as it is: no
// overwrite question, nothing placed, its access list unchanged.
TEST(InstallWorker, SystemFolderTypedInTheWizardIsRefusedAsItIs)
{
    InstallRun run;
    run.PreparePayload();
    const std::wstring drivers = SystemFolder() + L"drivers\\";
    CreateDirectoryW(drivers.c_str(), nullptr);
    const std::wstring before = SecurityText(drivers);
    ASSERT_FALSE(before.empty());

    ScriptedPrompts prompts(IDYES);
    WizardOutcome o = run.RunWizard(drivers);
    ASSERT_TRUE(o.finished);
    ASSERT_EQ(1u, prompts.Shown().size());
    EXPECT_EQ(CreateErrorText(drivers), prompts.Shown()[0].text);
    EXPECT_EQ(0, o.stage);
    EXPECT_EQ(before, SecurityText(drivers));
    EXPECT_FALSE(FileExists(drivers + L"config.exe"));
    EXPECT_FALSE(FileExists(SystemFolder() + run.ime + L".ime"));
}

TEST(InstallWorker, EmptyFolderTextAsksNothingAndCannotBeCreated)
{
    InstallRun run;
    run.PreparePayload();
    ScriptedPrompts prompts;
    WizardOutcome o = run.RunWizard(L"");
    ASSERT_TRUE(o.finished);
    ASSERT_EQ(1u, prompts.Shown().size());
    EXPECT_EQ(CreateErrorCaption(), prompts.Shown()[0].caption);
    EXPECT_EQ(CreateErrorText(L""), prompts.Shown()[0].text);
    EXPECT_EQ(0, o.stage);
}

TEST(RunInstallSequence, FailingBackupStopsAfterTheEntryIsWritten)
{
    CoInitialize(nullptr);
    InstallRun run;
    run.PreparePayload();
    SetEngineFlags(g_setup, 0x20000000);
    ReportWindows windows;
    std::wstring install = run.scratch / L"inst\\";
    // The archive cannot be read, and the person gives up the retry.
    BoundedCopy(g_setup.archivePath, MAX_PATH, (run.work + L"\\missing.zip").c_str());
    ScriptedPrompts prompts(IDCANCEL);

    EXPECT_FALSE(RunInstallSequence(install.c_str(), L"o", L"c"));
    std::wstring expected = StartLine() + L"\r\n";
    for (int step = 1; step <= 4; ++step) expected += StepLine(step) + L"\r\n";
    expected += FailureLine() + L"\r\n";
    EXPECT_EQ(expected, windows.LogText());
    EXPECT_EQ(0, windows.BarPosition());
    // A first installation takes back what it did, the entry and the drivers too; later steps did not run.
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKeyPath(run.name)));
    EXPECT_FALSE(FileExists(SystemFolder() + run.ime + L".ime"));
    EXPECT_FALSE(DirExists(install) || DirExists(run.group.substr(0, run.group.size() - 1)));
    CoUninitialize();
}
