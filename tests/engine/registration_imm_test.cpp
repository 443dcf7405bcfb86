// The classic road (system before 6.2): an IMM keyboard layout for the
// driver, and the layout removal with its list rules.
#include <cwchar>

#include "common/keyboard_lists.h"
#include "engine/keyboard_list_entries.h"
#include "engine/user_keyboard_lists.h"
#include "base/run_log.h"
#include "registration_test_support.h"

using namespace regtest;

namespace {

std::wstring LayoutId(HKL layout)
{
    wchar_t text[16];
    swprintf(text, 16, L"%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(layout) & 0xFFFFFFFFu));
    return text;
}

// Keeps a Preload list as it was before the test.
class SavedValues {
public:
    SavedValues(HKEY root, std::wstring key) : root_(root), key_(std::move(key))
    {
        existed_ = RegKeyExists(root_, key_);
        for (int i = 1; i <= 9; ++i) {
            std::wstring name = std::to_wstring(i);
            if (ValueExists(root_, key_, name.c_str())) saved_.emplace_back(name, RegString(root_, key_, name.c_str()));
        }
    }
    ~SavedValues()
    {
        DeleteRegistryKey(root_, key_);
        if (!existed_) return;
        HKEY k;
        RegCreateKeyExW(root_, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
        RegCloseKey(k);
        for (auto& v : saved_) SetString(root_, key_, v.first.c_str(), v.second);
    }

private:
    HKEY root_;
    std::wstring key_;
    bool existed_ = false;
    std::vector<std::pair<std::wstring, std::wstring>> saved_;
};

void SetRaw(HKEY root, const std::wstring& key, const wchar_t* value, DWORD type, const void* data, DWORD bytes)
{
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
    RegSetValueExW(k, value, 0, type, static_cast<const BYTE*>(data), bytes);
    RegCloseKey(k);
}

}  // namespace

TEST_F(RegistrationTest, ImmSystemGetsOneLayoutAndNoTextService)
{
    Product p(L"I");
    p.Fill();
    SetImeOptionWord(g_setup, 0);
    ASSERT_TRUE(RegisterInputMethod());

    std::vector<std::wstring> layouts = LayoutsOfDriver(p.DriverFile());
    ASSERT_EQ(1u, layouts.size());
    std::wstring layoutKey = std::wstring(kLayoutsKey) + L"\\" + layouts[0];
    EXPECT_EQ(L"Uyghur Test Layout", RegString(HKEY_LOCAL_MACHINE, layoutKey, L"Layout Text"));
    HKL found = FindImeLayout(p.DriverFile().c_str());
    ASSERT_NE(nullptr, found);
    // Wine names the key in lower case; identifiers compare without case.
    EXPECT_EQ(CSTR_EQUAL, CompareStringOrdinal(layouts[0].c_str(), -1, LayoutId(found).c_str(), -1, TRUE));

    for (const std::wstring& key : {p.ProductKey(), p.Wow64ProductKey()}) {
        EXPECT_EQ(L"C:\\ProgramData\\ZerdaIME3\\ZerdaTest\\", RegString(HKEY_LOCAL_MACHINE, key, L"DataLocation"));
        EXPECT_EQ(L"C:\\Program Files\\ZerdaTest\\", RegString(HKEY_LOCAL_MACHINE, key, L"InstallLocation"));
        EXPECT_EQ(p.ime, RegString(HKEY_LOCAL_MACHINE, key, L"IMEName"));
        EXPECT_EQ(L"Zerda Test", RegString(HKEY_LOCAL_MACHINE, key, L"DisplayName"));
        EXPECT_EQ(L"2.0", RegString(HKEY_LOCAL_MACHINE, key, L"DisplayVersion"));
        EXPECT_EQ(L"http://example.invalid/update", RegString(HKEY_LOCAL_MACHINE, key, L"URLUpdateInfo"));
        EXPECT_EQ(L"Uyghur Test Layout", RegString(HKEY_LOCAL_MACHINE, key, L"LanguageName"));
        DWORD type = 0;
        EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, key, L"LANGID", &type));
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
        EXPECT_EQ(0x0804u, RegDword(HKEY_LOCAL_MACHINE, key, L"LANGID"));
    }
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, p.ClassKey()));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, p.Wow64ClassKey()));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\CTF\\TIP\\" + p.guid));
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, L"Keyboard Layout\\Substitutes", L"00000480"));
    EXPECT_EQ(0u, ImeOptionWord(g_setup)) << "the option bit belongs to the text-service road";

    // A second registration replaces the first layout instead of adding one.
    ASSERT_TRUE(RegisterInputMethod());
    EXPECT_EQ(1u, LayoutsOfDriver(p.DriverFile()).size());
}

