#include "platform/window.h"

#include "platform/system_library.h"

namespace {
const UINT kDriveMessage = WM_APP + 0x3F0;
const UINT kRunOnThreadMessage = WM_APP + 0x3F1;
DialogDriver g_driver = nullptr;
void* g_driverUser = nullptr;
CWnd* g_mainWindow = nullptr;

struct ThreadCall {
    void (*call)(void*);
    void* context;
    bool ran;
};

int CopyTerminated(wchar_t* buffer, int capacity, int copied)
{
    if (!buffer || capacity <= 0) return 0;
    if (copied < 0) copied = 0;
    if (copied >= capacity) copied = capacity - 1;
    buffer[copied] = L'\0';
    return copied;
}
}  // namespace

int CWnd::GetWindowText(wchar_t* buffer, int capacity) const
{
    if (!buffer || capacity <= 0) return 0;
    buffer[0] = L'\0';
    int n = ::GetWindowTextW(m_hWnd, buffer, capacity);
    return CopyTerminated(buffer, capacity, n);
}

int CListCtrl::InsertColumn(int index, const wchar_t* heading, int format, int width) const
{
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = format;
    column.cx = width;
    column.pszText = const_cast<wchar_t*>(heading);
    column.iSubItem = index;
    return static_cast<int>(SendMessage(LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column)));
}

