// Resources of the executable's own module, read in place.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace corvane
{
// How far reading a resource got: every call before the named one succeeded.
enum EResourceStep
{
    ResourceFind,
    ResourceLoad,
    ResourceLock,
    ResourceMeasure,
    ResourceReady
};

// The module's RT_RCDATA resource wId, its bytes used in place (never copied or freed): ResourceReady,
// or the step whose call failed, with that call's last-error code in dwError.
EResourceStep LoadRcdataResource(WORD wId, const BYTE*& pBytes, DWORD& dwSize, DWORD& dwError);
} // namespace corvane
