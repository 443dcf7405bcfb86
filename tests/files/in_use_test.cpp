#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/bounded_string.h"
#include "base/setup_context.h"
#include "common/screenshot.h"
#include "common/test_support.h"
#include "files/held_file.h"
#include "files/in_use.h"
#include "files/place.h"
#include "files_test_helpers.h"
#include "resources/resource.h"

// Holders are real processes: copies of the holder program that load the
// library named on their command line. Wine lists such a library in their
// module snapshots and refuses to overwrite it (sharing violation).

namespace {

const wchar_t kCaption[] = L"ھۆججەت ئېچىشتا توقۇنۇش كۆرۈلدى";
const wchar_t kProgram[] = L"%s\r\nپىروگرامما ئىجرا قىلىنىۋاتىدۇ،پىروگراممىنى تاقىغاندىن كىيىن قايتا سىناپ كۆرۈڭ";
const wchar_t kColumn0[] = L"پروگرامما نامى";
const wchar_t kColumn2[] = L"چۈشەندۈرۈش";

std::wstring Lower(std::wstring s)
{
    for (wchar_t& c : s)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return s;
}

int Place(const std::wstring& source, const std::wstring& destination, int modules32 = 0)
{
    wchar_t buffer[MAX_PATH];
    BoundedCopy(buffer, MAX_PATH, destination.c_str());
    return PlaceFile(source.c_str(), buffer, 1, modules32);
}

struct Row {
    std::wstring name, id, description;
};

std::vector<Row> Rows(HWND dialog)
{
    CListCtrl list;
    list.Attach(GetDlgItem(dialog, IDC_PROCESS_LIST));
    std::vector<Row> rows;
    for (int i = 0; i < list.GetItemCount(); ++i) {
        wchar_t a[MAX_PATH], b[32], c[MAX_PATH];
        list.GetItemText(i, 0, a, MAX_PATH);
        list.GetItemText(i, 1, b, 32);
        list.GetItemText(i, 2, c, MAX_PATH);
        rows.push_back({a, b, c});
    }
    list.Detach();
    return rows;
}

std::vector<DWORD> Holders(const std::wstring& path, int modules32 = 0)
{
    CZD_IMELoadStatus probe(nullptr);
    BoundedCopy(probe.m_szModulePath, MAX_PATH, path.c_str());
    probe.m_bModules32 = modules32;
    EXPECT_EQ(1, probe.CollectModuleHolders());
    return probe.m_processIds;
}

bool Contains(const std::vector<DWORD>& ids, DWORD id) { return std::find(ids.begin(), ids.end(), id) != ids.end(); }

// Lets the dialog paint before it is looked at or captured.
void Pump(DWORD ms)
{
    DWORD end = GetTickCount() + ms;
    while (static_cast<LONG>(end - GetTickCount()) > 0) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(20);
    }
}

// Without a window manager on the virtual display nobody draws title bars;
// asked before the first window exists, Wine draws them itself for this
// program (set-up of the test prefix, not of the product).
const bool g_ownFrames = [] {
    HKEY k;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\files_in_use_test.exe\\X11 Driver", 0,
                        nullptr, 0, KEY_WRITE, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return false;
    const wchar_t no[] = L"N";
    RegSetValueExW(k, L"Decorated", 0, REG_SZ, reinterpret_cast<const BYTE*>(no), sizeof no);
    RegCloseKey(k);
    return true;
}();

std::wstring ScreenshotPath(const wchar_t* name)
{
    std::wstring folder = BuildDir() + L"\\screenshots";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\" + name;
}

}  // namespace

