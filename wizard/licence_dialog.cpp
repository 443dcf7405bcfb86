#include "wizard/licence_dialog.h"

#include <ole2.h>
#include <oleauto.h>

#include "base/bounded_string.h"
#include "base/setup_context.h"
#include "platform/system_library.h"
#include "resources/resource.h"

namespace {
const wchar_t kBrowserClsid[] = L"{8856F961-340A-11D0-A96B-00C04FD705A2}";
const wchar_t kHostClass[] = L"AtlAxWin";
const wchar_t kCaptionSuffix[] = L" - ئىشلىتىش كېلىشىمى";
constexpr DISPID kNavigate = 104;

using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);

AtlAxGetControlFn g_getControl = nullptr;
bool g_hostReady = false;
}  // namespace

bool EnableControlContainer()
{
    if (g_hostReady) return true;
    // atl.dll registers the "AtlAxWin" host window class; named in full, since
    // a bare name would find a planted atl.dll beside the program.
    HMODULE atl = LoadSystemLibrary(L"atl.dll");
    if (!atl) return false;
    auto init = reinterpret_cast<AtlAxWinInitFn>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")));
    auto get = reinterpret_cast<AtlAxGetControlFn>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxGetControl")));
    if (!init || !get || !init()) return false;
    g_getControl = get;
    g_hostReady = true;
    return true;
}

void ComposeLicenceAddress(const wchar_t* payloadFolder, wchar_t* out, size_t capacity)
{
    wchar_t page[MAX_PATH];
    BoundedFormat(page, MAX_PATH, L"%s\\License.html", payloadFolder);
    if (GetFileAttributesW(page) != INVALID_FILE_ATTRIBUTES)
        BoundedCopy(out, capacity, page);
    else
        BoundedFormat(out, capacity, L"mk:@MSITStore:%s\\main.chm::/License.html", payloadFolder);
}

CExplorer1::~CExplorer1()
{
    if (m_control) m_control->Release();
    m_control = nullptr;
}

BOOL CExplorer1::Create(HWND parent, const RECT& rect, int id)
{
    if (!EnableControlContainer()) return FALSE;
    HWND host = CreateWindowExW(0, kHostClass, kBrowserClsid, WS_CHILD | WS_VISIBLE | WS_TABSTOP, rect.left,
                                rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (!host) return FALSE;
    IUnknown* control = nullptr;
    if (FAILED(g_getControl(host, &control)) || !control) {
        DestroyWindow(host);
        return FALSE;
    }
    m_control = control;
    Attach(host);
    return TRUE;
}

void CExplorer1::Navigate(const wchar_t* address)
{
    BoundedCopy(m_address, MAX_PATH + 64, address);
    if (!m_control) return;
    IDispatch* dispatch = nullptr;
    if (FAILED(m_control->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) || !dispatch) return;
    // Arguments run backwards: the address last, then flags, target frame,
    // post data and headers as empty variant pointers.
    VARIANTARG args[5];
    for (VARIANTARG& a : args) {
        VariantInit(&a);
        a.vt = VT_VARIANT | VT_BYREF;
        a.pvarVal = nullptr;
    }
    args[4].vt = VT_BSTR;
    args[4].bstrVal = SysAllocString(m_address);
    DISPPARAMS params{args, nullptr, 5, 0};
    dispatch->Invoke(kNavigate, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    SysFreeString(args[4].bstrVal);
    dispatch->Release();
}

CZD_Install_Licence::CZD_Install_Licence(HWND parent) : CDialog(IDD_INSTALL_LICENCE, parent)
{
    m_hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_INSTALL));
}

void CZD_Install_Licence::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_BROWSER, m_browser);
}

BOOL CZD_Install_Licence::OnInitDialog()
{
    // The browser takes the place of the template's placeholder; without a
    // control host the placeholder stays and the buttons still work.
    HWND placeholder = GetDlgItem(IDC_BROWSER);
    if (placeholder && !m_browser.m_hWnd) {
        RECT r;
        GetWindowRect(placeholder, &r);
        MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
        if (m_browser.Create(m_hWnd, r, 0)) {
            DestroyWindow(placeholder);
            SetWindowLongPtrW(m_browser.m_hWnd, GWLP_ID, IDC_BROWSER);
            SetWindowPos(m_browser.m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    }
    CDialog::OnInitDialog();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    wchar_t address[MAX_PATH + 64];
    ComposeLicenceAddress(g_setup.payloadFolder, address, MAX_PATH + 64);
    m_browser.Navigate(address);

    wchar_t displayName[kDisplayNameChars];
    BoundedCopyN(displayName, kDisplayNameChars, DisplayName(g_setup), kDisplayNameChars - 1);
    wchar_t caption[128];
    BoundedFormat(caption, 128, L"%s%s", displayName, kCaptionSuffix);
    SetWindowText(caption);
    return TRUE;
}
