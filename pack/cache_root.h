// The root the content cache lies below: an administrator's policy, else the user's variable, else the
// temporary folder.
#pragma once

#include "base/com_support.h"

namespace corvane
{
// The root: the policy value CacheRoot (REG_SZ or REG_EXPAND_SZ) under
// HKEY_LOCAL_MACHINE\Software\Policies\<maker>\<product>, else the variable CORVANE_CACHE_ROOT, else the
// temporary folder. S_OK; S_FALSE when the temporary folder is empty (nothing reported); otherwise the
// failure, reported: a root from the policy or the variable must be a folder that files can be added to.
HRESULT GetContentCacheRoot(_bstr_t& bsRoot);
} // namespace corvane
