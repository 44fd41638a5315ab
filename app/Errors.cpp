#include "app/Errors.h"

#ifdef _WIN32
#include <windows.h>
#include "win/TextCodec.h"
#else
#include <cstring>
#endif

std::string SystemErrorText(unsigned long osError)
{
#ifdef _WIN32
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, osError, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n != 0 && buffer ? std::wstring(buffer, n) : std::wstring();
    if (buffer) LocalFree(buffer);
    // Without its line end.
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    return NarrowCp1252(text);
#else
    return std::strerror(static_cast<int>(osError));
#endif
}

std::string NumberedErrorText(unsigned long number, const std::string& text)
{
    return "(" + std::to_string(number) + ") - " + text;
}

std::string CFileException::GetErrorMessage() const
{
    std::string text = "Error en el archivo " + m_strFileName + ": " + SystemErrorText(m_lOsError);
    if (text.back() != '.') text += '.';
    return text;
}
