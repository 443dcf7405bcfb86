#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>

#include "base/bounded_string.h"
#include "base/setup_context.h"
#include "common/test_support.h"
#include "platform/display_scale.h"
#include "resources/resource.h"
#include "wizard/install_dialog.h"
#include "wizard_test_util.h"

namespace {
const wchar_t kProductKeyName[] = L"{6A1B2C3D-0000-4000-8000-77697A617264}";
const wchar_t kFolderName[] = L"ZerdaWizardTest";
const wchar_t kInstallText[] = L"قاچىلاش(&S)";
const wchar_t kFinishText[] = L"تامام(&O)";
const wchar_t kStartPageKey[] = L"Software\\Microsoft\\Internet Explorer\\Main";
const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\run";

void Click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

std::wstring ProgramFilesProposal()
{
    wchar_t pf[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, pf);
    std::wstring p = pf;
    if (!p.empty() && p.back() != L'\\') p += L'\\';
    return p + kFolderName + L"\\";
}

std::wstring ProductKey() { return std::wstring(L"Software\\ZerdaIME3\\") + kProductKeyName; }

// A registry value of the shared prefix, put back as it was afterwards.
class SavedValue {
public:
    SavedValue(HKEY root, const wchar_t* key, const wchar_t* name) : root_(root), key_(key), name_(name)
    {
        HKEY k;
        if (RegOpenKeyExW(root_, key_.c_str(), 0, KEY_READ, &k) == ERROR_SUCCESS) {
            DWORD bytes = sizeof data_;
            existed_ = RegQueryValueExW(k, name_.c_str(), nullptr, &type_, data_, &bytes) == ERROR_SUCCESS;
            size_ = bytes;
            RegCloseKey(k);
        }
        Delete();
    }
    ~SavedValue()
    {
        Delete();
        if (!existed_) return;
        HKEY k;
        if (RegCreateKeyExW(root_, key_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr) == ERROR_SUCCESS) {
            RegSetValueExW(k, name_.c_str(), 0, type_, data_, size_);
            RegCloseKey(k);
        }
    }
    void Delete()
    {
        HKEY k;
        if (RegOpenKeyExW(root_, key_.c_str(), 0, KEY_WRITE, &k) == ERROR_SUCCESS) {
            RegDeleteValueW(k, name_.c_str());
            RegCloseKey(k);
        }
    }
    bool Exists() const
    {
        HKEY k;
        if (RegOpenKeyExW(root_, key_.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
        bool found = RegQueryValueExW(k, name_.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        RegCloseKey(k);
        return found;
    }

private:
    HKEY root_;
    std::wstring key_, name_;
    bool existed_ = false;
    DWORD type_ = 0, size_ = 0;
    BYTE data_[2048];
};

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memset(&g_setup, 0, sizeof g_setup);
        BoundedCopy(DisplayName(g_setup), kDisplayNameChars, L"ZerdaTest");
        BoundedCopy(DefaultFolderName(g_setup), kDefaultFolderNameChars, kFolderName);
        BoundedCopy(g_setup.name, kNameChars, kProductKeyName);
        BoundedCopy(g_currentFolder, MAX_PATH, L"c:\\");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, ProductKey().c_str());
    }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, ProductKey().c_str()); }

    static void SetAgreementFlag(uint8_t flag) { g_setup.productRecord[product_field::kAgreementFlag] = flag; }

    // Runs the wizard; `script` plays the person on it (nested dialogs go to `nested`).
    INT_PTR RunWizard(std::function<void(CinstkitDlg&, HWND)> script,
                      std::function<void(CDialog&)> nested = nullptr)
    {
        CinstkitDlg wizard;
        ScriptedDialogs dialogs([&](CDialog& d) {
            if (&d == &wizard) {
                script(wizard, d.m_hWnd);
            } else if (nested) {
                nested(d);
            }
        });
        return wizard.DoModal();
    }

    // What the install worker leaves behind when it ends.
    static void ShowFinishedState(CinstkitDlg& wizard, HWND h)
    {
        wizard.m_stage = 2;
        ShowWindow(GetDlgItem(h, IDC_HOMEPAGE_CHECK), SW_SHOW);
        ShowWindow(GetDlgItem(h, IDC_NEWS_CHECK), SW_SHOW);
        CheckDlgButton(h, IDC_HOMEPAGE_CHECK, BST_CHECKED);
        CheckDlgButton(h, IDC_NEWS_CHECK, BST_CHECKED);
        for (int id : {IDC_FOLDER_GROUP, IDC_BROWSE, IDC_FOLDER_EDIT, IDC_LICENCE_LINK, IDC_AGREE, IDC_DISAGREE})
            ShowWindow(GetDlgItem(h, id), SW_HIDE);
        ShowWindow(GetDlgItem(h, IDC_LOG), SW_SHOW);
        SetDlgItemTextW(h, IDOK, kFinishText);
        EnableWindow(GetDlgItem(h, IDOK), TRUE);
        wizard.RedrawHeader();
    }
};
}  // namespace

