#include "ui/NewsState.h"

#include "res/resource.h"

namespace {

constexpr unsigned char kAllCategories = CHANGED_GENERAL | CHANGED_ADMINISTRATIVO | CHANGED_OPERATIVO | CHANGED_COMERCIAL;

bool HasSeenFlag(int index)
{
    return index != CATEGORY_GENERAL && index >= 0 && index < kCategoryCount;
}

} // namespace

CNewsState::News CNewsState::OnNews(unsigned char changeMask)
{
    const unsigned char mask = changeMask & kAllCategories;
    const unsigned char fresh = mask & ~AnnouncedUnseen();
    News news;
    news.shown = ShownCategory(mask);
    for (int index = 0; index < kCategoryCount; ++index) {
        // Seen: the category shown, or one this news did not touch.
        news.seen[index] = index == news.shown || !(mask & CategoryBit(index));
        m_bSeen[index] = news.seen[index];
    }
    news.tray = AllSeen() ? IDI_NO_MENSAJES : IDI_HAY_MENSAJES;
    if (fresh) news.balloon = m_nAnnounced = mask;
    return news;
}

int CNewsState::OnChoice(int index, int lastOutcome)
{
    if (HasSeenFlag(index)) m_bSeen[index] = true;
    // Until a cycle has found the server, the tray keeps saying so.
    return lastOutcome != OUTCOME_NO_CONNECTION && AllSeen() ? IDI_NO_MENSAJES : 0;
}

unsigned char CNewsState::AnnouncedUnseen() const noexcept
{
    unsigned char unseen = 0;
    for (int index = 0; index < kCategoryCount; ++index)
        if (!IsSeen(index)) unseen |= CategoryBit(index);
    return unseen & m_nAnnounced;
}

int CNewsState::BalloonCategory() const noexcept
{
    if (!m_nAnnounced) return -1;
    const unsigned char unseen = AnnouncedUnseen();
    return ShownCategory(unseen ? unseen : m_nAnnounced);
}

bool CNewsState::AllSeen() const noexcept
{
    for (int index = 0; index < kCategoryCount; ++index)
        if (!IsSeen(index)) return false;
    return true;
}

bool CNewsState::IsSeen(int index) const noexcept
{
    return !HasSeenFlag(index) || m_bSeen[index];
}
