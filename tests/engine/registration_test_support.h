// Helpers of the registration tests: a unique product per test with its
// stand-in driver in the system folders, registry readers and clean-up.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/bounded_string.h"
#include "base/setup_context.h"
#include "common/test_support.h"
#include "engine/registration.h"
#include "engine/registration_common.h"
#include "engine/registration_removal.h"

namespace regtest {

inline GUID GuidOf(const std::wstring& text)
{
    GUID g{};
    IIDFromString(text.c_str(), &g);
    return g;
}

inline std::wstring FixtureDriver()
{
    return BuildDir() + L"\\tests\\engine\\registration_fixture_ime.dll";
}

inline bool ValueExists(HKEY root, const std::wstring& key, const wchar_t* value, DWORD* type = nullptr)
{
    HKEY k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    DWORD t = 0;
    LONG rc = RegQueryValueExW(k, value, nullptr, &t, nullptr, nullptr);
    RegCloseKey(k);
    if (type) *type = t;
    return rc == ERROR_SUCCESS;
}

inline void SetString(HKEY root, const std::wstring& key, const wchar_t* value, const std::wstring& data)
{
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
    RegSetValueExW(k, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
}


// Subkey names of a key ("" when it cannot be opened).
inline std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring& key)
{
    std::vector<std::wstring> names;
    HKEY k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return names;
    wchar_t name[260];
    for (DWORD i = 0;; ++i) {
        DWORD chars = 260;
        if (RegEnumKeyExW(k, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name);
    }
    RegCloseKey(k);
    return names;
}

const wchar_t kLayoutsKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Keyboard Layouts";

// Layout subkeys whose "Ime File" ends with the given driver file name.
inline std::vector<std::wstring> LayoutsOfDriver(const std::wstring& driverFile)
{
    std::vector<std::wstring> found;
    for (const std::wstring& sub : SubkeyNames(HKEY_LOCAL_MACHINE, kLayoutsKey)) {
        std::wstring file = RegString(HKEY_LOCAL_MACHINE, std::wstring(kLayoutsKey) + L"\\" + sub, L"Ime File");
        size_t slash = file.find_last_of(L"\\/");
        std::wstring part = slash == std::wstring::npos ? file : file.substr(slash + 1);
        if (!part.empty() && CompareStringOrdinal(part.c_str(), -1, driverFile.c_str(), -1, TRUE) == CSTR_EQUAL)
            found.push_back(sub);
    }
    return found;
}

// One product of a test: unique GUID and IME name, the stand-in driver in the
// system folders, g_setup filled as the configuration loader would.
class Product {
public:
    explicit Product(const wchar_t* tag)
    {
        guid = NewGuidText();
        ime = std::wstring(L"zrg") + tag + guid.substr(1, 8);
        CopyFileW(FixtureDriver().c_str(), (SystemFolder() + ime + L".ime").c_str(), FALSE);
        CopyFileW(FixtureDriver().c_str(), (Wow64Folder() + ime + L".ime").c_str(), FALSE);
    }
    ~Product()
    {
        GUID g = GuidOf(guid);
        UnregisterTextServiceProfile(g, 0x0804, g);
        UnregisterTipCategories(g, g);
        for (int i = 0; i < 4 && RemoveKeyboardLayout(ime.c_str(), false); ++i) {
        }
        RemoveTextServiceClassKeys(guid.c_str());
        RemoveProductKeys(guid.c_str());
        DeleteFileW((SystemFolder() + ime + L".ime").c_str());
        DeleteFileW((Wow64Folder() + ime + L".ime").c_str());
    }
    void Fill() const
    {
        ZeroMemory(&g_setup, sizeof g_setup);
        BoundedCopy(g_setup.name, kNameChars, guid.c_str());
        SetTextServiceGuid(g_setup, GuidOf(guid));
        BoundedCopy(ImeName(g_setup), kImeNameChars, ime.c_str());
        BoundedCopy(DisplayName(g_setup), kDisplayNameChars, L"Zerda Test");
        BoundedCopy(LanguageName(g_setup), kLanguageNameChars, L"Uyghur Test Layout");
        BoundedCopy(DisplayVersion(g_setup), kDisplayVersionChars, L"2.0");
        BoundedCopy(UpdateAddress(g_setup), kUpdateAddressChars, L"http://example.invalid/update");
        BoundedCopy(g_setup.installFolder, kPathChars, L"C:\\Program Files\\ZerdaTest\\");
        BoundedCopy(g_setup.dataFolder, kPathChars, L"C:\\ProgramData\\ZerdaIME3\\ZerdaTest\\");
        SetLangId(g_setup, 0x0804);
        SetEngineFlags(g_setup, kEngineFlagTextService);
    }
    std::wstring ProductKey() const { return L"Software\\ZerdaIME3\\" + guid; }
    std::wstring Wow64ProductKey() const { return L"Software\\Wow6432Node\\ZerdaIME3\\" + guid; }
    std::wstring ClassKey() const { return L"Software\\Classes\\CLSID\\" + guid; }
    std::wstring Wow64ClassKey() const { return L"Software\\Classes\\Wow6432Node\\CLSID\\" + guid; }
    std::wstring DriverFile() const { return ime + L".ime"; }

    std::wstring guid;
    std::wstring ime;
};

// Where Wine keeps the text service's profile and categories.
// The eight text-service categories.
const wchar_t* const kCategories[] = {
    L"{34745C63-B2F0-4784-8B67-5E12C8701A31}", L"{046B8C80-1647-40F7-9B21-B93B81AABC1B}",
    L"{49D2F9CE-1F5E-11D7-A6D3-00065B84435C}", L"{49D2F9CF-1F5E-11D7-A6D3-00065B84435C}",
    L"{CCF05DD7-4A87-11D7-A6E2-00065B84435C}", L"{364215D9-75BC-11D7-A6EF-00065B84435C}",
    L"{13A016DF-560B-46CD-947A-4C3AF1E0E35D}", L"{25504FB4-7BAB-4BC1-9C69-CF81890F0EF5}",
};

inline std::wstring TipKey(const Product& p) { return L"Software\\Microsoft\\CTF\\TIP\\" + p.guid; }
inline std::wstring ProfileKey(const Product& p)
{
    return TipKey(p) + L"\\LanguageProfile\\0x00000804\\" + p.guid;
}

inline int RegisteredCategories(const Product& p)
{
    int n = 0;
    for (const wchar_t* cat : kCategories)
        if (RegKeyExists(HKEY_LOCAL_MACHINE, TipKey(p) + L"\\Category\\Category\\" + cat + L"\\" + p.guid) &&
            RegKeyExists(HKEY_LOCAL_MACHINE, TipKey(p) + L"\\Category\\Item\\" + p.guid + L"\\" + cat))
            ++n;
    return n;
}

inline void ExpectFullRegistration(const Product& p)
{
    for (const std::wstring& key : {p.ProductKey(), p.Wow64ProductKey()}) {
        EXPECT_EQ(p.ime, RegString(HKEY_LOCAL_MACHINE, key, L"IMEName"));
        EXPECT_EQ(L"Uyghur Test Layout", RegString(HKEY_LOCAL_MACHINE, key, L"LanguageName"));
        EXPECT_EQ(0x0804u, RegDword(HKEY_LOCAL_MACHINE, key, L"LANGID"));
    }
    EXPECT_EQ(L"zerdaTSF", RegString(HKEY_LOCAL_MACHINE, p.ClassKey(), nullptr));
    EXPECT_EQ(SystemFolder() + p.DriverFile(),
              RegString(HKEY_LOCAL_MACHINE, p.ClassKey() + L"\\InProcServer32", nullptr));
    EXPECT_EQ(L"Apartment", RegString(HKEY_LOCAL_MACHINE, p.ClassKey() + L"\\InProcServer32", L"ThreadingModel"));
    EXPECT_EQ(L"zerdaTSF", RegString(HKEY_LOCAL_MACHINE, p.Wow64ClassKey(), nullptr));
    EXPECT_EQ(Wow64Folder() + p.DriverFile(),
              RegString(HKEY_LOCAL_MACHINE, p.Wow64ClassKey() + L"\\InProcServer32", nullptr));
    EXPECT_EQ(L"Apartment",
              RegString(HKEY_LOCAL_MACHINE, p.Wow64ClassKey() + L"\\InProcServer32", L"ThreadingModel"));

    EXPECT_EQ(L"Uyghur Test Layout", RegString(HKEY_LOCAL_MACHINE, ProfileKey(p), L"Description"));
    EXPECT_EQ(Wow64Folder() + p.DriverFile(), RegString(HKEY_LOCAL_MACHINE, ProfileKey(p), L"IconFile"));
    EXPECT_EQ(1u, RegDword(HKEY_LOCAL_MACHINE, ProfileKey(p), L"Enable"));
    EXPECT_EQ(1u, RegDword(HKEY_CURRENT_USER, ProfileKey(p), L"Enable"));
    EXPECT_EQ(8, RegisteredCategories(p));
    EXPECT_EQ(L"00000409", RegString(HKEY_CURRENT_USER, L"Keyboard Layout\\Substitutes", L"00000480"));
    EXPECT_TRUE(LayoutsOfDriver(p.DriverFile()).empty()) << "no IMM layout on this road";
}

// COM for the test's thread, as the program's start routine provides it.
class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }
};

}  // namespace regtest
