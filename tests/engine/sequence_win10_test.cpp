#include <gtest/gtest.h>

#include <string>

#include "base/setup_context.h"
#include "engine_test_support.h"
#include "sequence_fixture.h"

// On 6.2 and later a payload without the text-service permission cannot be
// registered: step 2 fails after step 1 placed the drivers, and what the run
// placed on a machine without the product is taken back.
TEST(InstallWorker, FailingRegistrationEndsInTheFailedStageAndTakesBackWhatItPlaced)
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

    // Step 1's work is taken back; steps 3 to 5 never ran.
    EXPECT_FALSE(FileExists(SystemFolder() + run.ime + L".ime") || FileExists(Wow64Folder() + run.ime + L".ime"));
    EXPECT_FALSE(DirExists(install) || DirExists(run.dataFolder) || DirExists(run.group));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKeyPath(run.name)));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, L"Software\\ZerdaIME3\\" + run.name));
}
