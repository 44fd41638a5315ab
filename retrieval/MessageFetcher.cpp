// Placeholder until the fetch cycle lands: no cycle ever connects.
#include "retrieval/MessageFetcher.h"

#include "app/Identity.h"

CMessageFetcher::CMessageFetcher() : CMessageFiles(&GetKitId) {}

CMessageFetcher::~CMessageFetcher() = default;

unsigned char CMessageFetcher::FetchAll()
{
    m_nOutcome = OUTCOME_NO_CONNECTION;
    return 0;
}
