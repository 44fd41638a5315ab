#include "request/RecipientList.h"

std::string BuiltInRecipientList()
{
    return std::string(kHelpDeskName) + kRecipientSeparator + kHelpDeskAddress;
}

std::vector<RecipientEntry> SplitRecipientList(std::string_view list)
{
    std::vector<RecipientEntry> entries;
    while (!list.empty()) {
        const std::size_t end = list.find('\n');
        std::string_view line = list.substr(0, end);
        list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::size_t separator = line.find(kRecipientSeparator);
        if (separator == std::string_view::npos) continue;
        entries.push_back({std::string(line.substr(0, separator)),
                           std::string(line.substr(separator + sizeof kRecipientSeparator - 1))});
    }
    return entries;
}
