// zerda_robot: plays the person at the setup program's windows, through
// ordinary window messages, on the (virtual) display. Its modes and options:
// kUsage below, printed when it is started without them.
//
// Prints one line per event ("window:", "message:", "log:", "header:" with the
// header band's text when it changes) in UTF-8 (a box or list made by another
// thread than its dialog's says so), and the
// started program's exit code ("exit code:") once it has ended.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
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
const wchar_t kBrowseTitle[] = L"قاچىلاش مۇندەرىجىسىنى تاللاڭ...";

constexpr int kFolderEdit = 1022, kAgree = 1001, kDisagree = 1003, kLog = 1006, kHomePage = 1007, kNews = 1009,
              kHeader = 1032;
constexpr int kForceEnd = 1015, kGoOn = 1017;

struct Options {
    std::wstring mode, target, folder, screens, logFile, workingFolder;
    std::map<std::wstring, std::wstring> answers;
    bool noExtras = false, declineLicence = false, probe = false, goOn = false, pressAgain = false, keys = false;
    DWORD timeoutMs = 300000;
    int dpi = 0;
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

bool WaitFor(const std::function<bool()>& done, DWORD ms = 3000)
{
    for (DWORD start = GetTickCount(); !done(); Sleep(20))
        if (GetTickCount() - start > ms) return false;
    return true;
}

// Where a typed key goes: the focused control of the window's thread.
HWND Focused(HWND window)
{
    GUITHREADINFO info{sizeof info};
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus ? info.hwndFocus : window;
}

void Key(HWND window, UINT key, bool alt = false)  // with Alt: a mnemonic
{
    HWND to = Focused(window);
    PostMessageW(to, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, key, alt ? 0x20000001 : 1);
    PostMessageW(to, alt ? WM_SYSKEYUP : WM_KEYUP, key, alt ? 0xE0000001 : 0xC0000001);
    Sleep(100);
}

void Tab(HWND dialog)
{
    HWND was = Focused(dialog);
    Key(dialog, VK_TAB);
    WaitFor([&] { return Focused(dialog) != was; }, 1000);
}

bool TabTo(HWND dialog, int id)
{
    for (int i = 0; i < 16 && GetDlgCtrlID(Focused(dialog)) != id; ++i) Tab(dialog);
    return GetDlgCtrlID(Focused(dialog)) == id;
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

    void NoteHeader(HWND dialog)
    {
        std::wstring text = Text(GetDlgItem(dialog, kHeader));
        if (text.empty() || headers_[dialog] == text) return;
        headers_[dialog] = text;
        for (size_t at; (at = text.find(L"\r\n")) != std::wstring::npos;) text.replace(at, 2, L" | ");
        Print(L"header: " + text);
    }

    // The band's text comes with its first painting, which may follow the
    // dialog's showing: its first state is noted before anything is pressed.
    void NoteFirstHeader(HWND dialog)
    {
        WaitFor([&] { return NoteHeader(dialog), !headers_[dialog].empty(); });
    }

    // The band as the screen shows it, once per dialog: the icon's coloured
    // square (48 pixels at 96 DPI less its transparent rim) and the height of
    // the first line's ink (the font's height at this DPI less its empty top
    // and bottom).
    void MeasureHeader(HWND dialog, int fontHeight)
    {
        if (!o_.dpi || !measured_.insert(dialog).second) return;
        HWND band = GetDlgItem(dialog, kHeader);
        WaitFor([&] { return !Text(band).empty(); });
        Sleep(300);
        RECT r;
        GetWindowRect(band, &r);
        const int w = r.right - r.left, h = r.bottom - r.top;
        BITMAPINFO info{{sizeof info.bmiHeader, w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
        void* bits = nullptr;
        HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
        HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(memory, dib);
        BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
        GdiFlush();
        auto pixel = [&](int x, int y, bool ink) {  // ink: dark and grey; else: coloured
            const BYTE* p = static_cast<const BYTE*>(bits) + 4 * (static_cast<size_t>(y) * w + x);
            int spread = std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]});
            return ink ? spread < 40 && p[0] + p[1] + p[2] < 384 : spread > 60;
        };
        int left = w, right = -1, top = h, bottom = -1, lineTop = -1, lineBottom = -1;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (pixel(x, y, false)) left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = y;
        // Rows of ink closer than `gap` are one line (the dots above and below the letters).
        for (int y = 0, gap = std::max(3, o_.dpi / 32); y < h && (lineBottom < 0 || y - lineBottom < gap); ++y)
            for (int x = 0; x < left; ++x)
                if (pixel(x, y, true)) lineBottom = y, lineTop = lineTop < 0 ? y : lineTop;
        SelectObject(memory, old);
        DeleteObject(dib);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        const int icon = MulDiv(48, o_.dpi, 96), font = MulDiv(fontHeight, o_.dpi, 96), ink = lineBottom - lineTop + 1;
        auto within = [](int v, int low, int high) { return v >= low && v <= high; };
        bool ok = within(right - left + 1, icon * 8 / 10, icon) && within(bottom - top + 1, icon * 8 / 10, icon) &&
                  lineTop >= 0 && within(ink, font * 3 / 4, font);
        Print(L"scale: icon " + std::to_wstring(right - left + 1) + L"x" + std::to_wstring(bottom - top + 1) + L" of " +
              std::to_wstring(icon) + L", first line's ink " + std::to_wstring(ink) + L" of " + std::to_wstring(font) +
              (ok ? L" ok" : L" WRONG"));
    }

