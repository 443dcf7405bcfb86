#include "engine_test_support.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstring>

#include "base/bounded_string.h"
#include "common/test_support.h"

void SetProductField(size_t offset, size_t capacity, const std::wstring& text)
{
    BoundedCopy(ProductText(g_setup, offset), capacity, text.c_str());
}

ReportWindows::ReportWindows()
{
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    frame_ = CreateWindowExW(0, L"STATIC", L"report", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
    log_ = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL, 0, 0,
                           380, 200, frame_, nullptr, nullptr, nullptr);
    bar_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD, 0, 210, 380, 10, frame_, nullptr, nullptr, nullptr);
    g_setup.logBox = log_;
    g_setup.progressBar = bar_;
}

ReportWindows::~ReportWindows()
{
    g_setup.logBox = nullptr;
    g_setup.progressBar = nullptr;
    DestroyWindow(frame_);
}

std::wstring ReportWindows::LogText() const
{
    int n = GetWindowTextLengthW(log_);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    GetWindowTextW(log_, &text[0], n + 1);
    text.resize(static_cast<size_t>(n));
    return text;
}

int ReportWindows::BarPosition() const { return static_cast<int>(SendMessageW(bar_, PBM_GETPOS, 0, 0)); }

std::wstring FixtureDriverPath() { return BuildDir() + L"\\tests\\engine\\engine_ime_fixture.dll"; }

