#include <gtest/gtest.h>

#include <string>

#include "common/test_support.h"
#include "files/version_info.h"
#include "files_test_helpers.h"

namespace {

uint64_t V(uint64_t a, uint64_t b, uint64_t c, uint64_t d) { return a << 48 | b << 32 | c << 16 | d; }

struct Translation {
    WORD language;
    WORD codePage;
};

// Reads the version block with the system's own functions.
struct SystemVersionInfo {
    std::vector<BYTE> block;
    explicit SystemVersionInfo(const std::wstring& file)
    {
        DWORD handle = 0;
        DWORD size = GetFileVersionInfoSizeW(file.c_str(), &handle);
        if (!size) return;
        block.resize(size);
        if (!GetFileVersionInfoW(file.c_str(), handle, size, block.data())) block.clear();
    }
    std::vector<Translation> Translations() const
    {
        void* p = nullptr;
        UINT bytes = 0;
        if (block.empty() || !VerQueryValueW(const_cast<BYTE*>(block.data()), L"\\VarFileInfo\\Translation", &p, &bytes))
            return {};
        auto* t = static_cast<Translation*>(p);
        return std::vector<Translation>(t, t + bytes / sizeof(Translation));
    }
    std::wstring String(const wchar_t* table, const wchar_t* key) const
    {
        std::wstring query = std::wstring(L"\\StringFileInfo\\") + table + L"\\" + key;
        void* p = nullptr;
        UINT chars = 0;
        if (block.empty() || !VerQueryValueW(const_cast<BYTE*>(block.data()), query.c_str(), &p, &chars) || !p)
            return L"<none>";
        return static_cast<const wchar_t*>(p);
    }
};

BOOL CALLBACK CountLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR user)
{
    reinterpret_cast<std::vector<WORD>*>(user)->push_back(language);
    return TRUE;
}

std::vector<WORD> VersionResourceLanguages(const std::wstring& file)
{
    std::vector<WORD> languages;
    HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return languages;
    EnumResourceLanguagesW(module, RT_VERSION, MAKEINTRESOURCEW(1), &CountLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    FreeLibrary(module);
    return languages;
}

int SetLanguageOf(const std::wstring& file, WORD language)
{
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(file.c_str(), &handle);
    return SetVersionLanguage(file.c_str(), language, size, handle);
}

const WORD kUyghur = 0x0480;

}  // namespace

TEST(ParseFileVersionText, OnlyDotsSeparateAndEachPartIsSixteenBits)
{
    EXPECT_EQ(V(2, 0, 0, 0), ParseFileVersionText(L"2, 0, 0, 1"));
    EXPECT_EQ(V(1, 2, 0, 0), ParseFileVersionText(L"1.2"));
    EXPECT_EQ(V(1, 2, 3, 4), ParseFileVersionText(L"1.2.3.4.5"));
    EXPECT_EQ(V(6, 1, 7600, 16385), ParseFileVersionText(L"6.1.7600.16385 (remark)"));
    EXPECT_EQ(V(1, 0, 2, 0), ParseFileVersionText(L"1..2"));
    EXPECT_EQ(V(3, 65535, 0, 0), ParseFileVersionText(L"  +3.-1"));
    EXPECT_EQ(V(70000 % 65536, 1, 0, 0), ParseFileVersionText(L"70000.1"));
    EXPECT_EQ(V(0, 5, 0, 0), ParseFileVersionText(L"v1.5"));
    EXPECT_EQ(0u, ParseFileVersionText(L""));
    EXPECT_EQ(0u, ParseFileVersionText(nullptr));
    // Compared as unsigned 64-bit numbers: a high major wins over everything.
    EXPECT_GT(ParseFileVersionText(L"65535"), ParseFileVersionText(L"1.65535.65535.65535"));
}

