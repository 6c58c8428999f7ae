// Tasks, flag events, counting semaphores, re-entrant critical regions and an up-time clock.
//
// Thin layer over std::thread, std::mutex + std::condition_variable and std::recursive_mutex.
// A thread cannot be terminated safely: MPTerminateTask detaches a task that missed its
// shutdown bound and reports it on standard output; it is never killed.
// All calls are thread-safe. None may be called on the render thread except MPSetEvent, which
// never allocates (it locks a mutex only the waiter holds briefly).
#pragma once

#include "hostframework/AUTypes.h"

typedef struct OpaqueMPTaskID* MPTaskID;
typedef struct OpaqueMPEventID* MPEventID;
typedef struct OpaqueMPSemaphoreID* MPSemaphoreID;
typedef struct OpaqueMPCriticalRegionID* MPCriticalRegionID;
typedef UInt32 MPEventFlags;
typedef SInt32 Duration;  // milliseconds when positive
typedef OSStatus (*TaskProc)(void* parameter);

enum : Duration {
    kDurationImmediate = 0,
    kDurationForever = 0x7FFFFFFF,
    kDurationMillisecond = 1,
};

enum : OSStatus {
    kMPTimeoutErr = -29296,
    kMPInvalidIDErr = -29292,
    kMPInsufficientResourcesErr = -29294,
};

// Starts `entry(parameter)` on a thread of its own.
OSStatus MPCreateTask(TaskProc entry, void* parameter, UInt32 stackSize, void* notifyQueue, void* terminationParameter1,
                      void* terminationParameter2, UInt32 options, MPTaskID* task);
// Detaches the task's thread (it keeps running until its entry returns) and frees the id.
OSStatus MPTerminateTask(MPTaskID task, OSStatus terminationStatus);
// Waits up to `timeout` for the task's entry to return; then joins it and frees the id (noErr).
// On kMPTimeoutErr the task and its id are untouched (end it with MPTerminateTask).
OSStatus MPWaitForTaskEnd(MPTaskID task, Duration timeout);

// A 32-bit flag word, initially empty.
OSStatus MPCreateEvent(MPEventID* event);
OSStatus MPDeleteEvent(MPEventID event);
// Or-s the flags into the word and wakes a waiter.
OSStatus MPSetEvent(MPEventID event, MPEventFlags flags);
// Returns every bit set since the previous wait and clears them; kMPTimeoutErr with no bits
// when the timeout passes first. `flags` may be null.
OSStatus MPWaitForEvent(MPEventID event, MPEventFlags* flags, Duration timeout);

OSStatus MPCreateSemaphore(UInt32 maximumValue, UInt32 initialValue, MPSemaphoreID* semaphore);
OSStatus MPDeleteSemaphore(MPSemaphoreID semaphore);
OSStatus MPSignalSemaphore(MPSemaphoreID semaphore);
// noErr when signalled within the timeout, kMPTimeoutErr otherwise.
OSStatus MPWaitOnSemaphore(MPSemaphoreID semaphore, Duration timeout);

// Mutual exclusion; the holder may enter again and must exit as often.
OSStatus MPCreateCriticalRegion(MPCriticalRegionID* region);
OSStatus MPDeleteCriticalRegion(MPCriticalRegionID region);
OSStatus MPEnterCriticalRegion(MPCriticalRegionID region, Duration timeout);
OSStatus MPExitCriticalRegion(MPCriticalRegionID region);

// Monotonic clock.
struct AbsoluteTime {
    UInt64 value;  // nanoseconds since an arbitrary fixed origin
};
struct Nanoseconds {
    UInt64 value;
};
AbsoluteTime UpTime();
Nanoseconds AbsoluteToNanoseconds(AbsoluteTime t);
AbsoluteTime SubAbsoluteFromAbsolute(AbsoluteTime left, AbsoluteTime right);
