#include "ui/FrameRules.h"

#include "res/resource.h"

namespace {

constexpr unsigned char kBits[kCategoryCount] = {CHANGED_ADMINISTRATIVO, CHANGED_COMERCIAL, CHANGED_GENERAL,
                                                 CHANGED_OPERATIVO};
constexpr int kShownPriority[kCategoryCount] = {CATEGORY_GENERAL, CATEGORY_ADMINISTRATIVO, CATEGORY_OPERATIVO,
                                                 CATEGORY_COMERCIAL};

} // namespace

unsigned char CategoryBit(int index)
{
    return index >= 0 && index < kCategoryCount ? kBits[index] : 0;
}

int ShownCategory(unsigned char changeMask)
{
    for (const int index : kShownPriority)
        if (changeMask & kBits[index]) return index;
    return CATEGORY_GENERAL;
}

TickAction AdvanceTimer(FrameTimer& timer)
{
    TickAction action;
    if (!timer.started) {
        timer.started = true;
        timer.periodic = false;
        action.period = kSecondTickMs;
    } else if (!timer.periodic) {
        timer.periodic = true;
        action = {kPeriodicTickMs, true, true};
    } else if (timer.tickCounter % timer.ticksPerFetch != 0) {
        ++timer.tickCounter;
    } else {
        timer.tickCounter = 1;
        action.fetch = true;
    }
    return action;
}

int TrayAfterOutcome(int outcome, int currentTray)
{
    switch (outcome) {
    // An earlier "Hay mensajes!" stays.
    case OUTCOME_NO_NEWS: return currentTray == IDI_NO_CONEXION ? IDI_NO_MENSAJES : 0;
    case OUTCOME_NO_CONNECTION: return IDI_NO_CONEXION;
    default: return 0;
    }
}
