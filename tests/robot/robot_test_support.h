// Shared by the whole-program tests: the demo product's description, the
// robot run and the read-back helpers (files, versions, shell links).
#pragma once
#include <gtest/gtest.h>

#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "formats/setup_image.h"

namespace robot_test {

// Relaunched copies still in a work folder.
inline int CopiesLeft()
{
    int copies = 0;
    for (const std::wstring& folder : SetupWorkFolders())
        if (FileExists(folder + L"\\installer.exe")) ++copies;
    return copies;
}

// Suspends or resumes every thread of a process: a run paused while it holds
// the guard holds it for as long as the others need to start, however fast
// its own work would be done.
inline void PauseProcess(DWORD processId, bool pause)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != processId) continue;
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
        if (!thread) continue;
        if (pause) SuspendThread(thread);
        else ResumeThread(thread);
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
}

// Opens the setups' run guard where it lives: in the Administrators' private
// namespace, or, on a system without private namespaces (Wine), under its
// global name. Null while no setup holds it.
inline HANDLE OpenRunGuard()
{
    HANDLE boundary = CreateBoundaryDescriptorW(L"ZerdaIME3", 0);
    if (!boundary) return OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\ZerdaIME3.Setup.Guard");
    HANDLE guard = nullptr;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
        AddSIDToBoundaryDescriptor(&boundary, administrators)) {
        if (HANDLE space = OpenPrivateNamespaceW(boundary, L"ZerdaIME3")) {
            guard = OpenMutexW(SYNCHRONIZE, FALSE, L"ZerdaIME3\\Setup.Run");
            ClosePrivateNamespace(space, 0);
        }
    }
    DeleteBoundaryDescriptor(boundary);
    return guard;
}

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

// A product's description, by default the demo's: "key = value" lines.
std::map<std::wstring, std::wstring> ReadDemoConfig(const std::wstring& path = L"")
{
    std::string raw;
    std::map<std::wstring, std::wstring> config;
    if (!ReadFileBytes(path.empty() ? SourceDir() + L"\\demo\\config.txt" : path, &raw)) return config;
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

inline std::wstring Folder(int csidl) { return CommonFolder(csidl); }

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

std::string Bytes(const std::wstring& path)
{
    std::string data;
    ReadFileBytes(path, &data);
    return data;
}

// Start of the archive appended to a packed setup: the PE32+ LoaderFlags field.
size_t PayloadOffset(const std::string& image)
{
    return formats::image::ReadPayloadOffset(
        formats::ByteSpan{reinterpret_cast<const uint8_t*>(image.data()), image.size()});
}

WORD Machine(const std::wstring& file)
{
    std::string image = Bytes(file);
    if (image.size() < 0x40) return 0;
    uint32_t pe = *reinterpret_cast<const uint32_t*>(image.data() + 0x3C);
    if (pe + 6 > image.size()) return 0;
    return *reinterpret_cast<const uint16_t*>(image.data() + pe + 4);
}

void DeleteValue(HKEY root, const wchar_t* key, const wchar_t* name)
{
    HKEY k;
    if (RegOpenKeyExW(root, key, 0, KEY_WRITE, &k) != ERROR_SUCCESS) return;
    RegDeleteValueW(k, name);
    RegCloseKey(k);
}

// What the wizard's log box holds after a successful installation.
inline std::wstring SuccessfulLog()
{
    return L"قاچىلاش ھازىرلا  تاماملىنىدۇ...\r\n\r\n"
           L"  1.سېستىما ھۆججىتى قۇرۇلدى...\r\n"
           L"  2.ئىجرا بۇلۇش مۇھىتى ھازىرلاندى...\r\n"
           L"  3.يۇيۇش ئۇچۇرى قاچىلاندى...\r\n"
           L"  4.قاچىلاش ئۇچۇرلىرى زاپاسلاندى...\r\n"
           L"  5.باشلاش تېزىملىكى ۋە ئۈستەل يۈزى تەييارلاندى...\r\n"
           L"  6.ۋاقىتلىق ھۆججەتلەر تازىلاندى...\r\n"
           L"  7.قاچىلاش ئاخىرلاشتى.\r\n\r\n";
}

// Keyboard layouts whose "Ime File" names the product's driver, by file name
// (as Windows stores it) or full path (as Wine does).
int ImeLayouts(const std::wstring& imeName)
{
    int found = 0;
    HKEY layouts;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Keyboard Layouts", 0, KEY_READ,
                      &layouts) != ERROR_SUCCESS)
        return 0;
    std::wstring wanted = Lower(imeName + L".ime");
    for (DWORD i = 0;; ++i) {
        wchar_t name[64];
        DWORD length = 64;
        if (RegEnumKeyExW(layouts, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        std::wstring file = Lower(RegString(layouts, name, L"Ime File"));
        if (file.size() >= wanted.size() && file.compare(file.size() - wanted.size(), wanted.size(), wanted) == 0 &&
            (file.size() == wanted.size() || file[file.size() - wanted.size() - 1] == L'\\'))
            ++found;
    }
    RegCloseKey(layouts);
    return found;
}

// Windows 8 and later (6.2 and up, as a program that declares no version is
// told): the text-service road of the registration.
inline bool IsTextServiceRoad()
{
    OSVERSIONINFOW v{sizeof v};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&v);
#pragma GCC diagnostic pop
    return v.dwMajorVersion > 6 || (v.dwMajorVersion == 6 && v.dwMinorVersion >= 2);
}

