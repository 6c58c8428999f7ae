// Reference-counted strings, arrays, URLs and bundles.
#include "hostframework/CFLite.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "hostframework/Bundle.h"

enum class CFKind : UInt32 { String = 0x53545247, Array = 0x41525259, URL = 0x55524C20, Bundle = 0x42444C45 };

struct __CFType {
    explicit __CFType(CFKind k, bool immortal = false) : kind(k), immortal(immortal) {}
    virtual ~__CFType() = default;
    CFKind kind;
    bool immortal;
    std::atomic<CFIndex> refCount{1};
};
struct __CFString : __CFType {
    explicit __CFString(std::string t, bool immortal = false) : __CFType(CFKind::String, immortal), text(std::move(t)) {}
    std::string text;
};
struct __CFArray : __CFType {
    explicit __CFArray(bool r) : __CFType(CFKind::Array), retains(r) {}
    ~__CFArray() override {
        if (retains)
            for (const void* v : values) CFRelease(v);
    }
    bool retains;
    std::vector<const void*> values;
};
struct __CFURL : __CFType {
    explicit __CFURL(std::string p) : __CFType(CFKind::URL), path(std::move(p)) {}
    std::string path;
};
struct __CFBundle : __CFType {
    explicit __CFBundle(std::string p, bool immortal = false) : __CFType(CFKind::Bundle, immortal), path(std::move(p)) {}
    std::string path;
};

