#pragma once
// The platform's own text for a Win32 error code (FormatMessageW), without the line
// break that ends it; a generic text naming the code when the platform has none.
// Used by the Win32 back ends only.

#include <string>

std::wstring SystemErrorText(unsigned long code);
