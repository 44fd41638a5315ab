// The help-desk mailboxes offered by the send-message dialog. The list travels as one text:
// one entry a line, "name = address".
#pragma once

#include <string>
#include <string_view>
#include <vector>

inline constexpr char kHelpDeskName[] = "Zandu";
inline constexpr char kHelpDeskAddress[] = "mesadeayuda@zandu.com.ar";
inline constexpr char kRecipientSeparator[] = " = ";
// More entries than anyone would choose from; a huge count in the file must not stall us.
inline constexpr int kMaxRecipients = 100;

struct RecipientEntry {
    std::string name;
    std::string address;
};

// The single entry used before the configuration file has been obtained.
std::string BuiltInRecipientList();

// One entry per line: the name before the first " = ", the address after it (a CR before
// the line feed dropped). Lines without the separator are skipped.
std::vector<RecipientEntry> SplitRecipientList(std::string_view list);
