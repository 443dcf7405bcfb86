#include <gtest/gtest.h>

#include <cstring>

#include "base/shared_routines.h"
#include "app/work_folder.h"
#include "common/test_support.h"

TEST(WorkFolder, PreparedFreshAndRefusedWhileHeld)
{
    static SetupContext ctx;
    std::memset(&ctx, 0, sizeof ctx);
    ASSERT_TRUE(PrepareWorkFolder(ctx));
    std::wstring work = ctx.workFolder;
    EXPECT_NE(std::wstring::npos, work.find(L"\\$zerdaInstaller$"));
    EXPECT_NE(L'\\', work.back());
    EXPECT_TRUE(DirExists(work));
    EXPECT_NE(L'\0', ctx.ownFilePath[0]);

    // Left-overs of an earlier run are removed.
    WriteFileText(work + L"\\old.txt", "old");
    ASSERT_TRUE(PrepareWorkFolder(ctx));
    EXPECT_FALSE(FileExists(work + L"\\old.txt"));

    // Another instance holding a file in it: the start gives up.
    std::wstring held = work + L"\\held.txt";
    HANDLE h = CreateFileW(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_FALSE(PrepareWorkFolder(ctx));
    CloseHandle(h);
    RemoveFolderTree(work.c_str());
}

TEST(WorkFolder, TemporaryFolderTooLong)
{
    static SetupContext ctx;
    std::memset(&ctx, 0, sizeof ctx);
    wchar_t old[MAX_PATH];
    GetEnvironmentVariableW(L"TMP", old, MAX_PATH);
    std::wstring longTemp = L"C:\\" + std::wstring(240, L't');
    SetEnvironmentVariableW(L"TMP", longTemp.c_str());
    EXPECT_FALSE(PrepareWorkFolder(ctx));
    EXPECT_STREQ(L"", ctx.workFolder);
    SetEnvironmentVariableW(L"TMP", old);
}
