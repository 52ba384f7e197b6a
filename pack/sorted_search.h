// Halving search in a sorted sequence, for the launcher and the pack tool alike (plain C++).
#pragma once

#include <cstddef>

namespace corvane
{
// The index of the item that compareAt(index) finds equal to the one sought (<0: the item at index sorts
// before it, 0: equal, >0: after), with fFound true; else where it would be inserted, with fFound false.
template <class TCompareAt> size_t FindSorted(size_t cItems, TCompareAt compareAt, bool& fFound)
{
    size_t nLow = 0;
    size_t nHigh = cItems;
    while (nLow < nHigh)
    {
        const size_t nMiddle = nLow + (nHigh - nLow) / 2;
        const int nOrder = compareAt(nMiddle);
        if (nOrder == 0)
        {
            fFound = true;
            return nMiddle;
        }
        if (nOrder < 0)
            nLow = nMiddle + 1;
        else
            nHigh = nMiddle;
    }
    fFound = false;
    return nLow;
}
} // namespace corvane
