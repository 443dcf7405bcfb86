// The extraction dialog run modally as the start routine runs it.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "base/setup_context.h"
#include "common/test_support.h"
#include "formats/config_layout.h"
#include "payload/extract_dialog.h"
#include "payload/own_image.h"
#include "resources/resource.h"
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

std::string Narrow(const std::wstring& w)
{
    std::string s;
    for (wchar_t c : w) s += static_cast<char>(c < 128 ? c : '?');
    return s;
}

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

// The unpacking runs beside the dialog: while 150 entries are written no
// message of the dialog's thread takes long, Escape does not end it, and the
// last line and the bar show the end. (Once "Completed." shows, the dialog
// hides itself, which under Wine without a window manager waits for one:
// that is not the dialog's work.)
TEST_F(ExtractDialog, KeepsAnsweringWhileItUnpacks)
{
    std::string config;
    ASSERT_TRUE(ReadFileBytes(BuildDir() + L"\\demo\\payload\\$dataFiles$\\config.dsc", &config));
    std::vector<ZipItem> items = {{"$dataFiles$\\config.dsc", config}};
    for (int i = 0; i < 150; ++i) items.push_back({"part" + std::to_string(i) + ".txt", std::string(64, 'x')});
    ASSERT_TRUE(BuildZip(dir_ / L"many.zip", items));
    std::wstring setup = dir_ / L"many.exe";
    ASSERT_TRUE(BuildSetup(BuildDir() + L"\\installer.exe", dir_ / L"many.zip", setup));

    DWORD longestDispatch = 0;
    bool escapedWhileWorking = false, escaped = false;
    std::wstring lastLine;
    LRESULT lastPosition = -1;
    ScriptedDialogs driver([&](CDialog& dialog) {
        HWND hwnd = dialog.m_hWnd;
        ShowWindow(hwnd, SW_SHOW);
        const DWORD start = GetTickCount();
        // Until the dialog hides itself at its end.
        while (IsWindowVisible(hwnd) && GetTickCount() - start < 60000) {
            wchar_t line[128] = L"";
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                GetDlgItemTextW(hwnd, IDC_EXTRACT_TEXT, line, 128);
                bool working = wcscmp(line, L"Completed.") != 0;
                DWORD before = GetTickCount();
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
                if (working) longestDispatch = std::max<DWORD>(longestDispatch, GetTickCount() - before);
                // Right after the tick that started the work, and before this
                // thread serves the worker's next line: it still works.
                GetDlgItemTextW(hwnd, IDC_EXTRACT_TEXT, line, 128);
                if (!escaped && wcscmp(line, L"Unpacking...") == 0) {
                    escaped = true;
                    SendMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
                    escapedWhileWorking = IsWindowVisible(hwnd) != FALSE;
                }
            }
            GetDlgItemTextW(hwnd, IDC_EXTRACT_TEXT, line, 128);
            lastLine = line;
            lastPosition = SendDlgItemMessageW(hwnd, IDC_PROGRESS, PBM_GETPOS, 0, 0);
            Sleep(5);
        }
    });
    EXPECT_EQ(IDOK, Run(setup, 'u'));
    EXPECT_TRUE(escapedWhileWorking) << "Escape must not end the dialog while it unpacks";
    EXPECT_EQ(L"Completed.", lastLine);
    EXPECT_EQ(100, lastPosition);
    EXPECT_LT(longestDispatch, 500u);
    EXPECT_TRUE(FileExists(Payload() + L"\\part149.txt"));
}

// The IME name names the drivers in the system folders and the data folder
// an uninstall removes: a payload whose name is no plain file name is
// refused before anything of it is used.
TEST_F(ExtractDialog, ImeNameThatIsNoPlainFileNameIsRefused)
{
    std::string config;
    ASSERT_TRUE(ReadFileBytes(BuildDir() + L"\\demo\\payload\\$dataFiles$\\config.dsc", &config));
    formats::config::Record product = formats::config::FindRecord(
        formats::ByteSpan{reinterpret_cast<const uint8_t*>(config.data()), config.size()},
        formats::config::kProductRecordName);
    ASSERT_TRUE(product.found);
    const std::wstring setup = dir_ / L"setup.exe";
    for (const wchar_t* name : {L"..\\Windows", L"a/b", L"tail.", L" lead", L"LPT1", L"ok:stream", L"Varek..IME"}) {
        std::string changed = config;
        char* slot = &changed[product.offset + product_field::kImeName];
        std::memset(slot, 0, 2 * kImeNameChars);
        std::memcpy(slot, name, 2 * wcslen(name));
        ASSERT_TRUE(BuildZip(dir_ / L"p.zip", {{"$dataFiles$\\config.dsc", changed}}));
        ASSERT_TRUE(BuildSetup(BuildDir() + L"\\installer.exe", dir_ / L"p.zip", setup));
        EXPECT_EQ(IDCANCEL, Run(setup, 'i')) << Narrow(name);
    }
}

