// A main frame whose cycle is a script (or the real one against the scripted web server) and
// whose timer periods are recorded instead of run.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <vector>

#include "ui/MainFrame.h"

namespace frame_test {

class CTestFrame : public CMainFrame {
public:
    CTestFrame(unsigned short port, unsigned long timeOut) : CMainFrame(port, timeOut) {}

    // The cycle, on the worker: gets the fetcher, sets its outcome, answers the change mask.
    // Empty: the real cycle.
    std::function<unsigned char(CMessageFetcher&)> fetch;
    std::atomic<int> fetches{0};
    std::vector<UINT> timerPeriods;

    void Script(int outcome, unsigned char mask)
    {
        fetch = [outcome, mask](CMessageFetcher& fetcher) {
            fetcher.m_nOutcome = outcome;
            return mask;
        };
    }
    CMessageFetcher& RealFetcher() { return MutableFetcher(); }

protected:
    unsigned char RunFetch() override
    {
        ++fetches;
        return fetch ? fetch(MutableFetcher()) : CMainFrame::RunFetch();
    }
    void StartTimer(UINT milliseconds) override { timerPeriods.push_back(milliseconds); }
};

} // namespace frame_test
