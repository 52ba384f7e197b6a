// Waiting on the launcher's one thread while its windows (the splash) go on answering their messages.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace corvane
{
// Handles the messages waiting for the thread, so that its windows answer. A request to quit is not the
// launcher's to act on: it is posted again for whoever runs a loop afterwards, and true is returned.
bool PumpWaitingMessages();

// Waits for the object (or, when it is null, for the time alone) while the thread's windows keep
// answering; true once the object is signalled or abandoned, false when the time ran out.
bool WaitPumpingMessages(HANDLE hObject, DWORD dwTimeoutMs);
} // namespace corvane
