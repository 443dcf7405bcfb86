// The agreement page (135) with the embedded web-browser control.
#pragma once
#include "platform/window.h"

// Makes ActiveX hosting in dialogs available (the system's control host,
// atl.dll). Called once by the start routine; true when hosting works.
bool EnableControlContainer();

// The address the agreement page shows: <payload>\License.html when that file
// exists, else the page inside the payload's help file.
void ComposeLicenceAddress(const wchar_t* payloadFolder, wchar_t* out, size_t capacity);

// Wraps the system's web-browser ActiveX control.
class CExplorer1 : public CWnd {
public:
    ~CExplorer1() override;
    // Creates the control in `rect` of `parent`, with the given child id.
    BOOL Create(HWND parent, const RECT& rect, int id);
    // Invokes the browser's Navigate (dispatch member 104) with the address.
    void Navigate(const wchar_t* address);
    bool HasControl() const { return m_control != nullptr; }
    // The address last handed to Navigate (empty before).
    const wchar_t* Address() const { return m_address; }

private:
    struct IUnknown* m_control = nullptr;
    wchar_t m_address[MAX_PATH + 64] = L"";
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
