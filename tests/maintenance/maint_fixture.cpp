#include "maint_fixture.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "base/setup_context.h"
#include "common/test_support.h"
#include "expected_texts.h"

namespace {

std::wstring ShellPath(int csidl)
{
    wchar_t buffer[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, buffer);
    return buffer;
}

void SetString(HKEY key, const wchar_t* name, const std::wstring& value)
{
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

HKEY CreateKey(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

void WriteProductValues(const FakeProduct& p, const std::wstring& path, bool withInstallLocation)
{
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, path);
    if (!key) return;
    SetString(key, L"DataLocation", p.dataFolder);
    if (withInstallLocation) SetString(key, L"InstallLocation", p.installFolder);
    SetString(key, L"IMEName", p.imeName);
    SetString(key, L"DisplayName", p.displayName);
    SetString(key, L"DisplayVersion", L"1.0");
    SetString(key, L"LanguageName", L"test layout");
    DWORD langId = 0x0480;
    RegSetValueExW(key, L"LANGID", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&langId), sizeof langId);
    RegCloseKey(key);
}

void WriteClassKey(const std::wstring& path, const std::wstring& server)
{
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, path);
    if (!key) return;
    SetString(key, nullptr, L"zerdaTSF");
    RegCloseKey(key);
    key = CreateKey(HKEY_LOCAL_MACHINE, path + L"\\InProcServer32");
    if (!key) return;
    SetString(key, nullptr, server);
    SetString(key, L"ThreadingModel", L"Apartment");
    RegCloseKey(key);
}

void DeleteKey(HKEY root, const std::wstring& path)
{
    RegDeleteTreeW(root, path.c_str());
    RegDeleteKeyW(root, path.c_str());
}

}  // namespace

std::wstring CommonAppData() { return ShellPath(CSIDL_COMMON_APPDATA); }
std::wstring CommonPrograms() { return ShellPath(CSIDL_COMMON_PROGRAMS); }
std::wstring FamilyFolder() { return CommonAppData() + L"\\ZerdaIME3"; }

FakeProduct::FakeProduct(const wchar_t* tag)
{
    guid = NewGuidText();
    wchar_t unique[64];
    swprintf(unique, 64, L"%ls%lx", tag, GetCurrentProcessId());
    imeName = std::wstring(L"ztm") + unique;
    displayName = std::wstring(L"Zt Maint ") + unique;
    installFolder = TempFolder() + L"zt_maint_" + unique + L"\\";
    dataFolder = FamilyFolder() + L"\\" + imeName + L"\\";
    groupFolder = CommonPrograms() + L"\\" + displayName + L"\\";
}

std::wstring FakeProduct::SystemDriver() const { return ShellPath(CSIDL_SYSTEM) + L"\\" + imeName + L".ime"; }
std::wstring FakeProduct::Wow64Driver() const { return ShellPath(CSIDL_SYSTEMX86) + L"\\" + imeName + L".ime"; }

void FakeProduct::Install(bool withInstallLocation)
{
    CreateDirectoryW(FamilyFolder().c_str(), nullptr);
    const std::wstring folders[] = {installFolder, installFolder + L"tools\\", dataFolder, groupFolder};
    for (const std::wstring& folder : folders) CreateDirectoryW(folder.c_str(), nullptr);
    const std::pair<std::wstring, const char*> files[] = {
        {installFolder + L"config.exe", "not a program"}, {installFolder + L"installer.exe", "not a program"},
        {installFolder + L"main.chm", "help"}, {installFolder + L"_backup_.dat", "archive"},
        {installFolder + L"tools\\varekinputtool.exe", "not a program"}, {dataFolder + L"config.dsc", "config"},
        {dataFolder + L"main.dmg", "dictionary"}, {SystemDriver(), "driver 64"}, {Wow64Driver(), "driver 32"},
        {groupFolder + L"settings.lnk", "link"}, {groupFolder + L"repair.lnk", "link"},
    };
    for (const auto& [path, text] : files) WriteFileText(path, text);
    // What the setup records of what it placed.
    if (HKEY record = CreateKey(HKEY_LOCAL_MACHINE, ProductKey() + L"\\Placed")) {
        auto note = [&](const std::wstring& path, DWORD kind) {
            RegSetValueExW(record, path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kind), sizeof kind);
        };
        for (const std::wstring& folder : folders) note(folder, 2);
        for (const auto& file : files) note(file.first, 1);
        RegCloseKey(record);
    }

    WriteProductValues(*this, ProductKey(), withInstallLocation);
    WriteProductValues(*this, ProductKey32(), withInstallLocation);

    HKEY entry = CreateKey(HKEY_LOCAL_MACHINE, UninstallKey());
    if (entry) {
        SetString(entry, L"DisplayName", displayName);
        SetString(entry, L"UninstallString", installFolder + L"installer.exe /n " + guid + L" /u");
        SetString(entry, L"InstallLocation", installFolder);
        RegCloseKey(entry);
    }
    WriteClassKey(L"Software\\Classes\\CLSID\\" + guid, SystemDriver());
    WriteClassKey(L"Software\\Classes\\Wow6432Node\\CLSID\\" + guid, Wow64Driver());
}

