#include "app/installer_app.h"

#include <commctrl.h>
#include <imm.h>
#include <objbase.h>
#include <shlobj.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "app/command_line.h"
#include "app/messages.h"
#include "app/relaunch.h"
#include "app/restart_offer.h"
#include "app/run_log_folder.h"
#include "app/run_guard.h"
#include "base/run_log.h"
#include "base/run_options.h"
#include "app/unattended_prompts.h"
#include "base/setup_context.h"
#include "base/shared_routines.h"
#include "app/work_folder.h"
#include "engine/install_sequence.h"
#include "engine/install_folder_removal.h"
#include "engine/install_folder_choice.h"
#include "engine/keyboard_list_entries.h"
#include "engine/registration.h"
#include "engine/registration_removal.h"
#include "engine/removal_guard.h"
#include "engine/repair_sequence.h"
#include "engine/uninstall_sequence.h"
#include "files/folder_guard.h"
#include "files/folder_listing.h"
#include "files/signature.h"
#include "files/version_info.h"
#include "maintenance/repair_dialog.h"
#include "maintenance/uninstall_dialog.h"
#include "payload/archive_copy.h"
#include "payload/extract_dialog.h"
#include "payload/fonts.h"
#include "payload/own_image.h"
#include "payload/payload_preload.h"
#include "payload/payload_rest.h"
#include "platform/prompt.h"
#include "platform/system_info.h"
#include "resources/resource.h"
#include "wizard/install_dialog.h"
#include "wizard/licence_dialog.h"

namespace {

HICON LoadAppIcon(int id)
{
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, 0, 0,
                                         LR_DEFAULTSIZE | LR_SHARED));
}

const wchar_t* ModeName(uint8_t mode)
{
    switch (mode) {
    case 'u': return L"uninstall";
    case 'r': return L"repair";
    case 'g': return L"update";
    default: return L"install";
    }
}

const wchar_t* UiName() { return IsQuietRun() ? L"quiet" : IsPassiveRun() ? L"passive" : L"interactive"; }

// The repair or uninstall dialog; closed before its action ran: cancelled.
template <typename Dialog>
void RunMaintenanceDialog(int iconId)
{
    Dialog dialog;
    dialog.m_hIcon = LoadAppIcon(iconId);
    SetMainWindow(&dialog);
    dialog.DoModal();
    SetMainWindow(nullptr);
    if (dialog.m_state == 0) SetRunResult(kExitCancelled);
}

// Quiet runs unpack without the dialog; the others show its progress.
bool RunExtraction()
{
    if (IsQuietRun()) return ExtractPayload(g_setup, nullptr, nullptr);
    CZD_Extract dialog;
    SetMainWindow(&dialog);
    INT_PTR result = dialog.DoModal();
    SetMainWindow(nullptr);
    return result == IDOK;
}

void StartRunLog(const wchar_t* commandLine, const wchar_t* whyNobodySees)
{
    // Every run logs; an installation learns its product from its payload,
    // so its log opens once that is read, with these lines first.
    KeepEarlyRunLogLines();
    RunLog(L"Command line: %s", commandLine ? commandLine : L"");
    // As the program sees it: the manifest's declared systems decide whether
    // Windows 10 and 11 say 10.0 or 6.2.
    DWORD major = 0, minor = 0;
    if (GetSystemVersion(&major, &minor)) RunLog(L"Windows %lu.%lu", major, minor);
    if (g_run.nobodySees) RunLog(L"Nobody can see a window of this run (%s): it runs as /quiet does", whyNobodySees);
    if (g_run.noRestart) RunLog(L"/norestart: the setup never restarts Windows, and does not ask to");
    // Repair and uninstall name their product on the command line.
    const uint8_t mode = AskedModeCode(g_run.remaining);
    if (g_run.logPath[0] || mode) {
        wchar_t name[kNameChars] = L"";
        CopyNameSwitch(g_run.remaining, name);
        OpenRunLogOnce(name, ModeName(mode));
    }
}

// The folder this program runs from, with a trailing backslash; empty when unknown.
const wchar_t* OwnImageFolder(wchar_t* out /* MAX_PATH */)
{
    DWORD n = GetModuleFileNameW(nullptr, out, MAX_PATH);
    wchar_t* last = n > 0 && n < MAX_PATH ? wcsrchr(out, L'\\') : nullptr;
    if (last) last[1] = L'\0';
    else out[0] = L'\0';
    return out;
}

