// The news state as one story of events, each with the state it leaves.
#include <gtest/gtest.h>

#include <string>

#include "res/resource.h"
#include "ui/NewsState.h"

namespace {

constexpr int A = CATEGORY_ADMINISTRATIVO, C = CATEGORY_COMERCIAL, G = CATEGORY_GENERAL, O = CATEGORY_OPERATIVO;
constexpr int kNone = OUTCOME_NO_CONNECTION, kConnected = OUTCOME_NO_NEWS;

// "1" for each category seen, by selector index.
std::string Seen(const CNewsState& state)
{
    std::string seen;
    for (int index = 0; index < kCategoryCount; ++index) seen += state.IsSeen(index) ? '1' : '0';
    return seen;
}

} // namespace

TEST(NewsState, EventsAndTheStateTheyLeave)
{
    // 'N' news of `arg` (the mask), 'C' the user chooses `arg` after a cycle with `outcome`;
    // then the category shown (news) and the tray answered, what is seen, the balloon's
    // categories, the announced news still unseen and the category a balloon click shows.
    struct Step {
        const char* name;
        char op;
        int arg, outcome, shown, tray;
        const char* seen;
        unsigned char balloon, unseen;
        int clicked;
    };
    const Step steps[] = {
        {"a choice before any news", 'C', A, kNone, -1, 0, "1010", 0, 0, -1},
        {"all three chosen, no connection yet", 'C', O, kNone, -1, 0, "1011", 0, 0, -1},
        {"", 'C', C, kNone, -1, 0, "1111", 0, 0, -1},
        {"chosen again once connected", 'C', C, kConnected, -1, IDI_NO_MENSAJES, "1111", 0, 0, -1},
        {"general and comercial", 'N', 1 | 8, OUTCOME_NEWS, G, IDI_HAY_MENSAJES, "1011", 1 | 8, 8, C},
        {"the announced and unseen again", 'N', 8, OUTCOME_NEWS, C, IDI_NO_MENSAJES, "1111", 0, 0, G},
        {"general and operativo", 'N', 1 | 4, OUTCOME_NEWS, G, IDI_HAY_MENSAJES, "1110", 1 | 4, 4, O},
        {"operativo chosen", 'C', O, OUTCOME_NEWS, -1, IDI_NO_MENSAJES, "1111", 0, 0, G},
        {"administrativo only", 'N', 2, OUTCOME_NEWS, A, IDI_NO_MENSAJES, "1111", 2, 0, A},
        {"three at once", 'N', 2 | 4 | 8, OUTCOME_NEWS, A, IDI_HAY_MENSAJES, "1010", 2 | 4 | 8, 4 | 8, O},
        {"a choice leaves one unseen", 'C', O, OUTCOME_NEWS, -1, 0, "1011", 0, 8, C},
        {"later news recomputes every flag", 'N', 4, OUTCOME_NEWS, O, IDI_NO_MENSAJES, "1111", 4, 0, O},
        {"no current item", 'C', -1, OUTCOME_NEWS, -1, IDI_NO_MENSAJES, "1111", 0, 0, O},
        {"all four, as a first cycle brings them", 'N', 15, OUTCOME_NEWS, G, IDI_HAY_MENSAJES, "0010", 15, 14, A},
        {"a mask of nothing shows general", 'N', 0x30, OUTCOME_NEWS, G, IDI_NO_MENSAJES, "1111", 0, 0, G},
    };
    CNewsState state;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.op == 'N') {
            const CNewsState::News news = state.OnNews(static_cast<unsigned char>(step.arg));
            EXPECT_EQ(news.shown, step.shown);
            EXPECT_EQ(news.tray, step.tray);
            EXPECT_EQ(news.balloon, step.balloon);
            for (int index = 0; index < kCategoryCount; ++index) EXPECT_EQ(news.seen[index], step.seen[index] == '1');
        } else {
            EXPECT_EQ(state.OnChoice(step.arg, step.outcome), step.tray);
        }
        EXPECT_EQ(Seen(state), step.seen);
        EXPECT_EQ(state.AllSeen(), std::string(step.seen) == "1111");
        EXPECT_EQ(state.AnnouncedUnseen(), step.unseen);
        EXPECT_EQ(state.BalloonCategory(), step.clicked);
    }
}
