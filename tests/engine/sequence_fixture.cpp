#include "sequence_fixture.h"

#include <shlobj.h>

#include <cstring>

#include "base/bounded_string.h"
#include "base/setup_context.h"
#include "engine/install_sequence.h"
#include "engine/registration.h"
#include "engine/registration_common.h"
#include "engine/registration_removal.h"
#include "engine_test_support.h"
#include "resources/resource.h"
#include "wizard/install_dialog.h"

namespace {

struct WizardDriveState {
    CinstkitDlg* dialog = nullptr;
    WizardOutcome* outcome = nullptr;
    DWORD started = 0;
};
WizardDriveState* g_drive = nullptr;

bool Visible(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }

void CALLBACK PollWorker(HWND hwnd, UINT, UINT_PTR id, DWORD)
{
    WizardDriveState& s = *g_drive;
    // The worker's end has reached the dialog.
    bool ended = s.dialog->m_busy == 0;
    if (!ended && GetTickCount() - s.started < 120000) return;
    KillTimer(hwnd, id);
    WizardOutcome& o = *s.outcome;
    o.finished = ended;
    o.dialog = hwnd;
    o.stage = s.dialog->m_stage;
    o.busy = s.dialog->m_busy;
    int n = GetWindowTextLengthW(GetDlgItem(hwnd, IDC_LOG));
    std::wstring log(static_cast<size_t>(n) + 1, L'\0');
    GetDlgItemTextW(hwnd, IDC_LOG, &log[0], n + 1);
    log.resize(static_cast<size_t>(n));
    o.log = log;
    wchar_t text[64] = L"";
    GetDlgItemTextW(hwnd, IDOK, text, 64);
    o.buttonText = text;
    o.bar = static_cast<int>(SendDlgItemMessageW(hwnd, IDC_PROGRESS, PBM_GETPOS, 0, 0));
    o.buttonEnabled = IsWindowEnabled(GetDlgItem(hwnd, IDOK)) != FALSE;
    o.logVisible = Visible(hwnd, IDC_LOG);
    o.barVisible = Visible(hwnd, IDC_PROGRESS);
    o.folderVisible = Visible(hwnd, IDC_FOLDER_EDIT);
    o.groupVisible = Visible(hwnd, IDC_FOLDER_GROUP);
    o.browseVisible = Visible(hwnd, IDC_BROWSE);
    o.agreeVisible = Visible(hwnd, IDC_AGREE) || Visible(hwnd, IDC_DISAGREE);
    o.licenceVisible = Visible(hwnd, IDC_LICENCE_LINK);
    o.homepageVisible = Visible(hwnd, IDC_HOMEPAGE_CHECK);
    o.newsVisible = Visible(hwnd, IDC_NEWS_CHECK);
    o.homepageChecked = IsDlgButtonChecked(hwnd, IDC_HOMEPAGE_CHECK) == BST_CHECKED;
    o.newsChecked = IsDlgButtonChecked(hwnd, IDC_NEWS_CHECK) == BST_CHECKED;

    if (ended && (o.stage == 2 || o.stage == 3)) {
        // Finish closes the wizard; the two post-install settings stay unwritten.
        CheckDlgButton(hwnd, IDC_HOMEPAGE_CHECK, BST_UNCHECKED);
        CheckDlgButton(hwnd, IDC_NEWS_CHECK, BST_UNCHECKED);
        ClickButton(hwnd, IDOK);
    } else if (!ended) {
        s.dialog->EndDialog(-3);  // the worker would still use the controls: the test fails anyway
    } else {
        s.dialog->EndDialog(0);
    }
}

}  // namespace

std::wstring StartLine() { return L"قاچىلاش ھازىرلا  تاماملىنىدۇ...\r\n"; }
std::wstring StepLine(int step)
{
    static const wchar_t* const kLines[] = {
        L"  1.سېستىما ھۆججىتى قۇرۇلدى...",
        L"  2.ئىجرا بۇلۇش مۇھىتى ھازىرلاندى...",
        L"  3.يۇيۇش ئۇچۇرى قاچىلاندى...",
        L"  4.قاچىلاش ئۇچۇرلىرى زاپاسلاندى...",
        L"  5.باشلاش تېزىملىكى ۋە ئۈستەل يۈزى تەييارلاندى...",
        L"  6.ۋاقىتلىق ھۆججەتلەر تازىلاندى...",
        L"  7.قاچىلاش ئاخىرلاشتى.\r\n",
    };
    return kLines[step - 1];
}
std::wstring FailureLine() { return L"قاچىلاش پىروگراممىسىدا خاتالىق كۆرۈلدى"; }
std::wstring OverwriteCaption() { return L"داۋاملىق قاچىلامسىز؟"; }
std::wstring OverwriteText()
{
    return L"پروگرامما قاچىلىماقچى بولغان مۇندەرىجە بۇرۇنلا مەۋجۈت ، داۋاملىق قاچىلاش ئېلىپ بارسىڭىز، نۆۋەتتىكى مۇندەرىجە ئۈستىگە قاچىلىنىدۇ";
}
std::wstring CreateErrorCaption() { return L"قاچىلاش خاتالىقى؟"; }
std::wstring CreateErrorText(const std::wstring& folder)
{
    return L"تاللىغان مۇندەرىجىڭىز:\r\n" + folder +
           L"\r\nقۇرۇلمىدى، سىزنىڭ بۇ مۇندەرىجىنى زىيارەت قىلىش ياكى يېزىش ھوقۇقىڭىز بارمۇ يوق؟ تەكشۈرۈپ كۆرۈڭ";
}

