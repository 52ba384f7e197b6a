// Storage tree extraction: every stream of the pack becomes a file, every sub-storage a folder.
#pragma once

#include "base/com_support.h"

namespace corvane
{
// The cache folder in which the whole pack lies unpacked: S_OK with the folder; S_FALSE when there is
// nothing to unpack (no pack, or no temporary folder), silently; otherwise the first failure, reported.
HRESULT PrepareProductContent(_bstr_t& bsContentFolder);
} // namespace corvane
