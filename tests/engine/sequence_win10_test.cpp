#include <gtest/gtest.h>

#include <string>

#include "base/setup_context.h"
#include "engine_test_support.h"
#include "sequence_fixture.h"

// On 6.2 and later a payload without the text-service permission cannot be
// registered: step 2 fails after step 1 placed the drivers.
TEST(InstallWorker, FailingRegistrationEndsInTheFailedStageWithoutRollBack)
{
    InstallRun run;
    run.PreparePayload();
    SetEngineFlags(g_setup, 0x80 | 0x800);
    std::wstring install = run.scratch / L"inst\\";

    ScriptedPrompts prompts(IDCANCEL);
    WizardOutcome o = run.RunWizard(install);
    ASSERT_TRUE(o.finished);
    EXPECT_TRUE(prompts.Shown().empty());

    EXPECT_EQ(StartLine() + L"\r\n" + StepLine(1) + L"\r\n" + StepLine(2) + L"\r\n" + FailureLine() + L"\r\n", o.log);
    EXPECT_EQ(0, o.bar);
    EXPECT_EQ(3, o.stage);
    EXPECT_EQ(0, o.busy);
    EXPECT_EQ(L"تامام(&O)", o.buttonText);
    EXPECT_TRUE(o.buttonEnabled);
    EXPECT_FALSE(o.barVisible);
    EXPECT_TRUE(o.homepageVisible && o.newsVisible);

    // Step 1's work stays; steps 3 to 5 never ran.
    std::wstring version;
    EXPECT_EQ(0x0480, VersionLanguage(SystemFolder() + run.ime + L".ime", &version));
    EXPECT_TRUE(FileExists(Wow64Folder() + run.ime + L".ime"));
    EXPECT_TRUE(FileExists(install + L"installer.exe"));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE,
                              UninstallKeyPath(run.name)));
    EXPECT_FALSE(FileExists(install + L"_backup_.dat"));
    EXPECT_FALSE(DirExists(run.group.substr(0, run.group.size() - 1)));
}
