// The product pack: the packed application written to the cache folder and opened as a storage.
#pragma once

#include "base/com_support.h"

namespace corvane
{
// The pack file opened read-only through ITStorage, written first when missing or of another size:
// S_OK; S_FALSE when the executable carries no pack (nothing reported); otherwise the failure, reported.
HRESULT OpenProductPack(const _bstr_t& bsFolder, IStoragePtr& oStorage);
} // namespace corvane
