// Windows name checks (reserved characters, device names, trailing dot or blank, lengths) and case folding.
#include "names.h"

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

void Encode(uint32_t cp, std::string& out)
{
    if (cp < 0x80)
        out += static_cast<char>(cp);
    else if (cp < 0x800)
    {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    else if (cp < 0x10000)
    {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    else
    {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Simple lower-casing for the scripts likely in file names; Windows and libmspack fold these too.
uint32_t FoldCodePoint(uint32_t cp)
{
    if (cp >= 'A' && cp <= 'Z') return cp + 32;
    if ((cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) || (cp >= 0x391 && cp <= 0x3AB && cp != 0x3A2) ||
        (cp >= 0x410 && cp <= 0x42F))
        return cp + 32;
    if (cp >= 0x400 && cp <= 0x40F) return cp + 80;
    if (cp >= 0x100 && cp <= 0x17F && cp != 0x130 && cp != 0x131 && cp != 0x138 && cp != 0x149 &&
        cp != 0x178 && cp != 0x17F)
    {
        // Latin Extended-A pairs alternate upper/lower, starting even or odd in two runs.
        const bool bEvenUpper = (cp < 0x138) || (cp > 0x149 && cp < 0x179);
        if (bEvenUpper ? (cp % 2 == 0) : (cp % 2 == 1)) return cp + 1;
    }
    return cp;
}

bool IsDeviceName(const std::string& component)
{
    std::string stem = component.substr(0, component.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char& c : stem)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
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
    if (utf8.empty()) return "empty name";
    if (!IsValidUtf8(utf8)) return "name is not valid UTF-8";
    if (utf8 == "." || utf8 == "..") return "'.' and '..' cannot be names";
    for (unsigned char c : utf8)
    {
        if (c < 0x20) return "name contains a control character";
        if (std::string("<>:\"/\\|?*").find(static_cast<char>(c)) != std::string::npos)
            return std::string("name contains the reserved character '") + static_cast<char>(c) + "'";
    }
    if (utf8.back() == '.' || utf8.back() == ' ') return "name ends in a dot or blank";
    if (IsDeviceName(utf8)) return "name is a Windows device name";
    if (Utf16Length(utf8) > 255) return "name is longer than 255 characters";
    return std::string();
}

std::string CaseFoldKey(const std::string& utf8)
{
    std::vector<uint32_t> ar;
    if (!Decode(utf8, ar)) return utf8;
    std::string out;
    for (uint32_t cp : ar)
        Encode(FoldCodePoint(cp), out);
    return out;
}
} // namespace corvane_pack