// Every window of the setup answers a message within half a second. The
// probe's own window, served by a thread that does nothing else, shows what
// the machine's load alone cost a window in the same stretch; that much more
// is allowed, so that a busy machine does not pass for a busy window.
constexpr long kAnswerWithinMs = 500;

inline void ExpectAnswering(long longest, long reference, const std::wstring& what)
{
    EXPECT_GE(longest, 0) << "no probe result: " << Narrow(what);
    EXPECT_LE(longest, kAnswerWithinMs + reference) << Narrow(what);
}

// The robot's "probe: longest unanswered N ms (caption), reference M ms" line.
inline void ExpectRobotSawAnswers(const std::wstring& robotOutput)
{
    size_t at = robotOutput.find(L"probe: longest unanswered ");
    if (at == std::wstring::npos) {
        ADD_FAILURE() << "the robot printed no probe line";
        return;
    }
    size_t end = robotOutput.find(L'\n', at);
    std::wstring line = robotOutput.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at);
    long longest = wcstol(line.c_str() + wcslen(L"probe: longest unanswered "), nullptr, 10);
    size_t ref = line.rfind(L"), reference ");
    long reference = ref == std::wstring::npos ? -1 : wcstol(line.c_str() + ref + wcslen(L"), reference "), nullptr, 10);
    EXPECT_GE(reference, 0) << Narrow(line);
    ExpectAnswering(longest, reference < 0 ? 0 : reference, line);
}