TEST(ProcessHasModule, MatchesTheTailOfALoadedModulePath)
{
    ScratchFolder dir;
    std::wstring held = dir / L"Held.dll";
    ASSERT_TRUE(CopyFixture(L"v1000.dll", held));
    HolderProcess holder(HolderProgram(), held);
    ASSERT_TRUE(holder.Ready());

    EXPECT_EQ(1, ProcessHasModule(holder.Id(), Lower(held).c_str(), 0));
    EXPECT_EQ(1, ProcessHasModule(holder.Id(), L"HELD.DLL", 0));
    EXPECT_EQ(1, ProcessHasModule(holder.Id(), L"eld.dll", 0));
    EXPECT_EQ(1, ProcessHasModule(holder.Id(), L"holder.exe", 0));  // its program file is a module too
    EXPECT_EQ(0, ProcessHasModule(holder.Id(), (dir / L"other\\held.dll").c_str(), 0));
    EXPECT_EQ(0, ProcessHasModule(holder.Id(), L"", 0));
    EXPECT_EQ(0, ProcessHasModule(GetCurrentProcessId(), L"held.dll", 0));
    EXPECT_EQ(0, ProcessHasModule(0xFFFFFFF0u, L"held.dll", 0));
}

// Whether this process has the debug privilege switched on.
bool DebugPrivilegeOn()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    LUID debug{};
    std::vector<BYTE> buffer(4096);
    DWORD bytes = 0;
    bool on = false;
    if (LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &debug) &&
        GetTokenInformation(token, TokenPrivileges, buffer.data(), static_cast<DWORD>(buffer.size()), &bytes)) {
        auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i)
            if (privileges->Privileges[i].Luid.LowPart == debug.LowPart &&
                privileges->Privileges[i].Luid.HighPart == debug.HighPart)
                on = (privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    CloseHandle(token);
    return on;
}

// Holders of every account and session are looked for: the debug privilege,
// which an administrator has but not switched on, opens their modules, and
// is off again afterwards.
TEST(CollectModuleHolders, FindsEveryHolderAndOnlyThem)
{
    const bool onBefore = DebugPrivilegeOn();
    ScratchFolder dir;
    std::wstring held = dir / L"shared.dll";
    ASSERT_TRUE(CopyFixture(L"v1000.dll", held));
    HolderProcess a(HolderProgram(), held), b(HolderProgram(), held), c(HolderProgram(), L"");
    ASSERT_TRUE(a.Ready() && b.Ready() && c.Ready());
    std::vector<DWORD> ids = Holders(held);
    EXPECT_EQ(2u, ids.size());
    EXPECT_TRUE(Contains(ids, a.Id()));
    EXPECT_TRUE(Contains(ids, b.Id()));
    EXPECT_FALSE(Contains(ids, c.Id()));
    EXPECT_TRUE(Holders(dir / L"nobody.dll").empty());
    EXPECT_FALSE(onBefore) << "on from the start: the check below proves nothing";
    EXPECT_FALSE(DebugPrivilegeOn()) << "left on for the rest of the run";
}

TEST(ProcessListDialog, NoHolderEndsWithOkUnseen)
{
    ScratchFolder dir;
    ScriptedDialogs dialogs([](CDialog& d) { ClickButton(d.m_hWnd, IDCANCEL); });
    EXPECT_EQ(IDOK, ShowLoadStatus(nullptr, (dir / L"free.dll").c_str(), 0));
    EXPECT_EQ(0, dialogs.Opened());
}