void FakeProduct::Erase()
{
    DeleteTree(installFolder.substr(0, installFolder.size() - 1));
    DeleteTree(dataFolder.substr(0, dataFolder.size() - 1));
    DeleteTree(groupFolder.substr(0, groupFolder.size() - 1));
    DeleteFileW(SystemDriver().c_str());
    DeleteFileW(Wow64Driver().c_str());
    DeleteKey(HKEY_LOCAL_MACHINE, ProductKey());
    DeleteKey(HKEY_LOCAL_MACHINE, ProductKey32());
    DeleteKey(HKEY_LOCAL_MACHINE, UninstallKey());
    DeleteKey(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\" + guid);
    DeleteKey(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Wow6432Node\\CLSID\\" + guid);
}

namespace {
struct Trace {
    std::wstring label;
    bool present;
};

std::vector<Trace> Traces(const FakeProduct& p)
{
    return {
        {L"install folder " + p.installFolder, DirExists(p.installFolder)},
        {L"data folder " + p.dataFolder, DirExists(p.dataFolder)},
        {L"driver " + p.SystemDriver(), FileExists(p.SystemDriver())},
        {L"driver " + p.Wow64Driver(), FileExists(p.Wow64Driver())},
        {L"group " + p.groupFolder, DirExists(p.groupFolder)},
        {L"key HKLM\\" + p.ProductKey(), RegKeyExists(HKEY_LOCAL_MACHINE, p.ProductKey())},
        {L"key HKLM\\" + p.ProductKey32(), RegKeyExists(HKEY_LOCAL_MACHINE, p.ProductKey32())},
        {L"key HKLM\\" + p.UninstallKey(), RegKeyExists(HKEY_LOCAL_MACHINE, p.UninstallKey())},
        {L"key HKLM\\Software\\Classes\\CLSID\\" + p.guid, RegKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\" + p.guid)},
        {L"key HKLM\\Software\\Classes\\Wow6432Node\\CLSID\\" + p.guid,
         RegKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Wow6432Node\\CLSID\\" + p.guid)},
    };
}
}  // namespace

std::vector<std::wstring> FakeProduct::PresentTraces() const
{
    std::vector<std::wstring> out;
    for (const Trace& t : Traces(*this))
        if (t.present) out.push_back(t.label);
    return out;
}

std::vector<std::wstring> FakeProduct::MissingTraces() const
{
    std::vector<std::wstring> out;
    for (const Trace& t : Traces(*this))
        if (!t.present) out.push_back(t.label);
    return out;
}

void FakeProduct::LoadIntoSetup() const
{
    std::memset(&g_setup, 0, sizeof g_setup);
    wcsncpy(g_setup.name, guid.c_str(), kNameChars - 1);
    wcsncpy(DisplayName(g_setup), displayName.c_str(), kDisplayNameChars - 1);
    wcsncpy(ImeName(g_setup), imeName.c_str(), kImeNameChars - 1);
    GUID g{};
    IIDFromString(guid.c_str(), &g);
    SetTextServiceGuid(g_setup, g);
    wcsncpy(g_setup.installFolder, installFolder.c_str(), kPathChars - 1);
    wcsncpy(g_setup.dataFolder, dataFolder.c_str(), kPathChars - 1);
}

FamilyFolderAside::FamilyFolderAside()
{
    std::wstring family = FamilyFolder();
    if (!DirExists(family)) return;
    wchar_t suffix[32];
    swprintf(suffix, 32, L".aside%lx", GetCurrentProcessId());
    aside_ = family + suffix;
    if (!MoveFileW(family.c_str(), aside_.c_str())) aside_.clear();
}

FamilyFolderAside::~FamilyFolderAside()
{
    if (aside_.empty()) return;
    DeleteTree(FamilyFolder());
    MoveFileW(aside_.c_str(), FamilyFolder().c_str());
}

ProgressWindows::ProgressWindows()
{
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    log_ = CreateWindowExW(0, L"EDIT", L"", WS_POPUP | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 0, 0, 400, 300,
                           nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    bar_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_POPUP, 0, 0, 200, 10, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
    g_setup.logBox = log_;
    g_setup.progressBar = bar_;
}

ProgressWindows::~ProgressWindows()
{
    g_setup.logBox = nullptr;
    g_setup.progressBar = nullptr;
    DestroyWindow(log_);
    DestroyWindow(bar_);
}

std::wstring ProgressWindows::LogText() const { return WindowText(log_); }
int ProgressWindows::BarPosition() const { return static_cast<int>(SendMessageW(bar_, PBM_GETPOS, 0, 0)); }

std::wstring HelperExe(const wchar_t* name) { return BuildDir() + L"\\tests\\maintenance\\" + name; }

void SetToolCommand(const std::wstring& command)
{
    wcsncpy(ToolUninstallCommand(g_setup), command.c_str(), kToolCommandChars - 1);
}

RecorderLog::RecorderLog(DWORD delayMs) : path_(folder_ / L"calls.log")
{
    SetEnvironmentVariableW(L"ZT_MAINT_RECORDER_LOG", path_.c_str());
    SetEnvironmentVariableW(L"ZT_MAINT_RECORDER_DELAY", delayMs ? std::to_wstring(delayMs).c_str() : nullptr);
}

RecorderLog::~RecorderLog()
{
    SetEnvironmentVariableW(L"ZT_MAINT_RECORDER_LOG", nullptr);
    SetEnvironmentVariableW(L"ZT_MAINT_RECORDER_DELAY", nullptr);
}

std::string RecorderLog::WorkingFolder() const
{
    std::string text;
    ReadFileBytes(path_ + L".cwd", &text);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\\')) text.pop_back();
    return text;
}

std::wstring WindowText(HWND window)
{
    int n = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    n = GetWindowTextW(window, &text[0], n + 1);
    text.resize(static_cast<size_t>(n > 0 ? n : 0));
    return text;
}

bool PumpUntilButton(HWND dialog, const wchar_t* text, DWORD timeoutMs)
{
    HWND button = GetDlgItem(dialog, IDOK);
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs;) {
        if (WindowText(button) == text && IsWindowEnabled(button)) return true;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
    return false;
}

std::wstring JoinLog(const std::vector<ExpectedLine>& lines)
{
    std::wstring out;
    for (const ExpectedLine& line : lines) out += std::wstring(line.text) + L"\r\n";
    return out;
}

void SaveWindowShot(HWND window, const wchar_t* name)
{
    std::wstring folder = BuildDir() + L"\\screenshots";
    CreateDirectoryW(folder.c_str(), nullptr);
    // A modal dialog without WS_VISIBLE appears when its loop first idles,
    // which is after a scripted click; show it now and let it paint.
    if (!IsWindowVisible(window)) ShowWindow(window, SW_SHOWNORMAL);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    for (int i = 0; i < 20; ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(15);
    }
    GdiFlush();
    RECT r;
    if (!GetWindowRect(window, &r)) return;
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return;
    // The window's own DC: its pixels, children included, whatever the
    // display shows around it.
    HDC source = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateCompatibleBitmap(source, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, source, 0, 0, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = w;
    info.biHeight = h;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    DWORD stride = ((static_cast<DWORD>(w) * 3 + 3) & ~3u);
    std::string pixels(static_cast<size_t>(stride) * h, '\0');
    GetDIBits(memory, bitmap, 0, h, &pixels[0], reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, source);

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
    bytes += pixels;
    WriteFileBytes(folder + L"\\" + name + L".bmp", bytes.data(), bytes.size());
}
