#include "osc/OSCHelper.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <exception>
#include <memory>
#include <stdexcept>
#include <thread>

#include <oscpack/ip/UdpSocket.h>
#include <oscpack/osc/OscOutboundPacketStream.h>

#include "osc/BonjourPublisher.h"
#include "MarrowfinFacts.h"
#include "hostframework/Log.h"
#include "osc/OSCListeningSocket.h"
#include "osc/OSCPacketCheck.h"

namespace TB {

namespace {

constexpr size_t kMaxServiceNameBytes = 63;
constexpr size_t kPacketBufferSize = 1024;

// One diagnostic line: the prefix and the text, ending in exactly one newline.
void PrintLine(const char* prefix, const char* text) {
    std::string line(prefix);
    line += text;
    while (!line.empty() && line.back() == '\n') line.pop_back();  // oscpack's texts end in one
    line += '\n';
    LogLine(LogLevel::kNote, line.c_str());
}

void ReportTaskException(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const osc::Exception& e) {
        PrintLine("osc::Exception in TaskMain(): ", e.what());
    } catch (const std::runtime_error& e) {
        PrintLine("std::runtime_error in TaskMain(): ", e.what());
    } catch (const std::exception& e) {
        PrintLine("std::exception in TaskMain(): ", e.what());
    } catch (...) {
        PrintLine("unknown exception in TaskMain()", "");
    }
}

}  // namespace

struct OSCHelper::TaskSync {
    MPEventID event;
    MPSemaphoreID done;
    std::atomic<int> owners{2};  // the task and DestroyTask
    // The notification task sleeps on this word instead of the event, so a setter on the render
    // thread never takes the event's mutex. A setter bumps the word, and makes the one system
    // call that wakes the task (a futex wake) only when it takes `sleeping` from true to false:
    // while the task is awake, or after another setter already woke it, a change costs two
    // atomic operations and nothing else. The task sets `sleeping` before it looks at the word
    // a last time, so a change is never missed. `quit` asks the task to end.
    std::atomic<UInt32> wake{0};
    std::atomic<bool> sleeping{false};
    std::atomic<bool> quit{false};
};

OSCHelper::OSCHelper(AUBase* au, OSCScriptHost* scriptHost) : m_au(au), m_scriptHost(scriptHost) {
    for (auto& flag : m_paramHasTargets) flag.store(0, std::memory_order_relaxed);
}

OSCHelper::~OSCHelper() {
    DestroyTask();
}

// ---------------------------------------------------------------------------------------------
// Tasks

void OSCHelper::CreateTask() {
    if (m_task) {
        LogLine(LogLevel::kNote, "Warning: Attempt to recreate OSC task\n");
        std::fflush(stdout);
        return;
    }
    OSStatus err = MPCreateEvent(&m_taskEvent);
    if (err == noErr) err = MPCreateEvent(&m_notifyEvent);
    if (err != noErr) {
        LogFormat(LogLevel::kNote, "MPCreateEvent returned %d\n", int(err));
        std::fflush(stdout);
        return;
    }
    err = MPCreateSemaphore(1, 0, &m_taskDone);
    if (err == noErr) err = MPCreateSemaphore(1, 0, &m_notifyDone);
    if (err != noErr) {
        LogFormat(LogLevel::kNote, "MPCreateSemaphore returned %d\n", int(err));
        std::fflush(stdout);
        return;
    }
    m_taskSync = new TaskSync{m_taskEvent, m_taskDone};
    m_notifySync = new TaskSync{m_notifyEvent, m_notifyDone};
    err = MPCreateTask(Task, this, 0, nullptr, nullptr, nullptr, 0, &m_task);
    if (err == noErr) {
        err = MPCreateTask(NotifyTask, this, 0, nullptr, nullptr, nullptr, 0, &m_notifyTask);
        // Changes queued while no task ran go out now rather than at the next change.
        if (err == noErr) {
            m_liveNotifySync.store(m_notifySync);
            WakeNotifyTask();
        }
    }
    if (err != noErr) {
        LogFormat(LogLevel::kNote, "MPCreateTask returned %d\n", int(err));
        std::fflush(stdout);
        if (!m_task) ReleaseTaskSync(m_taskSync);  // the task's share: it never ran
        if (!m_notifyTask) ReleaseTaskSync(m_notifySync);
    }
}

