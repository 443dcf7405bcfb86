#include <gtest/gtest.h>

#include <string>

#include "base/bounded_string.h"
#include "base/setup_context.h"
#include "common/test_support.h"
#include "resources/resource.h"
#include "wizard/licence_dialog.h"
#include "wizard_test_util.h"

namespace {
void SetPayload(const std::wstring& folder, const wchar_t* displayName)
{
    BoundedCopy(g_setup.payloadFolder, MAX_PATH, folder.c_str());
    BoundedCopy(DisplayName(g_setup), kDisplayNameChars, displayName);
}

struct LicenceRun {
    INT_PTR result = -1;
    std::wstring caption;
    std::wstring address;
    bool browserHosted = false;
};

LicenceRun RunLicence(const std::wstring& payload, std::function<void(HWND)> act, const wchar_t* shot = nullptr)
{
    SetPayload(payload, L"ZerdaTest");
    LicenceRun run;
    CZD_Install_Licence dialog;
    ScriptedDialogs script([&](CDialog& d) {
        HWND hwnd = d.m_hWnd;
        PumpFor(200);
        run.caption = WindowText(hwnd);
        run.address = dialog.m_browser.Address();
        run.browserHosted = dialog.m_browser.HasControl();
        if (shot) SaveShot(hwnd, shot);
        act(hwnd);
    });
    run.result = dialog.DoModal();
    return run;
}
}  // namespace

TEST(LicenceAddress, LooseFileWinsOverHelpFile)
{
    ScratchFolder payload(L"lic");
    wchar_t address[MAX_PATH + 64];
    ComposeLicenceAddress(payload.Path().c_str(), address, MAX_PATH + 64);
    EXPECT_EQ(L"mk:@MSITStore:" + payload.Path() + L"\\main.chm::/License.html", std::wstring(address));

    ASSERT_TRUE(WriteFileText(payload / L"License.html", "<html><body>agreement</body></html>"));
    ComposeLicenceAddress(payload.Path().c_str(), address, MAX_PATH + 64);
    EXPECT_EQ(payload / L"License.html", std::wstring(address));
}

TEST(LicenceDialog, AgreeGivesOkAndShowsTheLooseAgreement)
{
    ScratchFolder payload(L"lic");
    ASSERT_TRUE(WriteFileText(payload / L"License.html", "<html><body>agreement</body></html>"));
    LicenceRun run = RunLicence(payload.Path(), [](HWND h) { ClickButton(h, IDOK); }, L"licence_dialog");
    EXPECT_EQ(IDOK, run.result);
    EXPECT_EQ(L"ZerdaTest - ئىشلىتىش كېلىشىمى", run.caption);
    EXPECT_EQ(payload / L"License.html", run.address);
    std::printf("web-browser control hosted: %s\n", run.browserHosted ? "yes" : "no");
}

TEST(LicenceDialog, DeclineEscapeAndCloseBoxGiveCancel)
{
    ScratchFolder payload(L"lic");
    LicenceRun declined = RunLicence(payload.Path(), [](HWND h) { ClickButton(h, IDCANCEL); });
    EXPECT_EQ(IDCANCEL, declined.result);
    EXPECT_EQ(L"mk:@MSITStore:" + payload.Path() + L"\\main.chm::/License.html", declined.address);

    LicenceRun closed = RunLicence(payload.Path(), [](HWND h) {
        PostMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
        PumpFor(200);
    });
    EXPECT_EQ(IDCANCEL, closed.result);

    LicenceRun escaped = RunLicence(payload.Path(), [](HWND h) {
        PressKey(h, VK_ESCAPE);
        PumpFor(200, h);
    });
    EXPECT_EQ(IDCANCEL, escaped.result);
}
