// The whole life of the packed demo product, driven through its windows by
// the robot: installed, damaged and repaired from its repair shortcut,
// uninstalled from its uninstall entry; two products of the family side by
// side; an installation over an installation; and bad input that must leave
// the installation alone.
#include <gtest/gtest.h>

#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "common/keyboard_lists.h"
#include "common/test_support.h"
#include "expected_texts.h"
#include "lifecycle_texts.h"
#include "maint_fixture.h"
#include "robot/robot_test_support.h"

namespace {

using robot_test::FromUtf8;
using robot_test::ImeLayouts;
using robot_test::Lower;
using robot_test::Narrow;
using robot_test::ReadDemoConfig;
using robot_test::Trim;

// One argument as the C runtime of the robot will split it again.
std::wstring Quote(const std::wstring& arg)
{
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

struct RobotRun {
    int code = -1;
    std::wstring output;
};

RobotRun RunRobot(const std::vector<std::wstring>& args, DWORD timeoutMs = 400000)
{
    RobotRun run;
    std::wstring outPath = TempFolder() + L"zt_cycle_robot.out";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    // The last run's setup and its temporary copy inherited this file and may
    // take a moment to end.
    HANDLE out = INVALID_HANDLE_VALUE;
    for (int i = 0; i < 150 && out == INVALID_HANDLE_VALUE; ++i) {
        out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (out == INVALID_HANDLE_VALUE) Sleep(100);
    }
    if (out == INVALID_HANDLE_VALUE) return run;
    std::wstring command = Quote(BuildDir() + L"\\tests\\robot\\zerda_robot.exe");
    for (const std::wstring& a : args) command += L" " + Quote(a);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = out;
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        DWORD code = static_cast<DWORD>(-1);
        if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
        else TerminateProcess(pi.hProcess, 99);
        run.code = static_cast<int>(code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(out);
    std::string bytes;
    ReadFileBytes(outPath, &bytes);
    run.output = FromUtf8(bytes);
    std::printf("%s\n", bytes.c_str());
    DeleteFileW(outPath.c_str());
    return run;
}

using Tree = std::map<std::wstring, std::string>;

void ReadTree(const std::wstring& folder, const std::wstring& label, Tree& tree)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring n = fd.cFileName;
        if (n == L"." || n == L"..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            tree[label + n + L"\\"] = "";
            ReadTree(folder + n + L"\\", label + n + L"\\", tree);
        } else {
            std::string bytes;
            ReadFileBytes(folder + n, &bytes);
            tree[label + n] = bytes;
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

std::vector<std::wstring> RegValues(HKEY root, const std::wstring& key)
{
    std::vector<std::wstring> out;
    HKEY k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return out;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256, type = 0;
        BYTE data[4096];
        DWORD bytes = sizeof data;
        if (RegEnumValueW(k, i, name, &nameLength, nullptr, &type, data, &bytes) != ERROR_SUCCESS) break;
        std::wstring text;
        if (type == REG_SZ) text.assign(reinterpret_cast<wchar_t*>(data), bytes / sizeof(wchar_t));
        else text = L"#" + std::to_wstring(*reinterpret_cast<DWORD*>(data));
        out.push_back(std::wstring(name) + L"=" + text);
    }
    RegCloseKey(k);
    std::sort(out.begin(), out.end());
    return out;
}

bool Win10() { return robot_test::IsTextServiceRoad(); }

struct Product {
    std::wstring guid, imeName, displayName, installFolder, setup;

    std::wstring DataFolder() const { return robot_test::Folder(CSIDL_COMMON_APPDATA) + L"ZerdaIME3\\" + imeName + L"\\"; }
    std::wstring GroupFolder() const { return robot_test::Folder(CSIDL_COMMON_PROGRAMS) + displayName + L"\\"; }
    std::wstring ProductKey() const { return L"Software\\ZerdaIME3\\" + guid; }
    std::wstring ProductKey32() const { return L"Software\\Wow6432Node\\ZerdaIME3\\" + guid; }
    std::wstring UninstallKey() const { return UninstallKeyPath(guid); }
    std::wstring TipKey() const { return L"Software\\Microsoft\\CTF\\TIP\\" + guid; }
    std::wstring ClassKey() const { return L"Software\\Classes\\CLSID\\" + guid; }
    std::wstring ClassKey32() const { return L"Software\\Classes\\Wow6432Node\\CLSID\\" + guid; }

    // Files of the installation: install folder, data folder and drivers.
    Tree Files() const
    {
        Tree tree;
        ReadTree(installFolder, L"install\\", tree);
        ReadTree(DataFolder(), L"data\\", tree);
        for (bool wow64 : {false, true}) {
            std::wstring driver = SystemFolder(wow64) + imeName + L".ime";
            std::string bytes;
            if (ReadFileBytes(driver, &bytes)) tree[(wow64 ? L"wow64\\" : L"system\\") + Lower(imeName)] = bytes;
        }
        return tree;
    }

    // Registry state of the installation, value by value.
    std::vector<std::wstring> Registry() const
    {
        std::vector<std::wstring> all;
        // Each run unpacks into a work folder of its own name.
        const std::wstring source = L"InstallSource=" + MachineTempFolder() + L"ZerdaIME3.";
        for (const std::wstring& key : {ProductKey(), ProductKey32(), UninstallKey()})
            for (std::wstring v : RegValues(HKEY_LOCAL_MACHINE, key)) {
                if (v.rfind(source, 0) == 0) v = source + L"*" + v.substr(v.find(L'\\', source.size()));
                all.push_back(key + L": " + v);
            }
        for (const std::wstring& key : {ClassKey(), ClassKey32()})
            for (const std::wstring& v : RegValues(HKEY_LOCAL_MACHINE, key + L"\\InProcServer32"))
                all.push_back(key + L": " + v);
        all.push_back(L"layouts=" + std::to_wstring(ImeLayouts(imeName)));
        all.push_back(std::wstring(L"tip=") + (RegKeyExists(HKEY_LOCAL_MACHINE, TipKey()) ? L"1" : L"0"));
        return all;
    }

    std::vector<std::wstring> Shortcuts() const
    {
        Tree tree;
        ReadTree(GroupFolder(), L"", tree);
        std::vector<std::wstring> names;
        for (const auto& entry : tree) names.push_back(entry.first);
        return names;
    }

    // Every trace an uninstallation must take away.
    std::vector<std::wstring> Leftovers() const
    {
        std::vector<std::wstring> left;
        if (DirExists(installFolder)) {
            Tree rest;
            ReadTree(installFolder, L"", rest);
            std::wstring names;
            for (const auto& entry : rest) names += L" " + entry.first;
            left.push_back(L"install folder (" + names + L" )");
        }
        if (DirExists(DataFolder())) left.push_back(L"data folder");
        if (DirExists(GroupFolder())) left.push_back(L"shortcut group");
        for (bool wow64 : {false, true})
            if (FileExists(SystemFolder(wow64) + imeName + L".ime")) left.push_back(wow64 ? L"wow64 driver" : L"driver");
        if (RegKeyExists(HKEY_LOCAL_MACHINE, ProductKey())) left.push_back(L"product key");
        if (RegKeyExists(HKEY_LOCAL_MACHINE, ProductKey32())) left.push_back(L"product key (32-bit view)");
        if (RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKey())) left.push_back(L"uninstall entry");
        if (RegKeyExists(HKEY_LOCAL_MACHINE, ClassKey())) left.push_back(L"class key");
        if (RegKeyExists(HKEY_LOCAL_MACHINE, ClassKey32())) left.push_back(L"class key (32-bit)");
        if (ImeLayouts(imeName) > 0) left.push_back(L"keyboard layout");
        if (RegKeyExists(HKEY_LOCAL_MACHINE, TipKey())) left.push_back(L"text-service profile");
        return left;
    }
};

std::wstring Joined(const std::vector<std::wstring>& items)
{
    std::wstring s;
    for (const auto& i : items) s += i + L"; ";
    return s;
}

// The uninstaller in the install folder waits for its temporary copy and so
// holds its own file there; what it held goes within seconds after it ends.
std::vector<std::wstring> LeftoversAfterSettling(const Product& p, const std::wstring& expected = L"")
{
    std::vector<std::wstring> left = p.Leftovers();
    for (int i = 0; i < 150 && Joined(left) != expected; ++i) {
        Sleep(100);
        left = p.Leftovers();
    }
    return left;
}

// The differences between two file trees, for readable failures.
std::wstring TreeDifferences(const Tree& expected, const Tree& actual)
{
    std::wstring d;
    for (const auto& [name, bytes] : expected) {
        auto it = actual.find(name);
        if (it == actual.end()) d += L"missing " + name + L"; ";
        else if (it->second != bytes) d += L"changed " + name + L"; ";
    }
    for (const auto& entry : actual)
        if (!expected.count(entry.first)) d += L"extra " + entry.first + L"; ";
    return d;
}

std::vector<std::wstring> PayloadFonts()
{
    Tree tree;
    ReadTree(BuildDir() + L"\\demo\\payload\\$fonts$\\", L"", tree);
    std::vector<std::wstring> names;
    for (const auto& entry : tree) names.push_back(Lower(entry.first));
    return names;
}

std::string ReadUtf8(const std::wstring& path)
{
    std::string bytes;
    ReadFileBytes(path, &bytes);
    return bytes;
}

// The screen's DPI for the programs started meanwhile (each reads it as it starts).
struct ScreenDpi {
    explicit ScreenDpi(DWORD dpi) { RegSetKeyValueW(HKEY_CURRENT_USER, kDesktop, L"LogPixels", REG_DWORD, &dpi, 4); }
    ~ScreenDpi() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kDesktop, L"LogPixels"); }
    static constexpr const wchar_t* kDesktop = L"Control Panel\\Desktop";
};

