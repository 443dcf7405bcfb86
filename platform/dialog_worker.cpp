#include "platform/dialog_worker.h"

namespace {

struct ServedCall {
    void (*work)(void*);
    void* context;
};

DWORD WINAPI RunServedCall(LPVOID call)
{
    auto* c = static_cast<ServedCall*>(call);
    c->work(c->context);
    return 0;
}

}  // namespace

bool DialogWorker::Start(HWND dialog, bool (*work)(void*), void* context)
{
    Join();
    dialog_ = dialog;
    work_ = work;
    context_ = context;
    thread_ = CreateThread(nullptr, 0, &DialogWorker::Run, this, 0, nullptr);
    return thread_ != nullptr;
}

void DialogWorker::Join()
{
    if (!thread_) return;
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
}

DWORD WINAPI DialogWorker::Run(LPVOID self)
{
    auto* worker = static_cast<DialogWorker*>(self);
    bool done = worker->work_(worker->context_);
    PostMessageW(worker->dialog_, kWorkEndedMessage, done ? 1 : 0, 0);
    return 0;
}

void RunServingMessages(HWND busy, void (*work)(void*), void* context)
{
    if (!work) return;
    ServedCall call{work, context};
    HANDLE thread = CreateThread(nullptr, 0, &RunServedCall, &call, 0, nullptr);
    if (!thread) {
        work(context);
        return;
    }
    bool disabled = busy && IsWindowEnabled(busy);
    HWND focus = GetFocus();
    if (disabled) EnableWindow(busy, FALSE);

    // The work's own thread: nothing else can end it.
    if (WaitServingMessages(thread, INFINITE) != WAIT_OBJECT_0) WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);

    if (disabled && IsWindow(busy)) {
        EnableWindow(busy, TRUE);
        if (focus && IsWindow(focus)) SetFocus(focus);
    }
}

DWORD WaitServingMessages(HANDLE handle, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    bool quit = false;
    WPARAM quitCode = 0;
    DWORD result = WAIT_TIMEOUT;
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        DWORD left = timeoutMs == INFINITE ? INFINITE : (elapsed >= timeoutMs ? 0 : timeoutMs - elapsed);
        DWORD wait = MsgWaitForMultipleObjectsEx(handle ? 1 : 0, handle ? &handle : nullptr, left, QS_ALLINPUT,
                                                 MWMO_INPUTAVAILABLE);
        if (handle && wait == WAIT_OBJECT_0) {
            result = WAIT_OBJECT_0;
            break;
        }
        if (wait == WAIT_TIMEOUT) break;
        if (wait != (handle ? WAIT_OBJECT_0 + 1 : WAIT_OBJECT_0)) {
            result = WAIT_FAILED;
            break;
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            // Kept for the loop that owns the thread.
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = msg.wParam;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (quit) PostQuitMessage(static_cast<int>(quitCode));
    return result;
}
