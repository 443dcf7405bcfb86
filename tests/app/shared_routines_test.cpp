#include <gtest/gtest.h>

#include <string>

#include "app/bounded_string.h"
#include "app/shared_routines.h"
#include "common/test_support.h"

TEST(BoundedString, CopyAppendFormatCutAndTerminate)
{
    wchar_t small[5];
    EXPECT_EQ(4u, BoundedCopy(small, 5, L"abcdefgh"));
    EXPECT_STREQ(L"abcd", small);
    EXPECT_EQ(4u, BoundedAppend(small, 5, L"xyz"));
    EXPECT_STREQ(L"abcd", small);

    wchar_t buf[8] = L"ab";
    EXPECT_EQ(5u, BoundedAppend(buf, 8, L"cde"));
    EXPECT_STREQ(L"abcde", buf);

    wchar_t f[6];
    EXPECT_EQ(5u, BoundedFormat(f, 6, L"%s-%d", L"xyz", 12345));
    EXPECT_STREQ(L"xyz-1", f);
    EXPECT_EQ(3u, BoundedFormat(f, 6, L"%s", L"abc"));
    EXPECT_STREQ(L"abc", f);

    char a[4];
    BoundedFormat(a, 4, "%s", "abcdef");
    EXPECT_STREQ("abc", a);
}

TEST(Folders, ComposeDataFolderWithAndWithoutBackslash)
{
    wchar_t a[MAX_PATH] = L"C:\\ProgramData";
    ComposeDataFolder(a, L"X");
    EXPECT_STREQ(L"C:\\ProgramData\\ZerdaIME3\\X\\", a);
    wchar_t b[MAX_PATH] = L"C:\\ProgramData\\";
    ComposeDataFolder(b, L"X");
    EXPECT_STREQ(L"C:\\ProgramData\\ZerdaIME3\\X\\", b);
    wchar_t c[MAX_PATH] = L"C:\\ProgramData";
    ComposeDataFolder(c, L"");
    EXPECT_STREQ(L"C:\\ProgramData\\ZerdaIME3\\", c);
}

TEST(MappedFiles, EmptyFileFallsBackToTenZeroBytes)
{
    ScratchFolder dir;
    std::wstring path = dir / L"empty.bin";
    ASSERT_TRUE(WriteFileBytes(path, "", 0));
    MappedFile* record = nullptr;
    EXPECT_EQ(1u, OpenMappedFile(path.c_str(), false, &record));
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(10u, record->size);
    EXPECT_EQ(nullptr, record->file);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(0, record->data[i]);
    CloseMappedFile(record, 0);
}
