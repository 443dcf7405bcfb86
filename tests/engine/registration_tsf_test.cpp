// The text-service road (system 6.2 and later): class keys, profile,
// categories, substitute, the option bit, and the removal operations.
#include <cstdint>
#include <cstring>

#include "registration_test_support.h"

using namespace regtest;

namespace {

// A data folder holding a config.dsc whose IME record has the given word.
class DataFolder {
public:
    explicit DataFolder(uint32_t word)
    {
        image_.assign(140 + 600, '\0');
        uint32_t one = 1, offset = 140, size = 600;
        std::memcpy(&image_[0], &one, 4);
        std::memcpy(&image_[4], &offset, 4);
        std::memcpy(&image_[140], &size, 4);
        const wchar_t name[] = L"zd_ime_config_data_default";
        std::memcpy(&image_[146], name, sizeof name);
        std::memcpy(&image_[140 + 136], &word, 4);
        WriteFileBytes(dir_ / L"config.dsc", image_.data(), image_.size());
    }
    std::wstring Path() const { return dir_.Path() + L"\\"; }
    uint32_t Word() const
    {
        std::string data;
        ReadFileBytes(dir_ / L"config.dsc", &data);
        uint32_t w = 0;
        if (data.size() >= 280) std::memcpy(&w, data.data() + 276, 4);
        return w;
    }

private:
    ScratchFolder dir_{L"data"};
    std::string image_;
};

}  // namespace

TEST_F(RegistrationTest, TextServiceSystemGetsClassKeysProfileAndCategories)
{
    Product p(L"T");
    DataFolder data(0);
    p.Fill();
    BoundedCopy(g_setup.dataFolder, kPathChars, data.Path().c_str());
    SetImeOptionWord(g_setup, 0);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Keyboard Layout\\Substitutes", L"00000480");

    ASSERT_TRUE(RegisterInputMethod());
    ExpectFullRegistration(p);
    EXPECT_EQ(0x4000u, ImeOptionWord(g_setup));
    EXPECT_EQ(0x4000u, data.Word()) << "the installed configuration records the enabled profile";
    EXPECT_EQ(data.Path(), RegString(HKEY_LOCAL_MACHINE, p.ProductKey(), L"DataLocation"));

    // Twice: still one profile, one language, eight categories.
    ASSERT_TRUE(RegisterInputMethod());
    ExpectFullRegistration(p);
    EXPECT_EQ(1u, SubkeyNames(HKEY_LOCAL_MACHINE, TipKey(p) + L"\\LanguageProfile").size());
    EXPECT_EQ(1u, SubkeyNames(HKEY_LOCAL_MACHINE, TipKey(p) + L"\\LanguageProfile\\0x00000804").size());
    EXPECT_EQ(8u, SubkeyNames(HKEY_LOCAL_MACHINE, TipKey(p) + L"\\Category\\Item\\" + p.guid).size());
}

TEST_F(RegistrationTest, AnEnabledOptionWordLeavesTheFileAlone)
{
    Product p(L"W");
    DataFolder data(0);
    p.Fill();
    BoundedCopy(g_setup.dataFolder, kPathChars, data.Path().c_str());
    SetImeOptionWord(g_setup, 0x1000);
    ASSERT_TRUE(RegisterInputMethod());
    EXPECT_EQ(0x1000u, ImeOptionWord(g_setup));
    EXPECT_EQ(0u, data.Word());
    EXPECT_EQ(1u, RegDword(HKEY_LOCAL_MACHINE, ProfileKey(p), L"Enable"));
}

TEST_F(RegistrationTest, WithoutThePermissionBitItFailsAfterKeysAndRemoval)
{
    Product p(L"F");
    p.Fill();
    ASSERT_TRUE(RegisterInputMethod());
    ASSERT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, p.ClassKey()));

    p.Fill();
    SetEngineFlags(g_setup, 0);
    BoundedCopy(DisplayVersion(g_setup), kDisplayVersionChars, L"2.1");
    EXPECT_FALSE(RegisterInputMethod());
    EXPECT_EQ(L"2.1", RegString(HKEY_LOCAL_MACHINE, p.ProductKey(), L"DisplayVersion"));
    EXPECT_EQ(L"2.1", RegString(HKEY_LOCAL_MACHINE, p.Wow64ProductKey(), L"DisplayVersion"));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, p.ClassKey()));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, p.Wow64ClassKey()));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, TipKey(p)));
}