TEST(ProcessListDialog, ListsHoldersNewestFirstWithNameIdAndDescription)
{
    ScratchFolder dir;
    std::wstring held = dir / L"listed.dll";
    ASSERT_TRUE(CopyFixture(L"v1000.dll", held));
    HolderProcess a(HolderProgram(), held), b(HolderProgram(), held), c(HolderProgram(), held);
    ASSERT_TRUE(a.Ready() && b.Ready() && c.Ready());

    CZD_IMELoadStatus dialog(nullptr);
    BoundedCopy(dialog.m_szModulePath, MAX_PATH, Lower(held).c_str());
    ASSERT_EQ(1, dialog.CollectModuleHolders());
    std::vector<DWORD> found = dialog.m_processIds;
    ASSERT_EQ(3u, found.size());

    std::vector<Row> rows;
    std::wstring headers[3];
    int widths[3] = {};
    DWORD exStyle = 0, listStyle = 0;
    bool shot = false;
    ScriptedDialogs dialogs([&](CDialog& d) {
        // A modal dialog is shown once its loop goes idle; show it now.
        ShowWindow(d.m_hWnd, SW_SHOW);
        UpdateWindow(d.m_hWnd);
        Pump(1000);
        rows = Rows(d.m_hWnd);
        HWND list = GetDlgItem(d.m_hWnd, IDC_PROCESS_LIST);
        for (int i = 0; i < 3; ++i) {
            wchar_t text[64] = L"";
            LVCOLUMNW col{};
            col.mask = LVCF_TEXT | LVCF_WIDTH;
            col.pszText = text;
            col.cchTextMax = 64;
            SendMessageW(list, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&col));
            headers[i] = text;
            widths[i] = col.cx;
        }
        listStyle = static_cast<DWORD>(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
        exStyle = static_cast<DWORD>(GetWindowLongPtrW(d.m_hWnd, GWL_EXSTYLE));
        shot = SaveWindowScreenshot(d.m_hWnd, ScreenshotPath(L"process_list.bmp"));
        ClickButton(d.m_hWnd, IDCANCEL);
    });
    EXPECT_EQ(IDCANCEL, dialog.DoModal());
    EXPECT_EQ(1, dialogs.Opened());

    ASSERT_EQ(3u, rows.size());
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(L"holder.exe", rows[i].name);
        EXPECT_EQ(std::to_wstring(found[2 - i]), rows[i].id);  // reverse order of finding
        EXPECT_EQ(L"Zerda module holder", rows[i].description);
    }
    EXPECT_EQ(kColumn0, headers[0]);
    EXPECT_EQ(L"PID", headers[1]);
    EXPECT_EQ(kColumn2, headers[2]);
    EXPECT_EQ(100, widths[0]);
    EXPECT_EQ(70, widths[1]);
    EXPECT_EQ(150, widths[2]);
    EXPECT_EQ(static_cast<DWORD>(LVS_EX_FULLROWSELECT | LVS_EX_BORDERSELECT),
              listStyle & (LVS_EX_FULLROWSELECT | LVS_EX_BORDERSELECT));
    EXPECT_EQ(0u, exStyle & WS_EX_APPWINDOW);
    EXPECT_TRUE(shot);
    // Cancel ends nobody.
    EXPECT_FALSE(a.WaitEnded(0) || b.WaitEnded(0) || c.WaitEnded(0));
}

// Force End waits a second for the ended programs to go; meanwhile the
// dialog takes no input but keeps answering (asked from another thread).
TEST(ProcessListDialog, ForceEndEndsTheHoldersAndCloses)
{
    ScratchFolder dir;
    std::wstring held = dir / L"forced.dll";
    ASSERT_TRUE(CopyFixture(L"v1000.dll", held));
    HolderProcess a(HolderProgram(), held), b(HolderProgram(), held);
    ASSERT_TRUE(a.Ready() && b.Ready());
    struct Asker {
        HWND dialog = nullptr;
        volatile LONG stop = 0;
        DWORD longestWhileWaiting = 0;
        int askedWhileWaiting = 0;
    } asker;
    ScriptedDialogs dialogs([&](CDialog& d) {
        asker.dialog = d.m_hWnd;
        HANDLE thread = CreateThread(
            nullptr, 0,
            [](void* p) -> DWORD {
                auto* a = static_cast<Asker*>(p);
                while (!a->stop) {
                    bool waiting = !IsWindowEnabled(a->dialog);
                    DWORD sent = GetTickCount();
                    DWORD_PTR answer = 0;
                    SendMessageTimeoutW(a->dialog, WM_NULL, 0, 0, SMTO_NORMAL, 3000, &answer);
                    // Asked and answered within the wait: the dialog's end
                    // (hiding it) is not the wait.
                    if (waiting && !IsWindowEnabled(a->dialog)) {
                        ++a->askedWhileWaiting;
                        a->longestWhileWaiting = std::max<DWORD>(a->longestWhileWaiting, GetTickCount() - sent);
                    }
                    Sleep(20);
                }
                return 0;
            },
            &asker, 0, nullptr);
        ClickButton(d.m_hWnd, IDC_FORCE_END);
        asker.stop = 1;
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
    });
    EXPECT_EQ(IDOK, ShowLoadStatus(nullptr, held.c_str(), 0));
    EXPECT_EQ(1, dialogs.Opened());
    EXPECT_TRUE(a.WaitEnded(2000));
    EXPECT_TRUE(b.WaitEnded(2000));
    EXPECT_GT(asker.askedWhileWaiting, 5) << "the dialog takes no input while it waits";
    EXPECT_LT(asker.longestWhileWaiting, 500u);
}

