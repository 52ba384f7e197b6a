// Storage tree extraction: every stream of the pack becomes a file, every sub-storage a folder.
#pragma once

#include "launcher/com_support.h"

// The cache folder in which the whole pack lies unpacked, or empty when that could not be done.
_bstr_t PrepareProductContent();

// True when every element below the storage was extracted or found up to date; false at the first
// failure, which has been reported.
bool ExtractStorageTree(IStoragePtr oStorage, _bstr_t bsFolder);

// The element's own file name from the name a storage reports, or empty when it cannot be one.
_bstr_t GetElementFileName(const wchar_t* szReportedName);
