#include "win/TextCodec.h"

#include <windows.h>

namespace {
constexpr UINT kCodePage = 1252;
}

std::wstring WidenCp1252(std::string_view text)
{
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(kCodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(kCodePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string NarrowCp1252(std::wstring_view text)
{
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(kCodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      "?", nullptr);
    std::string narrow(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(kCodePage, 0, text.data(), static_cast<int>(text.size()), narrow.data(), n, "?",
                        nullptr);
    return narrow;
}
