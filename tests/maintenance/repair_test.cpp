// The repair dialog and its sequence.
#include <gtest/gtest.h>

#include <string>

#include "base/setup_context.h"
#include "common/test_support.h"
#include "expected_texts.h"
#include "maint_fixture.h"
#include "maintenance/repair_dialog.h"
#include "resources/resource.h"

namespace {

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
    bool finished = false;
    WatchedRepair dialog;
    ScriptedDialogs script([&](CDialog& d) {
        if (d.TemplateId() != IDD_REPAIR) return;
        HWND h = d.m_hWnd;
        title = WindowText(h);
        buttonBefore = WindowText(GetDlgItem(h, IDOK));
        SaveWindowShot(h, L"repair_ready");
        ClickButton(h, IDOK);
        finished = PumpUntilButton(h, expect::kFinishButton);
        buttonAfter = WindowText(GetDlgItem(h, IDOK));
        log = WindowText(GetDlgItem(h, IDC_LOG));
        bar = static_cast<int>(SendDlgItemMessageW(h, IDC_PROGRESS, PBM_GETPOS, 0, 0));
        state = dialog.m_state;
        SaveWindowShot(h, L"repair_failed");
        ClickButton(h, IDOK);
    });
    INT_PTR result = dialog.DoModal();

    ASSERT_TRUE(finished);
    EXPECT_EQ(title, std::wstring(L"Zt Repair") + expect::kRepairTitleSuffix);
    EXPECT_EQ(buttonBefore, expect::kRepairButton);
    EXPECT_EQ(log, JoinLog({expect::kRepairStart, expect::kRepairStep1, expect::kRepairStep2, expect::kPlacementErr1,
                            expect::kRepairFailure}));
    EXPECT_EQ(bar, 0);
    EXPECT_EQ(state, 2);
    EXPECT_EQ(buttonAfter, expect::kFinishButton);
    EXPECT_EQ(result, IDOK) << "the finish button closes the dialog";
}
