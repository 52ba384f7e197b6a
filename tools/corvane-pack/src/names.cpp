// UTF-8 and UTF-16 for names, and the launcher's element-name rule with the tool's messages.
#include "names.h"

#include "pack/name_rule.h"

#include <cstdint>
#include <vector>

namespace corvane_pack
{
namespace
{
// Decodes valid UTF-8 into code points; returns false on malformed input.
bool Decode(const std::string& s, std::vector<uint32_t>& arCp)
{
    arCp.clear();
    for (size_t i = 0; i < s.size();)
    {
        const uint8_t b = static_cast<uint8_t>(s[i]);
        int n;
        uint32_t cp;
        if (b < 0x80)
        {
            n = 0;
            cp = b;
        }
        else if ((b & 0xE0) == 0xC0)
        {
            n = 1;
            cp = b & 0x1F;
        }
        else if ((b & 0xF0) == 0xE0)
        {
            n = 2;
            cp = b & 0x0F;
        }
        else if ((b & 0xF8) == 0xF0)
        {
            n = 3;
            cp = b & 0x07;
        }
        else
            return false;
        if (i + n >= s.size() && n > 0) return false;
        for (int k = 1; k <= n; ++k)
        {
            const uint8_t c = static_cast<uint8_t>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        arCp.push_back(cp);
        i += n + 1;
    }
    return true;
}

} // namespace

bool IsValidUtf8(const std::string& s)
{
    std::vector<uint32_t> ar;
    return Decode(s, ar);
}

size_t Utf16Length(const std::string& utf8)
{
    std::vector<uint32_t> ar;
    Decode(utf8, ar);
    size_t n = 0;
    for (uint32_t cp : ar)
        n += cp >= 0x10000 ? 2 : 1;
    return n;
}

std::u16string Utf16(const std::string& utf8)
{
    std::vector<uint32_t> ar;
    Decode(utf8, ar);
    std::u16string str;
    for (uint32_t cp : ar)
    {
        if (cp < 0x10000)
        {
            str += static_cast<char16_t>(cp);
            continue;
        }
        cp -= 0x10000;
        str += static_cast<char16_t>(0xD800 + (cp >> 10));
        str += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
    return str;
}

std::string CheckComponent(const std::string& utf8)
{
    if (!utf8.empty() && !IsValidUtf8(utf8)) return "name is not valid UTF-8";
    const std::u16string str = Utf16(utf8);
    switch (corvane::CheckElementName(str.data(), str.size()))
    {
    case corvane::ENameProblem::None:
        return std::string();
    case corvane::ENameProblem::Empty:
        return "empty name";
    case corvane::ENameProblem::DotName:
        return "'.' and '..' cannot be names";
    case corvane::ENameProblem::ControlCharacter:
        return "name contains a control character";
    case corvane::ENameProblem::ReservedCharacter:
        for (char c : utf8)
            if (std::string("<>:\"/\\|?*").find(c) != std::string::npos)
                return std::string("name contains the reserved character '") + c + "'";
        break;
    case corvane::ENameProblem::TrailingDotOrBlank:
        return "name ends in a dot or blank";
    case corvane::ENameProblem::Device:
        return "name is a Windows device name";
    case corvane::ENameProblem::TooLong:
        return "name is longer than 255 characters";
    }
    return "name cannot be a Windows file name";
}

std::u16string CaseFoldKey(const std::string& utf8)
{
    std::u16string str = Utf16(utf8);
    for (char16_t& ch : str)
        ch = corvane::FoldCase(ch);
    return str;
}
} // namespace corvane_pack