namespace {
bool g_heldCopyChanged = false;
// Called while the entries are written: the copy being unpacked must stay as it was checked.
void TryToChangeTheArchive(const wchar_t*, int32_t, int32_t)
{
    HANDLE file = CreateFileW(g_setup.archivePath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        g_heldCopyChanged = true;
        CloseHandle(file);
    }
    std::wstring aside = std::wstring(g_setup.archivePath) + L".aside";
    if (MoveFileW(g_setup.archivePath, aside.c_str())) {
        g_heldCopyChanged = true;
        MoveFileW(aside.c_str(), g_setup.archivePath);
    }
}
}  // namespace

// Repair and uninstall unpack the install folder's backup only when its
// SHA-256 is the one the installation recorded; what is unpacked is the copy
// that was checked, held so that nobody changes or swaps it meanwhile.
TEST_F(ExtractDialog, RelaunchedRunUnpacksOnlyTheBackupWhoseDigestWasRecorded)
{
    std::string config;
    ASSERT_TRUE(ReadFileBytes(BuildDir() + L"\\demo\\payload\\$dataFiles$\\config.dsc", &config));
    const std::wstring backup = dir_ / L"_backup_.dat", other = dir_ / L"other.dat";
    ASSERT_TRUE(BuildZip(backup, {{"$dataFiles$\\config.dsc", config}, {"kept.txt", "kept"}}));
    ASSERT_TRUE(BuildZip(other, {{"$dataFiles$\\config.dsc", config}, {"planted.txt", "planted"}}));
    std::string backupBytes, otherBytes;
    ASSERT_TRUE(ReadFileBytes(backup, &backupBytes) && ReadFileBytes(other, &otherBytes));

    const std::wstring name = NewGuidText();
    const std::wstring key = L"Software\\ZerdaIME3\\" + name;
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
    auto record = [&](const std::wstring& digest) {
        RegSetValueExW(k, L"BackupSHA256", 0, REG_SZ, reinterpret_cast<const BYTE*>(digest.c_str()),
                       static_cast<DWORD>((digest.size() + 1) * sizeof(wchar_t)));
    };
    auto unpack = [&](const std::wstring& archive) {
        DeleteTree(Payload());
        std::memset(&g_setup, 0, sizeof g_setup);
        wcscpy(g_setup.workFolder, work_.c_str());
        wcscpy(g_setup.name, name.c_str());
        wcscpy(g_setup.archivePath, archive.c_str());
        g_setup.relaunched = 'y';
        g_setup.modeCode = 'r';
        g_heldCopyChanged = false;
        return ExtractPayload(g_setup, &TryToChangeTheArchive, nullptr);
    };

    // An installation from before kept no digest: nothing is unpacked.
    EXPECT_FALSE(unpack(backup));
    EXPECT_FALSE(DirExists(Payload()));

    // Another archive than the one the installation kept.
    record(Sha256Text(backupBytes));
    EXPECT_FALSE(unpack(other));
    EXPECT_FALSE(DirExists(Payload()));
    EXPECT_EQ(other, std::wstring(g_setup.archivePath));

    // The kept archive: unpacked from the checked copy, which nobody could change meanwhile.
    EXPECT_TRUE(unpack(backup));
    EXPECT_TRUE(FileExists(Payload() + L"\\kept.txt"));
    EXPECT_EQ(work_ + L"\\makedata.zip", std::wstring(g_setup.archivePath));
    EXPECT_FALSE(g_heldCopyChanged);
    EXPECT_TRUE(backupBytes == [&] { std::string b; ReadFileBytes(g_setup.archivePath, &b); return b; }());

    RegCloseKey(k);
    DeleteRegistryKey(HKEY_LOCAL_MACHINE, key);
}