TEST(ProcessListDialog, RetryClosesOnceTheUserHasClosedTheHolder)
{
    ScratchFolder dir;
    std::wstring held = dir / L"retry.dll";
    ASSERT_TRUE(CopyFixture(L"v1000.dll", held));
    HolderProcess stays(HolderProgram(), held);
    ASSERT_TRUE(stays.Ready());

    // Retry while the holder runs keeps the dialog open with the list rebuilt;
    // after the holder is gone Retry ends it with OK.
    std::vector<Row> rowsAfterFirstRetry;
    ScriptedDialogs dialogs([&](CDialog& d) {
        ListView_DeleteAllItems(GetDlgItem(d.m_hWnd, IDC_PROCESS_LIST));
        ClickButton(d.m_hWnd, IDC_RETRY);
        rowsAfterFirstRetry = Rows(d.m_hWnd);
        stays.Kill();
        WaitUntilReleased(held);
        ClickButton(d.m_hWnd, IDC_RETRY);
    });
    EXPECT_EQ(IDOK, ShowLoadStatus(nullptr, held.c_str(), 0));
    // The first Retry found the holder again and filled the list anew.
    ASSERT_EQ(1u, rowsAfterFirstRetry.size());
    EXPECT_EQ(std::to_wstring(stays.Id()), rowsAfterFirstRetry[0].id);
    EXPECT_EQ(1, dialogs.Opened());
}

TEST(PlaceFile, LockedLibraryIsReplacedAfterForceEndOncePerRun)
{
    ScratchFolder dir;
    std::wstring dest = dir / L"Locked.dll", dest2 = dir / L"second.ime";
    ASSERT_TRUE(CopyFixture(L"v1000.dll", dest));
    ASSERT_TRUE(CopyFixture(L"drv.ime", dest2));
    HolderProcess holder(HolderProgram(), dest), holder2(HolderProgram(), dest2);
    ASSERT_TRUE(holder.Ready() && holder2.Ready());
    ASSERT_FALSE(CopyFileW(FixturePath(L"v3000.dll").c_str(), dest.c_str(), FALSE));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());

    g_bRetryAfterLoadStatus = 1;
    std::vector<std::vector<Row>> seen;
    ScriptedPrompts prompts;
    ScriptedDialogs dialogs([&](CDialog& d) {
        seen.push_back(Rows(d.m_hWnd));
        ClickButton(d.m_hWnd, IDC_FORCE_END);
    });
    EXPECT_EQ(1, Place(FixturePath(L"v3000.dll"), dest));
    EXPECT_EQ(1, dialogs.Opened());
    ASSERT_EQ(1u, seen.size());
    ASSERT_EQ(1u, seen[0].size());
    EXPECT_EQ(std::to_wstring(holder.Id()), seen[0][0].id);
    EXPECT_TRUE(holder.WaitEnded(2000));
    EXPECT_TRUE(SameContent(dest, FixturePath(L"v3000.dll")));
    EXPECT_EQ(0, g_bRetryAfterLoadStatus);

    EXPECT_TRUE(FilesMovedAside(dest).empty()) << "a file copied over needs no restart";

    // The second locked driver in the same run: the dialog ends the holder,
    // but no further ordinary copy is tried: the file goes in the way a held
    // one does, the old one at the next restart.
    std::wstring newer = dir / L"newer.ime";
    ASSERT_TRUE(CopyFixture(L"remark.dll", newer));  // 6.1 over 5.0: no question
    EXPECT_EQ(1, Place(newer, dest2, 1));
    EXPECT_EQ(2, dialogs.Opened());
    EXPECT_TRUE(holder2.WaitEnded(2000));
    EXPECT_TRUE(SameContent(dest2, newer));
    std::vector<std::wstring> aside = FilesMovedAside(dest2);
    ASSERT_EQ(1u, aside.size());
    EXPECT_TRUE(SameContent(aside[0], FixturePath(L"drv.ime")));
    EXPECT_NE(std::wstring::npos, Lower(PendingRenames()).find(Lower(aside[0])));
    EXPECT_TRUE(prompts.Shown().empty());
    g_bRetryAfterLoadStatus = 1;
}

