// The extraction dialog run modally as the start routine runs it.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstring>
#include <string>

#include "base/setup_context.h"
#include "common/test_support.h"
#include "payload/extract_dialog.h"
#include "payload/own_image.h"
#include "zip_builder.h"

namespace {

class ExtractDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX icc{sizeof icc, 0xFF};
        InitCommonControlsEx(&icc);
        std::memset(&g_setup, 0, sizeof g_setup);
        work_ = dir_ / L"work";
        CreateDirectoryW(work_.c_str(), nullptr);
        wcscpy(g_setup.workFolder, work_.c_str());
    }
    void TearDown() override { std::memset(&g_setup, 0, sizeof g_setup); }

    INT_PTR Run(const std::wstring& ownFile, char mode)
    {
        g_setup.modeCode = static_cast<uint8_t>(mode);
        wcscpy(g_setup.ownFilePath, ownFile.c_str());
        HoldOwnFile(ownFile.c_str());
        CZD_Extract dialog;
        SetMainWindow(&dialog);
        INT_PTR result = dialog.DoModal();
        SetMainWindow(nullptr);
        ReleaseOwnFile();
        return result;
    }
    std::wstring Payload() const { return work_ + L"\\zipdatas"; }

    ScratchFolder dir_{L"xdlg"};
    std::wstring work_;
};

std::wstring FontsFolder()
{
    wchar_t fonts[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, CSIDL_FONTS, nullptr, 0, fonts);
    return fonts;
}

}  // namespace

TEST_F(ExtractDialog, DemoSetupUnpacksAndLoads)
{
    EXPECT_EQ(IDOK, Run(BuildDir() + L"\\demo\\ZerdaIME3_Setup.exe", 'u'));
    EXPECT_EQ(Payload(), std::wstring(g_setup.payloadFolder));
    EXPECT_EQ(work_ + L"\\makedata.zip", std::wstring(g_setup.archivePath));
    EXPECT_EQ(work_ + L"\\installer.exe", std::wstring(g_setup.plainInstallerPath));
    EXPECT_TRUE(FileExists(Payload() + L"\\zerdaIME.ime"));
    EXPECT_TRUE(FileExists(Payload() + L"\\x86\\zerdaIME.ime"));
    EXPECT_STREQ(L"{7A3C4E1D-5B2F-4C8A-9E61-2D0F3B8A4C57}", g_setup.name);
    EXPECT_STREQ(L"VarekIME", ImeName(g_setup));
    EXPECT_EQ(0x200019E0u, EngineFlags(g_setup));
    // Uninstall mode installs no fonts: the font folder is still in the payload.
    EXPECT_TRUE(DirExists(Payload() + L"\\$fonts$"));
}

// A payload's fonts are installed in install mode (and the folder goes), not
// in update mode.
TEST_F(ExtractDialog, FontsInInstallModeOnly)
{
    std::string config, font;
    ASSERT_TRUE(ReadFileBytes(BuildDir() + L"\\demo\\payload\\$dataFiles$\\config.dsc", &config));
    ASSERT_TRUE(ReadFileBytes(BuildDir() + L"\\demo\\payload\\$fonts$\\UKIJTuz.ttf", &font));
    std::wstring tag = L"ztxdlg" + std::to_wstring(GetCurrentProcessId());
    std::string fontName = "$fonts$\\" + std::string(tag.begin(), tag.end()) + ".TTF";
    ASSERT_TRUE(BuildZip(dir_ / L"p.zip", {{"$dataFiles$\\config.dsc", config}, {fontName, font}}));
    std::wstring setup = dir_ / L"setup.exe";
    ASSERT_TRUE(BuildSetup(BuildDir() + L"\\installer.exe", dir_ / L"p.zip", setup));

    std::wstring installed = FontsFolder() + L"\\" + tag + L".ttf";
    EXPECT_EQ(IDOK, Run(setup, 'g'));
    EXPECT_FALSE(FileExists(installed));
    EXPECT_TRUE(DirExists(Payload() + L"\\$fonts$"));

    EXPECT_EQ(IDOK, Run(setup, 'i'));
    EXPECT_TRUE(FileExists(installed));
    EXPECT_FALSE(DirExists(Payload() + L"\\$fonts$"));
    EXPECT_EQ(tag + L".ttf", RegString(HKEY_LOCAL_MACHINE,
                                       L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
                                       (tag + L"(TrueType)").c_str()));

    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", 0,
                      KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, (tag + L"(TrueType)").c_str());
        RegCloseKey(key);
    }
    RemoveFontResourceW(installed.c_str());
    DeleteFileW(installed.c_str());
}

TEST_F(ExtractDialog, BadPayloadsEndWithCancel)
{
    std::wstring installer = BuildDir() + L"\\installer.exe";
    ASSERT_TRUE(BuildZip(dir_ / L"p.zip", {{"a.txt", "a"}}));
    std::wstring setup = dir_ / L"setup.exe";

    // No payload offset.
    ASSERT_TRUE(BuildSetup(installer, dir_ / L"p.zip", setup, 0));
    EXPECT_EQ(IDCANCEL, Run(setup, 'i'));
    EXPECT_FALSE(DirExists(Payload()));

    // An archive without the configuration file.
    ASSERT_TRUE(BuildSetup(installer, dir_ / L"p.zip", setup));
    EXPECT_EQ(IDCANCEL, Run(setup, 'i'));
    EXPECT_TRUE(FileExists(Payload() + L"\\a.txt"));

    // The build's variant without config.dsc.
    EXPECT_EQ(IDCANCEL, Run(BuildDir() + L"\\demo\\variants\\noconfig\\setup.exe", 'i'));

    // A truncated archive.
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(BuildDir() + L"\\demo\\ZerdaIME3_Setup.exe", &bytes));
    bytes.resize(bytes.size() - 100);
    ASSERT_TRUE(WriteFileBytes(setup, bytes.data(), bytes.size()));
    EXPECT_EQ(IDCANCEL, Run(setup, 'i'));

    // A relaunched install run has no archive to unpack.
    g_setup.relaunched = 'y';
    g_setup.archivePath[0] = L'\0';
    EXPECT_EQ(IDCANCEL, Run(BuildDir() + L"\\demo\\ZerdaIME3_Setup.exe", 'i'));
}

// The work waits for a tick at which the dialog is visible.
TEST_F(ExtractDialog, HiddenDialogWaitsForALaterTick)
{
    bool endedWhileHidden = false;
    bool unpackedWhileHidden = false;
    std::wstring payload = Payload();
    ScriptedDialogs driver([&](CDialog& dialog) {
        HWND hwnd = dialog.m_hWnd;
        ShowWindow(hwnd, SW_HIDE);
        DWORD until = GetTickCount() + 400;
        MSG msg;
        while (GetTickCount() < until) {
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            Sleep(10);
        }
        endedWhileHidden = !IsWindow(hwnd) || dialog.m_hWnd == nullptr;
        unpackedWhileHidden = DirExists(payload);
        ShowWindow(hwnd, SW_SHOW);
    });
    EXPECT_EQ(IDOK, Run(BuildDir() + L"\\demo\\ZerdaIME3_Setup.exe", 'u'));
    EXPECT_EQ(1, driver.Opened());
    EXPECT_FALSE(endedWhileHidden);
    EXPECT_FALSE(unpackedWhileHidden);
    EXPECT_TRUE(FileExists(Payload() + L"\\$dataFiles$\\config.dsc"));
}
