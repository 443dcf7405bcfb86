// Helpers of the engine tests: setup-context fields, a log box and progress
// bar to report into, fixture paths.
#pragma once
#include <windows.h>

#include <string>

#include "base/setup_context.h"
#include "common/test_support.h"

// Writes a text field of the product record, cut to its capacity.
void SetProductField(size_t offset, size_t capacity, const std::wstring& text);

// A hidden top-level window holding a multi-line read-only edit control and a
// progress bar; installs both in g_setup while it lives.
class ReportWindows {
public:
    ReportWindows();
    ~ReportWindows();
    std::wstring LogText() const;
    int BarPosition() const;
    HWND Log() const { return log_; }
    HWND Bar() const { return bar_; }

private:
    HWND frame_ = nullptr, log_ = nullptr, bar_ = nullptr;
};

// The fixture library with a version resource (FileVersion 1.2.3.4, 0409/04B0).
std::wstring FixtureDriverPath();