// The header band's text in each of these states, in order ("+": the display name).
void ExpectHeaders(const std::wstring& output, std::initializer_list<int> states, const std::wstring& name)
{
    size_t at = 0;
    for (int state : states) {
        std::wstring text = expect::kHeaders[state];
        if (text.find(L'+') != std::wstring::npos) text.replace(text.find(L'+'), 1, name);
        EXPECT_NE(at = output.find(L"header: " + text + L"\n", at), std::wstring::npos) << Narrow(text);
    }
}

class LifeCycle : public ::testing::Test {
public:
    void SetUp() override
    {
        CoInitialize(nullptr);
        config = ReadDemoConfig();
        ASSERT_FALSE(config[L"text_service_guid"].empty()) << "demo/config.txt not readable";
        demo = {config[L"text_service_guid"], config[L"ime_name"], config[L"display_name"],
                L"C:\\ZerdaCycle\\Demo\\", BuildDir() + L"\\demo\\ZerdaIME3_Setup.exe"};
        // Made by "packtool new" in the build, with a GUID of its own.
        const std::wstring made = BuildDir() + L"\\tests\\maintenance\\second_product\\";
        secondConfig = ReadDemoConfig(made + L"product.txt");
        second = {secondConfig[L"text_service_guid"], secondConfig[L"ime_name"], secondConfig[L"display_name"],
                  L"C:\\ZerdaCycle\\Second\\", made + L"setup.exe"};
        callsLog = EnvString(L"ALLUSERSPROFILE") + L"\\VarekInputTool\\calls.log";
        screens = BuildDir() + L"\\screenshots\\";
        CreateDirectoryW(screens.c_str(), nullptr);
        screens += std::wstring(L"cycle_") + (Win10() ? L"win10" : L"win7");
        DeleteFileW(callsLog.c_str());
        ASSERT_TRUE(FileExists(demo.setup)) << Narrow(demo.setup);
    }