TEST(WizardHeader, LinesByStageAndCutToTheBuffer)
{
    wchar_t line[kHeaderLineChars];
    FormatHeaderWelcomeLine(line);
    EXPECT_STREQ(L"ۋارېك ئۇيغۇرچە كىرگۈزگۈچىسىنى ئىشلىتىشىڭىزنى قارشى ئالىمىز", line);
    FormatHeaderStageLine(0, L"Zerda", line);
    EXPECT_STREQ(L"كېسترىن تور پەن-تېخنىكا چەكلىك شىركىتى", line);
    FormatHeaderStageLine(1, L"Zerda", line);
    EXPECT_STREQ(L" Zerda كومپيۇتېرىڭىزغا قاچىلىنىۋاتىدۇ، سەل تەخىر قىلىڭ", line);
    for (LONG stage : {2, 3}) {
        FormatHeaderStageLine(stage, L"Zerda", line);
        EXPECT_STREQ(L"تامام كۇنۇپكىسىنى بېسىپ قاچىلاشنى تاماملاڭ", line);
    }

    // A display name of 39 characters overflows the installing line: it is cut at 63.
    std::wstring longName(39, L'N');
    EXPECT_EQ(63u, FormatHeaderStageLine(1, longName.c_str(), line));
    EXPECT_EQ(63u, wcslen(line));
    std::wstring full = L" " + longName + L" كومپيۇتېرىڭىزغا قاچىلىنىۋاتىدۇ، سەل تەخىر قىلىڭ";
    EXPECT_EQ(full.substr(0, 63), std::wstring(line));
}

TEST(WizardFolder, ChosenParentGetsTheProductFolder)
{
    wchar_t out[MAX_PATH];
    ComposeInstallFolder(L"D:\\", L"Zerda", out);
    EXPECT_STREQ(L"D:\\Zerda\\", out);
    ComposeInstallFolder(L"D:\\Apps", L"Zerda", out);
    EXPECT_STREQ(L"D:\\Apps\\Zerda\\", out);
    std::wstring deep = L"C:\\" + std::wstring(250, L'x');
    EXPECT_EQ(259u, ComposeInstallFolder(deep.c_str(), L"Zerda", out));
    EXPECT_EQ(deep + L"\\Zerda", std::wstring(out));  // the closing backslash is cut
    std::wstring deeper = deep + L"yy";
    ComposeInstallFolder(deeper.c_str(), L"Zerda", out);
    EXPECT_EQ(deeper + L"\\Zer", std::wstring(out));
}

