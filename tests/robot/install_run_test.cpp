// The packed demo setup, installed by the robot the way a person would, then
// the machine is read back: files, registry, shortcuts, the companion tool's
// call, the log box and the work folder.
#include <gtest/gtest.h>

#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "common/test_support.h"

namespace {
std::wstring FromUtf8(const std::string& s)
{
    if (s.empty()) return L"";
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
    return w;
}

std::string Narrow(const std::wstring& w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring Trim(const std::wstring& s)
{
    size_t a = s.find_first_not_of(L" \t\r\n"), b = s.find_last_not_of(L" \t\r\n");
    return a == std::wstring::npos ? L"" : s.substr(a, b - a + 1);
}

// The demo product's description: "key = value" lines.
std::map<std::wstring, std::wstring> ReadDemoConfig()
{
    std::string raw;
    std::map<std::wstring, std::wstring> config;
    if (!ReadFileBytes(SourceDir() + L"\\demo\\config.txt", &raw)) return config;
    std::wstring text = FromUtf8(raw);
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find(L'\n', from);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(from, end - from);
        from = end + 1;
        if (line.empty() || line[0] == L'#') continue;
        size_t eq = line.find(L'=');
        if (eq != std::wstring::npos) config[Trim(line.substr(0, eq))] = Trim(line.substr(eq + 1));
    }
    return config;
}

std::wstring Folder(int csidl)
{
    wchar_t path[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, 0, path);
    std::wstring p = path;
    if (!p.empty() && p.back() != L'\\') p += L'\\';
    return p;
}

std::wstring SystemFolder(bool wow64)
{
    wchar_t path[MAX_PATH] = L"";
    if (wow64) GetSystemWow64DirectoryW(path, MAX_PATH);
    else GetSystemDirectoryW(path, MAX_PATH);
    std::wstring p = path;
    if (!p.empty() && p.back() != L'\\') p += L'\\';
    return p;
}

std::wstring Lower(std::wstring s)
{
    for (wchar_t& c : s)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return s;
}

// The name a folder listing gives for the file (the case as stored).
std::wstring StoredName(const std::wstring& path)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(path.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return L"";
    FindClose(h);
    return fd.cFileName;
}

std::vector<std::wstring> Listing(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring n = fd.cFileName;
        if (n != L"." && n != L"..") names.push_back(n);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

std::string Bytes(const std::wstring& path)
{
    std::string data;
    ReadFileBytes(path, &data);
    return data;
}

// Start of the archive appended to a packed setup: the PE32+ LoaderFlags field.
size_t PayloadOffset(const std::string& image)
{
    if (image.size() < 0x40) return 0;
    uint32_t pe = *reinterpret_cast<const uint32_t*>(image.data() + 0x3C);
    size_t loaderFlags = pe + 4 + 20 + 104;
    if (loaderFlags + 4 > image.size()) return 0;
    return *reinterpret_cast<const uint32_t*>(image.data() + loaderFlags);
}

WORD VersionLanguage(const std::wstring& file)
{
    DWORD handle = 0, size = GetFileVersionInfoSizeW(file.c_str(), &handle);
    if (!size) return 0;
    std::vector<BYTE> info(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, info.data())) return 0;
    WORD* pairs = nullptr;
    UINT bytes = 0;
    if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pairs), &bytes) ||
        bytes < 4)
        return 0;
    return pairs[0];
}

WORD Machine(const std::wstring& file)
{
    std::string image = Bytes(file);
    if (image.size() < 0x40) return 0;
    uint32_t pe = *reinterpret_cast<const uint32_t*>(image.data() + 0x3C);
    if (pe + 6 > image.size()) return 0;
    return *reinterpret_cast<const uint16_t*>(image.data() + pe + 4);
}

struct Link {
    bool loaded = false;
    std::wstring target, arguments, workingFolder, iconFile, description;
    int iconIndex = -1;
};

Link ReadLink(const std::wstring& path)
{
    Link link;
    IShellLinkW* shell = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shell))))
        return link;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        if (SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
            wchar_t text[1024];
            link.loaded = true;
            // The item list holds the target in full; the path text may be a narrow copy.
            PIDLIST_ABSOLUTE items = nullptr;
            if (SUCCEEDED(shell->GetIDList(&items)) && items) {
                wchar_t path[MAX_PATH] = L"";
                if (SHGetPathFromIDListW(items, path)) link.target = path;
                CoTaskMemFree(items);
            }
            if (link.target.empty() && SUCCEEDED(shell->GetPath(text, 1024, nullptr, SLGP_RAWPATH))) link.target = text;
            if (SUCCEEDED(shell->GetArguments(text, 1024))) link.arguments = text;
            if (SUCCEEDED(shell->GetWorkingDirectory(text, 1024))) link.workingFolder = text;
            if (SUCCEEDED(shell->GetDescription(text, 1024))) link.description = text;
            int index = -1;
            if (SUCCEEDED(shell->GetIconLocation(text, 1024, &index))) {
                link.iconFile = text;
                link.iconIndex = index;
            }
        }
        file->Release();
    }
    shell->Release();
    return link;
}

