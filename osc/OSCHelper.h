// The per-unit OSC service: listens on UDP base port + "OSC Port Offset", publishes itself with
// Bonjour, dispatches requests and sends parameter-change notifications.
//
// Two tasks per initialised unit: the receive task (every incoming datagram, the Bonjour calls)
// and the notification task (drains the parameter change queue). Host threads create and end
// them through the unit's Initialize / Cleanup and move the port through SetPort / Disable.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <oscpack/ip/IpEndpointName.h>
#include <oscpack/osc/OscPacketListener.h>
#include <oscpack/osc/OscReceivedElements.h>

#include "hostframework/AUTypes.h"
#include "hostframework/MPServices.h"
#include "osc/OSCScriptHost.h"
#include "osc/SetParamQueue.h"

class AUBase;

namespace TB {

class BonjourPublisher;
class OSCListeningSocket;

constexpr SInt32 kOSCNumParameters = 40;

// One parameter set by a script-registered OSC address: value = argument * scale + offset.
struct RegisteredPathParam {
    SInt32 paramID;
    Float32 offset;
    Float32 scale;
};

// One update subscriber: where notifications of a parameter go and under which address.
struct OSCUpdateTarget {
    UInt64 address;  // IPv4 address in host order
    SInt32 port;     // -1: any (nothing can be delivered)
    std::string replyAddress;
};

class OSCHelper : private osc::OscPacketListener {
public:
    // Flags on both task events.
    enum : MPEventFlags { kEventQuit = 1, kEventWork = 2 };
    // How long DestroyTask waits for each task.
    static constexpr Duration kShutdownTimeout = 10 * 1000;

    // Stores both pointers (neither owned; the script host may be null). Creates no task.
    OSCHelper(AUBase* au, OSCScriptHost* scriptHost);
    ~OSCHelper() override;
    OSCHelper(const OSCHelper&) = delete;
    OSCHelper& operator=(const OSCHelper&) = delete;

    // Host threads, through the unit's Initialize / Cleanup. CreateTask starts both tasks
    // waiting; the first SetPort after it starts listening. DestroyTask ends them (at most
    // kShutdownTimeout each) and is harmless when they do not exist.
    void CreateTask();
    void DestroyTask();

    // Any thread: atomic stores, a wake-up of the receive task; no allocation.
    // SetPort moves listening to `port`; Disable stops listening.
    void SetPort(SInt32 port);
    void Disable();

    // Any thread, the render thread included: lock-free, never blocks or allocates. Queues the
    // change for the notification task when someone subscribed to `id`.
    void NotifySetParam(SInt32 id, Float32 value);

    // The requested port (0 after Disable) and the port actually listened on (0 while silent).
    SInt32 GetPort() const { return m_port.load(); }
    SInt32 GetBoundPort() const { return m_boundPort.load(); }
    bool TasksExist() const { return m_task != nullptr; }

    // The Bonjour service name: "Marrowfin 1.1.0 on " + host name, at most 63 bytes.
    static std::string BonjourServiceName();

    // What scripts do with OSC, on the script's thread; neither throws.
    enum SendResult { kSent, kOutOfBuffer, kNoSocket, kSendFailed };
    // One message to "[osc.udp://]host[:port]", in an immediate bundle from a fresh socket.
    // Numbers go as floats, or as int32 where `types` (null, or one letter a value) says 'i'.
    static SendResult SendScriptMessage(const char* destination, const char* address, const char* types,
                                        const OSCScriptValue* values, int count) noexcept;
    enum RegisterResult { kRegistered, kInconsistentSizes, kBadParameter, kNoMemory };
    // Makes `address` set the parameters `ids` (0..39) from its float arguments, scaled from
    // 0..1 to each range when normalized. Registrations of one address must agree in length.
    RegisterResult RegisterPathForParameters(const char* address, const int* ids, int count,
                                             bool normalized) noexcept;

    // The receive task, or a caller standing in for it (tests, benchmarks): one datagram, handled
    // exactly as one arriving on the listening socket.
    void HandlePacket(const char* data, int size, const IpEndpointName& remoteEndpoint);

    // Splits a reply target "[osc.udp://]host[:port]" (at most its first 1023 characters) into
    // the host text and the port; -1 (any) when no number follows a ':'.
    static void ParseAddress(const char* text, std::string& host, SInt32& port);
    // A reply target resolved by the system's host lookup to its first IPv4 address; address 0
    // (0.0.0.0) when the host cannot be resolved. May block on a name lookup: never call it on
    // the render thread.
    static IpEndpointName ResolveTarget(const char* text);
    // Whether a port number (base port + offset, before any narrowing) can be listened on.
    static bool IsListenablePort(SInt64 port) { return port >= 1 && port <= 65535; }
    // Whether anything can be delivered to an endpoint: a resolved address and a port 1..65535.
    static bool IsDeliverable(const IpEndpointName& endpoint);

