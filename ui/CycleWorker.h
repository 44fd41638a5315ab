// The fetch cycle's worker thread, as the frame asks for it: start a cycle, take the result the
// worker posts (the message owns it), find a worker ended without a post, and stop one within
// a bounded wait. It holds no window of its own: the frame's handle, message and timer carry it.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "app/ErrorReport.h"
#include "retrieval/MessageFiles.h"

class CCycleWorker {
public:
    // What one cycle answers.
    struct Outcome {
        unsigned char mask = 0;
        int outcome = OUTCOME_NO_CONNECTION;
    };
    // One cycle as the worker runs it. It holds only what it owns or shares by shared_ptr: a
    // worker left behind at the end of the session outlives the frame.
    using Job = std::function<Outcome()>;
    using PostFunction = BOOL(WINAPI*)(HWND, UINT, WPARAM, LPARAM);
    // What the worker hands over, with the boxes the cycle would have shown.
    struct Result {
        Outcome cycle;
        std::exception_ptr error;
        std::vector<DeferredBox> boxes;
    };

    // The ended worker's result comes as kDoneMessage, its lParam a Result the message owns.
    static constexpr UINT kDoneMessage = WM_APP + 2;
    // While a cycle runs: a worker that could not post its result is found ended.
    static constexpr UINT_PTR kWatchTimerId = 2;

    CCycleWorker() = default;
    CCycleWorker(const CCycleWorker&) = delete;
    CCycleWorker& operator=(const CCycleWorker&) = delete;
    ~CCycleWorker();

    // Runs `job` on a new thread that posts its result to `window` through `post`. Throws when
    // no thread can be had.
    void Start(HWND window, Job job, PostFunction post);
    // The result of a kDoneMessage, once the worker that posted it has ended.
    std::unique_ptr<Result> TakeResult(LPARAM posted);
    // At the watch timer: true when the worker has ended without a post (the cycle is over).
    bool EndedUnposted();
    // Stops a running worker: `stop` ends its waits; one still there after a bounded wait (held
    // in a name lookup) is left behind once `abandon` has closed what it shares. A result
    // already posted is freed unseen. False when no worker was there.
    bool Stop(const std::function<void()>& stop, const std::function<void()>& abandon) noexcept;

private:
    struct End;
    static void Run(Job job, HWND window, PostFunction post, std::shared_ptr<End> end) noexcept;
    void Joined();

    HWND m_hWindow = nullptr;
    std::thread m_thread;
    // Set by the running worker when it ends.
    std::shared_ptr<End> m_pEnd;
};