    void KeysReport(bool done, const std::wstring& what) { Print((done ? L"keys: " : L"keys: FAILED ") + what); }

    // The wizard's page by keys alone (the folder as proposed): Browse and the
    // agreement by their mnemonics (each closed with Esc), the agreement row
    // by arrow and Space, one round of Tab, Install by its mnemonic.
    void WizardByKeys(HWND h)
    {
        auto await = [&](const std::function<bool(const std::wstring&)>& caption) {
            HWND found = nullptr;
            WaitFor([&] {
                for (HWND d : DialogWindows()) found = caption(Text(d)) ? d : found;
                return found && (Focused(found) == found || IsChild(found, Focused(found)));
            }, 10000);
            if (found) licences_.insert(found), Key(found, VK_ESCAPE);
            return found && WaitFor([&] { return IsChild(h, Focused(h)); });
        };
        Key(h, 'B', true);
        KeysReport(await([](const std::wstring& c) { return c == kBrowseTitle; }), L"Alt+B, Esc: the folder chooser");
        Key(h, 'L', true);
        KeysReport(await([](const std::wstring& c) { return EndsWith(c, kLicenceSuffix); }) && Checked(h, kDisagree),
                   L"Alt+L, Esc: the agreement declined");
        KeysReport(TabTo(h, kDisagree), L"Tab to the agreement row");
        Key(h, VK_UP);
        if (!Checked(h, kAgree)) Key(h, VK_SPACE);
        KeysReport(WaitFor([&] { return Checked(h, kAgree) && Enabled(h, IDOK); }), L"agreed");
        std::wstring order;
        for (int i = 0; i < 12 && (i == 0 ? TabTo(h, kFolderEdit) : GetDlgCtrlID(Focused(h)) != kFolderEdit); ++i) {
            order += std::to_wstring(GetDlgCtrlID(Focused(h))) + L" ";
            Tab(h);
        }
        Print(L"tab order: " + order);
        Key(h, 'S', true);
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
        if (HWND owner = GetWindow(box, GW_OWNER)) NoteHeader(owner);
        Print(L"message: " + caption + L" | " + MessageText(box) + L" -> " + std::to_wstring(id) + ThreadNote(box));
        Shot(box, L"message");
        ++messages_;
        if (o_.keys && TabTo(box, id)) return Key(box, VK_SPACE);
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
        NoteHeader(h);
        if (phase_ == 0) {
            SeeDialog(h);
            NoteFirstHeader(h);
            Print(L"window: " + Text(h));
            Shot(h, L"wizard");
            MeasureHeader(h, 20);
            if (o_.keys) {
                WizardByKeys(h);
                phase_ = 1;
                pressedAt_ = GetTickCount();
                return;
            }
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
            // By keys, each box by its mnemonic: cleared and, unless to stay clear, checked again.
            for (int id : {kHomePage, kNews})
                for (int press = 0; o_.keys && press < (o_.noExtras ? 1 : 2); ++press) {
                    const bool was = Checked(h, id);
                    Key(h, id == kHomePage ? 'H' : 'Z', true);
                    KeysReport(WaitFor([&] { return Checked(h, id) != was; }), L"mnemonic of " + std::to_wstring(id));
                }
            if (o_.keys) {
                Key(h, VK_RETURN);  // Finish is the default button
                phase_ = 2;
                return;
            }
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
        NoteHeader(h);
        if (phase_ == 0) {
            SeeDialog(h);
            NoteFirstHeader(h);
            Print(L"window: " + Text(h));
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            worker_ = OpenProcess(SYNCHRONIZE, FALSE, pid);
            Shot(h, o_.mode.c_str());
            MeasureHeader(h, 19);
            if (button == kFinishText) {  // nothing to do (e.g. the backup is missing)
                phase_ = 1;
                return;
            }
            // Posted: the dialog works inside this click, and a process list it
            // opens there needs the robot free to answer it.
            PostMessageW(h, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(h, IDOK)));
            phase_ = 1;
            messagesAtPress_ = messages_;
            // The running sequence's header, until the sequence ends or asks.
            const std::wstring ready = headers_[h];
            WaitFor([&] { return NoteHeader(h), headers_[h] != ready || Text(GetDlgItem(h, IDOK)) == kFinishText || !IsWindowEnabled(h); });
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
    std::set<HWND> licences_, answered_, lists_, goneOn_, measured_;
    std::map<HWND, std::wstring> headers_;
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
    L"  --keys               drive the wizard by keystrokes alone, posted to the focused control,\n"
    L"                       keeping the proposed folder; prints \"tab order:\" and \"keys:\" lines\n"
    L"  --dpi <n>            the screen's DPI: each header band is measured on the screen once\n"
    L"                       (\"scale: ...\", ending \"ok\" or \"WRONG\")\n"
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
    SetProcessDPIAware();  // screen pixels, not coordinates scaled for a program unaware of DPI
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
        else if (a == L"--keys") o.keys = true;
        else if (a == L"--dpi" && hasValue) o.dpi = _wtoi(argv[++i]);
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
