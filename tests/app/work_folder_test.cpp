#include <gtest/gtest.h>

#include <cstring>

#include "app/work_folder.h"
#include "base/shared_routines.h"
#include "common/test_support.h"

namespace {

struct Prepared {
    SetupContext ctx;
    Prepared() { std::memset(&ctx, 0, sizeof ctx); }
};

}  // namespace

TEST(WorkFolder, OwnFolderInTheMachinesTemporaryFolderHeldUntilRemoved)
{
    static Prepared first, second;
    ASSERT_TRUE(PrepareWorkFolder(first.ctx));
    const std::wstring work = first.ctx.workFolder;
    EXPECT_EQ(0u, work.find(MachineTempFolder() + L"ZerdaIME3.")) << work;
    EXPECT_NE(L'\\', work.back());
    EXPECT_TRUE(DirExists(work));
    EXPECT_NE(L'\0', first.ctx.ownFilePath[0]);

    // Held: neither renamed away nor replaced while the run lasts.
    EXPECT_FALSE(MoveFileExW(work.c_str(), (work + L".swapped").c_str(), 0));
    EXPECT_FALSE(RemoveDirectoryW(work.c_str()));
    ASSERT_TRUE(WriteFileText(work + L"\\makedata.zip", "payload"));

    RemoveWorkFolder(first.ctx);
    EXPECT_FALSE(DirExists(work));

    // Never the same folder twice; what a killed run left goes, what a live
    // run holds stays.
    const std::wstring left = MachineTempFolder() + L"ZerdaIME3.left", live = MachineTempFolder() + L"ZerdaIME3.live";
    ASSERT_EQ(1, CreateFolderPath((left + L"\\zipdatas").c_str()));
    ASSERT_TRUE(WriteFileText(left + L"\\zipdatas\\zerdaIME.ime", "driver"));
    ASSERT_TRUE(CreateDirectoryW(live.c_str(), nullptr));
    HANDLE held = CreateFileW(live.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    ASSERT_TRUE(PrepareWorkFolder(second.ctx));
    EXPECT_NE(work, std::wstring(second.ctx.workFolder));
    EXPECT_FALSE(DirExists(left));
    EXPECT_TRUE(DirExists(live));
    CloseHandle(held);
    RemoveDirectoryW(live.c_str());
    RemoveWorkFolder(second.ctx);
    EXPECT_FALSE(DirExists(second.ctx.workFolder));
}

TEST(WorkFolder, TheAccountsTemporaryFolderDoesNotMoveIt)
{
    static Prepared run;
    wchar_t old[MAX_PATH];
    GetEnvironmentVariableW(L"TMP", old, MAX_PATH);
    // Too long to hold anything, or leading through a link: neither matters.
    ScratchFolder target;
    UnixLink link(target / L"..\\zt_work_link", target.Path());
    for (const std::wstring& temp : {L"C:\\" + std::wstring(240, L't'), target.Path() + L"\\..\\zt_work_link"}) {
        SetEnvironmentVariableW(L"TMP", temp.c_str());
        ASSERT_TRUE(PrepareWorkFolder(run.ctx)) << temp;
        EXPECT_EQ(0u, std::wstring(run.ctx.workFolder).find(MachineTempFolder())) << run.ctx.workFolder;
        RemoveWorkFolder(run.ctx);
    }
    SetEnvironmentVariableW(L"TMP", old);
    EXPECT_TRUE(Listing(target.Path()).empty());
}