DWORD RegDword(HKEY root, const std::wstring& key, const wchar_t* value)
{
    HKEY k;
    DWORD data = 0, bytes = sizeof data, type = 0;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return 0xFFFFFFFF;
    LONG rc = RegQueryValueExW(k, value, nullptr, &type, reinterpret_cast<BYTE*>(&data), &bytes);
    RegCloseKey(k);
    return rc == ERROR_SUCCESS && type == REG_DWORD ? data : 0xFFFFFFFF;
}

void DeleteValue(HKEY root, const wchar_t* key, const wchar_t* name)
{
    HKEY k;
    if (RegOpenKeyExW(root, key, 0, KEY_WRITE, &k) != ERROR_SUCCESS) return;
    RegDeleteValueW(k, name);
    RegCloseKey(k);
}

const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\run";
const wchar_t kStartPageKey[] = L"Software\\Microsoft\\Internet Explorer\\Main";

bool EndsWithSlash(const std::wstring& s) { return !s.empty() && s.back() == L'\\'; }

class InstallRun : public ::testing::Test {
public:
    void SetUp() override
    {
        CoInitialize(nullptr);
        config = ReadDemoConfig();
        ASSERT_FALSE(config[L"display_name"].empty()) << "demo/config.txt not readable";
        guid = config[L"text_service_guid"];
        imeName = config[L"ime_name"];
        displayName = config[L"display_name"];
        // A folder that exists already, so that the overwrite question comes.
        installFolder = L"C:\\ZerdaRobot\\" + config[L"default_folder"] + L"\\";
        dataFolder = Folder(CSIDL_COMMON_APPDATA) + L"ZerdaIME3\\" + imeName + L"\\";
        groupFolder = Folder(CSIDL_COMMON_PROGRAMS) + displayName + L"\\";
        callsLog = EnvString(L"ALLUSERSPROFILE") + L"\\VarekInputTool\\calls.log";
        workFolder = TempFolder() + L"$zerdaInstaller$";
        setup = BuildDir() + L"\\demo\\ZerdaIME3_Setup.exe";
        robot = BuildDir() + L"\\tests\\robot\\zerda_robot.exe";
        DeleteFileW(callsLog.c_str());
        DeleteValue(HKEY_LOCAL_MACHINE, kRunKey, L"VarekNews");
        DeleteValue(HKEY_CURRENT_USER, kStartPageKey, L"Start Page");
    }

    void TearDown() override
    {
        // Best effort: the installed uninstaller first, then whatever it left.
        std::wstring uninstall = RegString(HKEY_LOCAL_MACHINE, UninstallKey(), L"UninstallString");
        if (!uninstall.empty()) {
            std::wstring quoted;  // the command line as one argument: inner quotation marks escaped
            for (wchar_t c : uninstall) quoted += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
            RunAndWait(L"\"" + robot + L"\" uninstall \"" + quoted + L"\" --timeout 90", 120000);
        }
        for (const std::wstring& key : {UninstallKey(), L"Software\\ZerdaIME3\\" + guid,
                                        L"Software\\Wow6432Node\\ZerdaIME3\\" + guid})
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
        DeleteValue(HKEY_LOCAL_MACHINE, kRunKey, L"VarekNews");
        DeleteValue(HKEY_CURRENT_USER, kStartPageKey, L"Start Page");
        DeleteTree(L"C:\\ZerdaRobot");
        DeleteTree(groupFolder);
        DeleteTree(dataFolder);
        CoUninitialize();
    }

    static std::wstring TempFolder()
    {
        wchar_t t[MAX_PATH];
        GetTempPathW(MAX_PATH, t);
        std::wstring p = t;
        if (!p.empty() && p.back() != L'\\') p += L'\\';
        return p;
    }

    std::wstring UninstallKey() const { return L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + guid; }

    void InstallThroughTheWindows(const wchar_t* prefixName)
    {
        ASSERT_TRUE(FileExists(setup)) << Narrow(setup);
        ASSERT_TRUE(FileExists(robot)) << Narrow(robot);
        // The folder exists with something of the user's and an old program in it.
        CreateDirectoryW(L"C:\\ZerdaRobot", nullptr);
        ASSERT_TRUE(CreateDirectoryW(installFolder.c_str(), nullptr) || DirExists(installFolder));
        ASSERT_TRUE(WriteFileText(installFolder + L"keep.txt", "the user's own file"));
        ASSERT_TRUE(WriteFileText(installFolder + L"config.exe", "an old program"));

        const std::wstring screens = BuildDir() + L"\\screenshots\\robot_install_" + prefixName;
        CreateDirectoryW((BuildDir() + L"\\screenshots").c_str(), nullptr);
        logFile = TempFolder() + L"zerda_robot_install.log";
        outFile = TempFolder() + L"zerda_robot_install.out";
        DeleteFileW(logFile.c_str());
        // The robot's own output goes to a file through the command interpreter.
        std::wstring command = L"cmd /c \"\"" + robot + L"\" install \"" + setup + L"\" \"" + installFolder +
                               // The closing backslash doubled, or it would escape the quotation mark.
                               L"\\\" --screens \"" + screens + L"\" --log \"" + logFile + L"\" > \"" + outFile + L"\"\"";
        int code = RunAndWait(command, 330000);
        std::string out;
        ReadFileBytes(outFile, &out);
        robotOutput = FromUtf8(out);
        std::printf("%s\n", out.c_str());
        ASSERT_EQ(0, code);
    }

