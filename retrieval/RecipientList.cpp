// The recipient list from the "MailList" section of the downloaded configuration file.
#include "retrieval/MessageFetcher.h"

#include <windows.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "request/RecipientList.h"
#include "win/TextCodec.h"

namespace {

std::string ProfileString(const std::wstring& key, const char* defaultValue, const std::wstring& path)
{
    wchar_t buffer[100] = {};
    const DWORD n = GetPrivateProfileStringW(L"MailList", key.c_str(), WidenCp1252(defaultValue).c_str(), buffer, 100,
                                             path.c_str());
    return NarrowCp1252(std::wstring_view(buffer, n));
}

} // namespace

bool CMessageFetcher::ReadRecipientList(std::string& text)
{
    // A cycle on the worker may be installing a new copy of the file meanwhile; the flag is
    // set under the same lock.
    const std::lock_guard lock(m_filesLock);
    if (!m_bConfigObtained) return false;
    wchar_t directory[500] = {};
    GetCurrentDirectoryW(500, directory);
    const std::wstring path = std::wstring(directory) + L"\\" + WidenCp1252(m_strConfigFile);

    const int count = std::min(static_cast<int>(GetPrivateProfileIntW(L"MailList", L"MailListCount", 1, path.c_str())),
                               kMaxRecipients);
    std::string list;
    for (int i = 1; i <= count; ++i) {
        list += ProfileString(L"Name" + std::to_wstring(i), kHelpDeskName, path);
        list += kRecipientSeparator;
        list += ProfileString(L"Address" + std::to_wstring(i), kHelpDeskAddress, path);
        if (i < count) list += '\n';
    }
    text = list;
    return true;
}
