// Rules for names that must survive as Windows file and folder names, and the case folding readers use.
#pragma once
#include <string>

namespace corvane_pack
{
// Empty when the component can be a Windows file or folder name (the launcher's rule, pack/name_rule.h);
// otherwise why not.
std::string CheckComponent(const std::string& utf8);

// Length in UTF-16 code units (what Windows' path limits count); requires valid UTF-8.
size_t Utf16Length(const std::string& utf8);

// The same text in UTF-16, surrogate pairs above U+FFFF; requires valid UTF-8.
std::u16string Utf16(const std::string& utf8);

bool IsValidUtf8(const std::string& s);

// Key under which two names collide in a case-insensitive lookup, as the launcher folds them.
std::u16string CaseFoldKey(const std::string& utf8);
} // namespace corvane_pack