namespace {

const __CFType* AsType(CFTypeRef cf) { return static_cast<const __CFType*>(cf); }

template <class T, CFKind K>
const T* As(const void* cf) {
    const __CFType* t = AsType(cf);
    return t && t->kind == K ? static_cast<const T*>(t) : nullptr;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct BundleRegistry {
    std::mutex lock;
    std::map<std::string, std::string> folders;        // identifier -> registered folder ("" = none)
    std::map<std::string, __CFBundle*> bundles;        // identifier -> bundle handed out (immortal)
};
BundleRegistry& Bundles() {
    static auto* registry = new BundleRegistry();
    return *registry;
}

}  // namespace

const CFArrayCallBacks kCFTypeArrayCallBacks = {true};

CFTypeRef CFRetain(CFTypeRef cf) {
    const __CFType* t = AsType(cf);
    if (t && !t->immortal) const_cast<__CFType*>(t)->refCount.fetch_add(1, std::memory_order_relaxed);
    return cf;
}

void CFRelease(CFTypeRef cf) {
    const __CFType* t = AsType(cf);
    if (t == nullptr || t->immortal) return;
    if (const_cast<__CFType*>(t)->refCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete t;
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
    const __CFType* t = AsType(cf);
    return t ? t->refCount.load() : 0;
}

CFStringRef CFStringCreateWithCString(void*, const char* cStr, CFStringEncoding encoding) {
    if (cStr == nullptr) return nullptr;
    if (encoding == kCFStringEncodingASCII)
        for (const char* p = cStr; *p; ++p)
            if ((unsigned char)*p > 127) return nullptr;
    return new __CFString(cStr);
}

bool CFStringGetCString(CFStringRef str, char* buffer, CFIndex bufferSize, CFStringEncoding encoding) {
    const __CFString* s = As<__CFString, CFKind::String>(str);
    if (s == nullptr || buffer == nullptr || bufferSize <= 0) return false;
    if (encoding == kCFStringEncodingASCII)
        for (unsigned char c : s->text)
            if (c > 127) return false;
    if ((CFIndex)s->text.size() + 1 > bufferSize) return false;
    std::memcpy(buffer, s->text.c_str(), s->text.size() + 1);
    return true;
}

const char* CFStringGetCStringPtr(CFStringRef str, CFStringEncoding encoding) {
    const __CFString* s = As<__CFString, CFKind::String>(str);
    if (s == nullptr) return nullptr;
    if (encoding == kCFStringEncodingASCII)
        for (unsigned char c : s->text)
            if (c > 127) return nullptr;
    return s->text.c_str();
}

CFIndex CFStringGetLength(CFStringRef str) {
    const __CFString* s = As<__CFString, CFKind::String>(str);
    if (s == nullptr) return 0;
    CFIndex n = 0;  // UTF-16 units of the UTF-8 text
    for (size_t i = 0; i < s->text.size(); ++i) {
        unsigned char c = s->text[i];
        if ((c & 0xC0) != 0x80) n += (c >= 0xF0) ? 2 : 1;
    }
    return n;
}

CFStringRef TBConstantString(const char* text) {
    static std::mutex lock;
    static auto* interned = new std::map<std::string, __CFString*>();
    std::lock_guard<std::mutex> guard(lock);
    auto it = interned->find(text ? text : "");
    if (it != interned->end()) return it->second;
    auto* s = new __CFString(text ? text : "", true);
    interned->emplace(s->text, s);
    return s;
}

CFArrayRef CFArrayCreate(void*, const void** values, CFIndex count, const CFArrayCallBacks* callBacks) {
    auto* a = new __CFArray(callBacks && callBacks->retains);
    for (CFIndex i = 0; values && i < count; ++i) {
        if (a->retains) CFRetain(values[i]);
        a->values.push_back(values[i]);
    }
    return a;
}

CFMutableArrayRef CFArrayCreateMutable(void*, CFIndex capacity, const CFArrayCallBacks* callBacks) {
    auto* a = new __CFArray(callBacks && callBacks->retains);
    if (capacity > 0) a->values.reserve((size_t)capacity);
    return a;
}

void CFArrayAppendValue(CFMutableArrayRef array, const void* value) {
    auto* a = const_cast<__CFArray*>(As<__CFArray, CFKind::Array>(array));
    if (a == nullptr) return;
    if (a->retains) CFRetain(value);
    a->values.push_back(value);
}

CFIndex CFArrayGetCount(CFArrayRef array) {
    const __CFArray* a = As<__CFArray, CFKind::Array>(array);
    return a ? (CFIndex)a->values.size() : 0;
}

const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index) {
    const __CFArray* a = As<__CFArray, CFKind::Array>(array);
    if (a == nullptr || index < 0 || index >= (CFIndex)a->values.size()) return nullptr;
    return a->values[(size_t)index];
}

CFURLRef CFURLCreateWithFileSystemPath(void*, CFStringRef path, int, bool) {
    const __CFString* s = As<__CFString, CFKind::String>(path);
    return s ? new __CFURL(s->text) : nullptr;
}

bool CFURLGetFileSystemRepresentation(CFURLRef url, bool, UInt8* buffer, CFIndex maxBufLen) {
    const __CFURL* u = As<__CFURL, CFKind::URL>(url);
    if (u == nullptr || buffer == nullptr || (CFIndex)u->path.size() + 1 > maxBufLen) return false;
    std::memcpy(buffer, u->path.c_str(), u->path.size() + 1);
    return true;
}

CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef identifier) {
    const __CFString* id = As<__CFString, CFKind::String>(identifier);
    if (id == nullptr) return nullptr;
    BundleRegistry& reg = Bundles();
    std::lock_guard<std::mutex> guard(reg.lock);
    std::string folder;
    auto it = reg.folders.find(id->text);
    if (it != reg.folders.end()) folder = it->second;
    else if (id->text == kTBOwnBundleIdentifier) folder = TBLocateOwnBundleFolder();
    if (!IsDirectory(folder)) return nullptr;
    auto found = reg.bundles.find(id->text);
    if (found != reg.bundles.end() && found->second->path == folder) return found->second;
    // Bundles handed out by identifier are never freed: callers do not own them.
    auto* bundle = new __CFBundle(folder, true);
    reg.bundles[id->text] = bundle;
    return bundle;
}

CFBundleRef CFBundleCreate(void*, CFURLRef url) {
    const __CFURL* u = As<__CFURL, CFKind::URL>(url);
    if (u == nullptr || !IsDirectory(u->path)) return nullptr;
    return new __CFBundle(u->path);
}

CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle) {
    const __CFBundle* b = As<__CFBundle, CFKind::Bundle>(bundle);
    return b ? new __CFURL(b->path) : nullptr;
}

std::string TBBundleResourcePath(CFBundleRef bundle, const char* resourceName) {
    const __CFBundle* b = As<__CFBundle, CFKind::Bundle>(bundle);
    if (b == nullptr || resourceName == nullptr || *resourceName == 0) return std::string();
    std::string path = b->path + "/" + resourceName;
    return ::access(path.c_str(), F_OK) == 0 ? path : std::string();
}

void TBRegisterBundleIdentifier(const char* identifier, const std::string& folder) {
    if (identifier == nullptr) return;
    BundleRegistry& reg = Bundles();
    std::lock_guard<std::mutex> guard(reg.lock);
    reg.folders[identifier] = folder;
}

std::string TBBundlePath(CFBundleRef bundle) {
    const __CFBundle* b = As<__CFBundle, CFKind::Bundle>(bundle);
    return b ? b->path : std::string();
}
