// The cases of the element-name rule, run against the pack tool and the launcher alike: what each must
// refuse, what each must take, and which names clash in one folder.
#pragma once

#include "name_rule.h"

namespace corvane
{
struct CNameCase
{
    const char16_t* pszName;
    ENameProblem problem;
};

const CNameCase c_nameCases[] = {
    {u"a.txt", ENameProblem::None},
    {u"Platform.UI.dll", ENameProblem::None},
    {u".hidden", ENameProblem::None},
    {u"x86", ENameProblem::None},
    {u"\u65E5\u672C.txt", ENameProblem::None},
    // Devices, with any extension and blanks before the dot, consoles, and ports 0-9 and superscripts.
    {u"CON", ENameProblem::Device},
    {u"prn", ENameProblem::Device},
    {u"Aux.txt", ENameProblem::Device},
    {u"nul.tar.gz", ENameProblem::Device},
    {u"NUL .txt", ENameProblem::Device},
    {u"con  .log", ENameProblem::Device},
    {u"CONIN$", ENameProblem::Device},
    {u"conout$.txt", ENameProblem::Device},
    {u"COM1", ENameProblem::Device},
    {u"lpt9.log", ENameProblem::Device},
    {u"COM0", ENameProblem::Device},
    {u"lpt0.txt", ENameProblem::Device},
    {u"COM\u00B9", ENameProblem::Device},
    {u"lpt\u00B2.txt", ENameProblem::Device},
    {u"COM\u00B3", ENameProblem::Device},
    // Near misses that are ordinary names.
    {u"CONSOLE", ENameProblem::None},
    {u"COM10", ENameProblem::None},
    {u"LPT", ENameProblem::None},
    {u"auxiliary.txt", ENameProblem::None},
    {u"con_", ENameProblem::None},
    {u"xNUL", ENameProblem::None},
    {u" NUL.txt", ENameProblem::None},
    {u"CONIN", ENameProblem::None},
    {u"CONIN$x", ENameProblem::None},
    {u"COM\u2074", ENameProblem::None},
    {u"LPT\u00B9\u00B2", ENameProblem::None},
    {u"NUL_.txt", ENameProblem::None},
    // Names that are not one file name in their own folder.
    {u"", ENameProblem::Empty},
    {u".", ENameProblem::DotName},
    {u"..", ENameProblem::DotName},
    {u"tab\there", ENameProblem::ControlCharacter},
    {u"a/b", ENameProblem::ReservedCharacter},
    {u"a\\b", ENameProblem::ReservedCharacter},
    {u"c:x", ENameProblem::ReservedCharacter},
    {u"a*", ENameProblem::ReservedCharacter},
    {u"q?", ENameProblem::ReservedCharacter},
    {u"<x>", ENameProblem::ReservedCharacter},
    {u"a|b", ENameProblem::ReservedCharacter},
    {u"say \"x", ENameProblem::ReservedCharacter},
    {u"trail.", ENameProblem::TrailingDotOrBlank},
    {u"trail ", ENameProblem::TrailingDotOrBlank},
    {u"AUX ", ENameProblem::TrailingDotOrBlank},
};

struct CNamePair
{
    const char16_t* pszFirst;
    const char16_t* pszSecond;
    bool fClash; // equal but for case: one file on the disk
};

const CNamePair c_namePairs[] = {
    {u"Dup.dll", u"dup.dll", true},
    {u"Lib", u"LIB", true},
    {u"\u00C4rger.txt", u"\u00E4RGER.TXT", true},
    {u"\u0391\u0392\u0393", u"\u03B1\u03B2\u03B3", true},
    {u"\u0416\u0443\u043A", u"\u0436\u0443\u043A", true},
    {u"\u0531", u"\u0561", true},
    {u"\uFF21", u"\uFF41", true},
    {u"\u0100\u0139", u"\u0101\u013A", true},
    {u"Stra\u00DFe", u"STRASSE", false},
    {u"lib", u"lib2", false},
    {u"a", u"b", false},
};
} // namespace corvane
