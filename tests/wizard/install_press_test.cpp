// Pressing Install with folders the worker must refuse: the wizard comes back
// to its folder page each time, with the worker's message shown.
#include <gtest/gtest.h>

#include <string>

#include "base/bounded_string.h"
#include "base/setup_context.h"
#include "common/test_support.h"
#include "resources/resource.h"
#include "wizard/install_dialog.h"
#include "wizard_test_util.h"

namespace {
const wchar_t kProductKeyName[] = L"{6A1B2C3D-0001-4000-8000-7072657373FF}";
const wchar_t kErrorCaption[] = L"قاچىلاش خاتالىقى؟";

std::wstring CreationError(const std::wstring& folder)
{
    return L"تاللىغان مۇندەرىجىڭىز:\r\n" + folder +
           L"\r\nقۇرۇلمىدى، سىزنىڭ بۇ مۇندەرىجىنى زىيارەت قىلىش ياكى يېزىش ھوقۇقىڭىز بارمۇ يوق؟ تەكشۈرۈپ كۆرۈڭ";
}

struct PressOutcome {
    bool workerEnded = false;
    bool backOnFolderPage = false;
    HWND dialog = nullptr;
};

// Types the folder, presses Install and waits for the worker to give the page back.
PressOutcome PressInstall(CinstkitDlg& wizard, HWND h, const std::wstring& folder, const ScriptedPrompts& prompts,
                          size_t promptsExpected)
{
    PressOutcome out;
    out.dialog = h;
    SetDlgItemTextW(h, IDC_FOLDER_EDIT, folder.c_str());
    SendMessageW(GetDlgItem(h, IDOK), BM_CLICK, 0, 0);
    out.workerEnded = PumpUntil(
        [&] { return prompts.Shown().size() >= promptsExpected && wizard.m_busy == 0 && ItemEnabled(h, IDOK); },
        20000, h);
    out.backOnFolderPage = wizard.m_stage == 0 && ItemVisible(h, IDC_FOLDER_EDIT) && ItemVisible(h, IDC_BROWSE) &&
                           !ItemVisible(h, IDC_LOG) && ItemText(h, IDOK) == L"قاچىلاش(&S)";
    return out;
}

class InstallPressTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memset(&g_setup, 0, sizeof g_setup);
        BoundedCopy(DisplayName(g_setup), kDisplayNameChars, L"ZerdaTest");
        BoundedCopy(DefaultFolderName(g_setup), kDefaultFolderNameChars, L"ZerdaPressTest");
        BoundedCopy(ImeName(g_setup), kImeNameChars, L"zerdaPressTest");
        BoundedCopy(g_setup.name, kNameChars, kProductKeyName);
        g_setup.productRecord[product_field::kAgreementFlag] = 1;
    }

    INT_PTR Run(std::function<void(CinstkitDlg&, HWND)> script)
    {
        CinstkitDlg wizard;
        ScriptedDialogs dialogs([&](CDialog& d) {
            if (&d == &wizard) script(wizard, d.m_hWnd);
        });
        return wizard.DoModal();
    }
};
}  // namespace

TEST_F(InstallPressTest, EmptyFolderTextGivesTheCreationErrorWithAnEmptyLine)
{
    ScriptedPrompts prompts(IDOK);
    PressOutcome outcome;
    Run([&](CinstkitDlg& wizard, HWND h) {
        outcome = PressInstall(wizard, h, L"", prompts, 1);
        SaveShot(h, L"wizard_back_after_empty_folder");
        ClickButton(h, IDCANCEL);
    });
    EXPECT_TRUE(outcome.workerEnded);
    EXPECT_TRUE(outcome.backOnFolderPage);
    ASSERT_EQ(1u, prompts.Shown().size());
    const RecordedPrompt& box = prompts.Shown()[0];
    EXPECT_EQ(kErrorCaption, box.caption);
    EXPECT_EQ(CreationError(L""), box.text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), box.type & MB_ICONMASK);
    EXPECT_EQ(outcome.dialog, box.owner);
}

TEST_F(InstallPressTest, FolderThatCannotBeCreatedThenAnotherTry)
{
    ScratchFolder scratch(L"press");
    ASSERT_TRUE(WriteFileText(scratch / L"blocker", "a file where a folder should go"));
    const std::wstring first = scratch / L"blocker\\Zerda\\";
    const std::wstring second = scratch / L"blocker\\Other\\";
    ScriptedPrompts prompts(IDOK);
    PressOutcome a, b;
    Run([&](CinstkitDlg& wizard, HWND h) {
        a = PressInstall(wizard, h, first, prompts, 1);
        b = PressInstall(wizard, h, second, prompts, 2);
        ClickButton(h, IDCANCEL);
    });
    EXPECT_TRUE(a.workerEnded && a.backOnFolderPage);
    EXPECT_TRUE(b.workerEnded && b.backOnFolderPage);
    ASSERT_EQ(2u, prompts.Shown().size());
    EXPECT_EQ(CreationError(first), prompts.Shown()[0].text);
    EXPECT_EQ(CreationError(second), prompts.Shown()[1].text);
    EXPECT_EQ(kErrorCaption, prompts.Shown()[1].caption);
    EXPECT_FALSE(DirExists(scratch / L"blocker\\Zerda"));
}

// A folder holding what is not the product's: a folder of its own inside it
// is offered; No goes back to the folder page and changes nothing.
TEST_F(InstallPressTest, OccupiedFolderOfferAnsweredNoTouchesNothing)
{
    ScratchFolder scratch(L"press");
    const std::wstring folder = scratch.Path() + L"\\";
    ASSERT_TRUE(WriteFileText(scratch / L"config.exe", "earlier program"));
    ASSERT_TRUE(WriteFileText(scratch / L"_backup_.dat", "earlier backup"));
    ScriptedPrompts prompts(IDCANCEL);
    prompts.Queue(IDNO);
    PressOutcome outcome;
    Run([&](CinstkitDlg& wizard, HWND h) {
        outcome = PressInstall(wizard, h, folder, prompts, 1);
        ClickButton(h, IDCANCEL);
    });
    EXPECT_TRUE(outcome.workerEnded);
    EXPECT_TRUE(outcome.backOnFolderPage);
    ASSERT_EQ(1u, prompts.Shown().size());
    EXPECT_EQ(L"باشقا مۇندەرىجىگە قاچىلامسىز؟", prompts.Shown()[0].caption);
    EXPECT_NE(std::wstring::npos, prompts.Shown()[0].text.find(folder + L"ZerdaPressTest\\"));
    EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONQUESTION), prompts.Shown()[0].type);
    EXPECT_TRUE(FileExists(scratch / L"config.exe"));
    EXPECT_TRUE(FileExists(scratch / L"_backup_.dat"));
    EXPECT_EQ(nullptr, g_setup.logBox);
}