InstallRun::InstallRun()
{
    std::memset(&g_setup, 0, sizeof g_setup);
    static int counter = 0;
    std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
    name = NewGuidText();
    ime = L"ztseq" + tag;
    display = L"ZtSeq" + tag;
    BoundedCopy(g_setup.name, kNameChars, name.c_str());
    SetTextServiceGuid(g_setup, [this] { GUID g; IIDFromString(name.c_str(), &g); return g; }());
    SetProductField(product_field::kImeName, kImeNameChars, ime);
    SetProductField(product_field::kDisplayName, kDisplayNameChars, display);
    SetProductField(product_field::kLanguageName, kLanguageNameChars, L"Uyghur test");
    SetProductField(product_field::kDefaultFolderName, kDefaultFolderNameChars, L"ZtSeq");
    SetLangId(g_setup, 0x0480);
    dataFolder = CommonFolder(CSIDL_COMMON_APPDATA) + L"ZerdaIME3\\" + ime + L"\\";
    group = CommonFolder(CSIDL_COMMON_PROGRAMS) + display + L"\\";
    work = scratch / L"work";
    payload = work + L"\\zipdatas";
    CreateDirectoryW(work.c_str(), nullptr);
}

InstallRun::~InstallRun() { Cleanup(); }

void InstallRun::PreparePayload()
{
    for (const wchar_t* sub : {L"", L"\\x86", L"\\$dataFiles$"}) CreateDirectoryW((payload + sub).c_str(), nullptr);
    CopyFileW(FixtureDriverPath().c_str(), (payload + L"\\zerdaIME.ime").c_str(), FALSE);
    CopyFileW(FixtureDriverPath().c_str(), (payload + L"\\x86\\zerdaIME.ime").c_str(), FALSE);
    WriteFileText(payload + L"\\$dataFiles$\\main.dmg", "data");
    WriteFileText(payload + L"\\config.exe", "config program");
    WriteFileText(payload + L"\\main.chm", "help");
    WriteFileText(work + L"\\installer.exe", "plain installer");
    WriteFileText(work + L"\\makedata.zip", "PK archive");
    BoundedCopy(g_setup.payloadFolder, MAX_PATH, payload.c_str());
    BoundedCopy(g_setup.workFolder, MAX_PATH, work.c_str());
    BoundedCopy(g_setup.plainInstallerPath, MAX_PATH, (work + L"\\installer.exe").c_str());
    BoundedCopy(g_setup.archivePath, MAX_PATH, (work + L"\\makedata.zip").c_str());
}

WizardOutcome InstallRun::RunWizard(const std::wstring& folderText)
{
    WizardOutcome outcome;
    CinstkitDlg dialog;
    WizardDriveState state;
    state.dialog = &dialog;
    state.outcome = &outcome;
    g_drive = &state;
    ScriptedDialogs script([&](CDialog& d) {
        SetDlgItemTextW(d.m_hWnd, IDC_FOLDER_EDIT, folderText.c_str());
        ClickButton(d.m_hWnd, IDC_AGREE);
        ClickButton(d.m_hWnd, IDOK);
        state.started = GetTickCount();
        SetTimer(d.m_hWnd, 77, 50, &PollWorker);
    });
    outcome.result = dialog.DoModal();
    g_drive = nullptr;
    g_setup.progressBar = nullptr;
    g_setup.logBox = nullptr;
    return outcome;
}

void InstallRun::Cleanup()
{
    RemoveKeyboardLayout(ime.c_str(), false);
    RemoveProductKeys(name.c_str());
    RemoveTextServiceClassKeys(name.c_str());
    DeleteFileW((SystemFolder() + ime + L".ime").c_str());
    DeleteFileW((Wow64Folder() + ime + L".ime").c_str());
    DeleteTree(dataFolder.substr(0, dataFolder.size() - 1));
    DeleteTree(group.substr(0, group.size() - 1));
}
