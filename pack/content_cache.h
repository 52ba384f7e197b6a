// The content cache folder: where the product pack is unpacked, and the folders made in it.
#pragma once

#include "base/com_support.h"

namespace corvane
{
// The pack file's name in the cache folder.
const wchar_t c_szPackFileName[] = L"ProductContent.chm";

// True when the system can create a path of that length without the long-path prefix: a file's shorter
// than MAX_PATH, a folder's short enough to leave room for an 8.3 name inside it (MAX_PATH - 12).
bool PathFits(size_t cchPath, bool fFolder);

// The cache folder below a temporary folder as GetTempPathW gives it (with or without its final "\"):
// Skarnveld\Corvane\v<version>\ProductContentCache.
_bstr_t GetContentCacheFolderBelow(const wchar_t* szTempFolder);

// The per-version cache folder below the temporary folder, created if missing: S_OK; S_FALSE when the
// temporary folder is empty (nothing reported); otherwise the failure, reported.
HRESULT GetProductContentCacheFolder(_bstr_t& bsFolder);

// Creates a folder with the ones above it; one that exists already is fine. A failure, a path too long
// for a folder, or success without an item there afterwards is reported with szSentenceStart, the quoted
// path and a full stop.
HRESULT CreateCacheFolder(const _bstr_t& bsFolder, const wchar_t* szSentenceStart);
} // namespace corvane