    void TearDown() override
    {
        if (holder_) {
            TerminateProcess(holder_, 0);
            WaitForSingleObject(holder_, 5000);
            CloseHandle(holder_);
        }
        for (const Product* p : {&demo, &second}) {
            std::wstring command = RegString(HKEY_LOCAL_MACHINE, p->UninstallKey(), L"UninstallString");
            if (!command.empty()) RunRobot({L"uninstall", command, L"--timeout", L"120"}, 150000);
            for (const std::wstring& key : {p->UninstallKey(), p->ProductKey(), p->ProductKey32()})
                RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
            DeleteTree(p->GroupFolder());
            DeleteTree(p->DataFolder());
        }
        DeleteTree(L"C:\\ZerdaCycle");
        CoUninitialize();
    }

    // keys: into the folder proposed, by keystrokes alone. The robot's output stays in `installed`.
    void Install(const Product& p, const wchar_t* shots, bool keys = false)
    {
        // Not probed by keys: the dialogs their mnemonics open (the folder chooser,
        // the agreement page) hold the page's thread while they are built.
        installed = RunRobot({L"install", p.setup, keys ? L"-" : p.installFolder, L"--no-extras", L"--screens",
                              screens + shots, L"--dpi", std::to_wstring(dpi), keys ? L"--keys" : L"--probe"});
        ASSERT_EQ(installed.code, 0) << "installation through the windows failed";
        if (keys) EXPECT_EQ(installed.output.find(L"WRONG"), std::wstring::npos);
        else ExpectSeenWell(installed);
        ASSERT_TRUE(DirExists(p.installFolder));
    }

