#include "hostframework/Bundle.h"

#include "MarrowfinFacts.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>

const char* const kTBOwnBundleIdentifier = kMarrowfinBundleIdentifier;

namespace {

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool EndsWith(const std::string& s, const char* suffix) {
    const std::string tail(suffix);
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::string TBLocateOwnBundleFolder() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&TBLocateOwnBundleFolder), &info) != 0 && info.dli_fname) {
        char resolved[PATH_MAX];
        std::string binary = ::realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
        const size_t slash = binary.rfind('/');
        const std::string dir = slash == std::string::npos ? "." : binary.substr(0, slash);
        if (EndsWith(dir, ".lv2") && IsDirectory(dir)) return dir;
        const std::string installed = dir + "/../share/marrowfin";
        if (IsDirectory(installed)) return ::realpath(installed.c_str(), resolved) ? resolved : installed;
    }
#ifdef MARROWFIN_BUILD_RESOURCES
    if (IsDirectory(MARROWFIN_BUILD_RESOURCES)) return MARROWFIN_BUILD_RESOURCES;
#endif
    return std::string();
}
