#include "hostframework/ClassInfoFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hostframework/PropertyListParse.h"
#include "hostframework/RegularFile.h"

namespace {
constexpr size_t kMaxClassInfoFileBytes = 16 * 1024 * 1024;

void SetError(std::string* err, const std::string& text) {
    if (err) *err = text;
}
}  // namespace

OSStatus WriteClassInfoFile(plist_t state, const std::string& path, std::string* err) {
    if (state == nullptr || plist_get_node_type(state) != PLIST_DICT) {
        SetError(err, "the state is not a dictionary");
        return paramErr;
    }
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(state, &xml, &length);
    if (xml == nullptr) {
        SetError(err, "cannot convert the state to XML");
        return kAudioUnitErr_InvalidFile;
    }
    const std::string temp = path + ".tmp-XXXXXX";
    std::string tempPath = temp;
    int fd = ::mkstemp(tempPath.data());
    if (fd < 0) {
        SetError(err, "cannot create " + tempPath + ": " + std::strerror(errno));
        plist_to_xml_free(xml);
        return kAudioUnitErr_InvalidFile;
    }
    ::fchmod(fd, 0644);
    size_t written = 0;
    bool ok = true;
    while (written < length) {
        ssize_t n = ::write(fd, xml + written, length - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        written += size_t(n);
    }
    const int writeErrno = errno;
    plist_to_xml_free(xml);
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (!ok || ::rename(tempPath.c_str(), path.c_str()) != 0) {
        SetError(err, "cannot write " + path + ": " + std::strerror(ok ? errno : writeErrno));
        ::unlink(tempPath.c_str());
        return kAudioUnitErr_InvalidFile;
    }
    return noErr;
}

plist_t ReadClassInfoFile(const std::string& path, std::string* err) {
    std::string bytes;
    std::string why;
    if (ReadRegularFile(path, kMaxClassInfoFileBytes, bytes, &why) != 0) {
        SetError(err, why);
        return nullptr;
    }
    if (bytes.empty()) {
        SetError(err, path + " is empty");
        return nullptr;
    }
    plist_t root = ParsePropertyList(bytes.data(), bytes.size(), &why);
    if (root == nullptr) {
        SetError(err, path + " is not a property list we accept (" + why + ")");
        return nullptr;
    }
    if (plist_get_node_type(root) != PLIST_DICT) {
        plist_free(root);
        SetError(err, path + " does not hold a dictionary");
        return nullptr;
    }
    return root;
}
