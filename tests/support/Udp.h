// UDP on the loopback interface for tests: free ports in fixed high ranges (skipping ports in
// use), datagrams to 127.0.0.1, and a receiving socket.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>

namespace TB {

// A UDP socket bound to any local address on `port` (the way the services bind), or -1.
inline int BindUdp(int port) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(uint16_t(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    close(fd);
    return -1;
}

inline bool PortIsFree(int port) {
    const int fd = BindUdp(port);
    if (fd >= 0) close(fd);
    return fd >= 0;
}

// The first run of `count` consecutive free ports at or above `from`, or -1.
inline int FreePortRun(int from, int count = 1) {
    for (int port = from; port < from + 400; ++port) {
        bool all = true;
        for (int i = 0; i < count && all; ++i) all = PortIsFree(port + i);
        if (all) return port;
    }
    return -1;
}
inline int FreePort(int from) { return FreePortRun(from, 1); }

inline void SendTo(int port, const std::string& bytes) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    close(fd);
}

// A socket bound at the first free port at or above `from`.
class UdpReceiver {
public:
    explicit UdpReceiver(int from) {
        for (int port = from; port < from + 300 && m_fd < 0; ++port)
            if ((m_fd = BindUdp(port)) >= 0) m_port = port;
    }
    ~UdpReceiver() {
        if (m_fd >= 0) close(m_fd);
    }
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;
    int Port() const { return m_port; }
    std::string Target() const { return "127.0.0.1:" + std::to_string(m_port); }
    // The next datagram within `seconds`.
    std::optional<std::string> NextDatagram(double seconds) {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, int(seconds * 1000)) <= 0) return std::nullopt;
        char buffer[8192];
        const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0) return std::nullopt;
        return std::string(buffer, size_t(n));
    }

private:
    int m_fd = -1;
    int m_port = 0;
};

}  // namespace TB