TEST_F(WizardTest, OpensWithProposalAndAgreementRowThatGatesInstall)
{
    SetAgreementFlag(0);
    std::wstring caption, folder;
    bool disagreeChecked = false, agreeChecked = true, installEnabled = true, rowVisible = false, hiddenRest = false;
    bool enabledAfterAgree = false, disabledAfterDisagree = false;
    std::wstring buttonText;
    INT_PTR result = RunWizard([&](CinstkitDlg&, HWND h) {
        caption = WindowText(h);
        folder = ItemText(h, IDC_FOLDER_EDIT);
        buttonText = ItemText(h, IDOK);
        disagreeChecked = ItemChecked(h, IDC_DISAGREE);
        agreeChecked = ItemChecked(h, IDC_AGREE);
        installEnabled = ItemEnabled(h, IDOK);
        rowVisible = ItemVisible(h, IDC_AGREE) && ItemVisible(h, IDC_DISAGREE) && ItemVisible(h, IDC_LICENCE_LINK);
        hiddenRest = !ItemVisible(h, IDC_LOG) && !ItemVisible(h, IDC_PROGRESS) && !ItemVisible(h, IDC_HOMEPAGE_CHECK) &&
                     !ItemVisible(h, IDC_NEWS_CHECK);
        SaveShot(h, L"wizard_stage0_disagreed");
        Click(h, IDC_AGREE);
        enabledAfterAgree = ItemEnabled(h, IDOK) && ItemChecked(h, IDC_AGREE) && !ItemChecked(h, IDC_DISAGREE);
        SaveShot(h, L"wizard_stage0_agreed");
        Click(h, IDC_DISAGREE);
        disabledAfterDisagree = !ItemEnabled(h, IDOK);
        PressKey(h, VK_ESCAPE);
        PumpFor(200, h);
    });
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_EQ(L"ZerdaTest قاچىلاش يېتەكچىسى", caption);
    EXPECT_EQ(ProgramFilesProposal(), folder);
    EXPECT_EQ(ProgramFilesProposal(), std::wstring(g_currentFolder));
    EXPECT_EQ(kInstallText, buttonText);
    EXPECT_TRUE(disagreeChecked);
    EXPECT_FALSE(agreeChecked);
    EXPECT_FALSE(installEnabled);
    EXPECT_TRUE(rowVisible);
    EXPECT_TRUE(hiddenRest);
    EXPECT_TRUE(enabledAfterAgree);
    EXPECT_TRUE(disabledAfterDisagree);
}

TEST_F(WizardTest, AgreementAcceptedAtStartHidesTheRow)
{
    SetAgreementFlag(1);
    bool rowHidden = false, agreeChecked = false, installEnabled = false;
    RunWizard([&](CinstkitDlg&, HWND h) {
        rowHidden = !ItemVisible(h, IDC_AGREE) && !ItemVisible(h, IDC_DISAGREE) && !ItemVisible(h, IDC_LICENCE_LINK);
        agreeChecked = ItemChecked(h, IDC_AGREE);
        installEnabled = ItemEnabled(h, IDOK);
        SaveShot(h, L"wizard_stage0_agreed_at_start");
        ClickButton(h, IDCANCEL);
    });
    EXPECT_TRUE(rowHidden);
    EXPECT_TRUE(agreeChecked);
    EXPECT_TRUE(installEnabled);
}

// With high contrast on, the owner-drawn parts take the system's colours:
// the band the window colours, the agreement link the link colour.
TEST_F(WizardTest, HighContrastDrawsInTheSystemColours)
{
    SetAgreementFlag(0);
    const int ids[] = {COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_HOTLIGHT};
    const COLORREF contrast[] = {RGB(0, 0, 0), RGB(255, 255, 0), RGB(0, 255, 255)};
    COLORREF saved[3];
    for (int i = 0; i < 3; ++i) saved[i] = GetSysColor(ids[i]);
    ASSERT_TRUE(SetSysColors(3, ids, contrast));
    SetHighContrastOverride(1);
    // How many pixels of a control's row, from its left, show the colour.
    auto shows = [](HWND control, int y, COLORREF color, int width = 400) {
        HDC dc = GetDC(control);
        int n = 0;
        for (int x = 0; x < width; ++x) n += GetPixel(dc, x, y) == color;
        ReleaseDC(control, dc);
        return n;
    };
    int background = 0, text = 0, link = 0;
    RunWizard([&](CinstkitDlg&, HWND h) {
        SaveShot(h, L"wizard_high_contrast");
        background = shows(GetDlgItem(h, IDC_HEADER), 2, contrast[0], 40);
        text = shows(GetDlgItem(h, IDC_HEADER), 20, contrast[1]);
        link = shows(GetDlgItem(h, IDC_LICENCE_LINK), 10, contrast[2]);
        ClickButton(h, IDCANCEL);
    });
    SetHighContrastOverride(-1);
    SetSysColors(3, ids, saved);
    EXPECT_EQ(40, background);
    EXPECT_GT(text, 0);
    EXPECT_GT(link, 0);
}