TEST_F(RegistrationTest, RemovalLeavesNothingAndSparesAnotherProduct)
{
    Product a(L"A");
    Product b(L"B");
    b.Fill();
    ASSERT_TRUE(RegisterInputMethod());
    a.Fill();
    ASSERT_TRUE(RegisterInputMethod());
    SetString(HKEY_LOCAL_MACHINE, UninstallKeyPath(a.guid),
              L"DisplayName", L"Zerda Test");
    ZeroMemory(&g_setup, sizeof g_setup);

    RemoveTextService(a.guid.c_str());
    EXPECT_EQ(0x0804u, LangId(g_setup));
    EXPECT_EQ(a.guid, g_setup.name);
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, TipKey(a)));
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, TipKey(a)));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, a.ClassKey()));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, a.Wow64ClassKey()));
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, a.ProductKey())) << "the service keeps the product key";

    EXPECT_EQ(ERROR_SUCCESS, RemoveProductKeys(a.guid.c_str()));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, a.ProductKey()));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, a.Wow64ProductKey()));
    EXPECT_FALSE(
        RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKeyPath(a.guid)));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RemoveTextServiceClassKeys(a.guid.c_str()));

    ExpectFullRegistration(b);
}

TEST_F(RegistrationTest, TextServiceRemovalWithoutLangIdUsesTheDefault)
{
    Product p(L"D");
    p.Fill();
    ASSERT_TRUE(RegisterInputMethod());
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, p.ProductKey().c_str(), L"LANGID");
    ZeroMemory(&g_setup, sizeof g_setup);
    RemoveTextService(p.guid.c_str());
    EXPECT_EQ(2052u, LangId(g_setup));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, TipKey(p)));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, p.ClassKey()));
}

TEST_F(RegistrationTest, ReregistrationReadsTheProductKey)
{
    Product p(L"R");
    p.Fill();
    ASSERT_TRUE(RegisterInputMethod());
    RemoveTextService(p.guid.c_str());
    ASSERT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, TipKey(p)));

    ZeroMemory(&g_setup, sizeof g_setup);
    ReregisterInputMethod(p.guid.c_str());
    EXPECT_EQ(0x30000000u, EngineFlags(g_setup));
    EXPECT_EQ(0x1000u, ImeOptionWord(g_setup));
    EXPECT_EQ(L"C:\\Program Files\\ZerdaTest\\", std::wstring(g_setup.installFolder));
    ExpectFullRegistration(p);
}

TEST_F(RegistrationTest, ReregistrationEndsAtAMissingOrMistypedValue)
{
    Product p(L"X");
    p.Fill();
    WriteProductKeys();
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, p.ProductKey().c_str(), L"DisplayVersion");
    ZeroMemory(&g_setup, sizeof g_setup);
    ReregisterInputMethod(p.guid.c_str());
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, p.ClassKey()));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, TipKey(p)));

    p.Fill();
    WriteProductKeys();
    DWORD number = 5;
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, p.ProductKey().c_str(), L"InstallLocation", REG_DWORD, &number, 4);
    ZeroMemory(&g_setup, sizeof g_setup);
    ReregisterInputMethod(p.guid.c_str());
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, p.ClassKey()));
    EXPECT_EQ(0u, EngineFlags(g_setup));

    // A language name too long for its field does not fit: the run ends.
    p.Fill();
    WriteProductKeys();
    SetString(HKEY_LOCAL_MACHINE, p.ProductKey(), L"LanguageName", std::wstring(60, L'L'));
    ZeroMemory(&g_setup, sizeof g_setup);
    ReregisterInputMethod(p.guid.c_str());
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, p.ClassKey()));
}