    // The subscribers of one parameter id, in subscription order (a copy; any thread).
    std::vector<OSCUpdateTarget> UpdateTargets(SInt32 id);
    // Changes waiting for the notification task (approximate while setters run).
    UInt32 QueuedChanges() const { return m_setParamQueue.Waiting(); }

protected:
    // Receive task. Parses one datagram; a malformed one is reported and dropped, and the
    // receive loop keeps listening.
    void ProcessPacket(const char* data, int size, const IpEndpointName& remoteEndpoint) override;
    // Receive task. The address dispatcher.
    void ProcessMessage(const osc::ReceivedMessage& message, const IpEndpointName& remoteEndpoint) override;
    // Receive task. Addresses the dispatcher does not know; does nothing here (a hook).
    virtual void ProcessMessage(const char* address, const osc::ReceivedMessage& message,
                                const IpEndpointName& remoteEndpoint);
    // Whether a parameter id is in use; always true here.
    virtual bool isParameterUsed(SInt32 id);

    // The dispatcher's parts (receive task; OSCDispatcher.cpp, OSCScriptCalls.cpp,
    // OSCScriptFunctions.cpp). Each throws osc::Exception for a message that fails.
    // True when the address is a built-in one.
    bool DispatchBuiltIn(const char* address, const osc::ReceivedMessage& message);
    // True when the address is script-registered (and was handled).
    bool DispatchRegisteredPath(const char* address, const osc::ReceivedMessage& message);
    void ExecScript(const osc::ReceivedMessage& message, bool reply);
    void PlayNote(const osc::ReceivedMessage& message, bool on);
    void AddUpdateTarget(SInt32 id, const char* target, const char* replyAddress);
    void RemoveUpdateTarget(SInt32 id, const char* target, const char* replyAddress);
    // Sets a parameter through the host's parameter-set call, as every remote change does.
    void SetParameterValue(SInt32 id, Float32 value);
    Float32 GetParameterValue(SInt32 id);
    // "/ping"'s text: the local address through which `target` is reached, and the listening
    // port ("%d.%d.%d.%d:%d", with "<any>" for wildcards).
    std::string OwnAddressText(const IpEndpointName& target);

    // How long DestroyTask waits for each task (kShutdownTimeout; shorter in tests).
    void SetShutdownTimeout(Duration milliseconds) { m_shutdownTimeout = milliseconds; }

    AUBase* m_au;
    OSCScriptHost* m_scriptHost;

private:
    // Parameter-change wake-ups for the notification task; see TaskSync.
    void WakeNotifyTask();
    // Notification task: one line when changes were dropped since the last report.
    void ReportDroppedChanges();

    static OSStatus Task(void* parameter);
    static OSStatus NotifyTask(void* parameter);
    // A task's event and semaphore, shared by the task and DestroyTask; the last of the two to
    // let go deletes them, so a task abandoned at DestroyTask still has them when it ends.
    struct TaskSync;
    static void ReleaseTaskSync(TaskSync* sync);
    OSStatus TaskMain(TaskSync* sync);
    OSStatus NotifyTaskMain(TaskSync* sync);
    // Host thread: waits for one task's end within the bound; false when it was abandoned.
    bool EndTask(MPTaskID task, TaskSync* sync);
    // Receive task: binds `port`, publishes, runs the receive loop until a break, withdraws.
    void ListenOn(SInt32 port, UInt32 breakGeneration);
    // Any thread: ends the current receive loop, if any.
    void BreakReceiveLoop();
    // Notification task: sends one change to every subscriber of its id.
    void SendNotifications(SInt32 id, Float32 value);

    void PublishBonjourService();
    void UnpublishBonjourService();

    Duration m_shutdownTimeout = kShutdownTimeout;
    MPTaskID m_task = nullptr;
    MPTaskID m_notifyTask = nullptr;
    MPEventID m_taskEvent = nullptr;
    MPEventID m_notifyEvent = nullptr;
    MPSemaphoreID m_taskDone = nullptr;
    MPSemaphoreID m_notifyDone = nullptr;
    TaskSync* m_taskSync = nullptr;
    TaskSync* m_notifySync = nullptr;

    std::atomic<SInt32> m_port{0};
    std::atomic<SInt32> m_boundPort{0};
    // Set only by the receive task while it listens; other threads break the loop through it,
    // counted in m_socketUsers so the receive task never deletes it under them.
    std::atomic<OSCListeningSocket*> m_socket{nullptr};
    std::atomic<SInt32> m_socketUsers{0};
    // Bumped by every SetPort / Disable / DestroyTask; a receive loop that sees it move ends,
    // even when its asynchronous break came before the loop started.
    std::atomic<UInt32> m_breakGeneration{0};
    // The notification task's wake-up word as NotifySetParam may use it: null while the tasks
    // do not exist.
    std::atomic<TaskSync*> m_liveNotifySync{nullptr};
    std::atomic<SInt32> m_notifyUsers{0};

    std::multimap<SInt64, OSCUpdateTarget> m_updateTargets;
    std::atomic<UInt8> m_paramHasTargets[kOSCNumParameters];
    SetParamQueue m_setParamQueue;
    // Changes dropped because the queue was full: counted by setters, reported by the task.
    std::atomic<UInt32> m_droppedChanges{0};
    UInt32 m_reportedDrops = 0;
    std::multimap<std::string, std::vector<RegisteredPathParam>> m_registeredPaths;
    // Bonjour publication while published; lives on the receive task.
    BonjourPublisher* m_netService = nullptr;
    // Serialises changes to, and walks over, m_updateTargets and m_registeredPaths.
    std::mutex m_listsLock;
};

}  // namespace TB
