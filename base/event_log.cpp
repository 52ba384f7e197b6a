// The Application event log: one error event per box, written through a source opened for that event.
#include "event_log.h"

#include "product.h"
#include "unique_any.h"

#include <cwchar>

namespace corvane
{
namespace
{
typedef CUniqueAny<HANDLE, &DeregisterEventSource> CUniqueEventSource;

// The source is not registered with a message file, so the viewer shows the event's strings as they are.
const DWORD c_dwBoxEventId = 1000;
} // namespace

void WriteBoxEvent(const wchar_t* szText, HRESULT hr)
{
    // The box tells the user either way: a log that cannot be opened or written costs only the event.
    const CUniqueEventSource hSource(RegisterEventSourceW(nullptr, g_szProductName));
    if (!hSource.IsValid()) return;
    wchar_t szCode[16];
    swprintf(szCode, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    const wchar_t* rgszStrings[] = {szText, szCode};
    ReportEventW(hSource.Get(), EVENTLOG_ERROR_TYPE, 0, c_dwBoxEventId, nullptr, 2, 0, rgszStrings, nullptr);
}
} // namespace corvane
