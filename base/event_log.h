// The trail administrators find in the Application event log: every box the launcher shows is also left
// there as an error event of the product's source, with the box's text and its result code.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace corvane
{
// One error event with two strings: the box's text and the code as "0x" and eight hex digits.
void WriteBoxEvent(const wchar_t* szText, HRESULT hr);
} // namespace corvane
