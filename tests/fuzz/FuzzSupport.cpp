#include "tests/fuzz/FuzzSupport.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "effect/VoskMarrowfinEntry.h"
#include "hostframework/Log.h"

namespace fs = std::filesystem;

namespace fuzz {

namespace {

// Replies, notifications and script-sent packets go to whatever target an input names. In a
// fuzz run they all land on this socket of our own on the loopback interface instead.
int g_sinkPort = 0;

void OpenSink() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        g_sinkPort = ntohs(address.sin_port);  // kept open for the whole run; unread, it drops
}

void DropLine(void*, TB::LogLevel, const char*) {}

bool RedirectIPv4(const sockaddr* to, socklen_t length, sockaddr_in& redirected) {
    if (!to || length < socklen_t(sizeof(sockaddr_in)) || to->sa_family != AF_INET || g_sinkPort == 0) return false;
    std::memcpy(&redirected, to, sizeof redirected);
    redirected.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    redirected.sin_port = htons(uint16_t(g_sinkPort));
    return true;
}

}  // namespace

const std::string& Setup() {
    static const std::string root = [] {
        std::string pattern = (fs::temp_directory_path() / "marrowfin-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        setenv("XDG_CONFIG_HOME", (pattern + "/config").c_str(), 1);
        setenv("XDG_DATA_HOME", (pattern + "/data").c_str(), 1);
        setenv("XDG_DATA_DIRS", (pattern + "/local").c_str(), 1);
        fs::create_directories(pattern + "/config");
        static std::string removeAtExit = pattern;
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(removeAtExit, ec);
        });
        TB::AddLogSink(DropLine, nullptr);
        // Scripts print with Lua's print, straight to standard output; libFuzzer reports on
        // standard error.
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            close(null);
        }
        OpenSink();
        return pattern;
    }();
    return root;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

AudioUnit OpenUnit() {
    AudioUnit unit = OpenMarrowfin();
    if (!unit) return nullptr;
    const AudioStreamBasicDescription format = CanonicalStreamFormat(48000, 2);
    AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, &format, sizeof format);
    AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, &format, sizeof format);
    return unit;
}

}  // namespace fuzz

// Name lookups: numeric addresses and "localhost" only, so no input makes the run ask a name
// server. Connections and datagrams to IPv4 endpoints: redirected to the sink above.
extern "C" __attribute__((visibility("default"))) int getaddrinfo(const char* node, const char* service,
                                                                  const addrinfo* hints, addrinfo** result) {
    using Real = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getaddrinfo"));
    addrinfo numeric{};
    if (hints) numeric = *hints;
    numeric.ai_flags |= AI_NUMERICHOST | AI_NUMERICSERV;
    if (node && std::strcmp(node, "localhost") == 0) node = "127.0.0.1";
    return real ? real(node, service, &numeric, result) : EAI_FAIL;
}

extern "C" __attribute__((visibility("default"))) int connect(int fd, const sockaddr* to, socklen_t length) {
    using Real = int (*)(int, const sockaddr*, socklen_t);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "connect"));
    sockaddr_in redirected;
    if (fuzz::RedirectIPv4(to, length, redirected))
        return real(fd, reinterpret_cast<const sockaddr*>(&redirected), sizeof redirected);
    return real(fd, to, length);
}

extern "C" __attribute__((visibility("default"))) ssize_t sendto(int fd, const void* data, size_t size, int flags,
                                                                 const sockaddr* to, socklen_t length) {
    using Real = ssize_t (*)(int, const void*, size_t, int, const sockaddr*, socklen_t);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "sendto"));
    sockaddr_in redirected;
    if (fuzz::RedirectIPv4(to, length, redirected))
        return real(fd, data, size, flags, reinterpret_cast<const sockaddr*>(&redirected), sizeof redirected);
    return real(fd, data, size, flags, to, length);
}
