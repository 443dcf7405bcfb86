// The program itself as a registration service: installer.exe started with
// "/GUID=" re-registers or removes the text service without any window.
#include "registration_test_support.h"

using namespace regtest;

namespace {

struct RunResult {
    DWORD exitCode = static_cast<DWORD>(-1);
    int visibleWindows = 0;
};

struct WindowCount {
    DWORD pid;
    int visible;
};

BOOL CALLBACK CountVisible(HWND window, LPARAM param)
{
    auto* count = reinterpret_cast<WindowCount*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == count->pid && IsWindowVisible(window)) ++count->visible;
    return TRUE;
}

// Starts the built installer.exe with the arguments and watches for visible
// top-level windows of it until it ends.
RunResult RunInstaller(const std::wstring& arguments)
{
    RunResult result;
    std::wstring command = L"\"" + BuildDir() + L"\\installer.exe\" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return result;
    WindowCount count{pi.dwProcessId, 0};
    for (int waited = 0; waited < 60000; waited += 20) {
        EnumWindows(CountVisible, reinterpret_cast<LPARAM>(&count));
        if (WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0) break;
    }
    if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &result.exitCode);
    else TerminateProcess(pi.hProcess, 1);
    result.visibleWindows = count.visible;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return result;
}

}  // namespace

TEST_F(RegistrationTest, ProgramReregistersFromTheProductKey)
{
    Product p(L"E");
    p.Fill();
    ASSERT_TRUE(RegisterInputMethod());
    RemoveTextService(p.guid.c_str());
    ASSERT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, p.ClassKey()));
    ASSERT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, TipKey(p)));

    RunResult run = RunInstaller(L"/EMMODE=2 /GUID=" + p.guid);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(0, run.visibleWindows);
    ExpectFullRegistration(p);
}

TEST_F(RegistrationTest, ProgramRemovesTheTextServiceOnly)
{
    Product gone(L"G");
    Product stays(L"S");
    stays.Fill();
    ASSERT_TRUE(RegisterInputMethod());
    gone.Fill();
    ASSERT_TRUE(RegisterInputMethod());

    RunResult run = RunInstaller(L"/GUID=" + gone.guid);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(0, run.visibleWindows);
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, gone.ClassKey()));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, gone.Wow64ClassKey()));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, TipKey(gone)));
    EXPECT_EQ(gone.ime, RegString(HKEY_LOCAL_MACHINE, gone.ProductKey(), L"IMEName"));
    ExpectFullRegistration(stays);

    // A text that is no GUID ends the program with no effect.
    run = RunInstaller(L"/GUID=" + stays.guid.substr(0, 20));
    EXPECT_EQ(0, run.visibleWindows);
    ExpectFullRegistration(stays);
}
