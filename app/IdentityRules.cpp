#include "app/Identity.h"

namespace {

bool IsAsciiLetterOrDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

bool IsValidKitId(std::string_view kitId)
{
    return kitId.size() == kKitIdLength;
}

bool NamesWorkstationFiles(std::string_view kitId)
{
    if (!IsValidKitId(kitId)) return false;
    // These characters name files and go into request lines: no dot, separator or line end.
    for (const char c : WorkstationId(kitId))
        if (!IsAsciiLetterOrDigit(c)) return false;
    return true;
}

std::string WorkstationId(std::string_view kitId)
{
    return std::string(kitId.substr(2, 3)) + std::string(kitId.substr(6, 5));
}

std::string WorkstationFileName(std::string_view kitId, std::string_view extension)
{
    return WorkstationId(kitId) + std::string(extension);
}
