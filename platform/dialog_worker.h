// Work that must not hold up a window: a dialog's work on a thread of its
// own, and a wait that keeps serving the calling thread's messages.
#pragma once
#include <windows.h>

// What a DialogWorker posts to its dialog when the work has ended; wParam is
// 1 when the work succeeded, else 0.
constexpr UINT kWorkEndedMessage = WM_APP + 0x101;

// Runs one piece of a dialog's work on a thread of its own, so that the
// dialog keeps answering; the dialog learns of the end by kWorkEndedMessage.
class DialogWorker {
public:
    DialogWorker() = default;
    ~DialogWorker() { Join(); }
    DialogWorker(const DialogWorker&) = delete;
    DialogWorker& operator=(const DialogWorker&) = delete;

    // False when no thread could be started (the caller may do the work itself).
    bool Start(HWND dialog, bool (*work)(void* context), void* context);
    // Waits for the thread to be gone; never call it on a window's thread
    // while the work may still send messages to that window.
    void Join();

private:
    static DWORD WINAPI Run(LPVOID self);
    HANDLE thread_ = nullptr;
    HWND dialog_ = nullptr;
    bool (*work_)(void*) = nullptr;
    void* context_ = nullptr;
};

// Runs work(context) on a thread of its own while the calling thread keeps
// serving its messages; returns when the work has ended. `busy` (may be
// null) takes no input meanwhile, so that a second click cannot start the
// same work again. Runs the work in place when no thread can be started.
void RunServingMessages(HWND busy, void (*work)(void* context), void* context);

// Waits at most timeoutMs for `handle` (null: only for the time) while the
// calling thread keeps serving its messages: its windows, a broadcast sent
// to every window, and the calls of a single-threaded COM apartment, which
// arrive as messages too. WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
DWORD WaitServingMessages(HANDLE handle, DWORD timeoutMs);
