// The install worker's body and the seven numbered steps of an installation.
#include "engine/install_sequence.h"

#include <shlobj.h>

#include "base/bounded_string.h"
#include "base/link_checks.h"
#include "base/placed_record.h"
#include "base/run_log.h"
#include "base/run_options.h"
#include "base/setup_context.h"
#include "base/shared_routines.h"
#include "engine/driver_files.h"
#include "engine/failed_install.h"
#include "engine/install_folder_choice.h"
#include "engine/progress.h"
#include "engine/registration.h"
#include "engine/registration_removal.h"
#include "engine/shortcuts.h"
#include "engine/uninstall_entry.h"
#include "engine/user_keyboard_lists.h"
#include "files/folder_guard.h"
#include "files/secure_folder.h"
#include "platform/com_apartment.h"
#include "platform/prompt.h"
#include "platform/registry.h"

namespace {

// The uninstall entry keeps at most 63 characters (128 bytes) of each.
constexpr size_t kRegisteredChars = 64;

void ReadRegisteredName(const wchar_t* valueName, wchar_t* out)
{
    // Read in full and cut, so that a longer name is shortened rather than lost.
    wchar_t text[1024];
    RegReadStringAt(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion", valueName, text, 1024);
    BoundedCopy(out, kRegisteredChars, text);
}

// A reinstall over an existing folder starts from fresh data and program files.
void ClearPreviousInstallation(const wchar_t* folderText)
{
    wchar_t imeName[kImeNameChars];
    BoundedCopyN(imeName, kImeNameChars, ImeName(g_setup), kImeNameChars - 1);
    wchar_t data[MAX_PATH] = L"";
    // Without an IME name the folder would be the one all products share.
    if (imeName[0] &&
        SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                   data))) {
        data[MAX_PATH - 1] = L'\0';
        ComposeDataFolder(data, imeName);
        RemoveFolderTree(data);
    }
    static const wchar_t* const kFiles[] = {L"%sconfig.exe", L"%sinstaller.exe", L"%s_backup_.dat", L"%smain.chm"};
    for (const wchar_t* format : kFiles) {
        wchar_t path[MAX_PATH];
        BoundedFormat(path, MAX_PATH, format, folderText);
        DeleteFileW(path);
    }
}

// The failure line, then what this run placed is taken back where it can be.
bool Fail(bool freshInstall, int failedStep)
{
    ReportProgress(0, L"قاچىلاش پىروگراممىسىدا خاتالىق كۆرۈلدى");
    TakeBackFailedInstall(freshInstall, failedStep);
    return false;
}

}  // namespace

namespace {

void ShowFolderError(HWND owner, const wchar_t* folderText)
{
    wchar_t text[1024];
    BoundedFormat(text, 1024,
                  L"تاللىغان مۇندەرىجىڭىز:\r\n%s\r\nقۇرۇلمىدى، سىزنىڭ بۇ مۇندەرىجىنى زىيارەت قىلىش ياكى يېزىش ھوقۇقىڭىز بارمۇ يوق؟ تەكشۈرۈپ كۆرۈڭ",
                  folderText);
    ShowMessageBox(owner, text, L"قاچىلاش خاتالىقى؟", MB_OK | MB_ICONERROR);
}

// A folder that holds what is not the product's is used by no run; a person
// is offered a folder of the product's own inside it (written to
// folderText when accepted).
InstallFolderState OfferOwnFolder(HWND owner, wchar_t* folderText, const FolderJudgement& judged)
{
    wchar_t offered[MAX_PATH];
    const bool inside = LogFolderRefusal(folderText, judged, offered);
    if (IsUnattendedRun()) return InstallFolderState::Refused;
    if (!inside) {
        ShowFolderError(owner, folderText);
        return InstallFolderState::Failed;
    }
    wchar_t text[1024];
    BoundedFormat(text, 1024,
                  L"تاللىغان مۇندەرىجىڭىز:\r\n%s\r\nئىچىدە باشقا ھۆججەت ياكى مۇندەرىجىلەر بار، ئۇلارغا تەگمەيدۇ. پروگراممىنى ئۇنىڭ ئىچىدىكى ئۆز مۇندەرىجىسىگە قاچىلامسىز؟\r\n%s",
                  folderText, offered);
    if (ShowMessageBox(owner, text, L"باشقا مۇندەرىجىگە قاچىلامسىز؟", MB_YESNO | MB_ICONQUESTION) != IDYES)
        return InstallFolderState::Declined;
    RunLog(L"The folder of the product's own is used: %s", offered);
    BoundedCopy(folderText, MAX_PATH, offered);
    return InstallFolderState::Ready;
}

}  // namespace

