// The packed demo setup, installed by the robot the way a person would, then
// the machine is read back: files, registry, shortcuts, the companion tool's
// call, the log box and the work folder; every window answered throughout.
#include "robot_test_support.h"

#include "common/keyboard_lists.h"

using namespace robot_test;

namespace {
void CheckInstallation(InstallRun& t, const wchar_t* prefixName)
{
    // Other people's profiles, and the user at the desktop unelevated.
    InputDllStandIn inputDll;
    OtherProfiles profiles;
    UnelevatedShell shell;
    ASSERT_TRUE(inputDll.Placed() && shell.Running());
    t.InstallThroughTheWindows(prefixName);
    if (::testing::Test::HasFatalFailure()) return;
    // The user at the desktop at once, through a step of their own; the others from their next logon.
    const WORD langId = static_cast<WORD>(wcstoul(t.config[L"language_id"].c_str(), nullptr, 0));
    ExpectOneChangePerProfile(inputDll.Calls(), false, KeyboardListEntry(t.guid, t.imeName, langId),
                              L"InstallLayoutOrTip");
    const std::wstring& folder = t.installFolder;
    const std::wstring payload = BuildDir() + L"\\demo\\payload\\";

    // The extraction, the wizard and its message boxes kept answering.
    ExpectRobotSawAnswers(t.robotOutput);

    // The folder typed in held another program's files: the offer of a folder
    // of the product's own inside it was a real message box, answered Yes,
    // and nothing in the typed folder changed (names, bytes, second names,
    // access lists).
    ASSERT_FALSE(t.chosenFolder.empty());
    EXPECT_NE(std::wstring::npos, t.robotOutput.find(L"message: باشقا مۇندەرىجىگە قاچىلامسىز؟ | "));
    EXPECT_NE(std::wstring::npos, t.robotOutput.find(folder)) << "the offer names the folder";
    EXPECT_EQ(Narrow(t.chosenBefore), Narrow(FolderSnapshot(t.chosenFolder, t.config[L"default_folder"])));

    // Drivers in the system and WOW64 folders, lower-case names, language 0x0480.
    const std::wstring ime = Lower(t.imeName) + L".ime";
    for (bool wow64 : {false, true}) {
        const std::wstring path = SystemFolder(wow64) + ime;
        SCOPED_TRACE(Narrow(path));
        ASSERT_TRUE(FileExists(path));
        EXPECT_EQ(ime, StoredName(path));
        EXPECT_EQ(0x0480, VersionLanguage(path));
        EXPECT_EQ(wow64 ? 0x014C : 0x8664, Machine(path));
    }

    // Data folder: the three data files, lower-case, config.dsc unchanged, temp.dmg emptied.
    EXPECT_EQ((std::vector<std::wstring>{L"config.dsc", L"main.dmg", L"temp.dmg"}), Listing(t.dataFolder));
    // config.dsc may be updated by the registration (text-service systems); same size all the same.
    EXPECT_EQ(Bytes(payload + L"$dataFiles$\\config.dsc").size(), Bytes(t.dataFolder + L"config.dsc").size());
    EXPECT_TRUE(Bytes(payload + L"$dataFiles$\\main.dmg") == Bytes(t.dataFolder + L"main.dmg"));
    std::string temp = Bytes(t.dataFolder + L"temp.dmg");
    ASSERT_GE(temp.size(), 65672u);
    EXPECT_EQ(static_cast<uint32_t>(temp.size()), *reinterpret_cast<const uint32_t*>(temp.data()));
    EXPECT_EQ(0u, *reinterpret_cast<const uint32_t*>(temp.data() + 4));
    EXPECT_TRUE(std::string(65536, '\0') == temp.substr(136, 65536));

    // Install folder: program files in lower case.
    std::vector<std::wstring> names = Listing(folder);
    for (const wchar_t* n : {L"_backup_.dat", L"colourful", L"config.exe", L"installer.exe", L"license.html",
                             L"main.chm", L"tools"})
        EXPECT_NE(names.end(), std::find(names.begin(), names.end(), n)) << Narrow(n);
    for (const wchar_t* n : {L"zerdaime.ime", L"$dataFiles$", L"$datafiles$"})
        EXPECT_EQ(names.end(), std::find(names.begin(), names.end(), n)) << Narrow(n);
    // The 32-bit driver went to the WOW64 folder; at most its emptied folder came along.
    EXPECT_TRUE(Listing(folder + L"x86\\").empty());
    EXPECT_EQ((std::vector<std::wstring>{L"varekinputtool.exe"}), Listing(folder + L"tools\\"));
    EXPECT_EQ((std::vector<std::wstring>{L"default.icc"}), Listing(folder + L"colourful\\"));
    EXPECT_TRUE(Bytes(payload + L"config.exe") == Bytes(folder + L"config.exe"));
    EXPECT_TRUE(Bytes(payload + L"main.chm") == Bytes(folder + L"main.chm"));

    // installer.exe is the setup without its payload; _backup_.dat is the payload archive.
    std::string packed = Bytes(t.setup);
    size_t offset = PayloadOffset(packed);
    ASSERT_GT(offset, 0u);
    ASSERT_LT(offset, packed.size());
    EXPECT_TRUE(Bytes(folder + L"installer.exe") == packed.substr(0, offset));
    EXPECT_TRUE(Bytes(folder + L"_backup_.dat") == packed.substr(offset));

    // Product keys, both views.
    for (const wchar_t* root : {L"Software\\ZerdaIME3\\", L"Software\\Wow6432Node\\ZerdaIME3\\"}) {
        const std::wstring key = root + t.guid;
        SCOPED_TRACE(Narrow(key));
        EXPECT_EQ(t.dataFolder, RegString(HKEY_LOCAL_MACHINE, key, L"DataLocation"));
        EXPECT_EQ(folder, RegString(HKEY_LOCAL_MACHINE, key, L"InstallLocation"));
        EXPECT_EQ(t.imeName, RegString(HKEY_LOCAL_MACHINE, key, L"IMEName"));
        EXPECT_EQ(t.displayName, RegString(HKEY_LOCAL_MACHINE, key, L"DisplayName"));
        EXPECT_EQ(t.config[L"display_version"], RegString(HKEY_LOCAL_MACHINE, key, L"DisplayVersion"));
        EXPECT_EQ(t.config[L"update_address"], RegString(HKEY_LOCAL_MACHINE, key, L"URLUpdateInfo"));
        EXPECT_EQ(t.config[L"language_name"], RegString(HKEY_LOCAL_MACHINE, key, L"LanguageName"));
        EXPECT_EQ(wcstoul(t.config[L"language_id"].c_str(), nullptr, 0), RegDword(HKEY_LOCAL_MACHINE, key, L"LANGID"));
    }

    // The uninstall entry's sixteen values.
    const std::wstring entry = t.UninstallKey();
    // The program path is quoted, as the folder may hold blanks.
    const std::wstring command = L"\"" + folder + L"installer.exe\" /n " + t.guid + L" /u";
    std::map<std::wstring, std::wstring> expected = {
        {L"RegOwner", RegString(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion", L"RegisteredOwner")},
        {L"RegCompany",
         RegString(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion", L"RegisteredOrganization")},
        {L"DisplayName", t.displayName},
        {L"Comments", t.config[L"comments"]},
        {L"DisplayVersion", t.config[L"display_version"]},
        {L"DisplayIcon", folder + L"installer.exe"},
        {L"Contact", t.config[L"contact"]},
        {L"Publisher", t.config[L"publisher"]},
        {L"URLInfoAbout", t.config[L"about_address"]},
        {L"URLUpdateInfo", t.config[L"update_address"]},
        {L"HelpLink", t.config[L"help_link"].empty() ? folder + L"main.chm" : t.config[L"help_link"]},
        {L"HelpTelephone", t.config[L"help_telephone"]},
        {L"UninstallString", command},
        {L"InstallLocation", folder},
        {L"ModifyPath", L"\"" + folder + L"installer.exe\" /n " + t.guid + L" /r"},
    };
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, entry.c_str(), 0, KEY_READ, &k));
    DWORD values = 0;
    RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(k);
    // ...with QuietUninstallString and EstimatedSize for deployment tools.
    EXPECT_EQ(18u, values);
    for (const auto& [name, value] : expected)
        EXPECT_EQ(value, RegString(HKEY_LOCAL_MACHINE, entry, name.c_str())) << Narrow(name);
    // Where the setup was unpacked: its work folder, gone by now.
    const std::wstring source = RegString(HKEY_LOCAL_MACHINE, entry, L"InstallSource");
    EXPECT_EQ(0u, source.find(MachineTempFolder() + L"ZerdaIME3.")) << Narrow(source);
    EXPECT_EQ(source.size() - 14, source.rfind(L"\\installer.exe")) << Narrow(source);

    // The six shortcuts, read back through the shell.
    const std::wstring installer = folder + L"installer.exe";
    struct Expected {
        const wchar_t* file;
        std::wstring target, arguments, iconFile;
        int iconIndex;
    };
    const std::wstring systemIme = SystemFolder(false) + t.imeName + L".ime";
    std::vector<Expected> links = {
        {L"سېستىما تەڭشىكى.lnk", folder + L"config.exe", L"/n " + t.guid, folder + L"config.exe", 0},
        {L"ياردەم ھۆججىتى.lnk", folder + L"main.chm", L"", L"", 0},
        {L"نۇسخا يېڭىلاش.lnk", installer, L"/n " + t.guid + L" /g", installer, 3},
        {L"كۇنۇپكا ئىقتىدارى.lnk", folder + L"config.exe", L"/n " + t.guid + L" /do anjianshezhi", systemIme, 16},
        {L"پىروگرامما ئوڭشاش.lnk", installer, L"/n " + t.guid + L" /r", installer, 1},
        {L"كومپىيۇتېردىن يۇيۇش.lnk", installer, L"/n " + t.guid + L" /u", installer, 2},
    };
    EXPECT_EQ(links.size(), Listing(t.groupFolder).size());
    for (const Expected& e : links) {
        SCOPED_TRACE(Narrow(e.file));
        ShellLinkInfo link = ReadShellLink(t.groupFolder + e.file);
        ASSERT_TRUE(link.loaded);
        EXPECT_EQ(Lower(e.target), Lower(link.target));
        EXPECT_EQ(e.arguments, link.arguments);
        EXPECT_EQ(Lower(e.iconFile), Lower(link.iconPath));
        EXPECT_EQ(e.iconIndex, link.iconIndex);
        EXPECT_EQ(Lower(folder), Lower(link.workingFolder + (EndsWithSlash(link.workingFolder) ? L"" : L"\\")));
    }

    // The companion tool was started with its install command.
    std::string calls;
    for (int i = 0; i < 50 && !(ReadFileBytes(t.callsLog, &calls) && calls.find("/do=install") != std::string::npos); ++i)
        Sleep(100);
    EXPECT_NE(std::string::npos, calls.find("/do=install")) << calls;

    // The log box, line for line.
    std::string logBytes;
    ASSERT_TRUE(ReadFileBytes(t.logFile, &logBytes));
    EXPECT_EQ(SuccessfulLog(), FromUtf8(logBytes));

    // Finish with both boxes checked.
    EXPECT_EQ(t.config[L"about_address"], RegString(HKEY_CURRENT_USER, kStartPageKey, L"Start Page"));
    EXPECT_EQ(L"\"" + folder + L"tools\\varekinputtool.exe\" /do=zixun",
              RegString(HKEY_LOCAL_MACHINE, kRunKey, L"VarekNews"));

    // The work folder is gone once the program has ended.
    EXPECT_TRUE(t.LeftWorkFolders().empty());
}
}  // namespace

TEST_F(InstallRun, DemoSetupInstallsThroughItsWindows)
{
    CheckInstallation(*this, ZERDA_PREFIX_NAME);
}
