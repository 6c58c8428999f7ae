// A run loop: posted callbacks and one-shot or repeating timers, run by one thread.
//
// Stands in for the main thread's event loop. The command-line host runs the main loop on its
// main thread; a plug-in inside a host that offers none runs it on a thread of its own.
// MIDI-script timers and parameter-listener callbacks are delivered here.
// Post, AddTimer and RemoveTimer may be called from any thread (not the render thread);
// callbacks run only on the thread inside Run / RunFor / RunOnce.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace TB {

class RunLoop {
public:
    typedef uint64_t TimerID;  // never 0
    typedef std::function<void()> Callback;
    typedef std::function<void(TimerID)> TimerCallback;

    RunLoop();
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // The process's main loop, which hosts run (created on first use, never destroyed).
    static RunLoop& Main();
    // The loop whose Run/RunFor/RunOnce is on the calling thread's stack, or null.
    static RunLoop* Current();

    // Runs `callback` once, soon, on the loop's thread.
    void Post(Callback callback);

    // First firing after `delaySeconds`; then every `intervalSeconds` when it is above 0.
    // A one-shot timer is removed before its callback runs.
    TimerID AddTimer(double delaySeconds, double intervalSeconds, TimerCallback callback);
    // True when the timer existed. A callback that is running finishes; it does not run again.
    bool RemoveTimer(TimerID timer);
    bool HasTimer(TimerID timer) const;

    // Runs until Stop. RunFor runs until Stop or the time has passed. RunOnce runs what is due
    // now and returns. Stop may be called from any thread, and before Run (the next Run returns
    // at once).
    void Run();
    void RunFor(std::chrono::nanoseconds duration);
    void RunOnce();
    void Stop();

    // For a thread that waits on another event source (a window system) and runs this loop in
    // between: how long until something is due (zero when a callback waits, `limit` at most),
    // and a function called on the posting thread whenever work is posted, a timer added or Stop
    // requested, so that the wait can be cut short. The handler must be cheap and thread-safe.
    std::chrono::nanoseconds TimeUntilDue(std::chrono::nanoseconds limit) const;
    typedef void (*WakeHandler)();
    void SetWakeHandler(WakeHandler handler);

private:
    struct Impl;
    Impl* m_impl;
};

}  // namespace TB