    // Every window answered, every header band drawn for the screen's DPI.
    static void ExpectSeenWell(const RobotRun& run)
    {
        robot_test::ExpectRobotSawAnswers(run.output);
        EXPECT_EQ(run.output.find(L"WRONG"), std::wstring::npos);
    }

    // runLog: the setup's own log of the run (its "/log="); goOn: the robot
    // ends the holders on a process list and then goes on.
    RobotRun Uninstall(const Product& p, const wchar_t* shots, const std::wstring& log = L"",
                       const std::wstring& runLog = L"", bool goOn = false)
    {
        std::wstring command = RegString(HKEY_LOCAL_MACHINE, p.UninstallKey(), L"UninstallString");
        EXPECT_FALSE(command.empty()) << "no uninstall entry";
        if (!runLog.empty()) command += L" \"/log=" + runLog + L"\"";
        std::vector<std::wstring> args = {L"uninstall", command, L"--probe", L"--screens", screens + shots,
                                          L"--timeout", L"120", L"--dpi", std::to_wstring(dpi)};
        if (!log.empty()) args.insert(args.end(), {L"--log", log});
        if (goOn) args.push_back(L"--go-on");
        RobotRun run = RunRobot(args);
        ExpectSeenWell(run);
        return run;
    }

    RobotRun RepairFromShortcut(const Product& p, const wchar_t* shots, const std::wstring& log = L"")
    {
        ShellLinkInfo link = ReadShellLink(p.GroupFolder() + cycle_text::kRepairShortcut);
        EXPECT_TRUE(link.loaded) << "repair shortcut missing";
        std::vector<std::wstring> args = {L"repair", L"\"" + link.path + L"\" " + link.arguments,
                                          L"--cwd", link.workingFolder, L"--probe", L"--screens", screens + shots,
                                          L"--timeout", L"120", L"--dpi", std::to_wstring(dpi)};
        if (!log.empty()) args.insert(args.end(), {L"--log", log});
        RobotRun run = RunRobot(args);
        ExpectSeenWell(run);
        return run;
    }

    void StartHolder(const std::wstring& library)
    {
        std::wstring ready = TempFolder() + L"zt_cycle_holder.ready";
        DeleteFileW(ready.c_str());
        std::wstring command = L"\"" + BuildDir() + L"\\tests\\maintenance\\maint_holder.exe\" \"" + library +
                               L"\" \"" + ready + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        CloseHandle(pi.hThread);
        holder_ = pi.hProcess;
        for (int i = 0; i < 100 && !FileExists(ready); ++i) Sleep(100);
        ASSERT_TRUE(FileExists(ready)) << "the holder did not load " << Narrow(library);
        DeleteFileW(ready.c_str());
    }

    std::map<std::wstring, std::wstring> config, secondConfig;
    Product demo, second;
    std::wstring callsLog, screens;
    HANDLE holder_ = nullptr;
    int dpi = 96;
    RobotRun installed;
};

}  // namespace

