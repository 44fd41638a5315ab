#include "app/Identity.h"

bool IsValidKitId(std::string_view kitId)
{
    return kitId.size() == kKitIdLength;
}

std::string WorkstationId(std::string_view kitId)
{
    return std::string(kitId.substr(2, 3)) + std::string(kitId.substr(6, 5));
}

std::string WorkstationFileName(std::string_view kitId, std::string_view extension)
{
    return WorkstationId(kitId) + std::string(extension);
}
