// The framework check: the bound runtime, else the framework setup entries in the registry.
#pragma once

#include "version.h"

namespace corvane
{
// S_OK to go on, or what the requirements dialog answers when no full framework reaches the minimum.
HRESULT CheckFrameworkRequirement(CVersion4 verClrRequired, CVersion4 verNetfxRequired,
                                  CVersion4 verClrFound);

// The highest framework version installed directly or in its full edition, or all zero.
CVersion4 FindMaximumInstalledFramework();

// "v" or "V" and at least one more character: the rest read as components; otherwise all zero.
CVersion4 ParseRegistryKeyName(const wchar_t* szName);
} // namespace corvane
