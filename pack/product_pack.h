// The product pack: the packed application written to the cache folder and opened as a storage.
#pragma once

#include "launcher/com_support.h"

// The pack file opened read-only through ITStorage, written first when missing or of another size;
// null on failure (reported) or when the executable carries no pack (silent).
IStoragePtr OpenProductPack(_bstr_t bsFolder);
