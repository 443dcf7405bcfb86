// The folder chooser is the system file-open dialog: a helper thread finds it
// by its title and works it through window messages, as a person would.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <atomic>
#include <string>
#include <thread>

#include "base/bounded_string.h"
#include "common/test_support.h"
#include "wizard/folder_chooser.h"
#include "wizard_test_util.h"

namespace {
const wchar_t kTitle[] = L"قاچىلاش مۇندەرىجىسىنى تاللاڭ...";
const wchar_t kSelectText[] = L"选择(&O)";
const wchar_t kQuestionCaption[] = L"文件夹选择";

HWND WaitForChooser(DWORD timeoutMs = 15000)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        HWND h = FindWindowW(L"#32770", kTitle);
        if (h && IsWindowVisible(h)) return h;
        Sleep(50);
    }
    return nullptr;
}

std::wstring Text(HWND h, int id)
{
    wchar_t t[MAX_PATH] = L"";
    SendMessageW(GetDlgItem(h, id), WM_GETTEXT, MAX_PATH, reinterpret_cast<LPARAM>(t));
    return t;
}

// The file-name box a person types into: the combo's edit when the dialog has
// one, else the classic edit.
HWND NameBox(HWND dialog)
{
    HWND combo = GetDlgItem(dialog, 1148);
    if (combo && IsWindowVisible(combo)) {
        HWND edit = FindWindowExW(combo, nullptr, L"Edit", nullptr);
        return edit ? edit : combo;
    }
    return GetDlgItem(dialog, 1152);
}

// Names are typed relative to the folder shown, as a person types them.
void TypeName(HWND dialog, const wchar_t* name)
{
    SendMessageW(NameBox(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name));
}

// An owner window in a known place, to check the centring.
struct OwnerWindow {
    HWND hwnd;
    OwnerWindow()
    {
        hwnd = CreateWindowExW(0, L"Static", L"owner", WS_POPUP | WS_VISIBLE, 120, 80, 700, 560, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    }
    ~OwnerWindow() { DestroyWindow(hwnd); }
};
}  // namespace

TEST(FolderChooser, OpensAsFolderPickerCentredOverItsOwner)
{
    ScratchFolder start(L"choose");
    OwnerWindow owner;
    std::atomic<bool> found{false};
    std::wstring okText, label;
    bool hidden = false;
    RECT dialogRect{};
    std::thread person([&] {
        HWND h = WaitForChooser();
        if (!h) return;
        found = true;
        Sleep(300);
        okText = Text(h, IDOK);
        label = Text(h, 1090);
        hidden = !IsWindowVisible(GetDlgItem(h, 1089)) && !IsWindowVisible(GetDlgItem(h, 1136)) &&
                 !IsWindowVisible(GetDlgItem(h, 1152)) && !IsWindowVisible(GetDlgItem(h, 1040));
        GetWindowRect(h, &dialogRect);
        SaveWindowScreenshot(h, BuildDir() + L"\\screenshots\\folder_chooser.bmp");
        PostMessageW(h, WM_COMMAND, IDCANCEL, 0);
    });
    wchar_t result[MAX_PATH] = L"junk";
    bool chosen = ChooseFolder(owner.hwnd, (start.Path() + L"\\").c_str(), kTitle, result);
    person.join();
    ASSERT_TRUE(found);
    EXPECT_FALSE(chosen);
    EXPECT_STREQ(L"", result);
    EXPECT_EQ(kSelectText, okText);
    EXPECT_EQ(L"文件夹名称：", label);
    EXPECT_TRUE(hidden);
    const LONG w = dialogRect.right - dialogRect.left, ht = dialogRect.bottom - dialogRect.top;
    EXPECT_EQ(std::max<LONG>(0, 120 + (700 - w) / 2), dialogRect.left);
    // Centred first, then made 30 pixels shorter in place.
    EXPECT_EQ(std::max<LONG>(0, 80 + (560 - (ht + 30)) / 2), dialogRect.top);
}