// Holders the user does not (or cannot) end: the new file goes in beside
// them, the held one is renamed aside in its folder and deleted at the next
// restart; in a tree no side copy is made.
TEST(PlaceFile, CancelInTheProcessListLeavesTheHoldersAndFinishesAtTheNextRestart)
{
    ScratchFolder dir;
    std::wstring dest = dir / L"kept.dll";
    ASSERT_TRUE(CopyFixture(L"v1000.dll", dest));
    HolderProcess holder(HolderProgram(), dest);
    ASSERT_TRUE(holder.Ready());
    g_bRetryAfterLoadStatus = 1;
    CWnd main(CreateWindowExW(0, L"STATIC", L"main", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr));
    ASSERT_NE(nullptr, main.m_hWnd);
    SetMainWindow(&main);
    HWND owner = nullptr;
    ScriptedDialogs dialogs([&](CDialog& d) {
        owner = GetWindow(d.m_hWnd, GW_OWNER);
        ClickButton(d.m_hWnd, IDCANCEL);
    });
    EXPECT_EQ(1, Place(FixturePath(L"v3000.dll"), dest));
    SetMainWindow(nullptr);
    EXPECT_EQ(main.m_hWnd, owner);
    DestroyWindow(main.m_hWnd);
    EXPECT_EQ(1, dialogs.Opened());
    EXPECT_EQ(1, g_bRetryAfterLoadStatus);
    EXPECT_FALSE(holder.WaitEnded(0));
    EXPECT_TRUE(SameContent(dest, FixturePath(L"v3000.dll")));
    std::vector<std::wstring> aside = FilesMovedAside(dest);
    ASSERT_EQ(1u, aside.size());
    EXPECT_TRUE(SameContent(aside[0], FixturePath(L"v1000.dll")));
    EXPECT_NE(std::wstring::npos, Lower(PendingRenames()).find(Lower(aside[0])));

    // The same in a tree.
    std::wstring src = dir / L"src";
    CreateDirectoryW(src.c_str(), nullptr);
    const std::wstring name = L"tree_" + std::to_wstring(GetCurrentProcessId()) + L".dll";
    ASSERT_TRUE(CopyFixture(L"v3000.dll", src + L"\\" + name));
    ASSERT_TRUE(CopyFixture(L"v1000.dll", dir / name));
    HolderProcess treeHolder(HolderProgram(), dir / name);
    ASSERT_TRUE(treeHolder.Ready());
    EXPECT_EQ(1, PlaceFolderTree(src.c_str(), dir.Path().c_str(), 0));
    EXPECT_EQ(2, dialogs.Opened());
    EXPECT_TRUE(SameContent(dir / name, FixturePath(L"v3000.dll")));
    EXPECT_FALSE(FileExists(src + L"\\" + name));
    EXPECT_FALSE(FileExists(SideCopyFolder() + name + L".temp")) << "no side copy";
    EXPECT_EQ(1u, FilesMovedAside(dir / name).size());
}

