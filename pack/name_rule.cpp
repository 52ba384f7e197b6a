// The element-name rule shared by the pack tool and the launcher.
#include "name_rule.h"

namespace corvane
{
namespace
{
char16_t AsciiUpper(char16_t ch)
{
    return ch >= u'a' && ch <= u'z' ? static_cast<char16_t>(ch - 32) : ch;
}

bool StartsWithAsciiWord(const char16_t* psz, size_t cch, const char* szWord)
{
    size_t n = 0;
    for (; szWord[n]; ++n)
        if (n >= cch || AsciiUpper(psz[n]) != static_cast<char16_t>(szWord[n])) return false;
    return n == cch;
}

// Lower or upper half of a run of pairs (upper at the even or at the odd unit).
bool IsUpperOfPair(char16_t ch, char16_t chFirst, char16_t chLast, bool fEvenUpper)
{
    return ch >= chFirst && ch <= chLast && ((ch % 2 == 0) == fEvenUpper);
}
} // namespace

bool IsDeviceName(const char16_t* pszName, size_t cchName)
{
    // The system takes the part before the first dot, without the blanks that end it ("NUL .txt" is NUL).
    size_t cchBase = 0;
    while (cchBase < cchName && pszName[cchBase] != u'.')
        ++cchBase;
    while (cchBase > 0 && pszName[cchBase - 1] == u' ')
        --cchBase;
    const char* const c_devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* szDevice : c_devices)
        if (StartsWithAsciiWord(pszName, cchBase, szDevice)) return true;
    if (cchBase != 4 || !(StartsWithAsciiWord(pszName, 3, "COM") || StartsWithAsciiWord(pszName, 3, "LPT")))
        return false;
    const char16_t chNumber = pszName[3];
    return (chNumber >= u'0' && chNumber <= u'9') || chNumber == u'\u00B9' || chNumber == u'\u00B2' ||
           chNumber == u'\u00B3';
}

ENameProblem CheckElementName(const char16_t* pszName, size_t cchName)
{
    if (cchName == 0) return ENameProblem::Empty;
    if ((cchName == 1 && pszName[0] == u'.') || (cchName == 2 && pszName[0] == u'.' && pszName[1] == u'.'))
        return ENameProblem::DotName;
    for (size_t n = 0; n < cchName; ++n)
    {
        if (pszName[n] < 0x20) return ENameProblem::ControlCharacter;
        for (const char16_t* pch = u"<>:\"/\\|?*"; *pch; ++pch)
            if (pszName[n] == *pch) return ENameProblem::ReservedCharacter;
    }
    if (pszName[cchName - 1] == u'.' || pszName[cchName - 1] == u' ') return ENameProblem::TrailingDotOrBlank;
    if (IsDeviceName(pszName, cchName)) return ENameProblem::Device;
    if (cchName > 255) return ENameProblem::TooLong;
    return ENameProblem::None;
}

char16_t FoldCase(char16_t ch)
{
    if (ch >= u'A' && ch <= u'Z') return static_cast<char16_t>(ch + 32);
    if ((ch >= 0xC0 && ch <= 0xDE && ch != 0xD7) || (ch >= 0x391 && ch <= 0x3AB && ch != 0x3A2) ||
        (ch >= 0x410 && ch <= 0x42F) || (ch >= 0xFF21 && ch <= 0xFF3A))
        return static_cast<char16_t>(ch + 32);
    if (ch >= 0x400 && ch <= 0x40F) return static_cast<char16_t>(ch + 80);
    if (ch >= 0x531 && ch <= 0x556) return static_cast<char16_t>(ch + 48);
    if (ch == 0x386) return 0x3AC;
    if (ch >= 0x388 && ch <= 0x38A) return static_cast<char16_t>(ch + 37);
    if (ch == 0x38C) return 0x3CC;
    if (ch == 0x38E || ch == 0x38F) return static_cast<char16_t>(ch + 63);
    // Runs of upper/lower pairs: Latin Extended-A (two runs), Cyrillic, Latin Extended Additional.
    if (ch == 0x130 || ch == 0x131 || ch == 0x138 || ch == 0x149 || ch == 0x178 || ch == 0x17F) return ch;
    if (IsUpperOfPair(ch, 0x100, 0x137, true) || IsUpperOfPair(ch, 0x139, 0x148, false) ||
        IsUpperOfPair(ch, 0x14A, 0x177, true) || IsUpperOfPair(ch, 0x179, 0x17E, false) ||
        IsUpperOfPair(ch, 0x460, 0x481, true) || IsUpperOfPair(ch, 0x48A, 0x4BF, true) ||
        IsUpperOfPair(ch, 0x4D0, 0x52F, true) || IsUpperOfPair(ch, 0x1E00, 0x1E95, true) ||
        IsUpperOfPair(ch, 0x1EA0, 0x1EFF, true))
        return static_cast<char16_t>(ch + 1);
    return ch;
}
} // namespace corvane