    std::map<std::wstring, std::wstring> config;
    std::wstring guid, imeName, displayName, installFolder, dataFolder, groupFolder, callsLog, workFolder, setup,
        robot, logFile, outFile, robotOutput;
};

void CheckInstallation(InstallRun& t, const wchar_t* prefixName)
{
    t.InstallThroughTheWindows(prefixName);
    if (::testing::Test::HasFatalFailure()) return;
    const std::wstring& folder = t.installFolder;
    const std::wstring payload = BuildDir() + L"\\demo\\payload\\";

    // The overwrite question was a real message box, answered Yes.
    EXPECT_NE(std::wstring::npos, t.robotOutput.find(L"message: داۋاملىق قاچىلامسىز؟ | "));

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

    // Install folder: program files in lower case, the user's file kept, the old program replaced.
    std::vector<std::wstring> names = Listing(folder);
    for (const wchar_t* n : {L"_backup_.dat", L"colourful", L"config.exe", L"installer.exe", L"keep.txt",
                             L"license.html", L"main.chm", L"tools"})
        EXPECT_NE(names.end(), std::find(names.begin(), names.end(), n)) << Narrow(n);
    for (const wchar_t* n : {L"zerdaime.ime", L"$dataFiles$", L"$datafiles$"})
        EXPECT_EQ(names.end(), std::find(names.begin(), names.end(), n)) << Narrow(n);
    // The 32-bit driver went to the WOW64 folder; at most its emptied folder came along.
    EXPECT_TRUE(Listing(folder + L"x86\\").empty());
    EXPECT_EQ((std::vector<std::wstring>{L"varekinputtool.exe"}), Listing(folder + L"tools\\"));
    EXPECT_EQ((std::vector<std::wstring>{L"default.icc"}), Listing(folder + L"colourful\\"));
    EXPECT_TRUE(Bytes(payload + L"config.exe") == Bytes(folder + L"config.exe"));
    EXPECT_TRUE(Bytes(payload + L"main.chm") == Bytes(folder + L"main.chm"));
    EXPECT_EQ("the user's own file", Bytes(folder + L"keep.txt"));

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
        {L"InstallSource", InstallRun::TempFolder() + L"$zerdaInstaller$\\installer.exe"},
        {L"ModifyPath", command},
    };
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, entry.c_str(), 0, KEY_READ, &k));
    DWORD values = 0;
    RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(k);
    EXPECT_EQ(16u, values);
    for (const auto& [name, value] : expected)
        EXPECT_EQ(value, RegString(HKEY_LOCAL_MACHINE, entry, name.c_str())) << Narrow(name);

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
        Link link = ReadLink(t.groupFolder + e.file);
        ASSERT_TRUE(link.loaded);
        EXPECT_EQ(Lower(e.target), Lower(link.target));
        EXPECT_EQ(e.arguments, link.arguments);
        EXPECT_EQ(Lower(e.iconFile), Lower(link.iconFile));
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
    EXPECT_EQ(L"قاچىلاش ھازىرلا  تاماملىنىدۇ...\r\n\r\n"
              L"  1.سېستىما ھۆججىتى قۇرۇلدى...\r\n"
              L"  2.ئىجرا بۇلۇش مۇھىتى ھازىرلاندى...\r\n"
              L"  3.يۇيۇش ئۇچۇرى قاچىلاندى...\r\n"
              L"  4.قاچىلاش ئۇچۇرلىرى زاپاسلاندى...\r\n"
              L"  5.باشلاش تېزىملىكى ۋە ئۈستەل يۈزى تەييارلاندى...\r\n"
              L"  6.ۋاقىتلىق ھۆججەتلەر تازىلاندى...\r\n"
              L"  7.قاچىلاش ئاخىرلاشتى.\r\n\r\n",
              FromUtf8(logBytes));

    // Finish with both boxes checked.
    EXPECT_EQ(t.config[L"about_address"], RegString(HKEY_CURRENT_USER, kStartPageKey, L"Start Page"));
    EXPECT_EQ(L"\"" + folder + L"tools\\varekinputtool.exe\" /do=zixun",
              RegString(HKEY_LOCAL_MACHINE, kRunKey, L"VarekNews"));

    // The work folder is gone once the program has ended.
    EXPECT_FALSE(DirExists(t.workFolder));
}
}  // namespace

TEST_F(InstallRun, DemoSetupInstallsThroughItsWindows)
{
    CheckInstallation(*this, ZERDA_PREFIX_NAME);
}
