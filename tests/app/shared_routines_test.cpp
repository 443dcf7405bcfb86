#include <gtest/gtest.h>

#include <string>

#include "base/bounded_string.h"
#include "base/link_checks.h"
#include "base/shared_routines.h"
#include "common/test_support.h"
#include "platform/system_library.h"

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

namespace {

const wchar_t kTestProduct[] = L"{11111111-2222-3333-4444-555555555555}";

struct ProductKey {
    HKEY key = nullptr;
    ProductKey()
    {
        std::wstring path = std::wstring(L"Software\\ZerdaIME3\\") + kTestProduct;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    }
    ~ProductKey()
    {
        RegCloseKey(key);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(L"Software\\ZerdaIME3\\") + kTestProduct).c_str());
    }
    void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes)
    {
        RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes);
    }
};

}  // namespace

TEST(ProductKeyReaders, InstallLocationGainsBackslashOnlyWhenNotEmpty)
{
    ProductKey product;
    wchar_t buffer[MAX_PATH];
    EXPECT_FALSE(ReadInstallLocation(kTestProduct, buffer));  // no value
    EXPECT_STREQ(L"", buffer);

    const wchar_t folder[] = L"C:\\Program Files\\Zerda";
    product.SetRaw(L"InstallLocation", REG_SZ, folder, sizeof folder);
    EXPECT_TRUE(ReadInstallLocation(kTestProduct, buffer));
    EXPECT_STREQ(L"C:\\Program Files\\Zerda\\", buffer);

    product.SetRaw(L"InstallLocation", REG_SZ, L"", sizeof(wchar_t));
    EXPECT_TRUE(ReadInstallLocation(kTestProduct, buffer));
    EXPECT_STREQ(L"", buffer);

    EXPECT_FALSE(ReadInstallLocation(L"{00000000-0000-0000-0000-000000000000}", buffer));
}

TEST(ProductKeyReaders, BadValuesAreBoundedAndTerminated)
{
    ProductKey product;
    // Stored without a terminating null: still read, terminated.
    const wchar_t raw[] = {L'C', L':', L'\\', L'D'};
    product.SetRaw(L"DataLocation", REG_SZ, raw, sizeof raw);
    wchar_t buffer[MAX_PATH];
    std::fill(buffer, buffer + MAX_PATH, L'#');
    EXPECT_TRUE(ReadDataLocation(kTestProduct, buffer));
    EXPECT_STREQ(L"C:\\D", buffer);

    // Wrong type: not read, empty.
    DWORD number = 42;
    product.SetRaw(L"DisplayName", REG_DWORD, &number, sizeof number);
    wchar_t name[40];
    EXPECT_FALSE(ReadProductValue(kTestProduct, L"DisplayName", name, 40));
    EXPECT_STREQ(L"", name);

    // Longer than the capacity: not read, never overrun.
    std::wstring longText(100, L'x');
    product.SetRaw(L"DisplayVersion", REG_SZ, longText.c_str(), static_cast<DWORD>((longText.size() + 1) * 2));
    wchar_t small[8] = L"";
    EXPECT_FALSE(ReadProductValue(kTestProduct, L"DisplayVersion", small, 8));
    EXPECT_STREQ(L"", small);
}

TEST(ProductKeyReaders, ImeNameAndLangId)
{
    ProductKey product;
    wchar_t name[40] = L"stale";
    EXPECT_TRUE(ReadImeNameValue(kTestProduct, name, 40));  // key there, value missing
    EXPECT_STREQ(L"", name);
    EXPECT_FALSE(ReadImeNameValue(L"{00000000-0000-0000-0000-000000000000}", name, 40));
    EXPECT_FALSE(ReadImeNameValue(kTestProduct, name, 0));

    EXPECT_EQ(0, ReadLangId(kTestProduct));
    DWORD lang = 0x12340804;
    product.SetRaw(L"LANGID", REG_DWORD, &lang, sizeof lang);
    EXPECT_EQ(0x0804, ReadLangId(kTestProduct));
}

TEST(Folders, CreateFolderPathMakesEveryLevel)
{
    ScratchFolder dir;
    std::wstring deep = dir / L"a\\b c\\d";
    EXPECT_EQ(1, CreateFolderPath(deep.c_str()));
    EXPECT_TRUE(DirExists(deep));
    std::wstring file = dir / L"plain.txt";
    WriteFileText(file, "x");
    EXPECT_EQ(0, CreateFolderPath(file.c_str()));
}

