// Long steps on the launcher's one thread: the messages served between pieces of work, and how far the
// unpacking has come passed to whoever shows it.
#include "progress.h"

#include "message_pump.h"

namespace corvane
{
namespace
{
// The longest a message waits between two pieces of work, besides the piece itself.
const DWORD c_dwPumpIntervalMs = 20;
// An unpacking done sooner shows nothing: a bar that only flickers up tells the user nothing.
const DWORD c_dwShowAfterMs = 500;
// Each showing redraws the whole layered window: often enough to move smoothly, no more.
const DWORD c_dwShowIntervalMs = 100;

struct CProgress
{
    PfnShowProgress pfnShow = nullptr;
    ULONGLONG ullTotal = 0;
    ULONGLONG ullDone = 0;
    DWORD dwBegin = 0;
    DWORD dwLastPump = 0;
    DWORD dwLastShown = 0;
    bool fShown = false;
};
CProgress g_progress;

void ShowProgress(DWORD dwNow)
{
    g_progress.fShown = true;
    g_progress.dwLastShown = dwNow;
    const ULONGLONG ullDone =
        g_progress.ullDone < g_progress.ullTotal ? g_progress.ullDone : g_progress.ullTotal;
    g_progress.pfnShow(ullDone, g_progress.ullTotal);
}
} // namespace

void SetProgressSink(PfnShowProgress pfnShow)
{
    g_progress.pfnShow = pfnShow;
}

void BeginProgress(ULONGLONG ullTotal)
{
    g_progress.ullTotal = ullTotal;
    g_progress.ullDone = 0;
    g_progress.dwBegin = GetTickCount();
    g_progress.fShown = false;
}

void StepProgress(ULONGLONG ullBytes)
{
    g_progress.ullDone += ullBytes;
    const DWORD dwNow = GetTickCount();
    if (dwNow - g_progress.dwLastPump < c_dwPumpIntervalMs) return;
    g_progress.dwLastPump = dwNow;
    PumpWaitingMessages();
    if (g_progress.pfnShow && g_progress.ullTotal != 0 && dwNow - g_progress.dwBegin >= c_dwShowAfterMs &&
        dwNow - g_progress.dwLastShown >= c_dwShowIntervalMs)
        ShowProgress(dwNow);
}

void EndProgress()
{
    if (g_progress.fShown && g_progress.pfnShow)
    {
        g_progress.ullDone = g_progress.ullTotal;
        ShowProgress(GetTickCount());
    }
    g_progress.ullTotal = 0;
    g_progress.fShown = false;
}
} // namespace corvane