TEST_F(RegistrationTest, LayoutRemovalFollowsTheListRules)
{
    Product p(L"L");
    p.Fill();
    ASSERT_TRUE(RegisterInputMethod());
    HKL layout = FindImeLayout(p.DriverFile().c_str());
    ASSERT_NE(nullptr, layout);
    const std::wstring id = LayoutId(layout);

    const std::wstring preload = L"Keyboard Layout\\Preload";
    SavedValues keep(HKEY_CURRENT_USER, preload);
    DeleteRegistryKey(HKEY_CURRENT_USER, preload);
    SetString(HKEY_CURRENT_USER, preload, L"1", L"00000409");
    SetString(HKEY_CURRENT_USER, preload, L"2", id);
    SetString(HKEY_CURRENT_USER, preload, L"3", L"00000411");
    // Not text: a binary value spelling the identifier is someone else's.
    SetRaw(HKEY_CURRENT_USER, preload, L"4", REG_BINARY, id.c_str(), static_cast<DWORD>(id.size() * 2));

    // A second user's list loses every occurrence, also one stored without
    // its terminator and one in lower case.
    const std::wstring user = L"ZerdaRegTest" + p.guid.substr(1, 8);
    const std::wstring userPreload = user + L"\\Keyboard Layout\\Preload";
    std::wstring lower = id;
    for (auto& c : lower) c = static_cast<wchar_t>(towlower(c));
    SetString(HKEY_USERS, userPreload, L"1", id);
    SetString(HKEY_USERS, userPreload, L"2", L"00000409");
    SetRaw(HKEY_USERS, userPreload, L"3", REG_SZ, id.c_str(), static_cast<DWORD>(id.size() * 2));
    SetString(HKEY_USERS, userPreload, L"4", lower);

    EXPECT_EQ(1, RemoveKeyboardLayout(p.ime.c_str(), true));

    EXPECT_EQ(L"00000409", RegString(HKEY_CURRENT_USER, preload, L"1"));
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, preload, L"2"));
    EXPECT_EQ(L"00000411", RegString(HKEY_CURRENT_USER, preload, L"3")) << "the list is not renumbered";
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, preload, L"4"));

    EXPECT_FALSE(ValueExists(HKEY_USERS, userPreload, L"1"));
    EXPECT_EQ(L"00000409", RegString(HKEY_USERS, userPreload, L"2"));
    EXPECT_FALSE(ValueExists(HKEY_USERS, userPreload, L"3"));
    EXPECT_FALSE(ValueExists(HKEY_USERS, userPreload, L"4"));
    DeleteRegistryKey(HKEY_USERS, user);

    EXPECT_TRUE(LayoutsOfDriver(p.DriverFile()).empty());
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, std::wstring(kLayoutsKey) + L"\\" + id));
    EXPECT_EQ(nullptr, FindImeLayout(p.DriverFile().c_str()));
    EXPECT_EQ(0, RemoveKeyboardLayout(p.ime.c_str(), false));
}

TEST_F(RegistrationTest, LayoutLookupAndRemovalTouchOnlyTheirDriver)
{
    Product mine(L"M");
    Product other(L"O");
    other.Fill();
    ASSERT_TRUE(RegisterInputMethod());
    ASSERT_EQ(1u, LayoutsOfDriver(other.DriverFile()).size());

    // Not loaded as a layout: nothing changes.
    EXPECT_EQ(nullptr, FindImeLayout(mine.DriverFile().c_str()));
    EXPECT_EQ(0, RemoveKeyboardLayout(mine.ime.c_str(), false));
    EXPECT_EQ(1u, LayoutsOfDriver(other.DriverFile()).size());

    // The name compares without case and by its file-name part.
    std::wstring upper = other.DriverFile();
    for (auto& c : upper) c = static_cast<wchar_t>(towupper(c));
    EXPECT_NE(nullptr, FindImeLayout(upper.c_str()));
    EXPECT_NE(nullptr, FindImeLayout((L"D:\\elsewhere\\" + other.DriverFile()).c_str()));
    EXPECT_EQ(nullptr, FindImeLayout(other.ime.c_str())) << "the name without .ime is another file";

    // An empty IME name leaves ".ime" alone, which is no driver: even a
    // layout whose driver file is literally ".ime" stays.
    HKL bare = ImmInstallIMEW((SystemFolder() + L".ime").c_str(), L"bare");
    ASSERT_NE(nullptr, bare);
    const std::wstring bareId = LayoutId(bare);
    EXPECT_EQ(nullptr, FindImeLayout(L""));
    EXPECT_EQ(0, RemoveKeyboardLayout(L"", false));
    EXPECT_EQ(0, RemoveKeyboardLayout(nullptr, false));
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, std::wstring(kLayoutsKey) + L"\\" + bareId));
    EXPECT_EQ(1u, LayoutsOfDriver(other.DriverFile()).size());
    DeleteRegistryKey(HKEY_LOCAL_MACHINE, std::wstring(kLayoutsKey) + L"\\" + bareId);

    // A registration without an IME name fails before it could remove or
    // install a layout.
    mine.Fill();
    ImeName(g_setup)[0] = L'\0';
    EXPECT_FALSE(RegisterInputMethod());
    EXPECT_EQ(1u, LayoutsOfDriver(other.DriverFile()).size());
    EXPECT_TRUE(LayoutsOfDriver(L".ime").empty());
}

