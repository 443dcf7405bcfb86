// A small window framework in the manner of the classic C++ dialog libraries:
// CWnd wraps a window handle, CDialog runs a modal dialog from a resource
// template, binds controls in DoDataExchange and routes messages through
// overridable handlers and a per-class command map.
#pragma once
#include <windows.h>
#include <commctrl.h>

class CWnd {
public:
    HWND m_hWnd = nullptr;

    CWnd() = default;
    explicit CWnd(HWND hwnd) : m_hWnd(hwnd) {}
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    void Attach(HWND hwnd) { m_hWnd = hwnd; }
    HWND Detach() { HWND h = m_hWnd; m_hWnd = nullptr; return h; }

    LRESULT SendMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const
    { return ::SendMessageW(m_hWnd, msg, wp, lp); }
    BOOL PostMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const
    { return ::PostMessageW(m_hWnd, msg, wp, lp); }

    void SetWindowText(const wchar_t* text) const { ::SetWindowTextW(m_hWnd, text); }
    // Copies at most capacity - 1 characters and always terminates.
    int GetWindowText(wchar_t* buffer, int capacity) const;
    BOOL ShowWindow(int cmd) const { return ::ShowWindow(m_hWnd, cmd); }
    BOOL EnableWindow(BOOL enable) const { return ::EnableWindow(m_hWnd, enable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    void Invalidate(BOOL erase = TRUE) const { ::InvalidateRect(m_hWnd, nullptr, erase); }
    void UpdateWindow() const { ::UpdateWindow(m_hWnd); }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    void SetIcon(HICON icon, BOOL big) const
    { ::SendMessageW(m_hWnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)); }
    void SetFont(HFONT font, BOOL redraw = TRUE) const
    { ::SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw); }
};

class CStatic : public CWnd {};
class CEdit : public CWnd {};

class CButton : public CWnd {
public:
    int GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
    void SetCheck(int state) const { SendMessage(BM_SETCHECK, state); }
};

class CProgressCtrl : public CWnd {
public:
    void SetRange(short lower, short upper) const { SendMessage(PBM_SETRANGE, 0, MAKELPARAM(lower, upper)); }
    int SetPos(int pos) const { return static_cast<int>(SendMessage(PBM_SETPOS, pos)); }
    int GetPos() const { return static_cast<int>(SendMessage(PBM_GETPOS)); }
};

class CListCtrl : public CWnd {
public:
    int InsertColumn(int index, const wchar_t* heading, int format, int width) const;
    int InsertItem(int index, const wchar_t* text) const;
    BOOL SetItemText(int item, int subItem, const wchar_t* text) const;
    // Copies at most capacity - 1 characters and always terminates.
    int GetItemText(int item, int subItem, wchar_t* buffer, int capacity) const;
    int GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }
    BOOL DeleteAllItems() const { return static_cast<BOOL>(SendMessage(LVM_DELETEALLITEMS)); }
    DWORD SetExtendedStyle(DWORD style) const
    { return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, style)); }
};

// Owns a GDI font.
class CFont {
public:
    HFONT m_hFont = nullptr;
    CFont() = default;
    ~CFont() { DeleteObject(); }
    CFont(const CFont&) = delete;
    CFont& operator=(const CFont&) = delete;
    BOOL CreateFontIndirect(const LOGFONTW& lf);
    // Takes over a font made elsewhere, releasing the one held.
    void Attach(HFONT font)
    {
        DeleteObject();
        m_hFont = font;
    }
    void DeleteObject();
    operator HFONT() const { return m_hFont; }
};

class CDialog;

class CDataExchange {
public:
    CDataExchange(CDialog* dialog, BOOL saveAndValidate)
        : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
    CDialog* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};

// Binds a control of the dialog to a wrapper object.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

using CommandHandler = void (CDialog::*)();
struct CommandMapEntry {
    UINT id;
    UINT code;
    CommandHandler handler;
};

#define DECLARE_COMMAND_MAP() \
protected: \
    const CommandMapEntry* GetCommandMap() const override;

#define BEGIN_COMMAND_MAP(theClass) \
    const CommandMapEntry* theClass::GetCommandMap() const \
    { \
        typedef theClass ThisClass; \
        static const CommandMapEntry entries[] = {

#define ON_BN_CLICKED(id, memberFn) \
    { static_cast<UINT>(id), BN_CLICKED, static_cast<CommandHandler>(&ThisClass::memberFn) },

#define ON_COMMAND_CODE(id, code, memberFn) \
    { static_cast<UINT>(id), static_cast<UINT>(code), static_cast<CommandHandler>(&ThisClass::memberFn) },

#define END_COMMAND_MAP() \
            { 0, 0, nullptr } \
        }; \
        return entries; \
    }

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    explicit CDialog(UINT templateId, HWND parent);
    ~CDialog() override;

    // Runs the dialog modally; returns the value given to EndDialog, -1 when
    // the dialog could not be created.
    INT_PTR DoModal();
    void EndDialog(INT_PTR result);
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    UINT TemplateId() const { return m_templateId; }
    void SetParentWindow(HWND parent) { m_parent = parent; }

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual const CommandMapEntry* GetCommandMap() const;

    // Overridable handlers; each returns true when it handled the message.
    virtual bool OnTimer(UINT_PTR timerId);
    virtual bool OnDrawItem(int controlId, DRAWITEMSTRUCT* item);
    virtual bool OnPaint();
    virtual bool OnSetCursor(HWND hwnd, UINT hitTest, UINT message, BOOL& result);
    virtual HCURSOR OnQueryDragIcon();
    virtual bool OnNotify(int controlId, NMHDR* header, LRESULT& result);
    // The window moved to a screen of another DPI. The dialog manager then
    // rescales the dialog and its controls by itself (Windows 10 1703 and
    // later); what the dialog sized in pixels of its own is left to this.
    virtual void OnDpiChanged(UINT dpi);
    // Anything else; return true and set result to handle it.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    bool RouteCommand(UINT id, UINT code);

    UINT m_templateId;
    HWND m_parent;
};

// The window that counts as the application's main window (the running
// dialog); owner of message boxes raised without one.
void SetMainWindow(CWnd* window);
HWND GetMainWindowHandle();

// Runs call(context) on the thread that serves `window` (a dialog of this
// framework) and returns once it has run there, so that a window asked for
// by a worker is made and owned by the window's own thread. Runs in place
// when the window is this thread's, none, gone or no dialog of this kind.
// The window's thread must never wait for the caller.
void RunOnWindowThread(HWND window, void (*call)(void* context), void* context);
// The owner for a modal window asked for by `window`: the window itself, or,
// while another modal window (an agreement page, a folder chooser) holds it
// disabled, that one, so that the new window's end gives back the input
// where it was.
HWND ModalOwner(HWND window);

// Whether a top-level window of this process exists, hidden ones included:
// the windows that a message posted to HWND_BROADCAST reaches here.
bool ProcessHasTopLevelWindow();

// Test seam: called once on the dialog's own thread, inside its modal loop,
// after OnInitDialog; it plays the person (clicks buttons through messages).
using DialogDriver = void (*)(CDialog* dialog, void* user);
void SetDialogDriver(DialogDriver driver, void* user);
