// The opt-in trace a shipping team can ask a customer for: with CORVANE_TRACE naming a file, every step
// of a start, its time, the paths, the runtimes found and every result code are appended to it, one line
// each. Without that variable nothing is written and nothing changes.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace corvane
{
// One line: milliseconds since the first line of this process, then the text (printf-style, wide).
void Trace(const wchar_t* szFormat, ...);

// A step's result, traced with the step's name and passed on unchanged.
HRESULT TraceStep(const wchar_t* szStep, HRESULT hr);
} // namespace corvane