TEST_F(LifeCycle, InstallDamageRepairAndUninstall)
{
    FamilyFolderAside aside;
    dpi = Win10() ? 192 : 144;  // 200 % on the one road, 150 % on the other
    ScreenDpi scale(dpi);
    ASSERT_NO_FATAL_FAILURE(Install(demo, L"_install"));
    RobotRun install = installed;
    ExpectHeaders(install.output, {0, 1, 2}, demo.displayName);
    const Tree fresh = demo.Files();
    const std::vector<std::wstring> freshRegistry = demo.Registry();
    // Registered the classic way before Windows 8, as a text service from then on.
    EXPECT_NE(Joined(freshRegistry).find(Win10() ? L"tip=1" : L"layouts=1"), std::wstring::npos)
        << Narrow(Joined(freshRegistry));
    ASSERT_TRUE(fresh.count(L"install\\config.exe") && fresh.count(L"data\\main.dmg") &&
                fresh.count(L"system\\" + Lower(demo.imeName)))
        << Narrow(TreeDifferences({}, fresh));
    const std::vector<std::wstring> fonts = PayloadFonts();
    ASSERT_FALSE(fonts.empty());
    const std::wstring fontsFolder = robot_test::Folder(CSIDL_FONTS);
    for (const std::wstring& f : fonts) ASSERT_TRUE(FileExists(fontsFolder + f)) << Narrow(f);

    // Damage: program files, a data file, the driver and a font.
    for (const wchar_t* f : {L"config.exe", L"main.chm", L"tools\\varekinputtool.exe"})
        ASSERT_TRUE(DeleteFileW((demo.installFolder + f).c_str())) << Narrow(f);
    ASSERT_TRUE(DeleteFileW((demo.DataFolder() + L"main.dmg").c_str()));
    ASSERT_TRUE(DeleteFileW((SystemFolder(false) + demo.imeName + L".ime").c_str()));
    ASSERT_TRUE(DeleteFileW((fontsFolder + fonts.back()).c_str()));

    // Users' keyboard lists: the user at the desktop through a step of their own.
    InputDllStandIn inputDll;
    OtherProfiles profiles;
    UnelevatedShell shell;
    ASSERT_TRUE(inputDll.Placed() && shell.Running());
    const WORD langId = static_cast<WORD>(wcstoul(config[L"language_id"].c_str(), nullptr, 0));
    const std::wstring installedEntry = KeyboardListEntry(demo.guid, demo.imeName, langId);

    const std::wstring repairLog = TempFolder() + L"zt_cycle_repair.log";
    RobotRun repair = RepairFromShortcut(demo, L"_repair", repairLog);
    ASSERT_EQ(repair.code, 0);
    ExpectHeaders(repair.output, {3, 4, 5}, demo.displayName);
    // Registered again: a layout with a new identifier replaces the old one in every list.
    const std::wstring repairedEntry = KeyboardListEntry(demo.guid, demo.imeName, langId);
    ExpectOneChangePerProfile(inputDll.Calls(), false, repairedEntry, L"InstallLayoutOrTip");
    if (repairedEntry != installedEntry)
        ExpectOneChangePerProfile(inputDll.Calls(), true, installedEntry, L"InstallLayoutOrTip");
    inputDll.ClearCalls();
    EXPECT_EQ(TreeDifferences(fresh, demo.Files()), L"") << "the repair must put every file back";
    for (const std::wstring& f : fonts) EXPECT_TRUE(FileExists(fontsFolder + f)) << Narrow(f);
    EXPECT_EQ(FromUtf8(ReadUtf8(repairLog)),
              JoinLog({expect::kRepairStart, expect::kRepairStep1, expect::kRepairStep2, expect::kRepairStep3,
                       expect::kRepairStep4, expect::kRepairStep5, expect::kRepairStep6}));
    EXPECT_EQ(Joined(demo.Registry()), Joined(freshRegistry)) << "registered again as before";

    // The uninstaller as the list of installed programs starts it.
    const std::vector<std::wstring> workBefore = SetupWorkFolders();
    const std::wstring uninstallLog = TempFolder() + L"zt_cycle_uninstall.log";
    const std::wstring runLog = TempFolder() + L"zt_cycle_uninstall_run.log";
    DeleteFileW(runLog.c_str());
    const std::wstring foldersLog = EnvString(L"ALLUSERSPROFILE") + L"\\VarekInputTool\\folders.log";
    DeleteFileW(foldersLog.c_str());
    // A person's files in the install folder and in a folder of the product: they stay, with their folders.
    for (const wchar_t* mine : {L"notes.txt", L"tools\\notes.txt"})
        ASSERT_TRUE(WriteFileText(demo.installFolder + mine, "a person's notes"));
    RobotRun uninstall = Uninstall(demo, L"_uninstall", uninstallLog, runLog);
    ASSERT_EQ(uninstall.code, 0);
    ExpectHeaders(uninstall.output, {6, 7}, demo.displayName);
    for (const RobotRun* run : {&install, &repair, &uninstall}) EXPECT_NE(run->output.find(L"scale: "), std::wstring::npos);
    ExpectOneChangePerProfile(inputDll.Calls(), true, repairedEntry, L"InstallLayoutOrTip");
    EXPECT_EQ(FromUtf8(ReadUtf8(uninstallLog)),
              JoinLog({expect::kUninstallStart, expect::kUninstallStep1, expect::kUninstallStep2,
                       expect::kUninstallStep3, expect::kUninstallStep4, expect::kUninstallStep5,
                       expect::kUninstallFamily, expect::kUninstallStep7, expect::kUninstallStep8}));
    const std::wstring personal = L"install folder ( notes.txt tools\\ tools\\notes.txt ); ";
    EXPECT_EQ(Joined(LeftoversAfterSettling(demo, personal)), personal);
    EXPECT_EQ(ReadUtf8(demo.installFolder + L"tools\\notes.txt"), "a person's notes");
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZerdaIME3"));
    for (const std::wstring& f : fonts) EXPECT_TRUE(FileExists(fontsFolder + f)) << "fonts stay: " << Narrow(f);

    // The companion tool ran in the install folder and had ended before the
    // folder went: its call is there as soon as the uninstall is over.
    std::string calls = ReadUtf8(callsLog);
    EXPECT_NE(calls.find("/do=unstall"), std::string::npos) << calls;
    const std::wstring folderWithoutSlash = demo.installFolder.substr(0, demo.installFolder.size() - 1);
    EXPECT_EQ(Lower(FromUtf8(ReadUtf8(foldersLog))), Lower(folderWithoutSlash) + L"\r\n") << ReadUtf8(foldersLog);
    // Within step 1, long before the files go in step 3 and the folder in step 7.
    const std::wstring log = FromUtf8(ReadUtf8(runLog));
    EXPECT_NE(log.find(L"Kept (not placed by the setup): " + demo.installFolder + L"tools\\notes.txt"), std::wstring::npos)
        << Narrow(log);
    size_t ended = log.find(L"The companion tool's uninstall command ended with code 0");
    EXPECT_NE(ended, std::wstring::npos) << Narrow(log);
    EXPECT_LT(ended, log.find(expect::kUninstallStep2.text)) << Narrow(log);
    // The user's step names what started it; each list read back matched.
    EXPECT_NE(std::wstring::npos, log.find(L"taken out, at once (as the user, started with CreateProcessAsUserW)"));
    EXPECT_EQ(std::wstring::npos, log.find(L"read back does not match")) << Narrow(log);

    // The copy's work folder is gone, and so is the copy in its starter's:
    // the starter deleted it once it had ended. What is left there is the
    // starter's own image, moved out of the install folder, which goes at the
    // next restart.
    std::vector<std::wstring> left;
    for (const std::wstring& folder : SetupWorkFolders())
        if (std::find(workBefore.begin(), workBefore.end(), folder) == workBefore.end()) left.push_back(folder);
    EXPECT_GE(1u, left.size());
    for (const std::wstring& folder : left) {
        EXPECT_FALSE(FileExists(folder + L"\\installer.exe")) << "the relaunched copy stayed";
        for (const std::wstring& name : Listing(folder))
            EXPECT_EQ(0u, name.rfind(L"installer.", 0)) << Narrow(name);
    }
}

