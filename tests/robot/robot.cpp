// zerda_robot: plays the person at the setup program's windows, through
// ordinary window messages, on the (virtual) display. Its modes and options:
// kUsage below, printed when it is started without them.
//
// Prints one line per event ("window:", "message:", "log:") in UTF-8 (a box
// or list made by another thread than its dialog's says so), and the
// started program's exit code ("exit code:") once it has ended.
#include <windows.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/screenshot.h"
#include "robot/responsiveness_probe.h"

namespace {
const wchar_t kWizardSuffix[] = L" قاچىلاش يېتەكچىسى";
const wchar_t kLicenceSuffix[] = L" - ئىشلىتىش كېلىشىمى";
const wchar_t kRepairSuffix[] = L" - پىروگرامما ئوڭشاش";
const wchar_t kUninstallSuffix[] = L" - پىروگرامما يۇيۇش";
const wchar_t kInstallText[] = L"قاچىلاش(&S)";
const wchar_t kFinishText[] = L"تامام(&O)";
const wchar_t kOverwriteCaption[] = L"داۋاملىق قاچىلامسىز؟";
const wchar_t kConflictCaption[] = L"ھۆججەت ئېچىشتا توقۇنۇش كۆرۈلدى";
const wchar_t kRestartCaption[] = L"قايتا قوزغىتىش";

constexpr int kFolderEdit = 1022, kAgree = 1001, kLog = 1006, kHomePage = 1007, kNews = 1009;
constexpr int kForceEnd = 1015, kGoOn = 1017;

struct Options {
    std::wstring mode, target, folder, screens, logFile, workingFolder;
    std::map<std::wstring, std::wstring> answers;
    bool noExtras = false, declineLicence = false, probe = false, goOn = false, pressAgain = false;
    DWORD timeoutMs = 300000;
};

void Print(const std::wstring& line)
{
    std::wstring text = line + L"\n";
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return;
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], bytes, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(bytes - 1), &written, nullptr);
}

std::wstring Text(HWND window)
{
    // WM_GETTEXT, so that the text of another process's control is read too.
    LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0) return L"";
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT got = SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

