#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/bounded_string.h"
#include "base/setup_context.h"
#include "common/test_support.h"
#include "engine/uninstall_entry.h"
#include "payload/archive_copy.h"
#include "engine_test_support.h"

namespace {

class UninstallEntry : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memset(&g_setup, 0, sizeof g_setup);
        name_ = NewGuidText();
        BoundedCopy(g_setup.name, kNameChars, name_.c_str());
        BoundedCopy(g_setup.installFolder, MAX_PATH, L"C:\\Program Files\\Zerda Test\\");
        SetProductField(product_field::kDisplayName, kDisplayNameChars, L"ۋارېك ئۇيغۇرچە");
        SetProductField(product_field::kComments, kCommentsChars, L"comments");
        SetProductField(product_field::kDisplayVersion, kDisplayVersionChars, L"3.1.0");
        SetProductField(product_field::kContact, kContactChars, L"contact");
        SetProductField(product_field::kPublisher, kPublisherChars, L"publisher");
        SetProductField(product_field::kAboutAddress, kAboutAddressChars, L"http://about.example/");
        SetProductField(product_field::kUpdateAddress, kUpdateAddressChars, L"http://update.example/");
        SetProductField(product_field::kHelpTelephone, kHelpTelephoneChars, L"123");
        BoundedCopy(g_setup.plainInstallerPath, MAX_PATH, L"C:\\temp\\$zerdaInstaller$\\installer.exe");
    }
    void TearDown() override { DeleteRegistryKey(HKEY_LOCAL_MACHINE, UninstallKeyPath(name_)); }
    std::wstring Value(const wchar_t* value) const { return RegString(HKEY_LOCAL_MACHINE, UninstallKeyPath(name_), value); }

    std::wstring name_;
};

// Value names in the order they were written.
std::vector<std::wstring> ValueNames(const std::wstring& key)
{
    std::vector<std::wstring> names;
    HKEY k;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD chars = 256;
        if (RegEnumValueW(k, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.push_back(name);
    }
    RegCloseKey(k);
    return names;
}

}  // namespace

TEST_F(UninstallEntry, WritesTheSixteenValuesWithAQuotedCommand)
{
    EXPECT_TRUE(WriteUninstallEntry(L"Owner Name", L"Organisation"));
    // Wine's registry lists values sorted by name, so only the set is compared.
    std::vector<std::wstring> expected = {
        L"RegOwner", L"RegCompany", L"DisplayName", L"Comments", L"DisplayVersion", L"DisplayIcon",
        L"Contact", L"Publisher", L"URLInfoAbout", L"URLUpdateInfo", L"HelpLink", L"HelpTelephone",
        L"UninstallString", L"InstallLocation", L"InstallSource", L"ModifyPath",
        // and, for deployment tools, the uninstall without any window
        L"QuietUninstallString"};
    std::vector<std::wstring> names = ValueNames(UninstallKeyPath(name_));
    std::sort(expected.begin(), expected.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(expected, names);

    EXPECT_EQ(L"Owner Name", Value(L"RegOwner"));
    EXPECT_EQ(L"Organisation", Value(L"RegCompany"));
    EXPECT_EQ(L"ۋارېك ئۇيغۇرچە", Value(L"DisplayName"));
    EXPECT_EQ(L"comments", Value(L"Comments"));
    EXPECT_EQ(L"3.1.0", Value(L"DisplayVersion"));
    EXPECT_EQ(L"C:\\Program Files\\Zerda Test\\installer.exe", Value(L"DisplayIcon"));
    EXPECT_EQ(L"contact", Value(L"Contact"));
    EXPECT_EQ(L"publisher", Value(L"Publisher"));
    EXPECT_EQ(L"http://about.example/", Value(L"URLInfoAbout"));
    EXPECT_EQ(L"http://update.example/", Value(L"URLUpdateInfo"));
    EXPECT_EQ(L"C:\\Program Files\\Zerda Test\\main.chm", Value(L"HelpLink"));
    EXPECT_EQ(L"123", Value(L"HelpTelephone"));
    // Quoted, or the blanks of the folder would split the command.
    const std::wstring command = L"\"C:\\Program Files\\Zerda Test\\installer.exe\" /n " + name_ + L" /u";
    EXPECT_EQ(command, Value(L"UninstallString"));
    // Modify repairs.
    EXPECT_EQ(L"\"C:\\Program Files\\Zerda Test\\installer.exe\" /n " + name_ + L" /r", Value(L"ModifyPath"));
    EXPECT_EQ(command + L" /quiet", Value(L"QuietUninstallString"));
    EXPECT_EQ(L"C:\\Program Files\\Zerda Test\\", Value(L"InstallLocation"));
    EXPECT_EQ(L"C:\\temp\\$zerdaInstaller$\\installer.exe", Value(L"InstallSource"));

    // The command is one the system can split: program, then the switches.
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(command.c_str(), &argc);
    ASSERT_NE(nullptr, argv);
    ASSERT_EQ(4, argc);
    EXPECT_STREQ(L"C:\\Program Files\\Zerda Test\\installer.exe", argv[0]);
    EXPECT_STREQ(L"/u", argv[3]);
    LocalFree(argv);
}

TEST_F(UninstallEntry, GivenHelpLinkEmptyOwnerAndFileSource)
{
    SetProductField(product_field::kHelpLink, kHelpLinkChars, L"http://help.example/");
    BoundedCopy(g_setup.plainInstallerPath, MAX_PATH, L"[src file=D:\\media\\setup.exe] tail");
    EXPECT_TRUE(WriteUninstallEntry(L"", L""));
    EXPECT_EQ(L"http://help.example/", Value(L"HelpLink"));
    EXPECT_EQ(L"D:\\media\\setup.exe", Value(L"InstallSource"));
    EXPECT_EQ(L"", Value(L"RegOwner"));
    EXPECT_EQ(L"", Value(L"RegCompany"));
    // Both exist, written as empty strings.
    std::vector<std::wstring> names = ValueNames(UninstallKeyPath(name_));
    EXPECT_EQ(17u, names.size());
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), L"RegOwner"));
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), L"RegCompany"));
}

