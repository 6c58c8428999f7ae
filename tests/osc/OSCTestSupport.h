// Helpers for the OSC tests: free loopback test ports, datagrams to 127.0.0.1, waiting.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace osctest {

// Polls `condition` until it holds or `seconds` pass.
inline bool WaitUntil(const std::function<bool()>& condition, double seconds = 5.0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A UDP socket bound to any local address on `port` (the way the service binds), or -1.
inline int BindUdp(int port) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(uint16_t(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline bool PortIsFree(int port) {
    const int fd = BindUdp(port);
    if (fd < 0) return false;
    close(fd);
    return true;
}

// The first free port at or above `from` (fixed high test ranges; skips ports in use).
inline int FreePort(int from) {
    for (int port = from; port < from + 200; ++port)
        if (PortIsFree(port)) return port;
    return -1;
}

// `count` consecutive free ports at or above `from`.
inline int FreePortRun(int from, int count) {
    for (int port = from; port < from + 400; ++port) {
        bool all = true;
        for (int i = 0; i < count && all; ++i) all = PortIsFree(port + i);
        if (all) return port;
    }
    return -1;
}

inline void SendTo(int port, const void* data, size_t size) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    sendto(fd, data, size, 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    close(fd);
}

inline void SendTo(int port, const std::string& bytes) {
    SendTo(port, bytes.data(), bytes.size());
}

}  // namespace osctest
