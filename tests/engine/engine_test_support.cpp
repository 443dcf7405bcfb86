#include "engine_test_support.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstring>

#include "base/bounded_string.h"
#include "common/test_support.h"

void SetProductField(size_t offset, size_t capacity, const std::wstring& text)
{
    BoundedCopy(ProductText(g_setup, offset), capacity, text.c_str());
}

std::wstring NewGuidText()
{
    GUID g;
    CoCreateGuid(&g);
    wchar_t text[64];
    StringFromGUID2(g, text, 64);
    return text;
}

ReportWindows::ReportWindows()
{
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    frame_ = CreateWindowExW(0, L"STATIC", L"report", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
    log_ = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL, 0, 0,
                           380, 200, frame_, nullptr, nullptr, nullptr);
    bar_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD, 0, 210, 380, 10, frame_, nullptr, nullptr, nullptr);
    g_setup.logBox = log_;
    g_setup.progressBar = bar_;
}

ReportWindows::~ReportWindows()
{
    g_setup.logBox = nullptr;
    g_setup.progressBar = nullptr;
    DestroyWindow(frame_);
}

std::wstring ReportWindows::LogText() const
{
    int n = GetWindowTextLengthW(log_);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    GetWindowTextW(log_, &text[0], n + 1);
    text.resize(static_cast<size_t>(n));
    return text;
}

int ReportWindows::BarPosition() const { return static_cast<int>(SendMessageW(bar_, PBM_GETPOS, 0, 0)); }

ShellLinkInfo ReadShellLink(const std::wstring& file)
{
    ShellLinkInfo info;
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return info;
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
        if (SUCCEEDED(persist->Load(file.c_str(), STGM_READ))) {
            info.loaded = true;
            wchar_t buffer[1024];
            buffer[0] = 0;
            link->GetPath(buffer, 1024, nullptr, SLGP_RAWPATH);
            info.path = buffer;
            buffer[0] = 0;
            link->GetArguments(buffer, 1024);
            info.arguments = buffer;
            buffer[0] = 0;
            link->GetWorkingDirectory(buffer, 1024);
            info.workingFolder = buffer;
            buffer[0] = 0;
            link->GetDescription(buffer, 1024);
            info.description = buffer;
            buffer[0] = 0;
            int index = -1;
            link->GetIconLocation(buffer, 1024, &index);
            info.iconPath = buffer;
            info.iconIndex = index;
            int show = -1;
            link->GetShowCmd(&show);
            info.showCommand = show;
        }
        persist->Release();
    }
    link->Release();
    return info;
}

std::wstring FixtureDriverPath() { return BuildDir() + L"\\tests\\engine\\engine_ime_fixture.dll"; }

WORD VersionLanguage(const std::wstring& file, std::wstring* fileVersion)
{
    if (fileVersion) fileVersion->clear();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(file.c_str(), &handle);
    if (!size) return 0;
    std::string data(size, '\0');
    if (!GetFileVersionInfoW(file.c_str(), handle, size, &data[0])) return 0;
    struct Pair { WORD language, codePage; };
    Pair* pairs = nullptr;
    UINT bytes = 0;
    if (!VerQueryValueW(&data[0], L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pairs), &bytes) ||
        bytes < sizeof(Pair))
        return 0;
    if (fileVersion) {
        wchar_t query[80];
        swprintf(query, 80, L"\\StringFileInfo\\%04x%04x\\FileVersion", pairs[0].language, pairs[0].codePage);
        wchar_t* text = nullptr;
        UINT chars = 0;
        if (VerQueryValueW(&data[0], query, reinterpret_cast<void**>(&text), &chars) && text) *fileVersion = text;
    }
    return pairs[0].language;
}

std::wstring WithBackslash(const std::wstring& path)
{
    if (!path.empty() && path.back() != L'\\') return path + L"\\";
    return path;
}

std::wstring SystemFolder()
{
    wchar_t buffer[MAX_PATH];
    GetSystemDirectoryW(buffer, MAX_PATH);
    return WithBackslash(buffer);
}

std::wstring Wow64Folder()
{
    wchar_t buffer[MAX_PATH];
    GetSystemWow64DirectoryW(buffer, MAX_PATH);
    return WithBackslash(buffer);
}

std::wstring CommonFolder(int csidl)
{
    wchar_t buffer[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, buffer);
    return WithBackslash(buffer);
}

void DeleteRegistryKey(HKEY root, const std::wstring& key) { RegDeleteTreeW(root, key.c_str()); RegDeleteKeyW(root, key.c_str()); }
