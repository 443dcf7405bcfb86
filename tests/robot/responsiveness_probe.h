// Watches, from outside, whether the setup's windows keep answering: every
// visible top-level window of a setup process (a program whose name holds
// "setup", or installer.exe) is sent WM_NULL in turn, all the time the probe
// runs, and the longest stretch a window went unanswered is kept. A window of
// the probe's own, served by a thread that does nothing else, is probed the
// same way: its stretch is what the machine's load alone costs.
#pragma once
#include <windows.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace probe {

inline std::wstring LowerExeName(DWORD pid)
{
    std::wstring name;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return name;
    wchar_t path[MAX_PATH] = L"";
    DWORD length = MAX_PATH;
    if (QueryFullProcessImageNameW(process, 0, path, &length)) {
        const wchar_t* slash = wcsrchr(path, L'\\');
        name = slash ? slash + 1 : path;
    }
    CloseHandle(process);
    for (wchar_t& c : name)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return name;
}

inline bool IsSetupProgram(const std::wstring& lowerName)
{
    return lowerName.find(L"setup") != std::wstring::npos || lowerName == L"installer.exe";
}

// Under Wine without a window manager, the thread that shows or hides a
// managed (captioned) window waits up to two seconds for a window manager
// that never answers; on Windows showing a window costs no such wait. For as
// long as this object lives, the named programs' windows are left unmanaged
// (Wine draws their frames itself), so that the probe sees the program's own
// waits only. Set-up of the test prefix, not of the product.
class UnmanagedWindows {
public:
    explicit UnmanagedWindows(const std::vector<std::wstring>& exeNames)
    {
        for (const std::wstring& name : exeNames) {
            std::wstring app = L"Software\\Wine\\AppDefaults\\" + name;
            HKEY k = nullptr;
            bool appKnown = RegOpenKeyExW(HKEY_CURRENT_USER, app.c_str(), 0, KEY_READ, &k) == ERROR_SUCCESS;
            if (appKnown) RegCloseKey(k);
            if (RegCreateKeyExW(HKEY_CURRENT_USER, (app + L"\\X11 Driver").c_str(), 0, nullptr, 0,
                                KEY_READ | KEY_WRITE, nullptr, &k, nullptr) != ERROR_SUCCESS)
                continue;
            bool valueKnown = RegQueryValueExW(k, L"Managed", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
            const wchar_t no[] = L"N";
            if (!valueKnown)
                RegSetValueExW(k, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(no), sizeof no);
            RegCloseKey(k);
            // Only what was added here goes again; a setting of its own stays.
            if (!appKnown) added_.push_back(app);
        }
    }
    ~UnmanagedWindows()
    {
        for (const std::wstring& app : added_) RegDeleteTreeW(HKEY_CURRENT_USER, app.c_str());
    }
    UnmanagedWindows(const UnmanagedWindows&) = delete;
    UnmanagedWindows& operator=(const UnmanagedWindows&) = delete;

private:
    std::vector<std::wstring> added_;
};

class ResponsivenessProbe {
public:
    ~ResponsivenessProbe() { Stop(); }

    void Start()
    {
        Stop();
        longest_ = referenceLongest_ = referenceSince_ = longestFrom_ = 0;
        started_ = GetTickCount();
        probes_ = 0;
        caption_.clear();
        pending_.clear();
        setupProcess_.clear();
        stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        reference_ = CreateThread(nullptr, 0, &ResponsivenessProbe::ServeReference, this, 0, nullptr);
        ready_ = ready;
        WaitForSingleObject(ready, 10000);
        CloseHandle(ready);
        thread_ = CreateThread(nullptr, 0, &ResponsivenessProbe::Loop, this, 0, nullptr);
    }