TEST_F(WizardTest, ExistingInstallLocationReplacesTheProposal)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, ProductKey().c_str(), 0, nullptr, 0, KEY_WRITE,
                                             nullptr, &key, nullptr));
    const wchar_t location[] = L"D:\\Earlier\\Zerda\\";
    RegSetValueExW(key, L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(location), sizeof location);
    RegCloseKey(key);

    std::wstring folder;
    RunWizard([&](CinstkitDlg&, HWND h) {
        folder = ItemText(h, IDC_FOLDER_EDIT);
        ClickButton(h, IDCANCEL);
    });
    EXPECT_EQ(location, folder);
    EXPECT_STREQ(location, g_currentFolder);
}

TEST_F(WizardTest, AgreementLinkDeclinedThenAccepted)
{
    SetAgreementFlag(0);
    ScratchFolder payload(L"wizlic");
    BoundedCopy(g_setup.payloadFolder, MAX_PATH, payload.Path().c_str());
    int licenceRuns = 0;
    bool afterDecline = false, afterAgree = false;
    std::wstring licenceCaption;
    RunWizard(
        [&](CinstkitDlg&, HWND h) {
            Click(h, IDC_AGREE);
            Click(h, IDC_LICENCE_LINK);  // declined below
            afterDecline = ItemChecked(h, IDC_DISAGREE) && !ItemChecked(h, IDC_AGREE) && !ItemEnabled(h, IDOK);
            Click(h, IDC_LICENCE_LINK);  // accepted below
            afterAgree = ItemChecked(h, IDC_AGREE) && !ItemChecked(h, IDC_DISAGREE) && ItemEnabled(h, IDOK);
            ClickButton(h, IDCANCEL);
        },
        [&](CDialog& licence) {
            ASSERT_EQ(static_cast<UINT>(IDD_INSTALL_LICENCE), licence.TemplateId());
            licenceCaption = WindowText(licence.m_hWnd);
            ClickButton(licence.m_hWnd, ++licenceRuns == 1 ? IDCANCEL : IDOK);
        });
    EXPECT_EQ(2, licenceRuns);
    EXPECT_EQ(L"ZerdaTest - ئىشلىتىش كېلىشىمى", licenceCaption);
    EXPECT_TRUE(afterDecline);
    EXPECT_TRUE(afterAgree);
}

TEST_F(WizardTest, BusyFlagKeepsTheDialogOpen)
{
    SetAgreementFlag(1);
    bool openAfterEscape = false, openAfterCloseBox = false, openAfterFinishClick = false;
    INT_PTR result = RunWizard([&](CinstkitDlg& wizard, HWND h) {
        wizard.m_busy = 1;
        wizard.m_stage = 1;
        EnableWindow(GetDlgItem(h, IDOK), FALSE);
        wizard.RedrawHeader();
        SaveShot(h, L"wizard_stage1_busy");
        PressKey(h, VK_ESCAPE);
        PumpFor(200, h);
        openAfterEscape = IsWindowVisible(h) != FALSE;
        PostMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
        PumpFor(200, h);
        openAfterCloseBox = IsWindowVisible(h) != FALSE;
        // The disabled button reached by message must not end the dialog under the worker.
        SendMessageW(h, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(h, IDOK)));
        PumpFor(100, h);
        openAfterFinishClick = IsWindowVisible(h) != FALSE;
        wizard.m_busy = 0;
        wizard.m_stage = 0;
        PostMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
        PumpFor(200, h);
    });
    EXPECT_TRUE(openAfterEscape);
    EXPECT_TRUE(openAfterCloseBox);
    EXPECT_TRUE(openAfterFinishClick);
    EXPECT_EQ(IDCANCEL, result);
}

