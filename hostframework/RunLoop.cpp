#include "hostframework/RunLoop.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace TB {

namespace {
typedef std::chrono::steady_clock Clock;
thread_local std::vector<RunLoop*> t_running;  // loops whose Run is on this thread's stack

Clock::duration Seconds(double s) {
    if (!(s > 0)) return Clock::duration::zero();
    if (s > 1e9) s = 1e9;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}
}  // namespace

struct RunLoop::Impl {
    struct Timer {
        Clock::time_point due;
        Clock::duration interval;
        std::shared_ptr<TimerCallback> callback;
    };
    mutable std::mutex lock;
    std::condition_variable wake;
    std::deque<Callback> posted;
    std::map<TimerID, Timer> timers;
    TimerID nextID = 1;
    bool stopRequested = false;
    std::atomic<WakeHandler> wakeHandler{nullptr};

    void Wake() {
        wake.notify_all();
        if (WakeHandler handler = wakeHandler.load(std::memory_order_acquire)) handler();
    }

    // Runs everything due now; false when Stop was requested meanwhile.
    void RunDue() {
        std::deque<Callback> batch;
        {
            std::lock_guard<std::mutex> guard(lock);
            batch.swap(posted);
        }
        for (auto& cb : batch)
            if (cb) cb();
        // Each timer due now fires at most once per pass, so a fast repeating timer cannot
        // keep the loop from returning to Stop and posted callbacks.
        std::vector<TimerID> due;
        {
            std::lock_guard<std::mutex> guard(lock);
            const auto now = Clock::now();
            for (const auto& entry : timers)
                if (entry.second.due <= now) due.push_back(entry.first);
        }
        for (TimerID id : due) {
            std::shared_ptr<TimerCallback> cb;
            {
                std::lock_guard<std::mutex> guard(lock);
                auto it = timers.find(id);
                if (it == timers.end()) continue;  // removed by an earlier callback
                const auto now = Clock::now();
                cb = it->second.callback;
                if (it->second.interval > Clock::duration::zero()) {
                    it->second.due += it->second.interval;
                    if (it->second.due <= now) it->second.due = now + it->second.interval;  // fell behind
                } else {
                    timers.erase(it);
                }
            }
            (*cb)(id);
        }
    }

    // Waits until something is due, Stop, or `until`. Returns false when stopped.
    bool Wait(Clock::time_point until) {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            if (stopRequested) {
                stopRequested = false;
                return false;
            }
            if (!posted.empty()) return true;
            auto next = until;
            for (const auto& entry : timers)
                if (entry.second.due < next) next = entry.second.due;
            if (next <= Clock::now()) return true;
            wake.wait_until(guard, next);
            if (Clock::now() >= until) return true;
        }
    }
};

RunLoop::RunLoop() : m_impl(new Impl) {}
RunLoop::~RunLoop() { delete m_impl; }

RunLoop& RunLoop::Main() {
    static RunLoop* loop = new RunLoop();
    return *loop;
}

RunLoop* RunLoop::Current() { return t_running.empty() ? nullptr : t_running.back(); }

void RunLoop::Post(Callback callback) {
    {
        std::lock_guard<std::mutex> guard(m_impl->lock);
        m_impl->posted.push_back(std::move(callback));
    }
    m_impl->Wake();
}

RunLoop::TimerID RunLoop::AddTimer(double delaySeconds, double intervalSeconds, TimerCallback callback) {
    TimerID id;
    {
        std::lock_guard<std::mutex> guard(m_impl->lock);
        id = m_impl->nextID++;
        Impl::Timer t;
        t.due = Clock::now() + Seconds(delaySeconds);
        t.interval = intervalSeconds > 0 ? Seconds(intervalSeconds) : Clock::duration::zero();
        if (intervalSeconds > 0 && t.interval <= Clock::duration::zero()) t.interval = std::chrono::nanoseconds(1);
        t.callback = std::make_shared<TimerCallback>(std::move(callback));
        m_impl->timers.emplace(id, std::move(t));
    }
    m_impl->Wake();
    return id;
}

bool RunLoop::RemoveTimer(TimerID timer) {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    return m_impl->timers.erase(timer) > 0;
}

bool RunLoop::HasTimer(TimerID timer) const {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    return m_impl->timers.count(timer) > 0;
}

void RunLoop::Run() { RunFor(std::chrono::hours(24 * 365 * 100)); }

void RunLoop::RunFor(std::chrono::nanoseconds duration) {
    const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(duration);
    t_running.push_back(this);
    struct Pop {
        ~Pop() { t_running.pop_back(); }
    } pop;
    for (;;) {
        if (!m_impl->Wait(until)) return;
        m_impl->RunDue();
        if (Clock::now() >= until) return;
    }
}

void RunLoop::RunOnce() {
    t_running.push_back(this);
    struct Pop {
        ~Pop() { t_running.pop_back(); }
    } pop;
    m_impl->RunDue();
}

void RunLoop::Stop() {
    {
        std::lock_guard<std::mutex> guard(m_impl->lock);
        m_impl->stopRequested = true;
    }
    m_impl->Wake();
}

std::chrono::nanoseconds RunLoop::TimeUntilDue(std::chrono::nanoseconds limit) const {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    if (!m_impl->posted.empty()) return std::chrono::nanoseconds::zero();
    const auto now = Clock::now();
    auto wait = limit;
    for (const auto& entry : m_impl->timers) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(entry.second.due - now);
        if (left < wait) wait = left;
    }
    return wait < std::chrono::nanoseconds::zero() ? std::chrono::nanoseconds::zero() : wait;
}

void RunLoop::SetWakeHandler(WakeHandler handler) { m_impl->wakeHandler.store(handler, std::memory_order_release); }

}  // namespace TB
