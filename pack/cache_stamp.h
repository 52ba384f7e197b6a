// The cache stamp beside the cache folder: what makes a warm start possible without reading the pack.
#pragma once

#include "base/com_support.h"

namespace corvane
{
// The stamp's path: beside the folder, so that it is no file of the tree.
_bstr_t GetCacheStampPath(const _bstr_t& bsFolder);

// The stamp beside the cache folder names the digests of the pack that the folder was last filled from,
// whole: a start that finds it matching and every file of the right size has nothing to unpack.
bool IsCacheStampOf(const _bstr_t& bsFolder, const BYTE* pbStamp, DWORD cbStamp);
// Written once the whole tree is in place; a stamp that cannot be written only costs the next start a
// full check.
void WriteCacheStamp(const _bstr_t& bsFolder, const BYTE* pbStamp, DWORD cbStamp);
// Removed before any file of the folder changes, so that no stamp ever vouches for a half-filled folder:
// S_OK, or the failure, reported (the start must then change nothing).
HRESULT RemoveCacheStamp(const _bstr_t& bsFolder);
} // namespace corvane