// A folder of the system or of the users, or one reached through a link, is no install folder.
bool IsCommandLineFolderUsable()
{
    const wchar_t* refusal = g_run.installFolder[0] ? InstallFolderRefusal(g_run.installFolder) : nullptr;
    if (!refusal) return true;
    g_run.badFolder = true;
    BoundedFormat(g_run.reason, kRunReasonChars, L"/dir=: not a folder to install into (%s): %s", refusal,
                  g_run.installFolder);
    return false;
}

// An uninstall ended after the product's keys went leaves the entry and
// what is left of the install folder; the entry's command ends it here.
// Without the entry the product was never installed.
bool FinishInterruptedUninstall()
{
    wchar_t folder[MAX_PATH] = L"";
    // A product key without its InstallLocation is a damaged installation,
    // not a finished one: that stays the environment failure.
    if (ProductKeyExists(g_setup.name) || !ReadUninstallEntryLocation(g_setup.name, folder)) return false;
    RunLog(L"The product's keys are gone and its uninstall entry is left: the uninstall is finished");
    RemoveInstallFolderAndEntry(g_setup.name, folder);
    return true;
}

// The run never works from its current folder, and must not hold the one it
// was started in (a shortcut starts repair and uninstall in the install
// folder, which the uninstall removes). Left once, before any other thread
// runs: the current folder is the whole process's.
void LeaveStartFolder()
{
    wchar_t system[MAX_PATH];
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n > 0 && n < MAX_PATH) SetCurrentDirectoryW(system);
}

