#include "hostframework/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

int ReadRegularFile(const std::string& path, size_t maxBytes, std::string& out, std::string* err) {
    auto fail = [&](int code, const std::string& why) {
        if (err) *err = why;
        return code;
    };
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int code = errno;
        return fail(code, "cannot open " + path + ": " + std::strerror(code));
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return fail(EINVAL, path + " is not a regular file");
    }
    if (uint64_t(info.st_size) > maxBytes) {
        ::close(fd);
        return fail(EFBIG, path + " is too large");
    }
    std::string data;
    data.reserve(size_t(info.st_size));
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int code = errno;
            ::close(fd);
            return fail(code, "cannot read " + path + ": " + std::strerror(code));
        }
        if (got == 0) break;
        if (data.size() + size_t(got) > maxBytes) {
            ::close(fd);
            return fail(EFBIG, path + " is too large");
        }
        data.append(buffer, size_t(got));
    }
    ::close(fd);
    out.swap(data);
    return 0;
}