TEST(GetFileVersionNumber, ReadsRealVersionResources)
{
    EXPECT_EQ(V(2, 0, 0, 0), GetFileVersionNumber(FixturePath(L"v2001.dll").c_str()));
    EXPECT_EQ(V(1, 2, 0, 0), GetFileVersionNumber(FixturePath(L"v12.dll").c_str()));
    EXPECT_EQ(V(1, 2, 3, 4), GetFileVersionNumber(FixturePath(L"v12345.dll").c_str()));
    EXPECT_EQ(V(6, 1, 7600, 16385), GetFileVersionNumber(FixturePath(L"remark.dll").c_str()));
    EXPECT_EQ(V(5, 0, 0, 0), GetFileVersionNumber(FixturePath(L"drv.ime").c_str()));
    // The first translation without the value is passed over.
    EXPECT_EQ(V(4, 0, 0, 0), GetFileVersionNumber(FixturePath(L"two.dll").c_str()));
}

TEST(GetFileVersionNumber, NoVersionInformationIsZero)
{
    ScratchFolder dir;
    EXPECT_EQ(0u, GetFileVersionNumber(FixturePath(L"nofv.dll").c_str()));
    EXPECT_EQ(0u, GetFileVersionNumber(FixturePath(L"plain.dll").c_str()));
    EXPECT_EQ(0u, GetFileVersionNumber(FixturePath(L"notrans.dll").c_str()));
    EXPECT_EQ(0u, GetFileVersionNumber((dir / L"absent.dll").c_str()));
    std::wstring text = dir / L"readme.txt";
    ASSERT_TRUE(WriteFileText(text, "not a program"));
    EXPECT_EQ(0u, GetFileVersionNumber(text.c_str()));
}

TEST(GetFileVersionNumber, MalformedVersionResourceReadsAsZero)
{
    ScratchFolder dir;
    std::wstring file = dir / L"broken.dll";
    ASSERT_TRUE(CopyFixture(L"plain.dll", file));
    // A version resource whose length fields promise more than it holds.
    BYTE garbage[24] = {0xFF, 0x7F, 0x34, 0x00, 0x00, 0x00, 'V', 0, 'S', 0, '_', 0};
    HANDLE update = BeginUpdateResourceW(file.c_str(), FALSE);
    ASSERT_NE(nullptr, update);
    ASSERT_TRUE(UpdateResourceW(update, RT_VERSION, MAKEINTRESOURCEW(1), 0x409, garbage, sizeof garbage));
    ASSERT_TRUE(EndUpdateResourceW(update, FALSE));

    EXPECT_EQ(0u, GetFileVersionNumber(file.c_str()));
    wchar_t out[16] = L"x";
    QueryVersionString(file.c_str(), L"FileDescription", out, 16);
    EXPECT_STREQ(L"", out);
    EXPECT_EQ(0, SetLanguageOf(file, kUyghur));
}

TEST(QueryVersionString, FirstTranslationWithTheValueWinsAndIsCut)
{
    wchar_t out[64];
    QueryVersionString(FixturePath(L"two.dll").c_str(), L"FileDescription", out, 64);
    EXPECT_STREQ(L"first table", out);
    QueryVersionString(FixturePath(L"two.dll").c_str(), L"FileDescription", out, 4);
    EXPECT_STREQ(L"fir", out);
    QueryVersionString(FixturePath(L"holder.exe").c_str(), L"FileDescription", out, 64);
    EXPECT_STREQ(L"Zerda module holder", out);
    QueryVersionString(FixturePath(L"v12.dll").c_str(), L"NoSuchKey", out, 64);
    EXPECT_STREQ(L"", out);
    QueryVersionString(FixturePath(L"plain.dll").c_str(), L"FileVersion", out, 64);
    EXPECT_STREQ(L"", out);
}

TEST(SetVersionLanguage, RenamesTheStringTableAndTheTranslation)
{
    ScratchFolder dir;
    std::wstring file = dir / L"lang.dll";
    ASSERT_TRUE(CopyFixture(L"v1000.dll", file));

    EXPECT_EQ(1, SetLanguageOf(file, kUyghur));

    SystemVersionInfo info(file);
    std::vector<Translation> t = info.Translations();
    ASSERT_EQ(1u, t.size());
    EXPECT_EQ(kUyghur, t[0].language);
    EXPECT_EQ(1200, t[0].codePage);
    EXPECT_EQ(L"1.0.0.0", info.String(L"048004b0", L"FileVersion"));
    EXPECT_EQ(L"<none>", info.String(L"040904b0", L"FileVersion"));
    EXPECT_EQ(V(1, 0, 0, 0), GetFileVersionNumber(file.c_str()));
    // The resource was replaced under the language it was stored with.
    std::vector<WORD> languages = VersionResourceLanguages(file);
    ASSERT_EQ(1u, languages.size());
    EXPECT_EQ(0x409, languages[0]);

    // A second call finds the language already there and writes nothing.
    std::string before, after;
    ASSERT_TRUE(ReadFileBytes(file, &before));
    EXPECT_EQ(1, SetLanguageOf(file, kUyghur));
    ASSERT_TRUE(ReadFileBytes(file, &after));
    EXPECT_TRUE(before == after);
}

