#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>

#include "base/setup_context.h"
#include "base/shared_routines.h"
#include "common/test_support.h"
#include "engine/progress.h"
#include "engine_test_support.h"

TEST(ReportProgress, AppendsEachLineWithABreakAndMovesTheBar)
{
    ReportWindows windows;
    ReportProgress(0, L"start\r\n");
    EXPECT_EQ(0, windows.BarPosition());
    ReportProgress(10, L"  1.one");
    EXPECT_EQ(10, windows.BarPosition());
    EXPECT_EQ(10, g_setup.lastProgress);
    ReportProgress(100, L"  7.end\r\n");
    EXPECT_EQ(100, windows.BarPosition());
    // A line given with its own break is followed by an empty line.
    EXPECT_EQ(L"start\r\n\r\n  1.one\r\n  7.end\r\n\r\n", windows.LogText());

    // The caret was at the end: a click elsewhere in the box does not make the
    // next line land in the middle.
    SendMessageW(windows.Log(), EM_SETSEL, 0, 3);
    ReportProgress(0, L"failed");
    EXPECT_EQ(L"start\r\n\r\n  1.one\r\n  7.end\r\n\r\nfailed\r\n", windows.LogText());
    EXPECT_EQ(0, windows.BarPosition());
    EXPECT_EQ(0, g_setup.lastProgress);
}

TEST(ReportProgress, WithoutTextOnlyTheBarMoves)
{
    ReportWindows windows;
    ReportProgress(55, nullptr);
    EXPECT_EQ(55, windows.BarPosition());
    EXPECT_EQ(L"", windows.LogText());
}

TEST(ReportProgress, MissingWindowsAreLeftAlone)
{
    ReportWindows windows;
    g_setup.progressBar = nullptr;
    g_setup.lastProgress = 7;
    ReportProgress(40, L"only the log");
    EXPECT_EQ(7, g_setup.lastProgress);  // no bar: nothing remembered
    EXPECT_EQ(0, windows.BarPosition());
    EXPECT_EQ(L"only the log\r\n", windows.LogText());

    g_setup.progressBar = windows.Bar();
    g_setup.logBox = nullptr;
    ReportProgress(70, L"lost");
    EXPECT_EQ(70, windows.BarPosition());
    EXPECT_EQ(L"only the log\r\n", windows.LogText());
}

TEST(ClearVirtualizedCopies, RemovesTheProductFolderOfDrivesCToY)
{
    wchar_t cache[MAX_PATH] = L"";
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_INTERNET_CACHE | CSIDL_FLAG_CREATE, nullptr, 0, cache)));
    std::wstring base = WithBackslash(cache) + L"Virtualized\\";
    auto productFolder = [&](wchar_t drive) {
        return base + drive + L"\\ProgramData\\ZerdaIME3";
    };
    for (wchar_t drive : {L'c', L'm', L'y', L'z'}) {
        std::wstring folder = productFolder(drive) + L"\\ime";
        ASSERT_TRUE(SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr) == ERROR_SUCCESS || DirExists(folder));
        ASSERT_TRUE(WriteFileText(folder + L"\\user.dat", "x"));
    }
    ASSERT_TRUE(WriteFileText(base + L"c\\ProgramData\\other.txt", "keep"));
    {
        // The cache folder is the user's: links planted there lead the
        // elevated removal nowhere, whether as the product folder or on the way.
        ScratchFolder elsewhere;
        ASSERT_TRUE(WriteFileText(elsewhere / L"system.dat", "someone else's"));
        ASSERT_EQ(1, CreateFolderPath((elsewhere / L"ProgramData\\ZerdaIME3").c_str()));
        ASSERT_TRUE(WriteFileText(elsewhere / L"ProgramData\\ZerdaIME3\\system.dat", "someone else's"));
        ASSERT_EQ(1, CreateFolderPath((base + L"d\\ProgramData").c_str()));
        UnixLink asProduct(productFolder(L'd'), elsewhere.Path());
        UnixLink onTheWay(base + L"e", elsewhere.Path());
        ASSERT_TRUE(asProduct.Made() && onTheWay.Made());

        ClearVirtualizedCopies();

        EXPECT_TRUE(FileExists(elsewhere / L"system.dat"));
        EXPECT_TRUE(FileExists(elsewhere / L"ProgramData\\ZerdaIME3\\system.dat"));
    }
    EXPECT_FALSE(DirExists(productFolder(L'c')));
    EXPECT_FALSE(DirExists(productFolder(L'm')));
    EXPECT_FALSE(DirExists(productFolder(L'y')));
    EXPECT_TRUE(FileExists(productFolder(L'z') + L"\\ime\\user.dat"));  // z is not visited
    EXPECT_TRUE(FileExists(base + L"c\\ProgramData\\other.txt"));
    DeleteTree(base.substr(0, base.size() - 1));
}
