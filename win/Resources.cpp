#include "win/Resources.h"

#include "win/TextCodec.h"

std::wstring LoadResourceStringW(UINT id)
{
    const wchar_t* text = nullptr;
    // With a zero size LoadStringW answers a read-only pointer into the resource.
    const int n = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<wchar_t*>(&text), 0);
    return n > 0 && text ? std::wstring(text, static_cast<std::size_t>(n)) : std::wstring();
}

std::string LoadResourceString(UINT id)
{
    return NarrowCp1252(LoadResourceStringW(id));
}
