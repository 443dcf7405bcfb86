#include "app/installer_app.h"

#include <commctrl.h>
#include <imm.h>
#include <objbase.h>
#include <shlobj.h>

#include "app/bounded_string.h"
#include "app/command_line.h"
#include "app/messages.h"
#include "app/relaunch.h"
#include "app/setup_context.h"
#include "app/shared_routines.h"
#include "app/work_folder.h"
#include "engine/registration.h"
#include "files/version_info.h"
#include "maintenance/repair_dialog.h"
#include "maintenance/uninstall_dialog.h"
#include "payload/extract_dialog.h"
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

bool RunExtraction()
{
    CZD_Extract dialog;
    SetMainWindow(&dialog);
    INT_PTR result = dialog.DoModal();
    SetMainWindow(nullptr);
    return result == IDOK;
}

}  // namespace

BOOL CinstkitApp::InitInstance(const wchar_t* commandLine)
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = 8;
    controls.dwICC = 0xFF;
    InitCommonControlsEx(&controls);
    ImmDisableIME(0);
    EnableControlContainer();
    if (FAILED(CoInitialize(nullptr))) return TRUE;

    if (IsServiceCommandLine(commandLine)) {
        RunServiceDispatch(commandLine);
        CoUninitialize();
        return TRUE;
    }

    if (!PrepareWorkFolder(g_setup)) {
        CoUninitialize();
        return TRUE;
    }
    ParseCommandLine(commandLine, g_setup);
    ClearProductRecord(g_setup);

    switch (g_setup.modeCode) {
    case 'g':
        // The work folder stays until the next start removes it.
        ShowMessageBox(nullptr, msg::kUpdateText, msg::kUpdateCaption, MB_ICONERROR);
        break;
    case 'u':
    case 'r':
        RunMaintenance(commandLine);
        break;
    default:
        RunInstall();
        break;
    }
    CoUninitialize();
    return TRUE;
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
        RemoveFolderTree(g_setup.workFolder);
        ShowMessageBox(nullptr, msg::kInstallFailedText, msg::kInstallFailedCaption, MB_ICONERROR);
        return;
    }

    if (AgreementFlag(g_setup)) {
        CZD_Install_Licence licence;
        SetMainWindow(&licence);
        INT_PTR agreed = licence.DoModal();
        SetMainWindow(nullptr);
        if (agreed != IDOK) {
            RemoveFolderTree(g_setup.workFolder);
            return;
        }
    }

    wchar_t driver[MAX_PATH];
    BoundedFormat(driver, MAX_PATH, L"%s\\zerdaIME.ime", g_setup.payloadFolder);
    DWORD handle = 0;
    DWORD infoSize = GetFileVersionInfoSizeW(driver, &handle);
    if (infoSize) {
        DWORD major = 0;
        GetSystemVersion(&major, nullptr);
        SetVersionLanguage(driver, major < 6 ? 0x0401 : 0x0480, infoSize, handle);
    }

    {
        CinstkitDlg wizard;
        wizard.m_hIcon = LoadAppIcon(IDI_INSTALL);
        wizard.m_busy = 0;
        wizard.m_stage = 0;
        SetMainWindow(&wizard);
        wizard.DoModal();
        SetMainWindow(nullptr);
    }
    RemoveFolderTree(g_setup.workFolder);
}

void CinstkitApp::RunMaintenance(const wchar_t* commandLine)
{
    const bool repair = g_setup.modeCode == 'r';
    const wchar_t* caption = repair ? msg::kRepairCaption : msg::kUninstallCaption;

    if (!g_setup.relaunched) {
        RemoveFolderTree(g_setup.workFolder);
        RelaunchFromTempCopy(g_setup, commandLine);
        return;
    }

    if (!ReadInstallLocation(g_setup.name, g_setup.installFolder) || !g_setup.installFolder[0]) {
        // The work folder stays until the next start removes it.
        ShowMessageBox(nullptr, msg::kEnvironmentText, caption, MB_ICONERROR);
        return;
    }
    g_setup.ownFilePath[0] = L'\0';
    BoundedFormat(g_setup.archivePath, kPathChars, L"%s_backup_.dat", g_setup.installFolder);

    if (!RunExtraction()) {
        RemoveFolderTree(g_setup.workFolder);
        ShowMessageBox(nullptr, msg::kEnvironmentText, caption, MB_ICONERROR);
        return;
    }

    g_setup.dataFolder[0] = L'\0';
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0,
                                   g_setup.dataFolder)))
        ComposeDataFolder(g_setup.dataFolder, ImeName(g_setup));
    AppendBackslashIfMissing(g_setup.dataFolder, kPathChars);

    if (repair) {
        CZD_Repair dialog;
        dialog.m_hIcon = LoadAppIcon(IDI_REPAIR);
        SetMainWindow(&dialog);
        dialog.DoModal();
        SetMainWindow(nullptr);
    } else {
        CCZD_Uninstall dialog;
        dialog.m_hIcon = LoadAppIcon(IDI_UNINSTALL);
        SetMainWindow(&dialog);
        dialog.DoModal();
        SetMainWindow(nullptr);
    }

    DeleteRunningCopy();
    RemoveFolderTree(g_setup.workFolder);
}