TEST(SetVersionLanguage, OnlyTheFirstTableIsRenamed)
{
    ScratchFolder dir;
    std::wstring file = dir / L"two.dll";
    ASSERT_TRUE(CopyFixture(L"two.dll", file));
    EXPECT_EQ(1, SetLanguageOf(file, kUyghur));
    SystemVersionInfo info(file);
    std::vector<Translation> t = info.Translations();
    ASSERT_EQ(2u, t.size());
    EXPECT_EQ(kUyghur, t[0].language);
    EXPECT_EQ(0x409, t[1].language);
    EXPECT_EQ(L"first table", info.String(L"048004b0", L"FileDescription"));
    EXPECT_EQ(L"second table", info.String(L"040904b0", L"FileDescription"));
    // Its translation names 0x804 first while the resource is stored under
    // 0x409: still replaced, not joined by a second resource.
    std::vector<WORD> languages = VersionResourceLanguages(file);
    ASSERT_EQ(1u, languages.size());
    EXPECT_EQ(0x409, languages[0]);
}

TEST(SetVersionLanguage, FilesWithoutATranslationAreLeftAlone)
{
    ScratchFolder dir;
    std::wstring file = dir / L"notrans.dll";
    ASSERT_TRUE(CopyFixture(L"notrans.dll", file));
    EXPECT_EQ(0, SetLanguageOf(file, kUyghur));
    EXPECT_TRUE(SameContent(file, FixturePath(L"notrans.dll")));
    EXPECT_EQ(0, SetVersionLanguage(file.c_str(), kUyghur, 0, 0));
    EXPECT_EQ(0, SetVersionLanguage((dir / L"absent.dll").c_str(), kUyghur, 4096, 0));
}

TEST(WriteVersionResource, ReplacesTheBlockOrFailsWithoutChange)
{
    ScratchFolder dir;
    std::wstring file = dir / L"target.dll";
    ASSERT_TRUE(CopyFixture(L"v1000.dll", file));
    SystemVersionInfo newer(FixturePath(L"v3000.dll"));
    ASSERT_FALSE(newer.block.empty());

    EXPECT_EQ(1, WriteVersionResource(file.c_str(), 0xFFFF, newer.block.data(),
                                      static_cast<DWORD>(newer.block.size())));
    EXPECT_EQ(V(3, 0, 0, 0), GetFileVersionNumber(file.c_str()));
    EXPECT_EQ(1u, VersionResourceLanguages(file).size());

    // No version resource to take the language from.
    std::wstring plain = dir / L"plain.dll";
    ASSERT_TRUE(CopyFixture(L"plain.dll", plain));
    EXPECT_EQ(0, WriteVersionResource(plain.c_str(), 0xFFFF, newer.block.data(),
                                      static_cast<DWORD>(newer.block.size())));
    EXPECT_TRUE(SameContent(plain, FixturePath(L"plain.dll")));

    // A file another program holds open without sharing cannot be updated.
    std::wstring locked = dir / L"locked.dll";
    ASSERT_TRUE(CopyFixture(L"v1000.dll", locked));
    HANDLE hold = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hold);
    EXPECT_EQ(0, WriteVersionResource(locked.c_str(), 0x409, newer.block.data(),
                                      static_cast<DWORD>(newer.block.size())));
    CloseHandle(hold);
    EXPECT_TRUE(SameContent(locked, FixturePath(L"v1000.dll")));

    EXPECT_EQ(0, WriteVersionResource((dir / L"absent.dll").c_str(), 0x409, newer.block.data(),
                                      static_cast<DWORD>(newer.block.size())));
}