bool EndsWith(const std::wstring& s, const wchar_t* suffix)
{
    std::wstring t = suffix;
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

bool Visible(HWND dialog, int id)
{
    HWND c = GetDlgItem(dialog, id);
    return c && (GetWindowLongW(c, GWL_STYLE) & WS_VISIBLE);
}

bool Enabled(HWND dialog, int id)
{
    HWND c = GetDlgItem(dialog, id);
    return c && IsWindowEnabled(c);
}

bool Checked(HWND dialog, int id) { return SendMessageW(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

// A click as the mouse gives it; the button tells its dialog itself.
void Click(HWND dialog, int id)
{
    HWND button = GetDlgItem(dialog, id);
    if (button) SendMessageW(button, BM_CLICK, 0, 0);
}

std::vector<HWND> DialogWindows()
{
    std::vector<HWND> found;
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            wchar_t cls[32] = L"";
            GetClassNameW(h, cls, 32);
            if (IsWindowVisible(h) && wcscmp(cls, L"#32770") == 0) reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

class Robot {
public:
    explicit Robot(const Options& o) : o_(o) {}

    int Run();

private:
    void Shot(HWND window, const wchar_t* what)
    {
        if (o_.screens.empty()) return;
        Sleep(300);
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Sleep(200);
        wchar_t name[64];
        swprintf(name, 64, L"%02d_%ls.bmp", ++shots_, what);
        SaveWindowScreenshot(window, o_.screens + L"\\" + name);
    }

    void KeepLog(HWND dialog)
    {
        std::wstring text = Text(GetDlgItem(dialog, kLog));
        if (text.empty()) return;
        logText_ = text;
    }

    bool IsMessageBox(HWND h)
    {
        return GetDlgItem(h, IDOK) || GetDlgItem(h, IDYES) || GetDlgItem(h, IDRETRY) || GetDlgItem(h, IDCANCEL);
    }

    std::wstring MessageText(HWND box)
    {
        std::wstring text;
        for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            wchar_t cls[32] = L"";
            GetClassNameW(c, cls, 32);
            if (wcscmp(cls, L"Static") != 0) continue;
            std::wstring t = Text(c);
            if (!t.empty()) text += (text.empty() ? L"" : L" ") + t;
        }
        return text;
    }

    void AnswerMessageBox(HWND box, const std::wstring& caption)
    {
        std::wstring answer;
        auto rule = o_.answers.find(caption);
        if (rule != o_.answers.end()) answer = rule->second;
        else if (caption == kOverwriteCaption) answer = L"yes";
        else if (caption == kConflictCaption && GetDlgItem(box, IDNO)) answer = L"no";
        else if (caption == kRestartCaption) answer = L"no";
        int id = 0;
        if (answer == L"yes") id = IDYES;
        else if (answer == L"no") id = IDNO;
        else if (answer == L"ok") id = IDOK;
        else if (answer == L"cancel") id = IDCANCEL;
        else if (answer == L"retry") id = IDRETRY;
        if (!id || !GetDlgItem(box, id)) {
            for (int candidate : {IDOK, IDYES, IDCANCEL, IDNO}) {
                if (GetDlgItem(box, candidate)) { id = candidate; break; }
            }
        }
        Print(L"message: " + caption + L" | " + MessageText(box) + L" -> " + std::to_wstring(id) + ThreadNote(box));
        Shot(box, L"message");
        ++messages_;
        Click(box, id);
        if (o_.pressAgain && caption == kOverwriteCaption && IsWindow(dialog_)) PressAgain(dialog_);
        Sleep(300);
        if (IsWindow(box) && IsWindowVisible(box)) SendMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    }

    // Windows asked for by a worker belong to their dialog's thread.
    std::wstring ThreadNote(HWND window) const
    {
        DWORD process = 0, thread = GetWindowThreadProcessId(window, &process);
        if (!IsWindow(dialog_) || process != dialogProcess_ || thread == dialogThread_) return L"";
        return L" (made by another thread than its dialog's)";
    }

    void SeeDialog(HWND h)
    {
        dialog_ = h;
        dialogThread_ = GetWindowThreadProcessId(h, &dialogProcess_);
    }

    // While the worker is between the folder question and the placing: a
    // person clicks around; none of it may start, end or hang anything.
    void PressAgain(HWND wizard)
    {
        for (int id : {kAgree, IDOK, IDCANCEL})
            PostMessageW(wizard, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(wizard, id)));
        Print(L"wizard: I agree, Install and Cancel pressed again");
    }

    // The process list: Force End once; when a holder came back and the
    // list offers it, go on.
    void DriveProcessList(HWND list)
    {
        if (lists_.insert(list).second) {
            Print(L"process list: " + Text(list) + ThreadNote(list));
            Shot(list, L"process_list");
            ++messages_;
            Click(list, kForceEnd);
            Print(L"process list: force end");
            return;
        }
        if (IsWindow(list) && Visible(list, kGoOn) && Enabled(list, kGoOn) && goneOn_.insert(list).second) {
            Shot(list, L"process_list_go_on");
            Print(L"process list: go on");
            PostMessageW(list, WM_COMMAND, MAKEWPARAM(kGoOn, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(list, kGoOn)));
        }
    }

    void DriveLicence(HWND h)
    {
        Print(L"window: " + Text(h));
        Shot(h, L"licence");
        Click(h, o_.declineLicence ? IDCANCEL : IDOK);
        if (o_.declineLicence) declined_ = true;
    }

    void DriveWizard(HWND h)
    {
        if (phase_ == 0) {
            SeeDialog(h);
            Print(L"window: " + Text(h));
            Shot(h, L"wizard");
            if (Visible(h, kAgree) && !Checked(h, kAgree)) {
                Click(h, kAgree);
                Shot(h, L"wizard_agreed");
            }
            if (!o_.folder.empty() && o_.folder != L"-") {
                SetWindowTextW(GetDlgItem(h, kFolderEdit), o_.folder.c_str());
                Shot(h, L"wizard_folder");
            }
            Print(L"folder: " + Text(GetDlgItem(h, kFolderEdit)));
            // Posted: a process list the click opens needs the robot free.
            PostMessageW(h, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(h, IDOK)));
            phase_ = 1;
            pressedAt_ = GetTickCount();
            return;
        }
        if (phase_ != 1) return;
        const std::wstring button = Text(GetDlgItem(h, IDOK));
        if (Visible(h, kLog)) KeepLog(h);
        if (button == kFinishText && Enabled(h, IDOK)) {
            Shot(h, L"wizard_finished");
            KeepLog(h);
            if (o_.noExtras) {
                if (Checked(h, kHomePage)) Click(h, kHomePage);
                if (Checked(h, kNews)) Click(h, kNews);
                Shot(h, L"wizard_extras_cleared");
            }
            Click(h, IDOK);
            phase_ = 2;
            return;
        }
        // Back on the folder page after a refused folder.
        if (button == kInstallText && Enabled(h, IDOK) && Visible(h, kFolderEdit) && GetTickCount() - pressedAt_ > 1500) {
            Print(L"wizard: back on the folder page");
            Shot(h, L"wizard_back");
            refused_ = true;
            PostMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
            phase_ = 2;
        }
    }

    void DriveMaintenance(HWND h)
    {
        const std::wstring button = Text(GetDlgItem(h, IDOK));
        if (phase_ == 0) {
            SeeDialog(h);
            Print(L"window: " + Text(h));
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            worker_ = OpenProcess(SYNCHRONIZE, FALSE, pid);
            Shot(h, o_.mode.c_str());
            if (button == kFinishText) {  // nothing to do (e.g. the backup is missing)
                phase_ = 1;
                return;
            }
            // Posted: the dialog works inside this click, and a process list it
            // opens there needs the robot free to answer it.
            PostMessageW(h, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(h, IDOK)));
            phase_ = 1;
            messagesAtPress_ = messages_;
            return;
        }
        // Back to ready after an answered check (the process list cancelled):
        // the dialog and its action button are enabled again and keep the
        // action text (while the sequence runs the button waits, disabled).
        if (phase_ == 1 && button != kFinishText && messages_ > messagesAtPress_ && IsWindowEnabled(h) &&
            Enabled(h, IDOK)) {
            if (!readySince_) readySince_ = GetTickCount();
            if (GetTickCount() - readySince_ > 1500) {
                Print(L"maintenance: still ready after the check");
                Shot(h, (o_.mode + L"_still_ready").c_str());
                stillReady_ = true;
                PostMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
                phase_ = 2;
            }
            return;
        }
        readySince_ = 0;
        if (phase_ == 1 && button == kFinishText && Enabled(h, IDOK)) {
            KeepLog(h);
            Shot(h, (o_.mode + L"_finished").c_str());
            Click(h, IDOK);
            phase_ = 2;
        }
    }

    const Options& o_;
    int shots_ = 0, phase_ = 0, messages_ = 0, messagesAtPress_ = 0;
    bool stillReady_ = false;
    DWORD readySince_ = 0;
    bool refused_ = false, declined_ = false;
    DWORD pressedAt_ = 0, quietSince_ = 0;
    HANDLE worker_ = nullptr;
    std::wstring logText_;
    std::set<HWND> licences_, answered_, lists_, goneOn_;
    HWND dialog_ = nullptr;
    DWORD dialogThread_ = 0, dialogProcess_ = 0;
};