// The layout a registration installs is recorded in the product key; when
// it replaced another recorded layout, every user's list swaps the two:
// one call per entry, the addition made although input.dll fails the
// removal (the layout is gone already), and every hive unloaded although
// input.dll keeps a key of it open. Roaming and mandatory profiles stay as
// they are.
TEST_F(RegistrationTest, UsersListsSwapALayoutTheRegistrationReplaced)
{
    Product p(L"K");
    p.Fill();
    ASSERT_TRUE(RegisterInputMethod());
    auto recordedIs = [&](const std::wstring& id) {
        for (const std::wstring& key : {p.ProductKey(), p.Wow64ProductKey()})
            EXPECT_EQ(CSTR_EQUAL, CompareStringOrdinal(id.c_str(), -1, RegString(HKEY_LOCAL_MACHINE, key, L"ImeLayout").c_str(), -1, TRUE));
    };
    ASSERT_EQ(1u, LayoutsOfDriver(p.DriverFile()).size());
    recordedIs(LayoutsOfDriver(p.DriverFile())[0]);

    SetString(HKEY_LOCAL_MACHINE, p.ProductKey(), L"ImeLayout", L"E0FF0409");
    ASSERT_TRUE(RegisterInputMethod());
    std::wstring id = LayoutsOfDriver(p.DriverFile())[0];
    recordedIs(id);
    for (auto& c : id) c = static_cast<wchar_t>(towupper(c));

    InputDllStandIn inputDll;
    OtherProfiles profiles;
    inputDll.SetMode("hold fail-removals");
    ScratchFolder install(L"lists");
    ASSERT_TRUE(CopyFileW((BuildDir() + L"\\installer.exe").c_str(), (install / L"installer.exe").c_str(), FALSE));
    BoundedCopy(g_setup.installFolder, kPathChars, (install.Path() + L"\\").c_str());
    const std::wstring logPath = install / L"run.log";
    OpenRunLog(logPath.c_str());
    AddKeyboardToUserLists();
    CloseRunLog();
    std::vector<InputListCall> calls = inputDll.Calls();
    ExpectOneChangePerProfile(calls, true, L"0409:E0FF0409", L"InstallLayoutOrTipUserReg");
    ExpectOneChangePerProfile(calls, false, id.substr(4) + L":" + id, L"InstallLayoutOrTipUserReg");
    EXPECT_EQ(6u, calls.size());
    for (const wchar_t* mount : {L"ZerdaIME3_Default", L"ZerdaIME3_S-1-5-21-0-0-0-4242"})
        EXPECT_FALSE(RegKeyExists(HKEY_USERS, mount)) << "still loaded";
    std::string log;
    ReadFileBytes(logPath, &log);
    auto count = [&](const std::string& text) {
        size_t n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(3u, count("FAILED: Keyboard not taken out of the list")) << log;
    EXPECT_EQ(3u, count(" added, in effect from the next logon")) << log;
    EXPECT_EQ(0u, count("read back does not match") + count("still loaded")) << log;
    EXPECT_EQ(1u, count("Profile skipped, it roams (CentralProfile): S-1-5-21-0-0-0-4444")) << log;
    EXPECT_EQ(1u, count("Profile skipped, it is mandatory (State): S-1-5-21-0-0-0-4545")) << log;
}

// What the user's step hands to input.dll is a list of entries and nothing else.
TEST(KeyboardListEntries, OnlyEntryListsReachInputDll)
{
    const std::wstring g = L"{7A3C4E1D-5B2F-4C8A-9E61-2D0F3B8A4C57}";
    for (const std::wstring& good : {L"0804:" + g + g, std::wstring(L"0409:E0020409"), L"0409:e0020409;0804:" + g + g})
        EXPECT_TRUE(IsEntryList(good.c_str())) << std::string(good.begin(), good.end());
    for (const std::wstring& bad : {std::wstring(), std::wstring(L"0409"), std::wstring(L"0409:E002040"),
                                    std::wstring(L"0409:E0020409;"), L"0804:" + g, L"0804:" + g + g + L" /x",
                                    std::wstring(L"04 9:E0020409"), L"0804:" + g + L"{7A3C4E1D-5B2F-4C8A-9E61+2D0F3B8A4C57}"})
        EXPECT_FALSE(IsEntryList(bad.c_str())) << std::string(bad.begin(), bad.end());
    EXPECT_EQ(87u, RunUserListStep(L"/inputlist=add:0409:E002040"));
    EXPECT_EQ(87u, RunUserListStep(L"/inputlist=replace:0409:E0020409"));
}
