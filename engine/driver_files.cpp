// Step 1 of the installation: the drivers into the system folders, the rest of
// the unpacked payload into the Windows, data and install folders.
#include "engine/driver_files.h"

#include <windows.h>

#include <cstring>

#include "base/bounded_string.h"
#include "base/placed_record.h"
#include "base/run_log.h"
#include "base/shared_routines.h"
#include "engine/progress.h"
#include "files/brief_hold.h"
#include "files/folder_guard.h"
#include "files/place.h"
#include "files/secure_folder.h"
#include "files/signature.h"
#include "files/version_info.h"
#include "payload/fonts.h"
#include "platform/system_info.h"

namespace {

// Language of the drivers' version resource by system version.
WORD DriverLanguage()
{
    DWORD major = 0;
    GetSystemVersion(&major, nullptr);
    return major >= 6 ? 0x0480 : 0x0401;
}

// The driver's version resource can only be rewritten under a library name,
// so it is stamped as .dll and renamed back. A signed driver is left as it
// is: the rewrite would break its signature. The driver has just been
// unpacked, so each step waits out a scanner's brief hold; a stamp that still
// fails is a failure (on the IMM road the layout would get the wrong
// language), reported with the rename-back line and named in the log.
bool StampDriver(const wchar_t* imePath, const wchar_t* dllPath, WORD language, const wchar_t* renameError,
                 const wchar_t* renameBackError)
{
    if (CarriesSignature(imePath)) return true;
    if (!RetryWhileBrieflyHeld([&] { return MoveFileW(imePath, dllPath) != FALSE; })) {
        RunLogFailure(L"Driver not renamed for its language stamp", imePath, GetLastError());
        ReportProgress(0, renameError);
        return false;
    }
    bool stamped = StampVersionLanguage(dllPath, language);
    if (!stamped) RunLogFailure(L"Driver language not set", dllPath, GetLastError());
    if (!RetryWhileBrieflyHeld([&] { return MoveFileW(dllPath, imePath) != FALSE; })) {
        RunLogFailure(L"Driver not renamed back after its language stamp", dllPath, GetLastError());
        ReportProgress(0, renameBackError);
        return false;
    }
    if (!stamped) ReportProgress(0, renameBackError);
    return stamped;
}

// The reset data file keeps its length: the header's first word holds the
// length, the second the count of entries, and the table behind it is cleared.
void ResetTempData(const wchar_t* dataFolder)
{
    const DWORD kTableOffset = 136;
    const DWORD kTableBytes = 65536;
    if (!dataFolder[0]) return;
    wchar_t path[MAX_PATH];
    BoundedFormat(path, MAX_PATH, L"%stemp.dmg", dataFolder);
    if (!PathExists(path)) return;
    MappedFile* file = nullptr;
    if (!OpenMappedFile(path, true, &file) || !file) return;
    if (file->file && file->size >= kTableOffset + kTableBytes) {
        DWORD words[2] = {file->size, 0};
        std::memcpy(file->data, words, sizeof words);
        std::memset(file->data + kTableOffset, 0, kTableBytes);
    }
    CloseMappedFile(file, 0);
}

// The folder made the product's own, and noted as such.
bool SecureAndNote(const wchar_t* folder, ProductFolder use)
{
    const bool wasThere = PathExists(folder);
    if (!SecureProductFolder(folder, use)) return false;
    NotePlaced(folder, kPlacedFolder, wasThere);
    return true;
}

// Before anything is placed, the folders files go to are the product's
// alone: the family's data folder, the data folder and the install folder.
bool SecureDestinationFolders(const SetupContext& ctx)
{
    if (ctx.dataFolder[0] && ctx.dataFolder[1] == L':') {
        wchar_t family[MAX_PATH];
        if (!FamilyDataFolder(family) || !SecureAndNote(family, ProductFolder::Family) ||
            !SecureAndNote(ctx.dataFolder, ProductFolder::Data))
            return false;
    }
    return SecureAndNote(ctx.installFolder, ProductFolder::Install);
}

}  // namespace

bool PlaceImeDriverFiles(SetupContext& ctx)
{
    if (!SecureDestinationFolders(ctx)) return false;
    const WORD language = DriverLanguage();

    wchar_t imeName[kImeNameChars];
    BoundedCopyN(imeName, kImeNameChars, ImeName(ctx), kImeNameChars - 1);

    // The 64-bit driver into the system folder, then the 32-bit one into the
    // WOW64 system folder; each with its own failure lines.
    struct Driver {
        const wchar_t* folder;  // below the payload folder
        const wchar_t* renameFailure;
        const wchar_t* restoreFailure;
        int (*destinationOf)(const wchar_t* imeName, wchar_t* buffer);
        int modules32;
        const wchar_t* placeFailure;
    };
    static const Driver kDrivers[] = {
        {L"", L"     错误: 无法创建IME驱动文件(err1)", L"     错误: 无法创建IME驱动文件(err2)", &GetSystemImePath, 0,
         L"     خاتالىق كۆرۈلدى: ime قوزغىتىش ھۆججىتىنى قۇرۇشقا بولمىدى"},
        {L"x86\\", L"     错误: 无法创建IME驱动文件(err11)", L"     错误: 无法创建IME驱动文件(err22)", &GetWow64ImePath, 1,
         L"     خاتالىق كۆرۈلدى: Wow64-IME قوزغىتىش ھۆججىتىنى قۇرۇشقا بولمىدى"},
    };
    for (const Driver& driver : kDrivers) {
        wchar_t source[MAX_PATH], renamed[MAX_PATH], destination[MAX_PATH] = L"";
        BoundedFormat(source, MAX_PATH, L"%s\\%szerdaIME.ime", ctx.payloadFolder, driver.folder);
        BoundedFormat(renamed, MAX_PATH, L"%s\\%szerdaIME.dll", ctx.payloadFolder, driver.folder);
        if (!StampDriver(source, renamed, language, driver.renameFailure, driver.restoreFailure)) return false;
        driver.destinationOf(imeName, destination);
        if (!destination[0] || !PlaceFileByMove(source, destination, 1, driver.modules32)) {
            ReportProgress(0, driver.placeFailure);
            return false;
        }
        DeleteFileW(source);
    }

    wchar_t tree[MAX_PATH];
    BoundedFormat(tree, MAX_PATH, L"%s\\$windows$\\", ctx.payloadFolder);
    if (PathExists(tree)) {
        wchar_t windows[MAX_PATH];
        UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
        if (n > 0 && n < MAX_PATH) PlaceFolderTree(tree, windows, 0);
        RemoveFolderTree(tree);
    }

    BoundedFormat(tree, MAX_PATH, L"%s\\$dataFiles$\\", ctx.payloadFolder);
    if (PathExists(tree)) {
        PlaceFolderTree(tree, ctx.dataFolder, 0);
        RemoveFolderTree(tree);
        ResetTempData(ctx.dataFolder);
    }

    // The fonts leave the payload folder first: they are no install folder's.
    FinishPayloadFonts();
    PlaceFolderTree(ctx.payloadFolder, ctx.installFolder, 0);

    wchar_t destination[MAX_PATH];
    BoundedFormat(destination, MAX_PATH, L"%sinstaller.exe", ctx.installFolder);
    if (!PlaceFileByMove(ctx.plainInstallerPath, destination, 1, 0)) {
        ReportProgress(0, L"     خاتالىق كۆرۈلدى:installer.exe ھۆججىتىنى قۇرۇشقا بولمىدى");
        return false;
    }
    if (ctx.plainInstallerPath[0]) DeleteFileW(ctx.plainInstallerPath);
    return true;
}
