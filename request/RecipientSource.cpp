#include "request/RecipientSource.h"

#include <algorithm>
#include <mutex>

#include "app/Settings.h"
#include "request/RecipientList.h"

bool ReadRecipientList(const CMessageStore& files, std::string& text)
{
    // A cycle on the worker may be installing a new copy of the file meanwhile; the flag is
    // set under the same lock.
    const std::lock_guard lock(files.Lock());
    if (!files.m_bConfigObtained) return false;
    const int count = std::min(ReadConfigInt("MailList", "MailListCount", 1), kMaxRecipients);
    std::string list;
    for (int i = 1; i <= count; ++i) {
        const std::string number = std::to_string(i);
        list += ReadConfigString("MailList", ("Name" + number).c_str(), kHelpDeskName, 100);
        list += kRecipientSeparator;
        list += ReadConfigString("MailList", ("Address" + number).c_str(), kHelpDeskAddress, 100);
        if (i < count) list += '\n';
    }
    text = list;
    return true;
}