TEST_F(UninstallEntry, FieldsWithoutTerminatorAreCutToTheirCapacity)
{
    // A record whose comments field is full to the last character.
    wchar_t* comments = Comments(g_setup);
    for (size_t i = 0; i < kCommentsChars; ++i) comments[i] = L'c';
    EXPECT_TRUE(WriteUninstallEntry(L"o", L"c"));
    EXPECT_EQ(std::wstring(kCommentsChars - 1, L'c'), Value(L"Comments"));
}

TEST_F(UninstallEntry, OverwritesAnEarlierEntry)
{
    EXPECT_TRUE(WriteUninstallEntry(L"first", L""));
    BoundedCopy(g_setup.installFolder, MAX_PATH, L"D:\\Other\\");
    EXPECT_TRUE(WriteUninstallEntry(L"second", L""));
    EXPECT_EQ(L"second", Value(L"RegOwner"));
    EXPECT_EQ(L"\"D:\\Other\\installer.exe\" /n " + name_ + L" /u", Value(L"UninstallString"));
}

// Without a product key name the values would land on the list itself: no entry, the install fails.
TEST_F(UninstallEntry, RefusesANameThatIsNoProductKeyName)
{
    for (const wchar_t* name : {L"", L"not a guid", L"{X}\\..\\"}) {
        BoundedCopy(g_setup.name, kNameChars, name);
        EXPECT_FALSE(WriteUninstallEntry(L"o", L"c")) << wcslen(name);
    }
    EXPECT_EQ(L"", RegString(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", L"InstallLocation"));
}

// The backup and its SHA-256 in both views of the product key, which repair
// and uninstall compare before they unpack it.
TEST(BackUpInstallation, CopiesTheArchiveRecordsItsDigestAndRemovesTheWorkCopy)
{
    ScratchFolder scratch(L"bak");
    std::memset(&g_setup, 0, sizeof g_setup);
    const std::wstring name = NewGuidText();
    BoundedCopy(g_setup.name, kNameChars, name.c_str());
    const std::wstring keys[] = {L"Software\\ZerdaIME3\\" + name, L"Software\\Wow6432Node\\ZerdaIME3\\" + name};
    for (const std::wstring& key : keys) {
        HKEY k;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &k, nullptr));
        RegCloseKey(k);
    }
    std::wstring install = scratch / L"inst\\";
    CreateDirectoryW(install.c_str(), nullptr);
    std::wstring archive = scratch / L"makedata.zip";
    // More than one block of the digest, and not a whole number of them.
    std::string content("PK\x03\x04 archive bytes", 20);
    for (int i = 0; i < 3000; ++i) content += static_cast<char>(i * 7);
    BoundedCopy(g_setup.installFolder, MAX_PATH, install.c_str());
    BoundedCopy(g_setup.archivePath, MAX_PATH, archive.c_str());
    // The archive as a file, and as the copy the setup writes from its own
    // image (here: from behind other bytes), whose digest comes along.
    const std::string image = "the plain installer" + content;
    ASSERT_TRUE(WriteFileText(scratch / L"setup.exe", image));
    for (bool fromImage : {false, true}) {
        if (fromImage) {
            MappedFile* view = nullptr;
            ASSERT_NE(0u, OpenMappedFile((scratch / L"setup.exe").c_str(), false, &view));
            ASSERT_TRUE(StartArchiveCopy(view, static_cast<DWORD>(image.size() - content.size()),
                                         static_cast<DWORD>(content.size()), archive.c_str()));
            for (const std::wstring& key : keys)
                RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"BackupSHA256", REG_SZ, L"", sizeof(wchar_t));
        } else {
            ASSERT_TRUE(WriteFileText(archive, content));
        }
        EXPECT_TRUE(BackUpInstallation()) << fromImage;
        std::string copied;
        ASSERT_TRUE(ReadFileBytes(install + L"_backup_.dat", &copied));
        EXPECT_EQ(content, copied);
        EXPECT_FALSE(FileExists(archive));
        const std::wstring expected = Sha256Text(content);
        ASSERT_EQ(64u, expected.size());
        for (const std::wstring& key : keys)
            EXPECT_EQ(expected, RegString(HKEY_LOCAL_MACHINE, key, L"BackupSHA256")) << key.c_str() << fromImage;
    }
    for (const std::wstring& key : keys) DeleteRegistryKey(HKEY_LOCAL_MACHINE, key);
}

TEST(BackUpInstallation, FailsWhenTheCopyIsGivenUp)
{
    ScratchFolder scratch(L"bak");
    std::memset(&g_setup, 0, sizeof g_setup);
    // The install folder is missing: the copy cannot be made, the person cancels.
    std::wstring install = scratch / L"missing\\";
    std::wstring archive = scratch / L"makedata.zip";
    ASSERT_TRUE(WriteFileText(archive, "PK"));
    BoundedCopy(g_setup.installFolder, MAX_PATH, install.c_str());
    BoundedCopy(g_setup.archivePath, MAX_PATH, archive.c_str());

    ScriptedPrompts prompts(IDCANCEL);
    EXPECT_FALSE(BackUpInstallation());
    EXPECT_FALSE(prompts.Shown().empty());
    EXPECT_TRUE(FileExists(archive));  // kept for another try
}
