// Installs the payload's fonts for the whole machine: copied into the fonts
// folder, loaded at once and registered under the Fonts key.
#include "payload/fonts.h"

#include <shlobj.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "base/placed_record.h"
#include "base/run_log.h"
#include "base/shared_routines.h"
#include "files/access_grant.h"
#include "payload/worker_threads.h"
#include "platform/registry.h"

namespace {

constexpr size_t kFontValueNameChars = 64;
const wchar_t kFontsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

// "name.ttf" -> "name(TrueType)", "x.ttc" -> "x.ttc(TrueType-C)".
void ComposeFontValueName(const wchar_t* lowerName, wchar_t* valueName)
{
    const wchar_t* ttf = wcsstr(lowerName, L".ttf");
    if (ttf) {
        BoundedCopyN(valueName, kFontValueNameChars, lowerName, static_cast<size_t>(ttf - lowerName));
        BoundedAppend(valueName, kFontValueNameChars, L"(TrueType)");
    } else {
        BoundedCopy(valueName, kFontValueNameChars, lowerName);
        BoundedAppend(valueName, kFontValueNameChars, L"(TrueType-C)");
    }
}

// Copies the font, or moves it where that leaves the file a copy would (the
// same volume, then given the fonts folder's list). Never over a font in place.
bool PutFontInPlace(const wchar_t* source, const wchar_t* destination, bool move)
{
    if (!move) return CopyFileW(source, destination, TRUE) != FALSE;
    if (MoveFileExW(source, destination, 0)) {
        if (ResetToInheritedAccess(destination)) return true;
        // Copied instead, from where it was.
        if (!MoveFileExW(destination, source, 0)) return true;
        ResetToInheritedAccess(source);
    } else if (GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS) {
        return false;
    }
    return CopyFileW(source, destination, TRUE) != FALSE;
}

void InstallOneFont(const wchar_t* sourceFolder, const wchar_t* fontsFolder, const wchar_t* lowerName, bool move)
{
    wchar_t destination[MAX_PATH];
    wchar_t source[MAX_PATH];
    BoundedFormat(destination, MAX_PATH, L"%s%s", fontsFolder, lowerName);
    BoundedFormat(source, MAX_PATH, L"%s%s", sourceFolder, lowerName);
    // A font already in place is left alone: not loaded, not registered again.
    if (!PutFontInPlace(source, destination, move)) {
        RunLog(L"Kept: %s (a font of that name is installed)", destination);
        NotePlaced(destination, kPlacedFont, true);
        return;
    }
    RunLog(L"Placed: %s", destination);
    NotePlaced(destination, kPlacedFont, false);

    wchar_t valueName[kFontValueNameChars];
    ComposeFontValueName(lowerName, valueName);
    AddFontResourceW(destination);

    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kFontsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    // With its terminating zero: Windows hands REG_SZ data back exactly as
    // stored, and a reader of the Fonts key may rely on the terminator.
    RegWriteString(key, valueName, lowerName);
    RegCloseKey(key);
}

}  // namespace

void InstallFontsFromFolder(const wchar_t* sourceFolder, const wchar_t* fontsFolder, bool moveSources)
{
    wchar_t fonts[MAX_PATH];
    BoundedCopy(fonts, MAX_PATH, fontsFolder);
    AppendBackslashIfMissing(fonts, MAX_PATH);

    wchar_t pattern[MAX_PATH];
    BoundedFormat(pattern, MAX_PATH, L"%s*", sourceFolder);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        // "." and ".." are passed over by name: a search does not promise to
        // return the folder's own entry first.
        do {
            if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
            LowerAsciiInPlace(found.cFileName);
            if (wcsstr(found.cFileName, L".ttf") || wcsstr(found.cFileName, L".ttc"))
                InstallOneFont(sourceFolder, fonts, found.cFileName, moveSources);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    PostMessageW(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
}

namespace {

WorkerThreads g_fontInstaller{};

DWORD WINAPI InstallFontsMeanwhile(void* context)
{
    InstallPayloadFonts(*static_cast<SetupContext*>(context));
    return 0;
}

}  // namespace

void StartPayloadFonts(SetupContext& ctx)
{
    FinishPayloadFonts();
    // Font loading and the shell may want more stack than the unpacking's workers.
    if (StartWorkerThreads(g_fontInstaller, 1, InstallFontsMeanwhile, &ctx, 0) == 0) InstallPayloadFonts(ctx);
}

void FinishPayloadFonts() { JoinWorkerThreads(g_fontInstaller); }

bool InstallPayloadFonts(SetupContext& ctx)
{
    wchar_t source[MAX_PATH];
    BoundedFormat(source, MAX_PATH, L"%s\\$fonts$\\", ctx.payloadFolder);
    if (!FolderExists(source)) return true;

    wchar_t fonts[MAX_PATH] = L"";
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_FONTS | CSIDL_FLAG_CREATE, nullptr, 0, fonts)) && fonts[0]) {
        AppendBackslashIfMissing(fonts, MAX_PATH);
        // The source folder goes afterwards: each font is written once.
        InstallFontsFromFolder(source, fonts, true);
    }
    // Otherwise the later copy of the payload folder would carry the fonts along.
    RemoveFolderTree(source);
    return true;
}
