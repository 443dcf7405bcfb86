#include "payload/payload_rest.h"

#include "base/run_log.h"
#include "payload/archive.h"
#include "payload/payload_preload.h"
#include "payload/worker_threads.h"

namespace {

constexpr DWORD kShowEveryMs = 30;

struct RestRun {
    SetupContext* ctx;
    void (*unpacked)();
};
RestRun g_run{};
WorkerThreads g_writer{};
volatile LONG g_percent = 0;
bool g_written = true;

void CountWritten(const wchar_t*, int32_t done, int32_t total)
{
    if (total > 0) InterlockedExchange(&g_percent, static_cast<LONG>(static_cast<int64_t>(done) * 100 / total));
}

DWORD WINAPI WriteRest(void*)
{
    SetupContext& ctx = *g_run.ctx;
    g_written = UnpackEntries(TakePreloadedRest(), ctx.payloadFolder, &CountWritten) && SplitOwnFile(ctx);
    if (g_written && g_run.unpacked) g_run.unpacked();
    return 0;
}

}  // namespace

void StartPayloadRest(SetupContext& ctx, void (*unpacked)())
{
    if (!PreloadedRestPending()) {
        if (unpacked) unpacked();
        return;
    }
    RunLog(L"The payload's other entries are unpacked behind the wizard");
    g_run = RestRun{&ctx, unpacked};
    g_percent = 0;
    // The writing is what the payload's unpacking always was; only its
    // moment changes.
    if (StartWorkerThreads(g_writer, 1, &WriteRest, nullptr) == 0) {
        // Written here, now: its reading must not wait for the wizard.
        LetPreloadRestBegin();
        WriteRest(nullptr);
    }
}

bool FinishPayloadRest(void (*shown)(int percent, void* context), void* context)
{
    // Also when the wizard never showed (an agreement declined).
    LetPreloadRestBegin();
    if (g_writer.count > 0) {
        while (WaitForSingleObject(g_writer.threads[0], kShowEveryMs) == WAIT_TIMEOUT)
            if (shown) shown(static_cast<int>(g_percent), context);
        JoinWorkerThreads(g_writer);
    }
    return g_written;
}