TEST_F(WizardTest, FinishWithBothBoxesWritesStartPageAndNewsAutostart)
{
    SetAgreementFlag(1);
    SavedValue startPage(HKEY_CURRENT_USER, kStartPageKey, L"Start Page");
    SavedValue news(HKEY_LOCAL_MACHINE, kRunKey, L"VarekNews");
    BoundedCopy(AboutAddress(g_setup), kAboutAddressChars, L"http://zerda.example/about");
    BoundedCopy(g_setup.installFolder, MAX_PATH, L"C:\\Program Files\\ZerdaWizardTest\\");

    INT_PTR result = RunWizard([&](CinstkitDlg& wizard, HWND h) {
        ShowFinishedState(wizard, h);
        SaveShot(h, L"wizard_stage2_finished");
        Click(h, IDOK);
    });
    EXPECT_EQ(0, result);
    EXPECT_EQ(L"http://zerda.example/about", RegString(HKEY_CURRENT_USER, kStartPageKey, L"Start Page"));
    EXPECT_EQ(L"\"C:\\Program Files\\ZerdaWizardTest\\tools\\varekinputtool.exe\" /do=zixun",
              RegString(HKEY_LOCAL_MACHINE, kRunKey, L"VarekNews"));

    // Both are REG_SZ stored with their terminator.
    for (auto [root, key, name] : {std::make_tuple(HKEY_CURRENT_USER, kStartPageKey, L"Start Page"),
                                   std::make_tuple(HKEY_LOCAL_MACHINE, kRunKey, L"VarekNews")}) {
        HKEY k;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(root, key, 0, KEY_READ, &k));
        wchar_t data[512];
        DWORD type = 0, bytes = sizeof data;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(k, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes));
        RegCloseKey(k);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
        ASSERT_GE(bytes, 2u);
        EXPECT_EQ(L'\0', data[bytes / 2 - 1]);
    }
}

TEST_F(WizardTest, FinishWithBothBoxesClearedWritesNothing)
{
    SetAgreementFlag(1);
    SavedValue startPage(HKEY_CURRENT_USER, kStartPageKey, L"Start Page");
    SavedValue news(HKEY_LOCAL_MACHINE, kRunKey, L"VarekNews");
    BoundedCopy(AboutAddress(g_setup), kAboutAddressChars, L"http://zerda.example/about");
    BoundedCopy(g_setup.installFolder, MAX_PATH, L"C:\\Program Files\\ZerdaWizardTest\\");

    bool cleared = false;
    INT_PTR result = RunWizard([&](CinstkitDlg& wizard, HWND h) {
        ShowFinishedState(wizard, h);
        Click(h, IDC_HOMEPAGE_CHECK);
        Click(h, IDC_NEWS_CHECK);
        cleared = !ItemChecked(h, IDC_HOMEPAGE_CHECK) && !ItemChecked(h, IDC_NEWS_CHECK);
        Click(h, IDOK);
    });
    EXPECT_TRUE(cleared);
    EXPECT_EQ(0, result);
    EXPECT_FALSE(startPage.Exists());
    EXPECT_FALSE(news.Exists());
}

TEST_F(WizardTest, FinishWithoutAboutAddressLeavesTheStartPage)
{
    SetAgreementFlag(1);
    SavedValue startPage(HKEY_CURRENT_USER, kStartPageKey, L"Start Page");
    SavedValue news(HKEY_LOCAL_MACHINE, kRunKey, L"VarekNews");
    BoundedCopy(g_setup.installFolder, MAX_PATH, L"C:\\Zerda\\");

    INT_PTR result = RunWizard([&](CinstkitDlg& wizard, HWND h) {
        ShowFinishedState(wizard, h);
        Click(h, IDOK);
    });
    EXPECT_EQ(0, result);
    EXPECT_FALSE(startPage.Exists());
    EXPECT_EQ(L"\"C:\\Zerda\\tools\\varekinputtool.exe\" /do=zixun", RegString(HKEY_LOCAL_MACHINE, kRunKey, L"VarekNews"));
}
