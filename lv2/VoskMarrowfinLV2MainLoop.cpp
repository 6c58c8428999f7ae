// The process-wide run loop thread of the plug-in.
#include "lv2/VoskMarrowfinLV2MainLoop.h"

#include <mutex>
#include <thread>

#include "hostframework/RunLoop.h"

namespace {

// Trivially destructible on purpose: a host that exits without freeing its instances must not
// meet a joinable std::thread in a static destructor (that aborts the process).
std::mutex g_mainLoopLock;
int g_mainLoopUsers = 0;
std::thread* g_mainLoopThread = nullptr;

// Caller holds g_mainLoopLock.
void StopThread() {
    if (!g_mainLoopThread) return;
    TB::RunLoop::Main().Stop();
    if (g_mainLoopThread->joinable()) g_mainLoopThread->join();
    delete g_mainLoopThread;
    g_mainLoopThread = nullptr;
}

}  // namespace

void VoskMarrowfinLV2AcquireMainLoop() {
    std::lock_guard<std::mutex> lock(g_mainLoopLock);
    if (g_mainLoopUsers++ == 0 && !g_mainLoopThread) {
        TB::RunLoop& loop = TB::RunLoop::Main();
        g_mainLoopThread = new std::thread([&loop] { loop.Run(); });
    }
}

void VoskMarrowfinLV2ReleaseMainLoop() {
    std::lock_guard<std::mutex> lock(g_mainLoopLock);
    if (g_mainLoopUsers == 0) return;
    if (--g_mainLoopUsers == 0) StopThread();
}

void VoskMarrowfinLV2StopMainLoopAtExit() {
    std::lock_guard<std::mutex> lock(g_mainLoopLock);
    StopThread();
}

int VoskMarrowfinLV2MainLoopUsers() {
    std::lock_guard<std::mutex> lock(g_mainLoopLock);
    return g_mainLoopUsers;
}
