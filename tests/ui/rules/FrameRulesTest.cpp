// The frame's pure decisions: one table each.
#include <gtest/gtest.h>

#include <vector>

#include "res/resource.h"
#include "ui/FrameRules.h"

TEST(FrameRules, TimerPhasesAndTicksPerFetch)
{
    struct Row {
        int ticksPerFetch;
        int ticks;                  // periodic ticks after the first two
        std::vector<int> fetching;  // the periodic ticks that fetch
    };
    const Row rows[] = {{10, 25, {10, 20}}, {9, 27, {9, 18, 27}}, {2, 6, {2, 4, 6}}, {1, 3, {1, 2, 3}}};
    for (const Row& row : rows) {
        FrameTimer timer;
        const TickAction first = AdvanceTimer(timer);
        EXPECT_EQ(first.period, kSecondTickMs);
        EXPECT_FALSE(first.fetch);
        const TickAction second = AdvanceTimer(timer);
        EXPECT_EQ(second.period, kPeriodicTickMs);
        EXPECT_TRUE(second.fetch && second.readRefresh);
        timer.ticksPerFetch = row.ticksPerFetch;
        std::vector<int> fetching;
        for (int tick = 1; tick <= row.ticks; ++tick) {
            const TickAction action = AdvanceTimer(timer);
            EXPECT_EQ(action.period, 0u);
            EXPECT_FALSE(action.readRefresh);
            if (action.fetch) fetching.push_back(tick);
        }
        EXPECT_EQ(fetching, row.fetching) << row.ticksPerFetch;
    }
}

TEST(FrameRules, TrayStates)
{
    struct Row {
        int outcome, current, expected;
    };
    const Row outcomes[] = {{OUTCOME_NO_NEWS, IDI_NO_CONEXION, IDI_NO_MENSAJES}, {OUTCOME_NO_NEWS, IDI_HAY_MENSAJES, 0},
                            {OUTCOME_NO_NEWS, IDI_NO_MENSAJES, 0}, {OUTCOME_NO_CONNECTION, IDI_HAY_MENSAJES, IDI_NO_CONEXION},
                            {7, IDI_NO_CONEXION, 0}};
    for (const Row& row : outcomes) EXPECT_EQ(TrayAfterOutcome(row.outcome, row.current), row.expected) << row.outcome;
}
