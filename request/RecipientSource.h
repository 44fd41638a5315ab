// The recipient list that the send-message dialog offers, read from the "MailList" section of
// the configuration file once this run has obtained it.
#pragma once

#include <string>

#include "retrieval/MessageStore.h"

// At most kMaxRecipients entries; false, leaving `text` alone, until this run has obtained the
// configuration file.
bool ReadRecipientList(const CMessageStore& files, std::string& text);