// The image that cannot leave the install folder (it runs, and the work
// folder is on another volume) goes at the next restart under a name that no
// installation places: a reinstall before the restart keeps its own
// installer.exe. The folder is scheduled too only when nothing else is in
// it; Windows removes it then only if it is still empty.
void ScheduleOwnImageRemoval(const wchar_t* folder)
{
    wchar_t self[MAX_PATH], leftover[MAX_PATH], base[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    ReleaseOwnFile();
    if (BoundedFormat(leftover, MAX_PATH, L"%s.%08lx%08lx.removed", self, GetCurrentProcessId(), GetTickCount()) >=
            MAX_PATH - 1 ||
        !MoveFileExW(self, leftover, 0)) {
        RunLogFailure(L"The setup could not take a name of its own for its removal at the next restart; it stays",
                      self, GetLastError());
        return;
    }
    if (!MoveFileExW(leftover, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        RunLogFailure(L"The setup's removal at the next restart could not be scheduled", leftover, GetLastError());
        return;
    }
    RunLog(L"The setup goes at the next restart: %s", leftover);
    size_t length = BoundedCopy(base, MAX_PATH, folder);
    if (length > 3 && base[length - 1] == L'\\') base[length - 1] = L'\0';
    bool onlyLeftover = true;
    bool listed = ForEachChild(base, [&](const wchar_t* path, DWORD) {
        onlyLeftover = _wcsicmp(path, leftover) == 0;
        return onlyLeftover;
    });
    if (listed && onlyLeftover && MoveFileExW(base, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        RunLog(L"Its folder goes with it when it is still empty then: %s", folder);
}

// A signed driver stays as signed. The driver was unpacked a moment ago and
// a scanner may hold it; the placement stamps it again and fails if it still
// cannot.
void StampPayloadDriver()
{
    wchar_t driver[MAX_PATH];
    BoundedFormat(driver, MAX_PATH, L"%s\\zerdaIME.ime", g_setup.payloadFolder);
    DWORD major = 0;
    GetSystemVersion(&major, nullptr);
    if (!CarriesSignature(driver) && !StampVersionLanguage(driver, major < 6 ? 0x0401 : 0x0480))
        RunLogFailure(L"Driver language not set", driver, GetLastError());
}

void ReportPayloadFailure()
{
    RunLog(L"The payload could not be unpacked or its configuration loaded");
    OpenRunLogOnce(nullptr, L"install");
    SetRunResult(kExitFailure);
    RemoveWorkFolder(g_setup);
    ShowMessageBox(nullptr, msg::kInstallFailedText, msg::kInstallFailedCaption, MB_ICONERROR);
}

bool HoldRunningImage()
{
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH || !HoldOwnFile(self)) return false;
    if (IsRunningImage(HeldOwnFile())) return true;
    ReleaseOwnFile();
    return false;
}

}  // namespace

BOOL CinstkitApp::InitInstance(const wchar_t* commandLine)
{
    // Before anything else: the file is held from here on, and it must be
    // the program that runs, or its payload is not read.
    const bool ownImage = HoldRunningImage();
    // Every thread of the process, those started later included (the worker
    // threads show windows too): -1 marks the process, not only its threads.
    ImmDisableIME(static_cast<DWORD>(-1));
    // The user's step and the service behaviours take no run options.
    const bool setupRun = !IsUserListCommandLine(commandLine) && !IsServiceCommandLine(commandLine);
    setupRun_ = setupRun;
    const wchar_t* whyNobodySees = nullptr;
    if (setupRun) {
        ParseRunOptions(commandLine, g_run);
        // Session 0 or a service's window station: a window there waits for
        // nobody until the deployment tool gives up.
        whyNobodySees = WhyNoWindowIsSeen();
        if (whyNobodySees && g_run.ui != kRunQuiet) {
            g_run.ui = kRunQuiet;
            g_run.nobodySees = true;
        }
        // Relative paths of the command line are resolved now.
        LeaveStartFolder();
        // An installation reads its payload meanwhile; the checks below may still end the run.
        // A wizard needs only a few of its entries to show: those first.
        if (!g_run.help && !AskedModeCode(g_run.remaining)) StartPayloadPreload(!IsQuietRun());
    }
    if (!setupRun) {
        if (FAILED(CoInitialize(nullptr))) {
            SetRunResult(kExitFailure);
            return TRUE;
        }
        // A user's own step, started by a setup that runs elevated: before the
        // work folder, which may be this user's and the starter's.
        if (IsUserListCommandLine(commandLine)) SetRunResult(RunUserListStep(commandLine));
        else RunServiceDispatch(commandLine);
        CoUninitialize();
        return TRUE;
    }

    StartRunLog(commandLine, whyNobodySees);
    if (!ownImage) RunLog(L"The setup's own file is not the program that runs, or cannot be held: its payload is not read");
    if (IsUnattendedRun()) AnswerPromptsUnattended();
    if (g_run.help) {
        RunLog(L"Switch list asked for");
        ShowMessageBox(nullptr, kRunSwitchHelp, L"ZerdaIME3 Setup", MB_OK | MB_ICONINFORMATION);
        return TRUE;
    }
    // A bad command line ends every run before anything is done: an
    // interactive one shows why, with the switch list, and opens no wizard.
    if (IsBadCommandLine(g_run) || !IsCommandLineFolderUsable()) {
        RunLog(L"Bad command line: %s", g_run.reason);
        wchar_t text[2048];
        BoundedFormat(text, 2048, L"%s\r\n\r\n%s", g_run.reason, kRunSwitchHelp);
        ShowMessageBox(nullptr, text, L"ZerdaIME3 Setup", MB_OK | MB_ICONERROR);
        SetRunResult(kExitBadCommandLine);
        return TRUE;
    }

    // The relaunched copy works under its starter's guard.
    RunGuard guard = HasRelaunchSwitch(g_run.remaining) ? RunGuard::Acquired : AcquireRunGuard();
    if (guard != RunGuard::Acquired) {
        if (guard == RunGuard::HeldByAnother)
            RunLog(L"Another setup of the ZerdaIME3 family is running; nothing was done");
        else
            RunLogFailure(L"The guard against a second setup could not be made; nothing was done",
                          L"run guard", GetLastError());
        SetRunResult(guard == RunGuard::HeldByAnother ? kExitAnotherSetup : kExitFailure);
        return TRUE;
    }

    if (!PrepareWorkFolder(g_setup)) {
        RunLogFailure(L"The work folder could not be prepared", g_setup.workFolder, GetLastError());
        SetRunResult(kExitFailure);
        return TRUE;
    }
    // What runs from here on uses COM; the checks above need none.
    if (FAILED(CoInitialize(nullptr))) {
        RunLog(L"COM could not be initialised");
        RemoveWorkFolder(g_setup);
        SetRunResult(kExitFailure);
        return TRUE;
    }
    ParseCommandLine(g_run.remaining, g_setup);
    ClearProductRecord(g_setup);
    RunLog(L"Mode: %s, %s", ModeName(g_setup.modeCode), UiName());

    switch (g_setup.modeCode) {
    case 'g':
        RemoveWorkFolder(g_setup);
        ShowMessageBox(nullptr, msg::kUpdateText, msg::kUpdateCaption, MB_ICONERROR);
        SetRunResult(kExitFailure);
        break;
    case 'u':
    case 'r':
        RunMaintenance(commandLine);
        break;
    default:
        RunInstall();
        break;
    }
    OfferRestart();
    CoUninitialize();
    return TRUE;
}

int CinstkitApp::ExitInstance()
{
    FinishPayloadRest(nullptr, nullptr);
    DiscardPreloadedPayload();
    FinishArchiveCopy(nullptr);
    FinishPayloadFonts();
    // A run that ended before its product was known logs all the same.
    if (setupRun_) OpenRunLogOnce(g_setup.name, ModeName(g_setup.modeCode ? g_setup.modeCode : AskedModeCode(g_run.remaining)));
    int code = static_cast<int>(FinishRunResult());
    CloseRunLog();
    return code;
}

void CinstkitApp::RunServiceDispatch(const wchar_t* commandLine)
{
    CopyServiceName(commandLine, g_setup.name);
    GUID guid;
    if (FAILED(IIDFromString(g_setup.name, &guid))) return;
    SetTextServiceGuid(g_setup, guid);
    WORD language = ReadLangId(g_setup.name);
    SetLangId(g_setup, language ? language : 2052);

    if (HasReregistrationSwitch(commandLine))
        ReregisterInputMethod(g_setup.name);
    else
        RemoveTextService(g_setup.name);
}

void CinstkitApp::RunInstall()
{
    if (!RunExtraction()) {
        ReportPayloadFailure();
        return;
    }
    // Behind the agreement page and the wizard: what they do not need.
    StartPayloadRest(g_setup, &StampPayloadDriver);

    // The product is known from here on.
    OpenRunLogOnce(g_setup.name, L"install");

    if (AgreementFlag(g_setup) && IsUnattendedRun()) {
        RunLog(L"Licence agreement accepted by the unattended command line");
    } else if (AgreementFlag(g_setup)) {
        CZD_Install_Licence licence;
        SetMainWindow(&licence);
        INT_PTR agreed = licence.DoModal();
        SetMainWindow(nullptr);
        if (agreed != IDOK) {
            RunLog(L"Licence agreement declined");
            SetRunResult(kExitCancelled);
            RemoveWorkFolder(g_setup);
            return;
        }
    }

    wchar_t folder[MAX_PATH];
    ProposeInstallFolder(folder);
    // An unattended run never uses a folder that holds others' things: it
    // ends before any window of the installation shows.
    if (IsUnattendedRun()) {
        FolderJudgement judged = JudgeFolderUse(folder, g_setup.name);
        if (!MayInstallInto(judged.use)) {
            wchar_t offered[MAX_PATH];
            LogFolderRefusal(folder, judged, offered);
            SetRunResult(g_run.installFolder[0] ? kExitBadCommandLine : kExitFailure);
            RemoveWorkFolder(g_setup);
            return;
        }
    }
    if (IsQuietRun()) {
        RunLog(L"Install folder: %s", folder);
        // The finish page's offers are a person's to accept: none here.
        InstallWorkOutcome outcome = RunUnattendedInstall(folder);
        SetRunResult(outcome == InstallWorkOutcome::Installed       ? kExitSuccess
                     : outcome == InstallWorkOutcome::FolderRefused ? kExitBadCommandLine
                                                                    : kExitFailure);
    } else {
        CinstkitDlg wizard;
        wizard.m_hIcon = LoadAppIcon(IDI_INSTALL);
        wizard.m_busy = 0;
        wizard.m_stage = 0;
        SetMainWindow(&wizard);
        wizard.DoModal();
        SetMainWindow(nullptr);
        if (wizard.m_outcome == static_cast<LONG>(InstallWorkOutcome::PayloadFailed)) {
            ReportPayloadFailure();
            return;
        }
        if (wizard.m_stage == 3) SetRunResult(kExitFailure);
        else if (wizard.m_stage != 2) {
            RunLog(L"The wizard was closed before the installation");
            SetRunResult(kExitCancelled);
        }
    }
    RemoveWorkFolder(g_setup);
}

void CinstkitApp::RunMaintenance(const wchar_t* commandLine)
{
    const bool repair = g_setup.modeCode == 'r';
    const wchar_t* caption = repair ? msg::kRepairCaption : msg::kUninstallCaption;

    if (!g_setup.relaunched) {
        if (!LocateInstalledSetup(g_setup)) {
            RunLog(L"The product %s is not installed (no full InstallLocation): nothing is started", g_setup.name);
            SetRunResult(kExitFailure);
            RemoveWorkFolder(g_setup);
            ShowMessageBox(nullptr, msg::kEnvironmentText, caption, MB_ICONERROR);
            return;
        }
        // The copy's result is this run's result.
        DWORD result = RelaunchFromTempCopy(g_setup, commandLine);
        SetRunResult(result);
        // This program runs from the install folder and holds it while it
        // waits: once the product is gone, what stayed goes now.
        // Judged by what is left, not by the copy's result: a copy ended
        // after the entry went has nothing left to run again.
        wchar_t stillInstalled[MAX_PATH] = L"";
        bool removed = !repair && !ReadInstallLocation(g_setup.name, stillInstalled) &&
                       !ReadUninstallEntryLocation(g_setup.name, stillInstalled);
        // Removed before the guard goes with this process: a setup started
        // right after must not see its new folder taken by a late removal.
        // Only the folder this program runs from, when it is the install
        // folder the product recorded.
        wchar_t ownFolder[MAX_PATH];
        if (removed && g_setup.installFolder[0] && PathExists(g_setup.installFolder) &&
            IsProductFolderToRemove(g_setup.installFolder, OwnImageFolder(ownFolder))) {
            if (!RemoveFolderOfRunningImage(g_setup.installFolder, g_setup.workFolder))
                ScheduleOwnImageRemoval(g_setup.installFolder);
            else if (PathExists(g_setup.installFolder))
                RunLog(L"Kept (what is left in it is not the setup's): %s", g_setup.installFolder);
            else
                RunLog(L"Removed: %s", g_setup.installFolder);
        }
        // This program's own image, when it was moved here, goes at the restart.
        RemoveWorkFolder(g_setup);
        return;
    }

    if (!ReadInstallLocation(g_setup.name, g_setup.installFolder) || !IsAbsolutePath(g_setup.installFolder)) {
        if (!repair && FinishInterruptedUninstall()) {
            SetRunResult(kExitSuccess);
            RemoveWorkFolder(g_setup);
            return;
        }
        RunLog(L"The product %s is not installed (no full InstallLocation)", g_setup.name);
        SetRunResult(kExitFailure);
        RemoveWorkFolder(g_setup);
        ShowMessageBox(nullptr, msg::kEnvironmentText, caption, MB_ICONERROR);
        return;
    }
    g_setup.ownFilePath[0] = L'\0';
    BoundedFormat(g_setup.archivePath, kPathChars, L"%s_backup_.dat", g_setup.installFolder);

    const bool extracted = RunExtraction();
    if (!extracted && repair) {
        RunLog(L"The backup archive %s cannot be used (see above): the repair is refused. Running the setup "
               L"program again repairs the installation", g_setup.archivePath);
        SetRunResult(kExitFailure);
        RemoveWorkFolder(g_setup);
        ShowMessageBox(nullptr, msg::kEnvironmentText, caption, MB_ICONERROR);
        return;
    }
    if (!extracted) {
        // Nothing of the refused archive is used: the product is known from its key and its record.
        RunLog(L"The backup archive %s is not used (see above): the uninstall goes on from the registry and the "
               L"record of what was placed", g_setup.archivePath);
        g_setup.payloadFolder[0] = L'\0';
        LoadRecordedProduct(g_setup);
    } else if (!repair) {
        UseRecordedToolCommand(g_setup);
    }

    g_setup.dataFolder[0] = L'\0';
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0,
                                   g_setup.dataFolder)))
        ComposeDataFolder(g_setup.dataFolder, ImeName(g_setup));
    AppendBackslashIfMissing(g_setup.dataFolder, kPathChars);

    if (IsQuietRun()) {
        bool done = repair ? RunRepairSequence() : RunUninstallSequence();
        SetRunResult(done ? kExitSuccess : kExitFailure);
    } else if (repair) {
        RunMaintenanceDialog<CZD_Repair>(IDI_REPAIR);
    } else {
        RunMaintenanceDialog<CCZD_Uninstall>(IDI_UNINSTALL);
    }

    RemoveWorkFolder(g_setup);
}
