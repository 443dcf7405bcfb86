// The option bit in the installed config.dsc, the registry tree deletion and
// the refusal of product key names that are no GUID.
#include <cstdint>
#include <cstring>
#include <string>

#include "registration_test_support.h"

using namespace regtest;

namespace {

struct TestRecord {
    std::wstring name;
    int32_t size;
    uint32_t optionWord;
};

void Put32(std::string& image, size_t at, uint32_t v) { std::memcpy(&image[at], &v, 4); }

uint32_t Get32(const std::string& image, size_t at)
{
    uint32_t v = 0;
    std::memcpy(&v, image.data() + at, 4);
    return v;
}

// A container: count, offset table, records from offset 140 on; `count`
// overrides the stored record count.
std::string Container(const std::vector<TestRecord>& records, uint32_t count = 0xFFFFFFFF)
{
    size_t total = 140;
    for (const auto& r : records) total += r.size > 0 ? r.size : 136;
    std::string image(total, '\0');
    Put32(image, 0, count == 0xFFFFFFFF ? static_cast<uint32_t>(records.size()) : count);
    size_t offset = 140;
    for (size_t i = 0; i < records.size(); ++i) {
        Put32(image, 4 + i * 4, static_cast<uint32_t>(offset));
        Put32(image, offset, static_cast<uint32_t>(records[i].size));
        std::memcpy(&image[offset + 6], records[i].name.c_str(), records[i].name.size() * 2);
        if (records[i].size >= 140) Put32(image, offset + 136, records[i].optionWord);
        offset += records[i].size > 0 ? records[i].size : 136;
    }
    return image;
}

const wchar_t kIme[] = L"zd_ime_config_data_default";
const wchar_t kSoft[] = L"zd_soft_config_data_default";

class ConfigFile : public RegistrationTest {
protected:
    std::wstring Folder() const { return dir_.Path() + L"\\"; }
    std::wstring File() const { return dir_ / L"config.dsc"; }
    void Write(const std::string& image) { ASSERT_TRUE(WriteFileBytes(File(), image.data(), image.size())); }
    std::string Read() const
    {
        std::string data;
        ReadFileBytes(File(), &data);
        return data;
    }
    ScratchFolder dir_{L"cfg"};
};

}  // namespace

TEST_F(ConfigFile, SetsTheProfileBitOfTheImeRecordInPlace)
{
    std::string image = Container({{kSoft, 4296, 0x11}, {L"ZD_IME_Config_Data_DEFAULT", 11236, 0x0003}});
    Write(image);
    EXPECT_TRUE(MarkProfileEnabledInConfig(Folder().c_str()));
    std::string after = Read();
    ASSERT_EQ(image.size(), after.size());
    const size_t imeAt = 140 + 4296;
    EXPECT_EQ(0x4003u, Get32(after, imeAt + 136));
    EXPECT_EQ(0x11u, Get32(after, 140 + 136)) << "the product record keeps its word";
    Put32(image, imeAt + 136, 0x4003);
    EXPECT_EQ(image, after) << "nothing but the one word changes";
}

TEST_F(ConfigFile, LeavesBadContainersUnchanged)
{
    // Missing file.
    EXPECT_FALSE(MarkProfileEnabledInConfig(Folder().c_str()));
    EXPECT_FALSE(FileExists(File())) << "a missing file is not created";
    EXPECT_FALSE(MarkProfileEnabledInConfig(L""));

    const std::vector<std::string> bad = {
        std::string(),                                   // empty: no mapping at all
        std::string("\x01\x00", 2),                      // shorter than the count
        Container({{kSoft, 4296, 0}}),                   // no IME record
        Container({{kSoft, 600, 0}, {kIme, 600, 0}}, 1),  // IME record beyond the stored count
        // Record size past the end of the file.
        Container({{kIme, 600, 0}}).substr(0, 500),
        // IME record too small to hold the option word.
        Container({{kIme, 138, 0}}),
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        Write(bad[i]);
        EXPECT_FALSE(MarkProfileEnabledInConfig(Folder().c_str())) << "case " << i;
        EXPECT_EQ(bad[i], Read()) << "case " << i;
    }

    // An offset pointing outside the file, and a name without terminator.
    std::string outside = Container({{kIme, 600, 0}});
    Put32(outside, 4, 0x7FFFFFF0);
    std::string unterminated = Container({{kIme, 600, 0}});
    for (size_t c = 0; c < 65; ++c) std::memcpy(&unterminated[140 + 6 + c * 2], L"x", 2);
    for (const std::string& image : {outside, unterminated}) {
        Write(image);
        EXPECT_FALSE(MarkProfileEnabledInConfig(Folder().c_str()));
        EXPECT_EQ(image, Read());
    }

    // The count honours its low 8 bits only: 0x104 means 4 records.
    std::vector<TestRecord> five = {{kSoft, 200, 0}, {kSoft, 200, 0}, {kSoft, 200, 0}, {kSoft, 200, 0}, {kIme, 200, 0}};
    std::string countHigh = Container(five, 0x104);
    Write(countHigh);
    EXPECT_FALSE(MarkProfileEnabledInConfig(Folder().c_str()));
    EXPECT_EQ(countHigh, Read());
}