    void Stop()
    {
        if (!thread_) return;
        SetEvent(stop_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
        if (referenceWindow_) PostMessageW(referenceWindow_, WM_CLOSE, 0, 0);
        WaitForSingleObject(reference_, 10000);
        CloseHandle(reference_);
        CloseHandle(stop_);
        reference_ = stop_ = nullptr;
        referenceWindow_ = nullptr;
    }

    DWORD Longest() const { return longest_; }
    DWORD ReferenceLongest() const { return referenceLongest_; }
    unsigned Probes() const { return probes_; }

    // "probe: longest unanswered N ms (caption), reference M ms, K answers,
    // from T ms on" (T counted from the start of the probe)
    std::wstring Summary() const
    {
        wchar_t numbers[160];
        swprintf(numbers, 160, L"probe: longest unanswered %lu ms (", longest_);
        wchar_t tail[160];
        swprintf(tail, 160, L"), reference %lu ms, %u answers, from %lu ms on", referenceLongest_, probes_,
                 longestFrom_);
        return numbers + caption_ + tail;
    }

private:
    static constexpr DWORD kSliceMs = 100;
    static constexpr DWORD kRoundMs = 50;

    static DWORD WINAPI ServeReference(LPVOID self)
    {
        auto* p = static_cast<ResponsivenessProbe*>(self);
        p->referenceWindow_ = CreateWindowExW(0, L"STATIC", L"probe reference", WS_POPUP, 0, 0, 10, 10, nullptr,
                                              nullptr, GetModuleHandleW(nullptr), nullptr);
        SetEvent(p->ready_);
        MSG msg;
        while (p->referenceWindow_ && GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_CLOSE) break;
            DispatchMessageW(&msg);
        }
        if (p->referenceWindow_) DestroyWindow(p->referenceWindow_);
        return 0;
    }

    static DWORD WINAPI Loop(LPVOID self)
    {
        auto* p = static_cast<ResponsivenessProbe*>(self);
        do p->Round();
        while (WaitForSingleObject(p->stop_, kRoundMs) == WAIT_TIMEOUT);
        return 0;
    }

    static BOOL CALLBACK Collect(HWND window, LPARAM self)
    {
        auto* p = reinterpret_cast<ResponsivenessProbe*>(self);
        if (!IsWindowVisible(window)) return TRUE;
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid == GetCurrentProcessId()) return TRUE;
        auto known = p->setupProcess_.find(pid);
        if (known == p->setupProcess_.end())
            known = p->setupProcess_.emplace(pid, IsSetupProgram(LowerExeName(pid))).first;
        if (known->second) p->windows_.push_back(window);
        return TRUE;
    }

    // The time since `since` (or the send) counts as one unanswered stretch.
    void Probe(HWND window, DWORD& since, DWORD& longest, bool keepCaption)
    {
        DWORD sent = GetTickCount();
        DWORD_PTR answer = 0;
        BOOL answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kSliceMs, &answer);
        DWORD now = GetTickCount();
        if (!answered && !IsWindow(window)) return;
        DWORD stretch = now - (since ? since : sent);
        if (stretch > longest) {
            longest = stretch;
            if (keepCaption) {
                longestFrom_ = (since ? since : sent) - started_;
                wchar_t caption[128] = L"";
                GetWindowTextW(window, caption, 128);
                caption_ = caption;
            }
        }
        if (answered) {
            since = 0;
            if (keepCaption) ++probes_;
        } else if (!since) {
            since = sent;
        }
    }

    void Round()
    {
        windows_.clear();
        EnumWindows(&ResponsivenessProbe::Collect, reinterpret_cast<LPARAM>(this));
        std::map<HWND, DWORD> still;
        for (HWND window : windows_) {
            DWORD since = pending_[window];
            Probe(window, since, longest_, true);
            if (IsWindow(window)) still[window] = since;
        }
        pending_.swap(still);
        if (referenceWindow_) Probe(referenceWindow_, referenceSince_, referenceLongest_, false);
    }

    HANDLE thread_ = nullptr, reference_ = nullptr, stop_ = nullptr, ready_ = nullptr;
    HWND referenceWindow_ = nullptr;
    DWORD longest_ = 0, referenceLongest_ = 0, referenceSince_ = 0, longestFrom_ = 0, started_ = 0;
    unsigned probes_ = 0;
    std::wstring caption_;
    std::map<HWND, DWORD> pending_;
    std::map<DWORD, bool> setupProcess_;
    std::vector<HWND> windows_;
};

}  // namespace probe
