// Font installation: names, the Fonts registry values, fonts already there.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/setup_context.h"
#include "common/test_support.h"
#include "payload/fonts.h"

namespace {

const wchar_t kFontsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

std::string SampleFont()
{
    std::string bytes;
    // The payload's own fonts, as the build placed them.
    ReadFileBytes(BuildDir() + L"\\demo\\payload\\$fonts$\\UKIJTuT.ttf", &bytes);
    return bytes;
}

bool FontValue(const std::wstring& name, std::wstring* data, DWORD* bytes)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kFontsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    wchar_t buffer[300] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    DWORD type = 0;
    LONG rc = RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return false;
    *data = buffer;
    *bytes = size;
    return true;
}

// Undoes what an installation did: the values, the loaded fonts, the files.
class FontCleanup {
public:
    ~FontCleanup()
    {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kFontsKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            for (const auto& v : values_) RegDeleteValueW(key, v.c_str());
            RegCloseKey(key);
        }
        for (const auto& f : files_) {
            RemoveFontResourceW(f.c_str());
            DeleteFileW(f.c_str());
        }
    }
    void Value(const std::wstring& v) { values_.push_back(v); }
    void File(const std::wstring& f) { files_.push_back(f); }

private:
    std::vector<std::wstring> values_;
    std::vector<std::wstring> files_;
};

std::wstring SystemFontsFolder()
{
    wchar_t fonts[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, CSIDL_FONTS, nullptr, 0, fonts);
    std::wstring f = fonts;
    if (!f.empty() && f.back() != L'\\') f += L'\\';
    return f;
}

}  // namespace

TEST(Fonts, NamesValuesAndFontsAlreadyPresent)
{
    std::string font = SampleFont();
    ASSERT_GT(font.size(), 1000u);
    ScratchFolder src(L"fsrc");
    ScratchFolder dst(L"fdst");
    std::wstring source = src.Path() + L"\\";
    FontCleanup cleanup;
    const std::wstring tag = L"ztpl" + std::to_wstring(GetCurrentProcessId());

    ASSERT_TRUE(WriteFileBytes(source + L"Upper" + tag + L".TTF", font.data(), font.size()));
    ASSERT_TRUE(WriteFileBytes(source + tag + L"b.ttf", font.data(), font.size()));
    ASSERT_TRUE(WriteFileBytes(source + tag + L"c.fon", font.data(), font.size()));
    ASSERT_TRUE(WriteFileBytes(source + tag + L"d.ttf.bak", font.data(), font.size()));
    ASSERT_TRUE(WriteFileBytes(source + tag + L"e.ttc", font.data(), font.size()));
    std::wstring longName = tag + std::wstring(60, L'l') + L".ttf";
    ASSERT_TRUE(WriteFileBytes(source + longName, font.data(), font.size()));
    // Already in the fonts folder under another case of its name.
    ASSERT_TRUE(WriteFileText(dst / (L"ZTPL" + tag.substr(4) + L"B.TTF"), "existing"));

    std::wstring lowerTag = tag;
    for (const wchar_t* v : {L"upper%s(TrueType)", L"%sb(TrueType)", L"%sd(TrueType)", L"%se.ttc(TrueType-C)"}) {
        wchar_t name[128];
        swprintf(name, 128, v, lowerTag.c_str());
        cleanup.Value(name);
    }
    std::wstring longValue = (longName.substr(0, longName.size() - 4) + L"(TrueType)").substr(0, 63);
    cleanup.Value(longValue);
    for (const std::wstring& f : {L"upper" + tag + L".ttf", tag + L"d.ttf.bak", tag + L"e.ttc", longName})
        cleanup.File(dst / f);

    InstallFontsFromFolder(source.c_str(), dst.Path().c_str());  // no trailing backslash

    std::wstring data;
    DWORD bytes = 0;
    // Upper-case payload name: lower-case file and value.
    EXPECT_TRUE(FileExists(dst / (L"upper" + tag + L".ttf")));
    ASSERT_TRUE(FontValue(L"upper" + tag + L"(TrueType)", &data, &bytes));
    EXPECT_EQ(L"upper" + tag + L".ttf", data);

    // ".ttf" in the middle counts; the value name is cut at it.
    ASSERT_TRUE(FontValue(tag + L"d(TrueType)", &data, &bytes));
    EXPECT_EQ(tag + L"d.ttf.bak", data);
    ASSERT_TRUE(FontValue(tag + L"e.ttc(TrueType-C)", &data, &bytes));
    EXPECT_EQ(tag + L"e.ttc", data);
    // A value name longer than 63 characters is cut.
    ASSERT_TRUE(FontValue(longValue, &data, &bytes));
    EXPECT_EQ(longName, data);

    // The present font is untouched and not registered; the .fon is ignored.
    std::string existing;
    ASSERT_TRUE(ReadFileBytes(dst / (tag + L"b.ttf"), &existing));
    EXPECT_EQ("existing", existing);
    EXPECT_FALSE(FontValue(tag + L"b(TrueType)", &data, &bytes));
    EXPECT_FALSE(FileExists(dst / (tag + L"c.fon")));
    EXPECT_TRUE(FileExists(source + L"Upper" + tag + L".TTF"));
}

TEST(Fonts, PayloadFontsGoToTheSystemFolderAndTheSourceIsRemoved)
{
    std::string font = SampleFont();
    ASSERT_GT(font.size(), 1000u);
    ScratchFolder payload(L"fpl");
    auto ctx = std::make_unique<SetupContext>();
    std::memset(ctx.get(), 0, sizeof(SetupContext));
    wcscpy(ctx->payloadFolder, payload.Path().c_str());

    // No $fonts$ folder: nothing happens.
    EXPECT_TRUE(InstallPayloadFonts(*ctx));

    std::wstring tag = L"ztplsys" + std::to_wstring(GetCurrentProcessId());
    std::wstring fonts = payload / L"$fonts$";
    ASSERT_TRUE(CreateDirectoryW(fonts.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(fonts + L"\\" + tag + L".TTF", font.data(), font.size()));
    FontCleanup cleanup;
    cleanup.Value(tag + L"(TrueType)");
    cleanup.File(SystemFontsFolder() + tag + L".ttf");

    EXPECT_TRUE(InstallPayloadFonts(*ctx));
    EXPECT_TRUE(FileExists(SystemFontsFolder() + tag + L".ttf"));
    std::wstring data;
    DWORD bytes = 0;
    ASSERT_TRUE(FontValue(tag + L"(TrueType)", &data, &bytes));
    EXPECT_EQ(tag + L".ttf", data);
    EXPECT_FALSE(DirExists(fonts));

    // A repair run: the font is still there and is left as it is.
    ASSERT_TRUE(CreateDirectoryW(fonts.c_str(), nullptr));
    ASSERT_TRUE(WriteFileText(fonts + L"\\" + tag + L".ttf", "different"));
    EXPECT_TRUE(InstallPayloadFonts(*ctx));
    std::string installed;
    ASSERT_TRUE(ReadFileBytes(SystemFontsFolder() + tag + L".ttf", &installed));
    EXPECT_TRUE(font == installed);
}
