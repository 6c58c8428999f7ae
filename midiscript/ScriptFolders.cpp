// Application-support folders on Linux (XDG base directories), script discovery, skin lookup.
#include "midiscript/ScriptFolders.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace TB {

namespace {

constexpr size_t kMaxFolderPath = 255;

std::string HomeFolder() {
    const char* home = getenv("HOME");
    if (home && *home) return home;
    struct passwd* entry = getpwuid(getuid());
    return entry && entry->pw_dir ? entry->pw_dir : "";
}

std::string UserDataFolder() {
    const char* dataHome = getenv("XDG_DATA_HOME");
    if (dataHome && *dataHome) return dataHome;
    std::string home = HomeFolder();
    return home.empty() ? "" : home + "/.local/share";
}

std::string LocalDataFolder() {
    const char* dataDirs = getenv("XDG_DATA_DIRS");
    if (dataDirs && *dataDirs) {
        const char* colon = strchr(dataDirs, ':');
        std::string first = colon ? std::string(dataDirs, colon) : std::string(dataDirs);
        if (!first.empty()) return first;
    }
    return "/usr/local/share";
}

// A directory entry's type, asking the file system when the listing does not say or the entry
// is a link (a link to a folder counts as a folder).
bool IsDirectory(const std::string& path, const struct dirent* entry) {
    if (entry->d_type == DT_DIR) return true;
    if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) return false;
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void GetScriptsInDomain(std::vector<std::string>& scripts, short domain) {
    std::string folder = GetScriptsFolder(domain);
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (const struct dirent* entry = readdir(dir)) {
        size_t length = strlen(entry->d_name);
        if (length <= 4 || memcmp(entry->d_name + length - 4, ".lua", 4) != 0) continue;
        std::string path = folder + "/" + entry->d_name;
        if (IsDirectory(path, entry)) continue;
        if (access(path.c_str(), R_OK) == 0) scripts.push_back(path);
    }
    closedir(dir);
}

}  // namespace

std::string GetApplicationSupportFolder(short domain) {
    std::string folder;
    if (domain == kUserDomain) folder = UserDataFolder();
    else if (domain == kLocalDomain) folder = LocalDataFolder();
    else if (domain == kSystemDomain) folder = "/usr/share";
    if (folder.size() > kMaxFolderPath) return "";
    return folder;
}

std::string GetScriptsFolder(short domain) {
    const std::string base = GetApplicationSupportFolder(domain);
    return base.empty() ? base : base + "/Tallow Bright/Marrowfin/Scripts";
}

std::string ScriptModulePath() {
    std::string path;
    for (short domain : {kUserDomain, kLocalDomain}) {
        const std::string folder = GetScriptsFolder(domain);
        if (!folder.empty()) path += folder + "/?.lua;" + folder + "/?/init.lua;";
    }
    return path +
           "/usr/local/share/lua/5.1/?.lua;/usr/local/share/lua/5.1/?/init.lua;"
           "/usr/share/lua/5.1/?.lua;/usr/share/lua/5.1/?/init.lua";
}

std::string ScriptNativeModulePath() {
    return "/usr/local/lib/lua/5.1/?.so;/usr/lib/x86_64-linux-gnu/lua/5.1/?.so;/usr/lib/lua/5.1/?.so";
}

void GetScripts(std::vector<std::string>& scripts) {
    GetScriptsInDomain(scripts, kUserDomain);
    GetScriptsInDomain(scripts, kLocalDomain);
}

CFBundleRef LocateSkinBundle(const std::string& name, short domain) {
    std::string path = GetApplicationSupportFolder(domain) + "/Tallow Bright/Marrowfin/Skins/" + name;
    if (access(path.c_str(), R_OK) != 0) path += ".bundle";
    if (access(path.c_str(), R_OK) != 0) return nullptr;
    CFStringRef string = CFStringCreateWithCString(nullptr, path.c_str(), kCFStringEncodingUTF8);
    if (!string) return nullptr;
    CFURLRef url = CFURLCreateWithFileSystemPath(nullptr, string, kCFURLPOSIXPathStyle, true);
    CFRelease(string);
    if (!url) return nullptr;
    CFBundleRef bundle = CFBundleCreate(nullptr, url);
    CFRelease(url);
    return bundle;
}

CFBundleRef LocateSkinBundle(const std::string& name) {
    if (CFBundleRef bundle = LocateSkinBundle(name, kUserDomain)) return bundle;
    return LocateSkinBundle(name, kLocalDomain);
}

}  // namespace TB