// The uninstall's deletion of a held driver, in an interactive run too.
TEST(RemoveFileOrSchedule, HeldFileIsMovedAsideAndDeletedAtTheNextRestart)
{
    ScratchFolder dir;
    std::wstring held = dir / L"removed.ime";
    ASSERT_TRUE(CopyFixture(L"drv.ime", held));
    HolderProcess holder(HolderProgram(), held);
    ASSERT_TRUE(holder.Ready());
    ASSERT_FALSE(DeleteFileW(held.c_str()));
    EXPECT_TRUE(RemoveFileOrSchedule(held.c_str(), 0));
    EXPECT_FALSE(FileExists(held));
    std::vector<std::wstring> aside = FilesMovedAside(held);
    ASSERT_EQ(1u, aside.size());
    EXPECT_NE(std::wstring::npos, Lower(PendingRenames()).find(Lower(aside[0])));
    EXPECT_FALSE(holder.WaitEnded(0));
}

TEST(PlaceFile, RunningCompanionToolIsEndedWithoutAMessage)
{
    ScratchFolder dir;
    ASSERT_TRUE(CreateDirectoryW((dir / L"tools").c_str(), nullptr));
    std::wstring tool = dir / L"tools\\varekinputtool.exe";
    ASSERT_TRUE(CopyFileW(HolderProgram().c_str(), tool.c_str(), FALSE));
    HolderProcess running(tool, L"");
    ASSERT_TRUE(running.Ready());
    EXPECT_EQ(running.Id(), FindCompanionToolProcess());
    ASSERT_FALSE(CopyFileW(FixturePath(L"v3000.dll").c_str(), tool.c_str(), FALSE));

    ScriptedPrompts prompts;
    ScriptedDialogs dialogs([](CDialog& d) { ClickButton(d.m_hWnd, IDCANCEL); });
    EXPECT_EQ(1, Place(FixturePath(L"v3000.dll"), tool));
    EXPECT_TRUE(running.WaitEnded(2000));
    EXPECT_TRUE(SameContent(tool, FixturePath(L"v3000.dll")));
    EXPECT_TRUE(prompts.Shown().empty());
    EXPECT_EQ(0, dialogs.Opened());
}

