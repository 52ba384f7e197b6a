// Waiting on the launcher's one thread while its windows go on answering.
#include "message_pump.h"

namespace corvane
{
namespace
{
// The rest of a wait that began at dwStart, or 0 once it is over.
DWORD TimeLeft(DWORD dwStart, DWORD dwTimeoutMs)
{
    const DWORD dwElapsed = GetTickCount() - dwStart;
    return dwElapsed >= dwTimeoutMs ? 0 : dwTimeoutMs - dwElapsed;
}

// A wait with no messages served: for what is left after a request to quit.
bool WaitWithoutMessages(HANDLE hObject, DWORD dwTimeoutMs)
{
    if (!hObject)
    {
        Sleep(dwTimeoutMs);
        return false;
    }
    const DWORD dwWait = WaitForSingleObject(hObject, dwTimeoutMs);
    return dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED;
}
} // namespace

bool WaitPumpingMessages(HANDLE hObject, DWORD dwTimeoutMs)
{
    const DWORD dwStart = GetTickCount();
    const DWORD nCount = hObject ? 1 : 0;
    // A wait of no time still looks once.
    for (bool fFirst = true;; fFirst = false)
    {
        const DWORD dwLeft = TimeLeft(dwStart, dwTimeoutMs);
        if (dwLeft == 0 && !fFirst) return false;
        const DWORD dwWait = MsgWaitForMultipleObjects(nCount, &hObject, FALSE, dwLeft, QS_ALLINPUT);
        if (hObject && (dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED_0)) return true;
        if (dwWait != WAIT_OBJECT_0 + nCount) return false;
        // After a request to quit, which stays for whoever runs a loop afterwards, no message is served.
        if (PumpWaitingMessages()) return WaitWithoutMessages(hObject, TimeLeft(dwStart, dwTimeoutMs));
    }
}

bool PumpWaitingMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    {
        if (msg.message == WM_QUIT)
        {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return true;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return false;
}
} // namespace corvane
