#include "ui/CycleWorker.h"

#include <atomic>
#include <new>

#include "win/Handles.h"

namespace {

constexpr UINT kWatchPeriod = 500;
// How long a stop waits for the worker: every wait of a cycle but a name lookup ends at once
// on the stop.
constexpr DWORD kStopWait = 2000;

} // namespace

// The worker's end, as the worker tells it: `posted` says whether its result is on its way.
struct CCycleWorker::End {
    UniqueKernelHandle ended{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> posted{false};

    bool HasEnded(DWORD milliseconds) const { return WaitForSingleObject(ended.get(), milliseconds) == WAIT_OBJECT_0; }
};

CCycleWorker::~CCycleWorker()
{
    // The frame stops its worker first; a thread still joinable here would end the program.
    if (m_thread.joinable()) m_thread.detach();
}

void CCycleWorker::Start(HWND window, Job job, PostFunction post)
{
    auto end = std::make_shared<End>();
    if (!end->ended) throw std::bad_alloc();
    m_thread = std::thread(&CCycleWorker::Run, std::move(job), window, post, end);
    m_hWindow = window;
    m_pEnd = std::move(end);
    SetTimer(window, kWatchTimerId, kWatchPeriod, nullptr);
}

void CCycleWorker::Run(Job job, HWND window, PostFunction post, std::shared_ptr<End> end) noexcept
{
    std::unique_ptr<Result> result(new (std::nothrow) Result);
    if (result) {
        // The download's boxes wait for the frame: the worker never blocks on the user.
        CReportCollector collector;
        try {
            result->cycle = job();
        } catch (...) {
            result->error = std::current_exception();
        }
        try {
            result->boxes = std::move(collector.boxes);
        } catch (...) {
            // Boxes that cannot be kept are not shown.
        }
    }
    // What the cycle held goes before its end is told.
    job = nullptr;
    if (result && post(window, kDoneMessage, 0, reinterpret_cast<LPARAM>(result.get()))) {
        result.release();
        end->posted = true;
    }
    SetEvent(end->ended.get());
}

std::unique_ptr<CCycleWorker::Result> CCycleWorker::TakeResult(LPARAM posted)
{
    std::unique_ptr<Result> result(reinterpret_cast<Result*>(posted));
    Joined();
    return result;
}

bool CCycleWorker::EndedUnposted()
{
    if (!m_pEnd || !m_pEnd->HasEnded(0) || m_pEnd->posted) return false;
    Joined();
    return true;
}

void CCycleWorker::Joined()
{
    KillTimer(m_hWindow, kWatchTimerId);
    if (m_thread.joinable()) m_thread.join();
    m_pEnd.reset();
}

bool CCycleWorker::Stop(const std::function<void()>& stop, const std::function<void()>& abandon) noexcept
{
    if (!m_thread.joinable()) return false;
    stop();
    if (m_pEnd && m_pEnd->HasEnded(kStopWait)) {
        m_thread.join();
    } else {
        // It holds nothing of the frame.
        abandon();
        m_thread.detach();
    }
    KillTimer(m_hWindow, kWatchTimerId);
    MSG msg;
    while (m_hWindow && PeekMessageW(&msg, m_hWindow, kDoneMessage, kDoneMessage, PM_REMOVE))
        delete reinterpret_cast<Result*>(msg.lParam);
    m_pEnd.reset();
    return true;
}
