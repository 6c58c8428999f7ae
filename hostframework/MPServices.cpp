// Tasks, flag events, semaphores, critical regions and the up-time clock over the C++ library.
#include "hostframework/MPServices.h"
#include "hostframework/Log.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

namespace {

// Positive durations are milliseconds, negative ones microseconds; kDurationForever never ends.
bool IsForever(Duration d) { return d == kDurationForever; }
std::chrono::steady_clock::time_point Deadline(Duration d) {
    auto now = std::chrono::steady_clock::now();
    if (d >= 0) return now + std::chrono::milliseconds(d);
    return now + std::chrono::microseconds(-(SInt64)d);
}

struct TaskState {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
};

// How long MPTerminateTask lets a task that is on its way out finish before detaching it:
// callers terminate right after the task signalled its end, while it is still returning.
constexpr auto kTerminateGrace = std::chrono::milliseconds(200);

}  // namespace

struct OpaqueMPTaskID {
    std::thread thread;
    std::shared_ptr<TaskState> state;
};
struct OpaqueMPEventID {
    std::mutex lock;
    std::condition_variable cond;
    MPEventFlags flags = 0;
};
struct OpaqueMPSemaphoreID {
    std::mutex lock;
    std::condition_variable cond;
    UInt32 value = 0;
    UInt32 maximum = 1;
};
struct OpaqueMPCriticalRegionID {
    std::recursive_timed_mutex mutex;
    std::atomic<std::thread::id> owner{};
    UInt32 depth = 0;  // touched only by the owner
};

// ---------------------------------------------------------------------------------------------
// Tasks

OSStatus MPCreateTask(TaskProc entry, void* parameter, UInt32, void*, void*, void*, UInt32, MPTaskID* task) {
    if (entry == nullptr || task == nullptr) return paramErr;
    auto* t = new (std::nothrow) OpaqueMPTaskID();
    if (t == nullptr) return kMPInsufficientResourcesErr;
    t->state = std::make_shared<TaskState>();
    try {
        std::shared_ptr<TaskState> state = t->state;
        t->thread = std::thread([entry, parameter, state] {
            entry(parameter);
            std::lock_guard<std::mutex> guard(state->lock);
            state->done = true;
            state->finished.notify_all();
        });
    } catch (...) {
        delete t;
        return kMPInsufficientResourcesErr;
    }
    *task = t;
    return noErr;
}

OSStatus MPTerminateTask(MPTaskID task, OSStatus) {
    if (task == nullptr) return kMPInvalidIDErr;
    if (task->thread.joinable()) {
        if (task->thread.get_id() == std::this_thread::get_id()) {
            task->thread.detach();
        } else if (std::unique_lock<std::mutex> guard(task->state->lock);
                   task->state->finished.wait_for(guard, kTerminateGrace, [&] { return task->state->done; })) {
            guard.unlock();
            task->thread.join();
        } else {
            TB::LogLine(TB::LogLevel::kNote, "MPTerminateTask: task still running, detached\n");
            std::fflush(stdout);
            task->thread.detach();
        }
    }
    delete task;
    return noErr;
}

OSStatus MPWaitForTaskEnd(MPTaskID task, Duration timeout) {
    if (task == nullptr) return kMPInvalidIDErr;
    if (task->thread.joinable() && task->thread.get_id() == std::this_thread::get_id()) return paramErr;
    {
        std::unique_lock<std::mutex> guard(task->state->lock);
        auto ended = [&] { return task->state->done; };
        if (IsForever(timeout)) task->state->finished.wait(guard, ended);
        else if (!task->state->finished.wait_until(guard, Deadline(timeout), ended)) return kMPTimeoutErr;
    }
    if (task->thread.joinable()) task->thread.join();
    delete task;
    return noErr;
}

// ---------------------------------------------------------------------------------------------
// Flag events

OSStatus MPCreateEvent(MPEventID* event) {
    if (event == nullptr) return paramErr;
    *event = new (std::nothrow) OpaqueMPEventID();
    return *event ? (OSStatus)noErr : (OSStatus)kMPInsufficientResourcesErr;
}

OSStatus MPDeleteEvent(MPEventID event) {
    if (event == nullptr) return kMPInvalidIDErr;
    delete event;
    return noErr;
}

OSStatus MPSetEvent(MPEventID event, MPEventFlags flags) {
    if (event == nullptr) return kMPInvalidIDErr;
    {
        std::lock_guard<std::mutex> guard(event->lock);
        event->flags |= flags;
    }
    event->cond.notify_all();
    return noErr;
}

