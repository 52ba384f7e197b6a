// The product's names and fixed identifiers, shared by every subsystem.
#pragma once

#include "product_config.h"

namespace corvane
{
// One pair of names for the window caption, the cache folder, the application name and all messages.
inline constexpr wchar_t g_szMakerName[] = CORVANE_MAKER_NAME;
inline constexpr wchar_t g_szProductName[] = CORVANE_PRODUCT_NAME;
} // namespace corvane
