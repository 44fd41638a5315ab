// The frame's decisions that need no window: the timer's phases, the tray state after a cycle
// without news, and which category news shows first.
#pragma once

#include "retrieval/MessageFiles.h"

// Selector index of each category.
enum MessageCategory : int {
    CATEGORY_ADMINISTRATIVO = 0,
    CATEGORY_COMERCIAL = 1,
    CATEGORY_GENERAL = 2,
    CATEGORY_OPERATIVO = 3,
};
inline constexpr int kCategoryCount = 4;

// The change-mask bit of the category at selector index `index`.
unsigned char CategoryBit(int index);

// The category shown after a fetch: the first changed one in the order Información General,
// Administrativo, Operativo, Comercial; Información General when none of them changed.
int ShownCategory(unsigned char changeMask);

// The timer's phases: 100 ms, 1.5 s (the first fetch), then 30 s ticks with a fetch every
// `ticksPerFetch` of them.
struct FrameTimer {
    bool started = false;
    bool periodic = false;
    int tickCounter = 1;
    int ticksPerFetch = 1;
};
struct TickAction {
    unsigned period = 0;       // the timer's new period in ms; 0 keeps it
    bool fetch = false;        // a cycle runs now
    bool readRefresh = false;  // ticks per fetch come from the file this cycle brings
};
inline constexpr unsigned kFirstTickMs = 100;
inline constexpr unsigned kSecondTickMs = 1500;
inline constexpr unsigned kPeriodicTickMs = 30000;
TickAction AdvanceTimer(FrameTimer& timer);

// The tray state to show after a cycle with `outcome` other than news; 0 leaves it alone.
int TrayAfterOutcome(int outcome, int currentTray);
