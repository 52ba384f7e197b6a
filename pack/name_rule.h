// Which names a product pack may hold: one rule for the pack tool, which refuses a folder that breaks it,
// and for the launcher, which refuses such a pack. Plain C++ on UTF-16 without the platform's headers, so
// that the build machine's tool compiles the same source as the launcher.
#pragma once

#include <cstddef>

namespace corvane
{
// Why a name cannot be one file or folder name in its own folder on Windows; None when it can.
enum class ENameProblem
{
    None,
    Empty,
    DotName,            // "." or ".."
    ControlCharacter,   // below U+0020
    ReservedCharacter,  // < > : " / \ | ? *
    TrailingDotOrBlank, // the system drops them, so the file would get another name
    Device,             // opens a device, with any extension
    TooLong,            // more than 255 UTF-16 units
};

ENameProblem CheckElementName(const char16_t* pszName, size_t cchName);

// True for the names that open a device, with or without an extension and blanks before the dot: CON,
// PRN, AUX, NUL, CONIN$, CONOUT$, and COM and LPT with a digit 0-9 or a superscript one, two or three.
bool IsDeviceName(const char16_t* pszName, size_t cchName);

// One UTF-16 unit as names equal but for case share it: simple case folding of the scripts file names
// use (Latin, Greek, Cyrillic, Armenian, full-width Latin); other units stand for themselves.
char16_t FoldCase(char16_t ch);
} // namespace corvane
