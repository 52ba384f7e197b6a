// Resources of the executable's own module, read in place.
#include "module_resource.h"

namespace corvane
{
namespace
{
EResourceStep FailedAt(EResourceStep step, DWORD& dwError)
{
    dwError = GetLastError();
    return step;
}
} // namespace

EResourceStep LoadRcdataResource(WORD wId, const BYTE*& pBytes, DWORD& dwSize, DWORD& dwError)
{
    const HRSRC hrsrc = FindResourceW(nullptr, MAKEINTRESOURCEW(wId), RT_RCDATA);
    if (!hrsrc) return FailedAt(ResourceFind, dwError);
    const HGLOBAL hglobal = LoadResource(nullptr, hrsrc);
    if (!hglobal) return FailedAt(ResourceLoad, dwError);
    pBytes = static_cast<const BYTE*>(LockResource(hglobal));
    if (!pBytes) return FailedAt(ResourceLock, dwError);
    dwSize = SizeofResource(nullptr, hrsrc);
    if (dwSize == 0) return FailedAt(ResourceMeasure, dwError);
    return ResourceReady;
}
} // namespace corvane
