// The agreement page (135) with the embedded web-browser control.
#pragma once
#include "platform/window.h"

// Wraps the system's web-browser ActiveX control.
class CExplorer1 : public CWnd {
public:
    ~CExplorer1() override;
    // Creates the control in `rect` of `parent`, with the given child id.
    BOOL Create(HWND parent, const RECT& rect, int id);
    // Invokes the browser's Navigate (dispatch member 104) with the address.
    void Navigate(const wchar_t* address);

private:
    struct IUnknown* m_control = nullptr;
};

class CZD_Install_Licence : public CDialog {
public:
    explicit CZD_Install_Licence(HWND parent = nullptr);
    CExplorer1 m_browser;  // control 1014
    HICON m_hIcon = nullptr;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
};
