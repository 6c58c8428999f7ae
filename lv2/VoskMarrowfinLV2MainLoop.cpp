// The process-wide run loop thread of the plug-in.
#include "lv2/VoskMarrowfinLV2MainLoop.h"

#include <mutex>
#include <thread>

#include "hostframework/RunLoop.h"

namespace {

std::mutex g_mainLoopLock;
int g_mainLoopUsers = 0;
std::thread g_mainLoopThread;

}  // namespace

void VoskMarrowfinLV2AcquireMainLoop() {
    std::lock_guard<std::mutex> lock(g_mainLoopLock);
    if (g_mainLoopUsers++ == 0) {
        TB::RunLoop& loop = TB::RunLoop::Main();
        g_mainLoopThread = std::thread([&loop] { loop.Run(); });
    }
}

void VoskMarrowfinLV2ReleaseMainLoop() {
    std::lock_guard<std::mutex> lock(g_mainLoopLock);
    if (g_mainLoopUsers == 0) return;
    if (--g_mainLoopUsers == 0) {
        TB::RunLoop::Main().Stop();
        if (g_mainLoopThread.joinable()) g_mainLoopThread.join();
    }
}

int VoskMarrowfinLV2MainLoopUsers() {
    std::lock_guard<std::mutex> lock(g_mainLoopLock);
    return g_mainLoopUsers;
}
