#include "osc/Preferences.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <plist/plist.h>

#include "MarrowfinFacts.h"
#include "hostframework/Log.h"
#include "hostframework/PropertyListParse.h"
#include "hostframework/RegularFile.h"

std::atomic<SInt32> g_OSCBasePort{kDefaultOSCBasePort};

namespace {

using TB::LogFormat;
using TB::LogLevel;

const std::string kPrefsFileName = std::string(kMarrowfinPreferencesId) + ".plist";
constexpr size_t kMaxPrefsFileBytes = 4 * 1024 * 1024;  // far beyond any real preferences file
constexpr size_t kMaxStringBytes = 1023;

// Serialises read-modify-write within the process; a lock file does it between processes.
std::mutex g_prefsWriteLock;

std::string ConfigFolder() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome && configHome[0] == '/') return configHome;  // relative paths are ignored
    const char* home = std::getenv("HOME");
    if (home && home[0]) return std::string(home) + "/.config";
    if (const passwd* entry = getpwuid(getuid())) {
        if (entry->pw_dir && entry->pw_dir[0]) return std::string(entry->pw_dir) + "/.config";
    }
    return "/tmp";
}

struct PlistHolder {
    plist_t node = nullptr;
    ~PlistHolder() {
        if (node) plist_free(node);
    }
};

enum class ReadResult { kMissing, kCorrupt, kRead };

// Reads and parses the whole file (XML or binary). A root that is not a dictionary is corrupt,
// and so is anything but a regular file (a FIFO in its place never blocks the reader).
ReadResult ReadPrefs(const std::string& path, PlistHolder& out) {
    std::string data;
    const int status = ReadRegularFile(path, kMaxPrefsFileBytes, data, nullptr);
    if (status == ENOENT) return ReadResult::kMissing;
    if (status != 0 || data.empty()) return ReadResult::kCorrupt;
    out.node = ParsePropertyList(data.data(), data.size(), nullptr);
    if (!out.node || plist_get_node_type(out.node) != PLIST_DICT) return ReadResult::kCorrupt;
    return ReadResult::kRead;
}

// The stored value under `key`, or null; owned by `holder`.
plist_t LookUp(const char* key, PlistHolder& holder) {
    if (!key) return nullptr;
    if (ReadPrefs(GetPrefsFilePath(), holder) != ReadResult::kRead) return nullptr;
    return plist_dict_get_item(holder.node, key);
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= size_t(written);
    }
    return true;
}

bool MakeFolders(const std::string& folder) {
    std::string partial;
    size_t start = 0;
    while (start <= folder.size()) {
        size_t slash = folder.find('/', start);
        if (slash == std::string::npos) slash = folder.size();
        partial = folder.substr(0, slash);
        if (!partial.empty() && mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
        start = slash + 1;
    }
    struct stat info;
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void ReportPrefsFailure(const char* what, const std::string& path) {
    LogFormat(LogLevel::kError, "preferences: %s %s: %s\n", what, path.c_str(), std::strerror(errno));
}

// Writes `dict` as an XML property list in place of `path`: temporary file in the same folder,
// fsync, rename, fsync of the folder. Either the old or the new file exists at every moment.
bool WritePrefsAtomically(const std::string& folder, const std::string& path, plist_t dict) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(dict, &xml, &length);
    if (!xml) return false;
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        ReportPrefsFailure("cannot create a temporary file beside", path);
        plist_to_xml_free(xml);
        return false;
    }
    fchmod(fd, 0600);
    const bool written = WriteAll(fd, xml, length) && fsync(fd) == 0;
    plist_to_xml_free(xml);
    if (close(fd) != 0 || !written) {
        ReportPrefsFailure("cannot write", temporary);
        unlink(temporary.c_str());
        return false;
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        ReportPrefsFailure("cannot replace", path);
        unlink(temporary.c_str());
        return false;
    }
    const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}

}  // namespace

std::string GetPrefsFilePath() {
    return ConfigFolder() + "/" + kPrefsFileName;
}

SInt32 GetPrefInt(const char* key, SInt32 defaultValue) {
    PlistHolder holder;
    plist_t value = LookUp(key, holder);
    if (!value) return defaultValue;
    switch (plist_get_node_type(value)) {
    case PLIST_UINT: {
        // Integers are kept as 64-bit words; negatives round-trip as their two's complement.
        uint64_t raw = 0;
        plist_get_uint_val(value, &raw);
        const int64_t number = int64_t(raw);
        if (number < INT32_MIN || number > INT32_MAX) return defaultValue;
        return SInt32(number);
    }
    case PLIST_REAL: {
        double number = 0;
        plist_get_real_val(value, &number);
        if (!std::isfinite(number) || number <= double(INT32_MIN) - 1.0 || number >= double(INT32_MAX) + 1.0)
            return defaultValue;
        return SInt32(std::trunc(number));
    }
    default:
        return defaultValue;  // strings, booleans, dates and the rest are not numbers
    }
}

void GetPrefString(const char* key, std::string& result) {
    PlistHolder holder;
    plist_t value = LookUp(key, holder);
    if (!value || plist_get_node_type(value) != PLIST_STRING) return;
    char* text = nullptr;
    plist_get_string_val(value, &text);
    if (!text) return;
    std::string stored(text);
    std::free(text);
    if (stored.size() > kMaxStringBytes) {
        stored.resize(kMaxStringBytes);
        // Never end in half a UTF-8 character.
        size_t end = stored.size();
        size_t lead = end;
        while (lead > 0 && (UInt8(stored[lead - 1]) & 0xC0) == 0x80) --lead;
        if (lead > 0 && (UInt8(stored[lead - 1]) & 0x80)) {
            const UInt8 first = UInt8(stored[lead - 1]);
            const size_t need = (first & 0xE0) == 0xC0 ? 2 : (first & 0xF0) == 0xE0 ? 3 : (first & 0xF8) == 0xF0 ? 4 : 1;
            if (end - (lead - 1) < need) stored.resize(lead - 1);
        }
    }
    result = stored;
}

void SetPrefInt(const char* key, SInt32 value) {
    if (!key) return;
    const std::string folder = ConfigFolder();
    const std::string path = folder + "/" + kPrefsFileName;
    std::lock_guard<std::mutex> processLock(g_prefsWriteLock);
    if (!MakeFolders(folder)) {
        ReportPrefsFailure("cannot create the folder", folder);
        return;
    }
    const std::string lockPath = path + ".lock";
    const int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd >= 0) {
        while (flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }

    PlistHolder holder;
    const ReadResult read = ReadPrefs(path, holder);
    bool proceed = true;
    if (read == ReadResult::kCorrupt) {
        // Keep the user's file rather than overwrite it: it may be repairable by hand.
        const std::string keep = path + ".corrupt";
        if (rename(path.c_str(), keep.c_str()) == 0) {
            LogFormat(LogLevel::kError, "preferences: %s could not be read; kept as %s, writing a fresh one\n", path.c_str(),
                         keep.c_str());
        } else {
            ReportPrefsFailure("cannot set aside the unreadable", path);
            proceed = false;
        }
    }
    if (proceed) {
        if (read != ReadResult::kRead) {
            if (holder.node) plist_free(holder.node);
            holder.node = plist_new_dict();
        }
        // No signed integer node: the 64-bit word of the sign-extended value round-trips.
        plist_dict_set_item(holder.node, key, plist_new_uint(uint64_t(int64_t(value))));
        WritePrefsAtomically(folder, path, holder.node);
    }
    if (lockFd >= 0) {
        flock(lockFd, LOCK_UN);
        close(lockFd);
    }
}