int Robot::Run()
{
    if (!o_.screens.empty()) CreateDirectoryW(o_.screens.c_str(), nullptr);
    std::vector<std::wstring> programs = {L"installer.exe"};
    if (o_.mode == L"install") programs.push_back(o_.target.substr(o_.target.find_last_of(L"\\/") + 1));
    probe::UnmanagedWindows unmanaged(o_.probe ? programs : std::vector<std::wstring>{});
    probe::ResponsivenessProbe responsiveness;
    if (o_.probe) responsiveness.Start();
    std::wstring command = o_.mode == L"install" ? L"\"" + o_.target + L"\"" : o_.target;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const wchar_t* cwd = o_.workingFolder.empty() ? nullptr : o_.workingFolder.c_str();
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, cwd, &si, &pi)) {
        Print(L"error: cannot start " + command);
        return 2;
    }
    CloseHandle(pi.hThread);
    Print(L"started: " + command);

    const bool install = o_.mode == L"install";
    const wchar_t* dialogSuffix = o_.mode == L"repair" ? kRepairSuffix : kUninstallSuffix;
    const DWORD start = GetTickCount();
    int result = 2;
    while (GetTickCount() - start < o_.timeoutMs) {
        for (HWND h : DialogWindows()) {
            if (!IsWindow(h)) continue;
            const std::wstring caption = Text(h);
            if (install && EndsWith(caption, kWizardSuffix)) {
                DriveWizard(h);
            } else if (install && EndsWith(caption, kLicenceSuffix)) {
                if (licences_.insert(h).second) DriveLicence(h);
            } else if (!install && EndsWith(caption, dialogSuffix)) {
                DriveMaintenance(h);
            } else if (o_.goOn && GetDlgItem(h, kForceEnd)) {
                DriveProcessList(h);
            } else if (IsMessageBox(h) && answered_.insert(h).second) {
                AnswerMessageBox(h, caption);
            }
        }
        // The install process is the wizard's; repair and uninstall work in a relaunched copy.
        HANDLE watched = install ? pi.hProcess : worker_;
        bool ended = watched && WaitForSingleObject(watched, 0) == WAIT_OBJECT_0;
        if (install && ended) {
            result = phase_ == 2 ? (refused_ ? 3 : 0) : (declined_ ? 4 : 2);
            break;
        }
        // The starter waits for its copy, then may still ask about a restart.
        if (!install && ended && phase_ == 2 && WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
            result = stillReady_ ? 6 : 0;
            break;
        }
        // A maintenance run that only showed a message before its dialog has ended with it.
        if (!install && phase_ == 0 && messages_ > 0) {
            if (!quietSince_) quietSince_ = GetTickCount();
            if (GetTickCount() - quietSince_ > 3000 && WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
                result = 5;
                break;
            }
        }
        Sleep(200);
    }
    if (result == 2) Print(L"error: timed out or ended early in phase " + std::to_wstring(phase_));

    size_t from = 0;
    while (from < logText_.size()) {
        size_t end = logText_.find(L"\r\n", from);
        if (end == std::wstring::npos) end = logText_.size();
        Print(L"log: " + logText_.substr(from, end - from));
        from = end + 2;
    }
    if (!o_.logFile.empty()) {
        int bytes = WideCharToMultiByte(CP_UTF8, 0, logText_.c_str(), static_cast<int>(logText_.size()), nullptr, 0,
                                        nullptr, nullptr);
        std::string utf8(static_cast<size_t>(bytes), '\0');
        if (bytes > 0)
            WideCharToMultiByte(CP_UTF8, 0, logText_.c_str(), static_cast<int>(logText_.size()), &utf8[0], bytes,
                                nullptr, nullptr);
        HANDLE f = CreateFileW(o_.logFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        if (f != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(f, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
            CloseHandle(f);
        }
    }
    if (o_.probe) {
        responsiveness.Stop();
        Print(responsiveness.Summary());
    }
    Print(L"messages answered: " + std::to_wstring(messages_));
    // The started program's own exit code (a repair or uninstall waits for
    // its relaunched copy and returns that one's).
    DWORD code = STILL_ACTIVE;
    if (result != 2 && WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    if (code != STILL_ACTIVE) Print(L"exit code: " + std::to_wstring(code));
    Print(L"result: " + std::to_wstring(result));
    if (worker_) CloseHandle(worker_);
    CloseHandle(pi.hProcess);
    return result;
}

const wchar_t kUsage[] =
    L"usage: zerda_robot install <setup.exe> <folder|-> [options]\n"
    L"         starts the setup, agrees on the agreement page when it shows and in the wizard's\n"
    L"         agreement row, types <folder> into the folder box (\"-\" keeps the proposal), presses\n"
    L"         Install, answers the message boxes, then presses Finish\n"
    L"       zerda_robot repair|uninstall <command line> [options]\n"
    L"         runs the command line (e.g. \"C:\\...\\installer.exe /n {GUID} /r\"), waits for the repair or\n"
    L"         uninstall dialog (whichever process shows it), presses its action button, then Finish\n"
    L"options:\n"
    L"  --screens <dir>      save a BMP of every dialog state passed (numbered)\n"
    L"  --log <file>         write the dialog's log box text there, UTF-8, exactly\n"
    L"  --answer <caption>=<yes|no|ok|cancel|retry>\n"
    L"                       how to answer message boxes with that caption (repeatable; defaults:\n"
    L"                       the overwrite question Yes, the file-conflict question No, the restart\n"
    L"                       question No, others OK/Yes)\n"
    L"  --no-extras          clear both boxes of the finish page before Finish\n"
    L"  --decline-licence    decline on the agreement page\n"
    L"  --timeout <seconds>  give up after this long (default 300)\n"
    L"  --cwd <dir>          start the command line in this folder (a shortcut's working folder)\n"
    L"  --go-on              on a process list: Force End, then go on once it offers to\n"
    L"  --press-again        once the overwrite question is answered, click \"I agree\", Install and\n"
    L"                       Cancel of the wizard again\n"
    L"  --probe              send WM_NULL to every visible window of the setup's processes all the\n"
    L"                       run long and print the longest stretch one went unanswered (\"probe:\");\n"
    L"                       the setup's windows are left unmanaged meanwhile\n"
    L"exit codes: 0 finished and the program ended; 1 usage; 2 timed out or the program ended early;\n"
    L"  3 the wizard came back to its folder page (then it is closed); 4 the agreement was declined;\n"
    L"  5 a repair or uninstall ended with a message before its dialog; 6 a repair or uninstall dialog\n"
    L"  stayed ready after a message or the process list was answered (then it is closed).\n"
    L"A folder argument ending with a backslash needs it doubled before a closing quotation mark\n"
    L"(\"C:\\Folder\\\\\").";

int Usage()
{
    Print(kUsage);
    return 1;
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) return Usage();
    Options o;
    o.mode = argv[1];
    o.target = argv[2];
    int i = 3;
    if (o.mode == L"install") {
        if (argc < 4) return Usage();
        o.folder = argv[3];
        i = 4;
    } else if (o.mode != L"repair" && o.mode != L"uninstall") {
        return Usage();
    }
    for (; i < argc; ++i) {
        std::wstring a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == L"--screens" && hasValue) o.screens = argv[++i];
        else if (a == L"--log" && hasValue) o.logFile = argv[++i];
        else if (a == L"--cwd" && hasValue) o.workingFolder = argv[++i];
        else if (a == L"--timeout" && hasValue) o.timeoutMs = static_cast<DWORD>(_wtoi(argv[++i])) * 1000;
        else if (a == L"--no-extras") o.noExtras = true;
        else if (a == L"--probe") o.probe = true;
        else if (a == L"--decline-licence") o.declineLicence = true;
        else if (a == L"--go-on") o.goOn = true;
        else if (a == L"--press-again") o.pressAgain = true;
        else if (a == L"--answer" && hasValue) {
            std::wstring rule = argv[++i];
            size_t eq = rule.rfind(L'=');
            if (eq == std::wstring::npos) return Usage();
            o.answers[rule.substr(0, eq)] = rule.substr(eq + 1);
        } else {
            return Usage();
        }
    }
    Robot robot(o);
    return robot.Run();
}