TEST_F(LifeCycle, TwoProductsOfTheFamily)
{
    FamilyFolderAside aside;
    ASSERT_TRUE(FileExists(second.setup)) << Narrow(second.setup);
    ASSERT_NO_FATAL_FAILURE(Install(demo, L"_family_a"));
    ASSERT_NO_FATAL_FAILURE(Install(second, L"_family_b"));
    // Its own names and language, on either road.
    ASSERT_EQ(secondConfig[L"language_id"], L"0x043F");
    EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, second.ProductKey(), L"LANGID"), 0x043Fu);
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, second.ProductKey(), L"LanguageName"), secondConfig[L"language_name"]);
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, second.UninstallKey(), L"DisplayName"), second.displayName);
    EXPECT_TRUE(FileExists(SystemFolder(true) + second.imeName + L".ime"));
    if (Win10())
        EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, second.TipKey() + L"\\LanguageProfile\\0x0000043f\\" + second.guid));
    else
        EXPECT_EQ(ImeLayouts(second.imeName), 1);
    const Tree demoFiles = demo.Files();
    const std::vector<std::wstring> demoRegistry = demo.Registry();
    const std::vector<std::wstring> demoShortcuts = demo.Shortcuts();
    ASSERT_FALSE(demoShortcuts.empty());

    const std::wstring log = TempFolder() + L"zt_cycle_family.log";
    ASSERT_EQ(Uninstall(second, L"_family_b_uninstall", log).code, 0);
    EXPECT_EQ(Joined(LeftoversAfterSettling(second)), L"");
    // The demo product keeps data in the family folder: the family stays.
    EXPECT_EQ(FromUtf8(ReadUtf8(log)),
              JoinLog({expect::kUninstallStart, expect::kUninstallStep1, expect::kUninstallStep2,
                       expect::kUninstallStep3, expect::kUninstallStep4, expect::kUninstallStep5,
                       expect::kUninstallStep7, expect::kUninstallStep8}));
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZerdaIME3"));
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\ZerdaIME3"));
    EXPECT_EQ(TreeDifferences(demoFiles, demo.Files()), L"");
    EXPECT_EQ(Joined(demo.Registry()), Joined(demoRegistry));
    EXPECT_EQ(Joined(demo.Shortcuts()), Joined(demoShortcuts));

    ASSERT_EQ(Uninstall(demo, L"_family_a_uninstall").code, 0);
    EXPECT_EQ(Joined(LeftoversAfterSettling(demo)), L"");
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZerdaIME3"));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\ZerdaIME3"));
}