InstallFolderState PrepareInstallFolder(HWND owner, wchar_t* folderText)
{
    wchar_t userCi[MAX_PATH];
    if (JoinTempPath(L"_temp_userci_.txt", userCi) && userCi[0]) DeleteFileDirectly(userCi);

    ClearVirtualizedCopies();

    // A folder of the system or of the users, one reached through a link, on
    // a share or on a volume without access lists is nobody's install
    // folder; one that holds others' things is not the product's.
    FolderJudgement judged = JudgeFolderUse(folderText, g_setup.name);
    bool offered = false;
    if (judged.use == FolderUse::Occupied) {
        InstallFolderState choice = OfferOwnFolder(owner, folderText, judged);
        if (choice != InstallFolderState::Ready) return choice;
        offered = true;
        judged = JudgeFolderUse(folderText, g_setup.name);
    }
    bool usable = MayInstallInto(judged.use);
    if (!usable) RunLog(L"Refused as the install folder (%s): %s", judged.reason ? judged.reason : L"", folderText);
    if (!usable && IsUnattendedRun()) return InstallFolderState::Refused;

    bool existed = usable && judged.use != FolderUse::Create;
    if (existed && !offered) {
        // Unattended runs use an existing folder without asking.
        if (IsUnattendedRun()) {
            RunLog(L"The install folder exists and is used: %s", folderText);
        } else {
            int answer = ShowMessageBox(
                owner,
                L"پروگرامما قاچىلىماقچى بولغان مۇندەرىجە بۇرۇنلا مەۋجۈت ، داۋاملىق قاچىلاش ئېلىپ بارسىڭىز، نۆۋەتتىكى مۇندەرىجە ئۈستىگە قاچىلىنىدۇ",
                L"داۋاملىق قاچىلامسىز؟", MB_YESNO | MB_ICONQUESTION);
            if (answer != IDYES) return InstallFolderState::Declined;
        }
    }

    // Created, or (the product's own, or empty) taken over from whoever else
    // owns it or may write in it, before anything of the earlier
    // installation is cleared or placed.
    if (!usable || !SecureProductFolder(folderText, ProductFolder::Install) || !FolderExists(folderText)) {
        if (usable) RunLogFailure(L"The install folder could not be created", folderText, GetLastError());
        ShowFolderError(owner, folderText);
        return InstallFolderState::Failed;
    }
    if (existed) ClearPreviousInstallation(folderText);
    NotePlaced(folderText, kPlacedFolder, existed);
    return InstallFolderState::Ready;
}

void ReadRegisteredNames(wchar_t* owner, wchar_t* organisation)
{
    ReadRegisteredName(L"RegisteredOrganization", organisation);
    ReadRegisteredName(L"RegisteredOwner", owner);
}

InstallWorkOutcome RunInstallWorker(const InstallWorkerTarget& t)
{
    wchar_t owner[kRegisteredChars], organisation[kRegisteredChars];
    ReadRegisteredNames(owner, organisation);
    InstallFolderState folder = PrepareInstallFolder(t.dialog, t.folderText);
    if (folder == InstallFolderState::Refused) return InstallWorkOutcome::FolderRefused;
    if (folder != InstallFolderState::Ready) return InstallWorkOutcome::BackToFolderPage;
    t.showProgressView(t.owner);
    return RunInstallSequence(t.folderText, owner, organisation) ? InstallWorkOutcome::Installed
                                                                 : InstallWorkOutcome::Failed;
}

InstallWorkOutcome RunUnattendedInstall(wchar_t* folderText)
{
    wchar_t owner[kRegisteredChars], organisation[kRegisteredChars];
    ReadRegisteredNames(owner, organisation);
    InstallFolderState folder = PrepareInstallFolder(nullptr, folderText);
    if (folder == InstallFolderState::Refused) return InstallWorkOutcome::FolderRefused;
    if (folder != InstallFolderState::Ready) return InstallWorkOutcome::Failed;
    return RunInstallSequence(folderText, owner, organisation) ? InstallWorkOutcome::Installed
                                                                : InstallWorkOutcome::Failed;
}

bool RunInstallSequence(const wchar_t* folderText, const wchar_t* owner, const wchar_t* organisation)
{
    const ULONGLONG startedAt = GetTickCount64();
    SetupContext& c = g_setup;
    BoundedCopyN(c.installFolder, kPathChars, folderText, kPathChars - 1);
    AppendBackslashIfMissing(c.installFolder, kPathChars);

    c.dataFolder[0] = L'\0';
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                   c.dataFolder))) {
        c.dataFolder[kPathChars - 1] = L'\0';
        wchar_t imeName[kImeNameChars];
        BoundedCopyN(imeName, kImeNameChars, ImeName(c), kImeNameChars - 1);
        ComposeDataFolder(c.dataFolder, imeName);
    } else {
        c.dataFolder[0] = L'\0';
    }
    AppendBackslashIfMissing(c.dataFolder, kPathChars);

    ReportProgress(0, L"قاچىلاش ھازىرلا  تاماملىنىدۇ...\r\n");

    ComApartment com;
    if (!com.Ready()) {
        ReportProgress(0, L"COMدەسلەپكى ھالەتكە كەلتۈرۈشتە خاتالىق كۆرۈلدى");
        ClosePlacedRecord();
        return false;
    }

    // A failure takes back all this run made only when nothing of the product was there before.
    wchar_t earlier[MAX_PATH];
    const bool fresh = !ReadInstallLocation(c.name, earlier) && !ReadUninstallEntryLocation(c.name, earlier);
    OpenPlacedRecord(c.name);

    ReportProgress(10, L"  1.سېستىما ھۆججىتى قۇرۇلدى...");
    if (!PlaceImeDriverFiles(c)) return Fail(fresh, 1);

    ReportProgress(25, L"  2.ئىجرا بۇلۇش مۇھىتى ھازىرلاندى...");
    if (!RegisterInputMethod()) return Fail(fresh, 2);
    AddKeyboardToUserLists();

    ReportProgress(40, L"  3.يۇيۇش ئۇچۇرى قاچىلاندى...");
    if (!WriteUninstallEntry(owner, organisation)) return Fail(fresh, 3);

    ReportProgress(55, L"  4.قاچىلاش ئۇچۇرلىرى زاپاسلاندى...");
    if (!BackUpInstallation()) return Fail(fresh, 4);
    WriteEstimatedSize();

    ReportProgress(70, L"  5.باشلاش تېزىملىكى ۋە ئۈستەل يۈزى تەييارلاندى...");
    CreateShortcuts();
    ClosePlacedRecord();

    ReportProgress(85, L"  6.ۋاقىتلىق ھۆججەتلەر تازىلاندى...");
    HoldUntilReadable(startedAt);

    ReportProgress(100, L"  7.قاچىلاش ئاخىرلاشتى.\r\n");
    return true;
}
