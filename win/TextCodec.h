// Conversion between the program's Windows-1252 byte strings and the UTF-16 of the W API.
// The code page is always 1252, never the process's ANSI code page.
#pragma once

#include <string>
#include <string_view>

std::wstring WidenCp1252(std::string_view text);

// Characters that Windows-1252 cannot hold become '?'.
std::string NarrowCp1252(std::wstring_view text);