TEST_F(LifeCycle, InstallingOverAnInstallationEqualsAFreshOne)
{
    ASSERT_NO_FATAL_FAILURE(Install(demo, L"_first"));
    const Tree files = demo.Files();
    const std::vector<std::wstring> registry = demo.Registry();
    const std::vector<std::wstring> shortcuts = demo.Shortcuts();

    // Again by keystrokes alone, into the folder proposed: the installed one.
    ASSERT_NO_FATAL_FAILURE(Install(demo, L"_again", true));
    // Tab reads the page from the right: folder, Browse, agreement link, the chosen radio button, Install.
    EXPECT_NE(installed.output.find(L"tab order: 1022 1005 1002 1001 1 \n"), std::wstring::npos);
    EXPECT_NE(installed.output.find(L"keys: mnemonic of 1009"), std::wstring::npos);
    EXPECT_EQ(installed.output.find(L"keys: FAILED"), std::wstring::npos);
    EXPECT_EQ(TreeDifferences(files, demo.Files()), L"");
    EXPECT_EQ(Joined(demo.Registry()), Joined(registry));
    EXPECT_EQ(Joined(demo.Shortcuts()), Joined(shortcuts));
}

TEST_F(LifeCycle, BadInputLeavesTheInstallationAloneUntilThePersonGoesOn)
{
    ASSERT_NO_FATAL_FAILURE(Install(demo, L"_bad"));
    const std::wstring backup = demo.installFolder + L"_backup_.dat";
    const std::wstring keptBackup = TempFolder() + L"zt_cycle_backup.dat";
    ASSERT_TRUE(CopyFileW(backup.c_str(), keptBackup.c_str(), FALSE));
    const Tree files = demo.Files();
    const std::vector<std::wstring> registry = demo.Registry();
    auto unchanged = [&](const char* what) {
        SCOPED_TRACE(what);
        EXPECT_EQ(TreeDifferences(files, demo.Files()), L"");
        EXPECT_EQ(Joined(demo.Registry()), Joined(registry));
    };
    const std::wstring environment =
        std::wstring(L" | ") + cycle_text::kEnvironmentText;

    // The backup archive is missing: repair cannot start.
    ASSERT_TRUE(DeleteFileW(backup.c_str()));
    RobotRun run = RepairFromShortcut(demo, L"_missing_backup");
    EXPECT_NE(run.output.find(std::wstring(L"message: ") + cycle_text::kRepairCaption + environment),
              std::wstring::npos);
    ASSERT_TRUE(CopyFileW(keptBackup.c_str(), backup.c_str(), FALSE));
    unchanged("repair without backup");

    // The backup replaced by another product's valid payload: nothing of it
    // is unpacked, placed or run.
    std::string other;
    ASSERT_TRUE(ReadFileBytes(second.setup, &other));
    size_t offset = robot_test::PayloadOffset(other);
    ASSERT_GT(offset, 0u);
    ASSERT_TRUE(WriteFileBytes(backup, other.data() + offset, other.size() - offset));
    run = RepairFromShortcut(demo, L"_other_backup");
    EXPECT_NE(run.output.find(std::wstring(L"message: ") + cycle_text::kRepairCaption + environment),
              std::wstring::npos);
    ASSERT_TRUE(CopyFileW(keptBackup.c_str(), backup.c_str(), FALSE));
    EXPECT_FALSE(DirExists(second.DataFolder()));
    unchanged("repair with another product's backup");

    // The product key lost "InstallLocation".
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, demo.ProductKey().c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    RegDeleteValueW(key, L"InstallLocation");
    run = RunRobot({L"uninstall", RegString(HKEY_LOCAL_MACHINE, demo.UninstallKey(), L"UninstallString"), L"--cwd",
                    demo.installFolder, L"--timeout", L"90", L"--screens", screens + L"_no_location"});
    RegSetValueExW(key, L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(demo.installFolder.c_str()),
                   static_cast<DWORD>((demo.installFolder.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    EXPECT_NE(run.output.find(std::wstring(L"message: ") + cycle_text::kUninstallCaption + environment),
              std::wstring::npos);
    unchanged("uninstall without install location");

    // A running program has the input method loaded; the user cancels the list.
    ASSERT_NO_FATAL_FAILURE(StartHolder(SystemFolder(false) + demo.imeName + L".ime"));
    run = Uninstall(demo, L"_in_use");
    EXPECT_EQ(run.code, 6) << "the dialog must stay ready after the cancelled check";
    EXPECT_NE(run.output.find(L"message: ھۆججەت ئېچىشتا توقۇنۇش كۆرۈلدى"), std::wstring::npos);
    unchanged("uninstall cancelled on the process list");
    TerminateProcess(holder_, 0);
    WaitForSingleObject(holder_, 5000);
    CloseHandle(holder_);
    holder_ = nullptr;
    DeleteFileW(keptBackup.c_str());

    // Held by a program that comes back whenever it is ended, as Explorer
    // does: after Force End the person goes on. The uninstall runs, the
    // driver goes at the next restart, the starter asks whether to restart
    // (No) and the run ends with 3010. The backup archive is gone too (a
    // scanner took it): the uninstall goes on without it all the same.
    ASSERT_TRUE(DeleteFileW(backup.c_str()));
    const std::wstring driver = SystemFolder(false) + demo.imeName + L".ime";
    FileHolder comesBack(driver, false, true);
    ASSERT_TRUE(comesBack.Ready());
    const std::wstring runLog = TempFolder() + L"zt_cycle_held_uninstall.log";
    DeleteFileW(runLog.c_str());
    run = Uninstall(demo, L"_held", L"", runLog, true);
    EXPECT_EQ(run.code, 0);
    for (const wchar_t* line : {L"process list: force end", L"process list: go on", L"exit code: 3010"})
        EXPECT_NE(run.output.find(line), std::wstring::npos) << Narrow(line);
    EXPECT_EQ(robot_test::RobotLine(run.output, L"message: قايتا قوزغىتىش | ").substr(0, 4), L"-> 7");
    EXPECT_EQ(run.output.find(L"made by another thread"), std::wstring::npos);
    EXPECT_EQ(Joined(LeftoversAfterSettling(demo)), L"");
    EXPECT_NE(Lower(PendingRenames()).find(Lower(driver) + L"."), std::wstring::npos) << "not deleted at the restart";
    const std::wstring log = FromUtf8(ReadUtf8(runLog));
    EXPECT_NE(Lower(log).find(L"gone on with " + Lower(demo.imeName)), std::wstring::npos) << Narrow(log);
    EXPECT_NE(log.find(L"A restart completes the change; the person restarts later"), std::wstring::npos);
    EXPECT_NE(log.find(L"the uninstall goes on from the registry and the record"), std::wstring::npos);
    comesBack.End();
    for (const std::wstring& name : Listing(SystemFolder(false)))
        if (Lower(name).rfind(Lower(demo.imeName) + L".ime.", 0) == 0)
            for (int i = 0; i < 50 && !DeleteFileW((SystemFolder(false) + name).c_str()); ++i) Sleep(100);
}

// The companion tool's uninstall command without " /", and empty.
TEST_F(LifeCycle, CompanionCommandWithoutSwitchesOrEmpty)
{
    struct Case {
        const wchar_t* variant;
        bool started;
    } cases[] = {{L"maint_cmd_plain", true}, {L"maint_cmd_empty", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.variant));
        Product p = demo;
        p.setup = BuildDir() + L"\\demo\\variants\\" + c.variant + L"\\setup.exe";
        ASSERT_TRUE(FileExists(p.setup));
        ASSERT_NO_FATAL_FAILURE(Install(p, (std::wstring(L"_") + c.variant).c_str()));
        // The install command's own call first, so that it cannot land later.
        for (int i = 0; i < 50 && ReadUtf8(callsLog).find("/do=install") == std::string::npos; ++i) Sleep(100);
        DeleteFileW(callsLog.c_str());
        ASSERT_EQ(Uninstall(p, (std::wstring(L"_") + c.variant + L"_uninstall").c_str()).code, 0);
        EXPECT_EQ(Joined(LeftoversAfterSettling(p)), L"");
        // Waited for: the call is there when the uninstall is over.
        std::string calls = ReadUtf8(callsLog);
        if (c.started) EXPECT_EQ(calls, "\r\n") << "started once, without parameters";
        else EXPECT_EQ(calls, "") << "an empty command starts nothing";
    }
}