TEST_F(RegistrationTest, DeleteRegistryTreeRemovesEveryLevel)
{
    const std::wstring base = L"Software\\ZerdaRegTreeTest" + NewGuidText().substr(1, 8);
    SetString(HKEY_CURRENT_USER, base + L"\\a\\b\\c", L"v", L"1");
    SetString(HKEY_CURRENT_USER, base + L"\\a\\b2", nullptr, L"2");
    SetString(HKEY_CURRENT_USER, base + L"\\d", L"w", L"3");
    SetString(HKEY_CURRENT_USER, base, L"x", L"4");
    HKEY handle;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, base.c_str(), 0, KEY_ALL_ACCESS, &handle));
    EXPECT_EQ(ERROR_SUCCESS, DeleteRegistryTree(HKEY_CURRENT_USER, base.c_str(), handle));
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, base));
}

TEST_F(RegistrationTest, DeleteRegistryTreeStopsAtASubkeyItCannotOpen)
{
    const std::wstring base = L"Software\\ZerdaRegTreeTest" + NewGuidText().substr(1, 8);
    SetString(HKEY_CURRENT_USER, base + L"\\keep", L"v", L"1");
    // A link to a key that does not exist enumerates but never opens.
    HKEY link;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, (base + L"\\broken").c_str(), 0, nullptr,
                                             REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS, nullptr, &link, nullptr));
    const wchar_t target[] = L"\\Registry\\Machine\\Software\\ZerdaNoSuchKeyAnywhere";
    RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target),
                   sizeof target - sizeof(wchar_t));
    RegCloseKey(link);
    HKEY probe;
    ASSERT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, (base + L"\\broken").c_str(), 0, KEY_ALL_ACCESS, &probe));

    HKEY handle;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, base.c_str(), 0, KEY_ALL_ACCESS, &handle));
    EXPECT_NE(ERROR_SUCCESS, DeleteRegistryTree(HKEY_CURRENT_USER, base.c_str(), handle));  // returns: no loop
    EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, base));

    // Clean up by removing the link itself.
    HKEY parent;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, base.c_str(), 0, KEY_ALL_ACCESS, &parent) == ERROR_SUCCESS) {
        HKEY self;
        if (RegOpenKeyExW(parent, L"broken", REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, &self) == ERROR_SUCCESS) {
            RegDeleteKeyW(self, L"");
            RegCloseKey(self);
        }
        RegCloseKey(parent);
    }
    DeleteRegistryKey(HKEY_CURRENT_USER, base);
}

TEST_F(RegistrationTest, NamesThatAreNoGuidAreRefused)
{
    Product other(L"N");
    other.Fill();
    WriteProductKeys();
    ASSERT_TRUE(RegisterTextServiceClass(other.guid.c_str(), L"C:\\x.ime", false));

    for (const wchar_t* bad : {L"", L"not-a-guid", L"{G}", L"..\\CLSID"}) {
        EXPECT_EQ(ERROR_INVALID_PARAMETER, RemoveProductKeys(bad)) << bad;
        EXPECT_EQ(ERROR_INVALID_PARAMETER, RemoveTextServiceClassKeys(bad)) << bad;
        EXPECT_FALSE(RegisterTextServiceClass(bad, L"C:\\x.ime", false)) << bad;
        other.Fill();
        BoundedCopy(g_setup.name, kNameChars, bad);
        EXPECT_FALSE(RegisterInputMethod()) << bad;
        RemoveTextService(bad);
        ReregisterInputMethod(bad);
    }
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, L"Software\\ZerdaIME3\\not-a-guid"));
    EXPECT_TRUE(RegString(HKEY_LOCAL_MACHINE, L"Software\\ZerdaIME3", L"IMEName").empty())
        << "an empty name must not write into the vendor key";
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, other.ProductKey()));
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, other.Wow64ProductKey()));
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, other.ClassKey()));
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID"));
}