// The end of the robot's line that starts with `start` ("-> 7" of a message
// answered No), from its last " -> "; empty when there is no such line.
inline std::wstring RobotLine(const std::wstring& robotOutput, const std::wstring& start)
{
    size_t at = robotOutput.find(start);
    if (at == std::wstring::npos) return L"";
    std::wstring line = robotOutput.substr(at, robotOutput.find(L'\n', at) - at);
    size_t answer = line.rfind(L" -> ");
    return answer == std::wstring::npos ? L"" : line.substr(answer + 1);
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
        setup = BuildDir() + L"\\demo\\ZerdaIME3_Setup.exe";
        Derive();
    }

    // A variant of the demo: its setup and the description keys it overrides.
    void UseVariant(const std::wstring& name, const std::map<std::wstring, std::wstring>& overrides)
    {
        for (const auto& [key, value] : overrides) config[key] = value;
        setup = BuildDir() + L"\\demo\\variants\\" + name + L"\\setup.exe";
        Derive();
    }

    void Derive()
    {
        guid = config[L"text_service_guid"];
        imeName = config[L"ime_name"];
        displayName = config[L"display_name"];
        // A folder that exists already, so that the overwrite question comes.
        installFolder = L"C:\\ZerdaRobot\\" + config[L"default_folder"] + L"\\";
        dataFolder = Folder(CSIDL_COMMON_APPDATA) + L"ZerdaIME3\\" + imeName + L"\\";
        groupFolder = Folder(CSIDL_COMMON_PROGRAMS) + displayName + L"\\";
        callsLog = EnvString(L"ALLUSERSPROFILE") + L"\\VarekInputTool\\calls.log";
        workFoldersBefore = SetupWorkFolders();
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

    std::wstring UninstallKey() const { return UninstallKeyPath(guid); }

    // The folder exists beforehand unless told otherwise, so that the overwrite question comes.
    void InstallThroughTheWindows(const wchar_t* prefixName, bool folderExists = true,
                                  const std::wstring& extraArguments = L"")
    {
        ASSERT_TRUE(FileExists(setup)) << Narrow(setup);
        ASSERT_TRUE(FileExists(robot)) << Narrow(robot);
        // The folder exists with something of the user's and an old program in it.
        CreateDirectoryW(L"C:\\ZerdaRobot", nullptr);
        // Not the product's folder (none is installed): besides, a folder of
        // theirs and a second name of a file elsewhere. The setup offers a
        // folder of its own inside it and leaves all of it as it was.
        chosenFolder = folderExists && RegString(HKEY_LOCAL_MACHINE, L"Software\\ZerdaIME3\\" + guid, L"InstallLocation").empty()
                           ? installFolder
                           : L"";
        if (folderExists) {
            ASSERT_TRUE(CreateDirectoryW(installFolder.c_str(), nullptr) || DirExists(installFolder));
            ASSERT_TRUE(WriteFileText(installFolder + L"keep.txt", "the user's own file"));
            ASSERT_TRUE(WriteFileText(installFolder + L"config.exe", "an old program"));
        }
        if (!chosenFolder.empty()) {
            ASSERT_TRUE(CreateDirectoryW((chosenFolder + L"other").c_str(), nullptr));
            ASSERT_TRUE(WriteFileText(chosenFolder + L"other\\app.exe", "another program"));
            ASSERT_TRUE(WriteFileText(L"C:\\ZerdaRobot\\elsewhere.dll", "a file with two names"));
            ASSERT_TRUE(CreateHardLinkW((chosenFolder + L"shared.dll").c_str(), L"C:\\ZerdaRobot\\elsewhere.dll", nullptr));
            chosenBefore = FolderSnapshot(chosenFolder);
            installFolder = chosenFolder + config[L"default_folder"] + L"\\";
        }

        const std::wstring screens = BuildDir() + L"\\screenshots\\robot_install_" + prefixName;
        CreateDirectoryW((BuildDir() + L"\\screenshots").c_str(), nullptr);
        logFile = TempFolder() + L"zerda_robot_install.log";
        outFile = TempFolder() + L"zerda_robot_install.out";
        DeleteFileW(logFile.c_str());
        // The robot's own output goes to a file through the command interpreter.
        std::wstring command = L"cmd /c \"\"" + robot + L"\" install \"" + setup + L"\" \"" +
                               (chosenFolder.empty() ? installFolder : chosenFolder) +
                               // The closing backslash doubled, or it would escape the quotation mark.
                               L"\\\" --probe --screens \"" + screens + L"\" --log \"" + logFile + L"\" " + extraArguments +
                               L" > \"" + outFile + L"\"\"";
        int code = RunAndWait(command, 330000);
        std::string out;
        ReadFileBytes(outFile, &out);
        robotOutput = FromUtf8(out);
        std::printf("%s\n", out.c_str());
        ASSERT_EQ(0, code);
    }

    // Work folders the setup made since the test began and left behind.
    std::vector<std::wstring> LeftWorkFolders() const
    {
        std::vector<std::wstring> left;
        for (const std::wstring& folder : SetupWorkFolders())
            if (std::find(workFoldersBefore.begin(), workFoldersBefore.end(), folder) == workFoldersBefore.end())
                left.push_back(folder);
        return left;
    }

    std::map<std::wstring, std::wstring> config;
    std::vector<std::wstring> workFoldersBefore;
    std::wstring guid, imeName, displayName, installFolder, dataFolder, groupFolder, callsLog, setup, robot, logFile,
        outFile, robotOutput;
    // The folder typed in, when it was not the product's, and what it held.
    std::wstring chosenFolder, chosenBefore;
};

}  // namespace robot_test