TEST(PlaceFile, CompanionToolThatCannotBeEndedFallsBackToRetryCancel)
{
    ScratchFolder dir;
    ASSERT_TRUE(CreateDirectoryW((dir / L"tools").c_str(), nullptr));
    std::wstring tool = dir / L"tools\\varekinputtool.exe";
    ASSERT_TRUE(WriteFileText(tool, "old"));
    ASSERT_TRUE(SetFileAttributesW(tool.c_str(), FILE_ATTRIBUTE_READONLY));  // nothing to end; copy fails

    ScriptedPrompts prompts(IDCANCEL);
    EXPECT_EQ(0, Place(FixturePath(L"v3000.dll"), tool));
    ASSERT_EQ(1u, prompts.Shown().size());
    wchar_t expected[512];
    BoundedFormat(expected, 512, kProgram, Lower(tool).c_str());
    EXPECT_EQ(expected, prompts.Shown()[0].text);
    EXPECT_EQ(kCaption, prompts.Shown()[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_RETRYCANCEL), prompts.Shown()[0].type);
    SetFileAttributesW(tool.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(FindCompanionToolProcess, PathMustMatchWithExactCase)
{
    ScratchFolder dir;
    ASSERT_TRUE(CreateDirectoryW((dir / L"Tools").c_str(), nullptr));
    std::wstring tool = dir / L"Tools\\VarekInputTool.exe";
    ASSERT_TRUE(CopyFileW(HolderProgram().c_str(), tool.c_str(), FALSE));
    HolderProcess running(tool, L"");
    ASSERT_TRUE(running.Ready());
    EXPECT_NE(running.Id(), FindCompanionToolProcess());
}

TEST(PlaceFile, RunningProgramAsksRetryAndSucceedsOnceClosed)
{
    ScratchFolder dir;
    std::wstring program = dir / L"app.exe";
    ASSERT_TRUE(CopyFileW(HolderProgram().c_str(), program.c_str(), FALSE));
    HolderProcess running(program, L"");
    ASSERT_TRUE(running.Ready());

    struct CloseThenRetry {
        HolderProcess* process;
        std::vector<std::wstring> texts;
        static int Respond(const PromptRequest& r, void* user)
        {
            auto* self = static_cast<CloseThenRetry*>(user);
            self->texts.push_back(r.text);
            self->process->Kill();
            return IDRETRY;
        }
    } responder{&running, {}};
    SetPromptResponder(&CloseThenRetry::Respond, &responder);
    EXPECT_EQ(1, Place(FixturePath(L"v3000.dll"), program));
    SetPromptResponder(nullptr, nullptr);
    ASSERT_EQ(1u, responder.texts.size());
    wchar_t expected[512];
    BoundedFormat(expected, 512, kProgram, Lower(program).c_str());
    EXPECT_EQ(expected, responder.texts[0]);
    EXPECT_TRUE(SameContent(program, FixturePath(L"v3000.dll")));
}

class ConfirmImeNotLoadedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        BoundedFormat(name_, 40, L"{ZT-FILES-%lu}", GetCurrentProcessId());
        BoundedCopy(g_setup.name, kNameChars, name_);
        key_ = std::wstring(L"Software\\ZerdaIME3\\") + name_;
        imeName_ = L"zt_ime_" + std::to_wstring(GetCurrentProcessId());
    }
    void TearDown() override { RegDeleteKeyW(HKEY_LOCAL_MACHINE, key_.c_str()); }
    void WriteKey(bool withName)
    {
        HKEY k;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                                 &k, nullptr));
        if (withName)
            RegSetValueExW(k, L"IMEName", 0, REG_SZ, reinterpret_cast<const BYTE*>(imeName_.c_str()),
                           static_cast<DWORD>((imeName_.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(k);
    }
    wchar_t name_[40];
    std::wstring key_, imeName_;
};

TEST_F(ConfirmImeNotLoadedTest, NothingToCheckWithoutTheProductKeyOrAHolder)
{
    ScriptedDialogs dialogs([](CDialog& d) { ClickButton(d.m_hWnd, IDCANCEL); });
    EXPECT_EQ(0, ConfirmImeNotLoaded(nullptr));
    WriteKey(true);
    EXPECT_EQ(0, ConfirmImeNotLoaded(nullptr));
    EXPECT_EQ(0, dialogs.Opened());
}

TEST_F(ConfirmImeNotLoadedTest, LoadedImeMustBeEndedOrTheUserGivesUp)
{
    WriteKey(true);
    ScratchFolder dir;
    std::wstring ime = dir / (imeName_ + L".ime");
    ASSERT_TRUE(CopyFixture(L"drv.ime", ime));
    g_bRetryAfterLoadStatus = 1;
    {
        HolderProcess holder(HolderProgram(), ime);
        ASSERT_TRUE(holder.Ready());
        ScriptedDialogs dialogs([](CDialog& d) { ClickButton(d.m_hWnd, IDCANCEL); });
        EXPECT_EQ(1, ConfirmImeNotLoaded(nullptr));
        EXPECT_EQ(1, dialogs.Opened());
        EXPECT_FALSE(holder.WaitEnded(0));
    }
    WaitUntilReleased(ime);
    HolderProcess holder(HolderProgram(), ime);
    ASSERT_TRUE(holder.Ready());
    ScriptedDialogs dialogs([](CDialog& d) { ClickButton(d.m_hWnd, IDC_FORCE_END); });
    EXPECT_EQ(0, ConfirmImeNotLoaded(nullptr));
    EXPECT_EQ(1, dialogs.Opened());  // the second pass found nobody left
    EXPECT_TRUE(holder.WaitEnded(2000));
    EXPECT_EQ(1, g_bRetryAfterLoadStatus);  // not touched by the check
}
