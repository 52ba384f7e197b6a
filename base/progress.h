// Long steps on the launcher's one thread: its windows go on answering between pieces of work, and the
// window that shows the start (the splash) learns how far the unpacking has come.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace corvane
{
// Shows how far the unpacking has come: the bytes done of the total (never more). Null: nobody shows it.
typedef void (*PfnShowProgress)(ULONGLONG ullDone, ULONGLONG ullTotal);
void SetProgressSink(PfnShowProgress pfnShow);

// The unpacking begins with this many bytes to write; 0 (not known) shows nothing.
void BeginProgress(ULONGLONG ullTotal);
// A piece of a long step is done, with the bytes it wrote or found in place (0 for a piece that only
// reads): the thread's windows answer, every few tens of milliseconds, and once the unpacking has run for
// half a second the sink shows how far it has come.
void StepProgress(ULONGLONG ullBytes);
// The whole tree is in place: a progress shown shows full.
void EndProgress();
} // namespace corvane