TEST(Folders, RemoveFolderTreeTakesTheNamedFolderOnly)
{
    ScratchFolder dir;
    // Blanks and what a command interpreter would read ("&", "^", "%Z%" with
    // Z set) are plain text: "a b & c ^ %Z%" goes, its neighbours stay.
    SetEnvironmentVariableW(L"Z", L"x\" & rd /s /q a & \"");
    std::wstring target = dir / L"a b & c ^ %Z%";
    std::wstring a = dir / L"a", b = dir / L"b";
    CreateFolderPath((target + L"\\inner").c_str());
    WriteFileText(target + L"\\inner\\f.txt", "1");
    SetFileAttributesW((target + L"\\inner\\f.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    CreateDirectoryW(a.c_str(), nullptr);
    CreateDirectoryW(b.c_str(), nullptr);
    WriteFileText(a + L"\\keep.txt", "a");
    WriteFileText(b + L"\\keep.txt", "b");

    EXPECT_EQ(1, RemoveFolderTree((target + L"\\").c_str()));
    EXPECT_FALSE(DirExists(target));
    EXPECT_TRUE(FileExists(a + L"\\keep.txt"));
    EXPECT_TRUE(FileExists(b + L"\\keep.txt"));
    SetEnvironmentVariableW(L"Z", nullptr);

    // Nothing to remove: 0 at once; a file is no folder and stays.
    EXPECT_EQ(0, RemoveFolderTree((dir / L"missing").c_str()));
    EXPECT_EQ(0, RemoveFolderTree((a + L"\\keep.txt").c_str()));
    EXPECT_TRUE(FileExists(a + L"\\keep.txt"));
}

TEST(Folders, RemoveFolderTreeNeverFollowsALink)
{
    ScratchFolder dir, outside;
    ASSERT_TRUE(WriteFileText(outside / L"precious.txt", "someone else's"));
    ASSERT_EQ(1, CreateFolderPath((outside / L"inner").c_str()));
    ASSERT_TRUE(WriteFileText(outside / L"inner\\g.txt", "someone else's"));
    const std::wstring tree = dir / L"tree";
    ASSERT_EQ(1, CreateFolderPath((tree + L"\\sub").c_str()));
    ASSERT_TRUE(WriteFileText(tree + L"\\sub\\f.txt", "ours"));
    UnixLink planted(tree + L"\\sub\\planted", outside.Path());
    UnixLink via(dir / L"via", outside.Path());
    ASSERT_TRUE(planted.Made() && via.Made());

    // A link inside the tree: what it leads to stays, the rest goes.
    RemoveFolderTree(tree.c_str());
    EXPECT_FALSE(FileExists(tree + L"\\sub\\f.txt"));
    EXPECT_TRUE(FileExists(outside / L"precious.txt"));
    EXPECT_TRUE(FileExists(outside / L"inner\\g.txt"));
    // A folder reached through a link is not touched at all.
    EXPECT_EQ(0, RemoveFolderTree((dir / L"via\\inner").c_str()));
    EXPECT_TRUE(FileExists(outside / L"inner\\g.txt"));
}

TEST(Links, FilesReachedThroughALinkAreNeitherDeletedNorTakenForInside)
{
    ScratchFolder dir, outside;
    ASSERT_TRUE(WriteFileText(outside / L"_temp_userci_.txt", "someone else's"));
    ASSERT_TRUE(WriteFileText(outside / L"tool.exe", "someone else's"));
    UnixLink via(dir / L"via", outside.Path());
    ASSERT_TRUE(via.Made());
    EXPECT_FALSE(DeleteFileDirectly((dir / L"via\\_temp_userci_.txt").c_str()));
    EXPECT_TRUE(FileExists(outside / L"_temp_userci_.txt"));
    EXPECT_FALSE(IsFileInsideFolder((dir / L"via\\tool.exe").c_str(), dir.Path().c_str()));

    // A plain file goes, read-only or not; a missing one is no deletion.
    const std::wstring plain = dir / L"plain.txt";
    ASSERT_TRUE(WriteFileText(plain, "x"));
    SetFileAttributesW(plain.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(DeleteFileDirectly(plain.c_str()));
    EXPECT_FALSE(FileExists(plain));
    EXPECT_FALSE(DeleteFileDirectly(plain.c_str()));

    // Inside: a file below the folder, not the folder, not one climbing out.
    ASSERT_EQ(1, CreateFolderPath((dir / L"tools").c_str()));
    ASSERT_TRUE(WriteFileText(dir / L"tools\\tool.exe", "ours"));
    EXPECT_TRUE(IsFileInsideFolder((dir / L"tools\\tool.exe").c_str(), (dir.Path() + L"\\").c_str()));
    EXPECT_FALSE(IsFileInsideFolder((dir / L"tools").c_str(), dir.Path().c_str()));
    EXPECT_FALSE(IsFileInsideFolder((dir / L"tools\\..\\..\\" + outside.Path().substr(outside.Path().rfind(L'\\') + 1) +
                                     L"\\tool.exe").c_str(),
                                    dir.Path().c_str()));
    EXPECT_FALSE(IsFileInsideFolder((dir / L"tools\\missing.exe").c_str(), dir.Path().c_str()));
}

TEST(Folders, JoinTempPathAndItsLimit)
{
    wchar_t buffer[MAX_PATH];
    size_t n = JoinTempPath(L"_temp_userci_.txt", buffer);
    EXPECT_GT(n, 17u);
    EXPECT_NE(nullptr, wcsstr(buffer, L"\\_temp_userci_.txt"));

    std::wstring longName(250, L'n');
    EXPECT_EQ(0u, JoinTempPath(longName.c_str(), buffer));
    EXPECT_STREQ(L"", buffer);
}

TEST(DriverPaths, SystemAndWow64Folders)
{
    wchar_t path[MAX_PATH];
    EXPECT_EQ(1, GetSystemImePath(L"VarekIME", path));
    EXPECT_TRUE(EqualsIgnoreAsciiCase(L"C:\\windows\\system32\\VarekIME.ime", path)) << path;
    int n = GetWow64ImePath(L"VarekIME", path);
    EXPECT_EQ(static_cast<int>(wcslen(path)), n);
    EXPECT_TRUE(EqualsIgnoreAsciiCase(L"C:\\windows\\syswow64\\VarekIME.ime", path)) << path;
}

TEST(MappedFiles, MappedViewCreateAndWriteBack)
{
    ScratchFolder dir;
    std::wstring path = dir / L"data.bin";
    MappedFile* created = nullptr;
    ASSERT_EQ(16u, CreateMappedFile(path.c_str(), 16, &created));
    ASSERT_NE(nullptr, created);
    memcpy(created->data, "0123456789abcdef", 16);
    CloseMappedFile(created, 1);

    MappedFile* view = nullptr;
    ASSERT_EQ(16u, OpenMappedFile(path.c_str(), true, &view));
    EXPECT_NE(nullptr, view->mapping);
    view->data[0] = 'X';
    CloseMappedFile(view, 1);
    std::string bytes;
    ReadFileBytes(path, &bytes);
    EXPECT_EQ("X123456789abcdef", bytes);

    MappedFile* none = nullptr;
    EXPECT_EQ(0u, OpenMappedFile((dir / L"missing.bin").c_str(), false, &none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(0u, CreateMappedFile((dir / L"no\\such\\folder.bin").c_str(), 4, &none));
    EXPECT_EQ(nullptr, none);
}

TEST(MappedFiles, FallbackIsAPrivateCopy)
{
    ScratchFolder dir;
    std::wstring path = dir / L"empty.dmg";
    WriteFileBytes(path, "", 0);
    MappedFile* record = nullptr;
    ASSERT_EQ(1u, OpenMappedFile(path.c_str(), true, &record));
    record->data[0] = 'Z';
    CloseMappedFile(record, 1);
    std::string bytes;
    ReadFileBytes(path, &bytes);
    EXPECT_TRUE(bytes.empty());
}

// Loaded from the system folder, so that a later load by bare name (from a
// system DLL, beside a program in the downloads folder) finds that one.
TEST(SystemLibraries, PreloadTakesEachFromTheSystemFolderForLaterLoadsByName)
{
    PreloadSystemLibraries();
    size_t present = 0;
    for (size_t i = 0; i < kLateSystemLibraryCount; ++i) {
        const wchar_t* name = kLateSystemLibraries[i];
        wchar_t expected[MAX_PATH];
        ASSERT_TRUE(ComposeSystemPath(name, expected, MAX_PATH));
        if (!FileExists(expected)) continue;  // not every system has every one
        ++present;
        HMODULE loaded = GetModuleHandleW(name);
        ASSERT_NE(nullptr, loaded) << name;
        wchar_t path[MAX_PATH] = L"";
        GetModuleFileNameW(loaded, path, MAX_PATH);
        EXPECT_EQ(CSTR_EQUAL, CompareStringOrdinal(path, -1, expected, -1, TRUE)) << name;
        HMODULE again = LoadLibraryW(name);
        EXPECT_EQ(loaded, again) << name;
        if (again) FreeLibrary(again);
    }
    EXPECT_GE(present, 6u);
}