void OSCHelper::DestroyTask() {
    if (!m_task) return;
    // NotifySetParam stops touching the wake-up word before it can go away.
    m_liveNotifySync.store(nullptr);
    while (m_notifyUsers.load() != 0) std::this_thread::yield();

    BreakReceiveLoop();
    MPSetEvent(m_taskEvent, kEventQuit);
    if (m_notifyTask) {
        m_notifySync->quit.store(true);
        m_notifySync->wake.fetch_add(1);
        m_notifySync->wake.notify_all();
    }

    EndTask(m_task, m_taskSync);
    if (m_notifyTask) EndTask(m_notifyTask, m_notifySync);
    // Freed here when a task has ended; an abandoned task frees its own when it ends.
    ReleaseTaskSync(m_taskSync);
    ReleaseTaskSync(m_notifySync);
    m_taskSync = m_notifySync = nullptr;
    m_taskEvent = m_notifyEvent = nullptr;
    m_taskDone = m_notifyDone = nullptr;
    m_task = m_notifyTask = nullptr;
}

void OSCHelper::ReleaseTaskSync(TaskSync* sync) {
    if (!sync || sync->owners.fetch_sub(1) != 1) return;
    MPDeleteEvent(sync->event);
    MPDeleteSemaphore(sync->done);
    delete sync;
}

bool OSCHelper::EndTask(MPTaskID task, TaskSync* sync) {
    // The semaphore is the task's last step; its thread returns right after.
    if (MPWaitOnSemaphore(sync->done, m_shutdownTimeout) == noErr && MPWaitForTaskEnd(task, kShutdownTimeout) == noErr)
        return true;
    LogLine(LogLevel::kNote, "OSC: DestroyTask timeout on shutdown\n");
    std::fflush(stdout);
    MPTerminateTask(task, kMPTimeoutErr);
    return false;
}

OSStatus OSCHelper::Task(void* parameter) {
    OSCHelper* self = static_cast<OSCHelper*>(parameter);
    return self->TaskMain(self->m_taskSync);
}

OSStatus OSCHelper::NotifyTask(void* parameter) {
    OSCHelper* self = static_cast<OSCHelper*>(parameter);
    return self->NotifyTaskMain(self->m_notifySync);
}

OSStatus OSCHelper::TaskMain(TaskSync* sync) {
    for (;;) {
        MPEventFlags flags = 0;
        MPWaitForEvent(sync->event, &flags, kDurationForever);
        if (flags & kEventQuit) break;
        if (!(flags & kEventWork)) continue;
        // The generation first: a request that lands after it ends the loop below at once.
        const UInt32 generation = m_breakGeneration.load();
        const SInt32 port = m_port.load();
        m_boundPort.store(0);
        if (port != 0) ListenOn(port, generation);  // 0: disabled again before we woke
    }
    delete m_netService;  // stops the Avahi thread; nothing is published any more
    m_netService = nullptr;
    MPSignalSemaphore(sync->done);
    ReleaseTaskSync(sync);
    return 0;
}

void OSCHelper::ListenOn(SInt32 port, UInt32 generation) {
    std::unique_ptr<OSCListeningSocket> socket;
    try {
        if (!IsListenablePort(port)) throw std::runtime_error("udp port " + std::to_string(port) + " out of range");
        socket = std::make_unique<OSCListeningSocket>(IpEndpointName(IpEndpointName::ANY_ADDRESS, port),
                                                      static_cast<osc::OscPacketListener*>(this),
                                                      m_breakGeneration, generation);
        m_socket.store(socket.get());
        m_boundPort.store(port);
        PublishBonjourService();
        socket->Run();
    } catch (...) {
        ReportTaskException(std::current_exception());
    }
    try {
        UnpublishBonjourService();
    } catch (...) {
        ReportTaskException(std::current_exception());
    }
    m_socket.store(nullptr);
    while (m_socketUsers.load() != 0) std::this_thread::yield();  // a break in flight
    socket.reset();
    m_boundPort.store(0);
}

void OSCHelper::BreakReceiveLoop() {
    m_breakGeneration.fetch_add(1);
    m_socketUsers.fetch_add(1);
    if (OSCListeningSocket* socket = m_socket.load()) socket->AsynchronousBreak();
    m_socketUsers.fetch_sub(1);
}

// Notification task. The wake-up word is read before the queue is drained, so a change queued
// after the drain has moved it and the wait returns at once.
OSStatus OSCHelper::NotifyTaskMain(TaskSync* sync) {
    for (;;) {
        const UInt32 seen = sync->wake.load(std::memory_order_acquire);
        if (sync->quit.load()) break;
        SInt32 id = 0;
        Float32 value = 0;
        while (m_setParamQueue.Read(id, value)) SendNotifications(id, value);
        ReportDroppedChanges();
        sync->sleeping.store(true);
        if (sync->wake.load() == seen && !sync->quit.load()) sync->wake.wait(seen);
        sync->sleeping.store(false, std::memory_order_relaxed);
    }
    MPSignalSemaphore(sync->done);
    ReleaseTaskSync(sync);
    return 0;
}

