// Access to the program's own resources.
#pragma once

#include <windows.h>

#include <string>

// A string of the string table as Windows-1252; empty when there is none.
std::string LoadResourceString(UINT id);
std::wstring LoadResourceStringW(UINT id);