TEST(FolderChooser, TypedMissingFolderIsCreatedAfterYes)
{
    ScratchFolder start(L"choose");
    const std::wstring wanted = start / L"new\\deeper";
    ScriptedPrompts prompts(IDYES);
    std::atomic<bool> found{false};
    std::thread person([&] {
        HWND h = WaitForChooser();
        if (!h) return;
        found = true;
        Sleep(300);
        TypeName(h, L"new\\deeper");
        SendMessageW(GetDlgItem(h, IDOK), BM_CLICK, 0, 0);
        Sleep(500);
        if (IsWindow(h)) PostMessageW(h, WM_COMMAND, IDCANCEL, 0);
    });
    wchar_t result[MAX_PATH];
    bool chosen = ChooseFolder(nullptr, (start.Path() + L"\\").c_str(), kTitle, result);
    person.join();
    ASSERT_TRUE(found);
    EXPECT_TRUE(chosen);
    EXPECT_EQ(wanted, std::wstring(result));
    EXPECT_TRUE(DirExists(wanted));
    EXPECT_EQ(wanted, std::wstring(g_lastChosenFolder));
    ASSERT_EQ(1u, prompts.Shown().size());
    EXPECT_EQ(L"目录“" + wanted + L"”不存在。\r\n是否创建该目录？", prompts.Shown()[0].text);
    EXPECT_EQ(kQuestionCaption, prompts.Shown()[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONQUESTION), prompts.Shown()[0].type);
}

TEST(FolderChooser, DeclinedOrFailedCreationKeepsTheDialogOpen)
{
    ScratchFolder start(L"choose");
    ASSERT_TRUE(WriteFileText(start / L"file", "x"));
    const std::wstring declined = start / L"notwanted";
    const std::wstring impossible = start / L"file\\below";
    ScriptedPrompts prompts(IDCANCEL);
    prompts.Queue(IDNO);
    prompts.Queue(IDYES);
    prompts.Queue(IDOK);
    std::atomic<bool> openAfterNo{false}, openAfterFailure{false};
    std::thread person([&] {
        HWND h = WaitForChooser();
        if (!h) return;
        Sleep(300);
        TypeName(h, L"notwanted");
        SendMessageW(GetDlgItem(h, IDOK), BM_CLICK, 0, 0);
        Sleep(300);
        openAfterNo = IsWindow(h) && IsWindowVisible(h);
        TypeName(h, L"file\\below");
        SendMessageW(GetDlgItem(h, IDOK), BM_CLICK, 0, 0);
        Sleep(300);
        openAfterFailure = IsWindow(h) && IsWindowVisible(h);
        PostMessageW(h, WM_COMMAND, IDCANCEL, 0);
    });
    wchar_t result[MAX_PATH];
    bool chosen = ChooseFolder(nullptr, (start.Path() + L"\\").c_str(), kTitle, result);
    person.join();
    EXPECT_FALSE(chosen);
    EXPECT_STREQ(L"", result);
    EXPECT_TRUE(openAfterNo);
    EXPECT_TRUE(openAfterFailure);
    EXPECT_FALSE(DirExists(declined));
    ASSERT_EQ(3u, prompts.Shown().size());
    EXPECT_EQ(L"目录“" + impossible + L"”不存在。\r\n是否创建该目录？", prompts.Shown()[1].text);
    EXPECT_EQ(L"创建目录失败，请确定程序对当前路径的访问权限。", prompts.Shown()[2].text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), prompts.Shown()[2].type & MB_ICONMASK);
}

TEST(FolderChooser, EmptyStartOpensOnTheDesktop)
{
    g_lastChosenFolder[0] = L'\0';
    wchar_t desktop[MAX_PATH] = L"";
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY | CSIDL_FLAG_CREATE, nullptr, 0, desktop)));
    std::wstring shownFolder;
    std::thread person([&] {
        HWND h = WaitForChooser();
        if (!h) return;
        Sleep(300);
        wchar_t folder[MAX_PATH] = L"";
        SendMessageW(h, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(folder));
        shownFolder = folder;
        PostMessageW(h, WM_COMMAND, IDCANCEL, 0);
    });
    wchar_t result[MAX_PATH];
    EXPECT_FALSE(ChooseFolder(nullptr, L"", kTitle, result));
    person.join();
    EXPECT_EQ(std::wstring(desktop) + L"\\", std::wstring(g_lastChosenFolder));
    std::wstring expected = desktop;
    EXPECT_TRUE(shownFolder == expected || shownFolder == expected + L"\\") << std::string(shownFolder.begin(), shownFolder.end());
}

