// The end of old releases' caches: what a start leaves behind of the other versions of its product.
#pragma once

#include "base/com_support.h"

namespace corvane
{
// Below the product's folder (two levels above the cache folder), removes the cache of every version other
// than the current one and the newest other one, which a user going back one release still finds filled.
// A version whose lock another start holds, or whose folder a running copy uses, is passed by. Only
// folders named "v<a>.<b>.<c>.<d>" are touched, and links are removed, never entered. S_OK; S_FALSE
// without a cache folder; else the first failure, not reported: nothing here may end or hold up a start.
HRESULT RemoveOldContentVersions(const _bstr_t& bsContentFolder);
} // namespace corvane