OSStatus MPWaitForEvent(MPEventID event, MPEventFlags* flags, Duration timeout) {
    if (event == nullptr) return kMPInvalidIDErr;
    std::unique_lock<std::mutex> guard(event->lock);
    auto ready = [event] { return event->flags != 0; };
    bool got;
    if (IsForever(timeout)) {
        event->cond.wait(guard, ready);
        got = true;
    } else {
        got = event->cond.wait_until(guard, Deadline(timeout), ready);
    }
    if (!got) {
        if (flags) *flags = 0;
        return kMPTimeoutErr;
    }
    if (flags) *flags = event->flags;
    event->flags = 0;
    return noErr;
}

// ---------------------------------------------------------------------------------------------
// Semaphores

OSStatus MPCreateSemaphore(UInt32 maximumValue, UInt32 initialValue, MPSemaphoreID* semaphore) {
    if (semaphore == nullptr || maximumValue == 0 || initialValue > maximumValue) return paramErr;
    auto* s = new (std::nothrow) OpaqueMPSemaphoreID();
    if (s == nullptr) return kMPInsufficientResourcesErr;
    s->value = initialValue;
    s->maximum = maximumValue;
    *semaphore = s;
    return noErr;
}

OSStatus MPDeleteSemaphore(MPSemaphoreID semaphore) {
    if (semaphore == nullptr) return kMPInvalidIDErr;
    delete semaphore;
    return noErr;
}

OSStatus MPSignalSemaphore(MPSemaphoreID semaphore) {
    if (semaphore == nullptr) return kMPInvalidIDErr;
    {
        std::lock_guard<std::mutex> guard(semaphore->lock);
        if (semaphore->value >= semaphore->maximum) return kMPInsufficientResourcesErr;
        ++semaphore->value;
    }
    semaphore->cond.notify_one();
    return noErr;
}

OSStatus MPWaitOnSemaphore(MPSemaphoreID semaphore, Duration timeout) {
    if (semaphore == nullptr) return kMPInvalidIDErr;
    std::unique_lock<std::mutex> guard(semaphore->lock);
    auto ready = [semaphore] { return semaphore->value > 0; };
    if (IsForever(timeout)) semaphore->cond.wait(guard, ready);
    else if (!semaphore->cond.wait_until(guard, Deadline(timeout), ready)) return kMPTimeoutErr;
    --semaphore->value;
    return noErr;
}

// ---------------------------------------------------------------------------------------------
// Critical regions

OSStatus MPCreateCriticalRegion(MPCriticalRegionID* region) {
    if (region == nullptr) return paramErr;
    *region = new (std::nothrow) OpaqueMPCriticalRegionID();
    return *region ? (OSStatus)noErr : (OSStatus)kMPInsufficientResourcesErr;
}

OSStatus MPDeleteCriticalRegion(MPCriticalRegionID region) {
    if (region == nullptr) return kMPInvalidIDErr;
    delete region;
    return noErr;
}

OSStatus MPEnterCriticalRegion(MPCriticalRegionID region, Duration timeout) {
    if (region == nullptr) return kMPInvalidIDErr;
    if (IsForever(timeout)) {
        region->mutex.lock();
    } else if (timeout == kDurationImmediate) {
        if (!region->mutex.try_lock()) return kMPTimeoutErr;
    } else if (!region->mutex.try_lock_until(Deadline(timeout))) {
        return kMPTimeoutErr;
    }
    region->owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
    ++region->depth;
    return noErr;
}

OSStatus MPExitCriticalRegion(MPCriticalRegionID region) {
    if (region == nullptr) return kMPInvalidIDErr;
    // Only the holder may exit; anyone else would unlock a mutex it does not own.
    if (region->owner.load(std::memory_order_relaxed) != std::this_thread::get_id() || region->depth == 0)
        return kMPInsufficientResourcesErr;
    if (--region->depth == 0) region->owner.store(std::thread::id(), std::memory_order_relaxed);
    region->mutex.unlock();
    return noErr;
}

// ---------------------------------------------------------------------------------------------
// Clock

AbsoluteTime UpTime() {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch());
    return AbsoluteTime{UInt64(ns.count())};
}

Nanoseconds AbsoluteToNanoseconds(AbsoluteTime t) { return Nanoseconds{t.value}; }

AbsoluteTime SubAbsoluteFromAbsolute(AbsoluteTime left, AbsoluteTime right) {
    return AbsoluteTime{left.value >= right.value ? left.value - right.value : 0};
}