int CListCtrl::InsertItem(int index, const wchar_t* text) const
{
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = const_cast<wchar_t*>(text);
    return static_cast<int>(SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

BOOL CListCtrl::SetItemText(int itemIndex, int subItem, const wchar_t* text) const
{
    LVITEMW item{};
    item.iSubItem = subItem;
    item.pszText = const_cast<wchar_t*>(text);
    return static_cast<BOOL>(SendMessage(LVM_SETITEMTEXTW, itemIndex, reinterpret_cast<LPARAM>(&item)));
}

int CListCtrl::GetItemText(int itemIndex, int subItem, wchar_t* buffer, int capacity) const
{
    if (!buffer || capacity <= 0) return 0;
    buffer[0] = L'\0';
    LVITEMW item{};
    item.iSubItem = subItem;
    item.pszText = buffer;
    item.cchTextMax = capacity;
    int n = static_cast<int>(SendMessage(LVM_GETITEMTEXTW, itemIndex, reinterpret_cast<LPARAM>(&item)));
    return CopyTerminated(buffer, capacity, n);
}

BOOL CFont::CreateFontIndirect(const LOGFONTW& lf)
{
    DeleteObject();
    m_hFont = ::CreateFontIndirectW(&lf);
    return m_hFont != nullptr;
}

void CFont::DeleteObject()
{
    if (m_hFont) ::DeleteObject(m_hFont);
    m_hFont = nullptr;
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control)
{
    if (!pDX || !pDX->m_pDlgWnd) return;
    if (!control.m_hWnd) control.Attach(::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, id));
}

CDialog::CDialog(UINT templateId, CWnd* parent)
    : m_templateId(templateId), m_parent(parent ? parent->m_hWnd : nullptr) {}

CDialog::CDialog(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}

CDialog::~CDialog()
{
    if (g_mainWindow == this) g_mainWindow = nullptr;
}

INT_PTR CDialog::DoModal()
{
    EnsureCommonControls();
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), m_parent,
                             &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(INT_PTR result) { ::EndDialog(m_hWnd, result); }

BOOL CDialog::UpdateData(BOOL saveAndValidate)
{
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }
void CDialog::DoDataExchange(CDataExchange*) {}
const CommandMapEntry* CDialog::GetCommandMap() const { return nullptr; }
bool CDialog::OnTimer(UINT_PTR) { return false; }
bool CDialog::OnDrawItem(int, DRAWITEMSTRUCT*) { return false; }
bool CDialog::OnPaint() { return false; }
bool CDialog::OnSetCursor(HWND, UINT, UINT, BOOL&) { return false; }
HCURSOR CDialog::OnQueryDragIcon() { return nullptr; }
bool CDialog::OnNotify(int, NMHDR*, LRESULT&) { return false; }
void CDialog::OnDpiChanged(UINT) {}
bool CDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

bool CDialog::RouteCommand(UINT id, UINT code)
{
    for (const CommandMapEntry* e = GetCommandMap(); e && e->handler; ++e) {
        if (e->id == id && e->code == code) {
            (this->*(e->handler))();
            return true;
        }
    }
    if (code == BN_CLICKED || code == 0) {
        if (id == IDOK) { OnOK(); return true; }
        if (id == IDCANCEL) { OnCancel(); return true; }
    }
    return false;
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, bool& handled)
{
    handled = true;
    switch (message) {
    case WM_COMMAND:
        handled = RouteCommand(LOWORD(wParam), HIWORD(wParam));
        return handled;
    case WM_TIMER:
        handled = OnTimer(wParam);
        return 0;
    case WM_DRAWITEM:
        handled = OnDrawItem(static_cast<int>(wParam), reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
        return handled ? TRUE : FALSE;
    case WM_PAINT:
        handled = OnPaint();
        return 0;
    case WM_SETCURSOR: {
        BOOL result = FALSE;
        handled = OnSetCursor(reinterpret_cast<HWND>(wParam), LOWORD(lParam), HIWORD(lParam), result);
        if (handled) ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
        return handled ? TRUE : FALSE;
    }
    case WM_QUERYDRAGICON: {
        HCURSOR cursor = OnQueryDragIcon();
        handled = cursor != nullptr;
        return reinterpret_cast<INT_PTR>(cursor);
    }
    case WM_NOTIFY: {
        LRESULT result = 0;
        handled = OnNotify(static_cast<int>(wParam), reinterpret_cast<NMHDR*>(lParam), result);
        if (handled) ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
        return handled ? TRUE : FALSE;
    }
    case WM_DPICHANGED:
        OnDpiChanged(LOWORD(wParam));
        handled = false;  // the dialog manager's own rescaling follows
        return FALSE;
    default: {
        INT_PTR result = 0;
        handled = OnMessage(message, wParam, lParam, result);
        return result;
    }
    }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDialog* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_hWnd = hwnd;
        BOOL focus = self->OnInitDialog();
        if (g_driver && ::IsWindow(hwnd)) ::PostMessageW(hwnd, kDriveMessage, 0, 0);
        return focus;
    }
    if (message == kRunOnThreadMessage && lParam) {
        auto* call = reinterpret_cast<ThreadCall*>(lParam);
        call->call(call->context);
        call->ran = true;
        return TRUE;
    }
    self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) return FALSE;
    if (message == kDriveMessage) {
        if (g_driver) g_driver(self, g_driverUser);
        return TRUE;
    }
    if (message == WM_NCDESTROY) {
        INT_PTR r = 0;
        bool handled = false;
        r = self->Dispatch(message, wParam, lParam, handled);
        self->m_hWnd = nullptr;
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        return handled ? r : FALSE;
    }
    bool handled = false;
    INT_PTR r = self->Dispatch(message, wParam, lParam, handled);
    return handled ? r : FALSE;
}

void RunOnWindowThread(HWND window, void (*call)(void*), void* context)
{
    if (!call) return;
    ThreadCall c{call, context, false};
    if (window && ::IsWindow(window) && ::GetWindowThreadProcessId(window, nullptr) != ::GetCurrentThreadId())
        ::SendMessageW(window, kRunOnThreadMessage, 0, reinterpret_cast<LPARAM>(&c));
    if (!c.ran) call(context);
}

HWND ModalOwner(HWND window)
{
    if (!window || !::IsWindow(window) || ::IsWindowEnabled(window)) return window;
    HWND popup = ::GetLastActivePopup(window);
    return popup && popup != window && ::IsWindowVisible(popup) && ::IsWindowEnabled(popup) ? popup : window;
}

void SetMainWindow(CWnd* window) { g_mainWindow = window; }
HWND GetMainWindowHandle() { return g_mainWindow ? g_mainWindow->m_hWnd : nullptr; }

bool ProcessHasTopLevelWindow()
{
    bool found = false;
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process != GetCurrentProcessId()) return TRUE;
            *reinterpret_cast<bool*>(context) = true;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

void SetDialogDriver(DialogDriver driver, void* user)
{
    g_driver = driver;
    g_driverUser = user;
}
