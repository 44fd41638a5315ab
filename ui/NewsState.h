// What the user has and has not seen of the news: a seen flag for each category that keeps the
// tray at "Hay mensajes!" (every one but Información General), the categories the last balloon
// announced, and the tray state and balloon they give. No window: the frame shows the answers.
#pragma once

#include "ui/FrameRules.h"

class CNewsState {
public:
    // What the frame shows after a cycle with news.
    struct News {
        int shown = CATEGORY_GENERAL;      // the category in the view
        bool seen[kCategoryCount] = {};    // by selector index: its envelope is open
        int tray = 0;                      // the tray state
        unsigned char balloon = 0;         // the categories a balloon names; 0: no balloon
    };

    // A cycle brought news of `changeMask`: every flag follows this news alone, and news of
    // categories announced and still unseen is not announced again.
    News OnNews(unsigned char changeMask);
    // The user chose category `index` (none outside 0 to 3) after a last cycle with
    // `lastOutcome`: the tray state to show, 0 to leave it.
    int OnChoice(int index, int lastOutcome);

    // Announced news still unseen (change-mask bits): a new taskbar announces it again.
    unsigned char AnnouncedUnseen() const noexcept;
    // What a click on the balloon shows: the first announced category still unseen, else the
    // first announced; -1 before any announcement.
    int BalloonCategory() const noexcept;
    bool AllSeen() const noexcept;
    // Información General counts as always seen.
    bool IsSeen(int index) const noexcept;

private:
    bool m_bSeen[kCategoryCount] = {};
    unsigned char m_nAnnounced = 0;
};
