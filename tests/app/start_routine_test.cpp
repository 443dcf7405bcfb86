// The start routine run in-process, with the message boxes answered by the
// test seam.
#include <gtest/gtest.h>

#include <windows.h>
#include <imm.h>

#include <cstring>
#include <thread>

#include "app/installer_app.h"
#include "app/messages.h"
#include "base/setup_context.h"
#include "common/test_support.h"

namespace {

void ResetContext() { std::memset(&g_setup, 0, sizeof g_setup); }

// Whether a window made on a thread started now gets the IME's default window.
bool NewThreadWindowHasIme()
{
    bool has = false;
    std::thread thread([&has] {
        HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        has = window && ImmGetDefaultIMEWnd(window) != nullptr;
        if (window) DestroyWindow(window);
    });
    thread.join();
    return has;
}

}  // namespace

// First in this program: the start routine switches the input method off for
// the whole process, for good.
TEST(StartRoutine, InputMethodIsOffForThreadsStartedLater)
{
    ASSERT_TRUE(NewThreadWindowHasIme()) << "a new thread's window has an IME window before the start routine";
    ResetContext();
    ScriptedPrompts prompts(IDOK);
    CinstkitApp app;
    EXPECT_TRUE(app.InitInstance(L"/n {X} /u /g"));
    EXPECT_FALSE(NewThreadWindowHasIme());
}

TEST(StartRoutine, MaintenanceWithoutInstallLocationShowsTheModesEnvironmentMessage)
{
    const wchar_t* product = L"{0B7C9E21-4D3A-4F58-9A6B-1C2D3E4F5A6B}";
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(L"Software\\ZerdaIME3\\") + product).c_str());
    struct Case {
        const wchar_t* switches;
        const wchar_t* caption;
    } cases[] = {{L" /u /f", msg::kUninstallCaption}, {L" /r /f", msg::kRepairCaption}};
    for (const Case& c : cases) {
        ResetContext();
        ScriptedPrompts prompts(IDOK);
        CinstkitApp app;
        std::wstring commandLine = std::wstring(L"/n ") + product + c.switches;
        EXPECT_TRUE(app.InitInstance(commandLine.c_str()));
        ASSERT_EQ(1u, prompts.Shown().size());
        EXPECT_EQ(msg::kEnvironmentText, prompts.Shown()[0].text);
        EXPECT_EQ(c.caption, prompts.Shown()[0].caption);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), prompts.Shown()[0].type);
        EXPECT_EQ(nullptr, prompts.Shown()[0].owner);
        EXPECT_STREQ(product, g_setup.name);
    }
}

TEST(StartRoutine, UpdateShowsOneMessageAndNothingElse)
{
    ResetContext();
    ScriptedPrompts prompts(IDOK);
    CinstkitApp app;
    EXPECT_TRUE(app.InitInstance(L"/n {X} /u /g"));
    ASSERT_EQ(1u, prompts.Shown().size());
    EXPECT_EQ(msg::kUpdateText, prompts.Shown()[0].text);
    EXPECT_EQ(msg::kUpdateCaption, prompts.Shown()[0].caption);
    EXPECT_EQ('g', g_setup.modeCode);
}

TEST(StartRoutine, InstallWithABrokenPayloadShowsTheInstallFailure)
{
    // The test program carries no appended archive: LoaderFlags is 0, so the
    // extraction fails and the work folder is removed.
    ResetContext();
    ScriptedPrompts prompts(IDOK);
    CinstkitApp app;
    EXPECT_TRUE(app.InitInstance(L""));
    ASSERT_EQ(1u, prompts.Shown().size());
    EXPECT_EQ(msg::kInstallFailedText, prompts.Shown()[0].text);
    EXPECT_EQ(msg::kInstallFailedCaption, prompts.Shown()[0].caption);
    EXPECT_EQ('i', g_setup.modeCode);
    EXPECT_FALSE(DirExists(g_setup.workFolder));
}
