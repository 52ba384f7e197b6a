// The operating-system gate: Windows NT 5.1 or later.
#pragma once

#include "base/com_support.h"

namespace corvane
{
// True when the queried record names Windows NT 5.1 or later. A failed query counts as unsupported:
// GetVersionExW fails where the Unicode API is not implemented, that is on the non-NT systems.
bool IsSupportedOperatingSystem(bool fQueried, const OSVERSIONINFOW& osvi);

// S_OK on a supported system; otherwise tells the user and returns E_ABORT.
HRESULT CheckOperatingSystem();
} // namespace corvane