void OSCHelper::SendNotifications(SInt32 id, Float32 value) {
    std::lock_guard<std::mutex> lock(m_listsLock);
    auto range = m_updateTargets.equal_range(id);
    for (auto it = range.first; it != range.second; ++it) {
        const OSCUpdateTarget& target = it->second;
        if (!IsDeliverable(IpEndpointName(static_cast<unsigned long>(target.address), target.port))) continue;
        try {
            char buffer[kPacketBufferSize];
            osc::OutboundPacketStream packet(buffer, sizeof buffer);
            packet << osc::BeginBundleImmediate << osc::BeginMessage(target.replyAddress.c_str()) << osc::int32(id)
                   << value << osc::EndMessage << osc::EndBundle;
            UdpTransmitSocket socket(IpEndpointName(static_cast<unsigned long>(target.address), target.port));
            socket.Send(packet.Data(), packet.Size());
        } catch (const std::exception&) {
            // An unreachable subscriber or an address too long for a packet: skipped.
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Port changes

void OSCHelper::SetPort(SInt32 port) {
    m_port.store(port);
    if (!m_task) return;  // only stored; the first SetPort after CreateTask starts listening
    BreakReceiveLoop();
    MPSetEvent(m_taskEvent, kEventWork);
}

void OSCHelper::Disable() {
    m_port.store(0);
    BreakReceiveLoop();
}

// ---------------------------------------------------------------------------------------------
// Incoming packets (receive task)

void OSCHelper::HandlePacket(const char* data, int size, const IpEndpointName& remoteEndpoint) {
    ProcessPacket(data, size, remoteEndpoint);
}

void OSCHelper::ProcessPacket(const char* data, int size, const IpEndpointName& remoteEndpoint) {
    // One bad datagram, or one reply that cannot be sent, must not end remote control: report
    // it the way the receive loop reports its failures and go on listening. oscpack trusts the
    // sizes it reads, so it sees only datagrams whose whole structure has been checked.
    if (const char* reason = CheckOSCPacket(data, size < 0 ? 0 : size_t(size))) {
        PrintLine("osc::Exception in TaskMain(): ", reason);
        return;
    }
    try {
        osc::OscPacketListener::ProcessPacket(data, size, remoteEndpoint);
    } catch (...) {
        ReportTaskException(std::current_exception());
    }
}


// ---------------------------------------------------------------------------------------------
// Bonjour (receive task)

std::string OSCHelper::BonjourServiceName() {
    std::string result(kMarrowfinVersionText);
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host - 1) == 0 && host[0]) {
        result += " on ";
        std::string hostName(host);
        const size_t room = kMaxServiceNameBytes - result.size();
        if (hostName.size() > room) {
            hostName.resize(room);
            // Never cut a multi-byte character in half.
            while (!hostName.empty() && (UInt8(hostName.back()) & 0xC0) == 0x80) hostName.pop_back();
            if (!hostName.empty() && (UInt8(hostName.back()) & 0x80)) hostName.pop_back();
        }
        result += hostName;
    }
    return result;
}

void OSCHelper::PublishBonjourService() {
    if (!m_netService) m_netService = new BonjourPublisher();
    m_netService->Publish(BonjourServiceName(), UInt16(m_boundPort.load()));
}

void OSCHelper::UnpublishBonjourService() {
    if (m_netService) m_netService->Withdraw();
}

// ---------------------------------------------------------------------------------------------
// Parameter changes (any thread)

void OSCHelper::NotifySetParam(SInt32 id, Float32 value) {
    if (id < 0 || id >= kOSCNumParameters) return;
    if (!m_paramHasTargets[id].load(std::memory_order_relaxed)) return;
    // A full queue drops the change; the notification task reports the drops.
    if (!m_setParamQueue.Write(id, value)) m_droppedChanges.fetch_add(1, std::memory_order_relaxed);
    // Also after an overflow: a full queue left by a stopped task must not stay full for good.
    WakeNotifyTask();
}

void OSCHelper::WakeNotifyTask() {
    m_notifyUsers.fetch_add(1);
    if (TaskSync* sync = m_liveNotifySync.load()) {
        sync->wake.fetch_add(1);
        if (sync->sleeping.exchange(false)) sync->wake.notify_one();
    }
    m_notifyUsers.fetch_sub(1);
}

void OSCHelper::ReportDroppedChanges() {
    const UInt32 dropped = m_droppedChanges.load(std::memory_order_relaxed);
    if (dropped == m_reportedDrops) return;
    m_reportedDrops = dropped;
    LogLine(LogLevel::kError, "OSCHelper::SetParamQueue::Write() overflow\n");
}

}  // namespace TB
