// Reference-counted strings, arrays, URLs and bundles: the few Core Foundation values that cross
// the component interface (parameter names, value strings, preset lists, the editor's bundle).
//
// Every object starts with a retain count of 1 and is freed when CFRelease brings it to 0.
// Strings made by CFSTR are constants: retain and release do nothing to them, so a host may keep
// them for ever. Property lists (class-info state, presets) are libplist nodes, not these.
// Thread-safe: counts are atomic; CFSTR interns under a lock (never call it on the render thread).
#pragma once

#include <string>

#include "hostframework/AUTypes.h"

struct __CFType;
typedef const void* CFTypeRef;
typedef long CFIndex;
typedef UInt32 CFStringEncoding;

enum : CFStringEncoding {
    kCFStringEncodingASCII = 0x0600,
    kCFStringEncodingUTF8 = 0x08000100,
};

struct __CFBundle;
typedef __CFBundle* CFBundleRef;

CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);
CFIndex CFGetRetainCount(CFTypeRef cf);

// Strings (UTF-8 inside).
CFStringRef CFStringCreateWithCString(void* allocator, const char* cStr, CFStringEncoding encoding);
// Copies at most bufferSize - 1 bytes and a terminator; false when the text does not fit or
// cannot be represented (ASCII with bytes above 127).
bool CFStringGetCString(CFStringRef str, char* buffer, CFIndex bufferSize, CFStringEncoding encoding);
const char* CFStringGetCStringPtr(CFStringRef str, CFStringEncoding encoding);
CFIndex CFStringGetLength(CFStringRef str);
CFStringRef TBConstantString(const char* text);  // interned, immortal
#define CFSTR(text) TBConstantString("" text "")

// Arrays of pointers. With kCFTypeArrayCallBacks the array retains what it holds and releases it
// when freed; with null callbacks it holds plain pointers it does not own (preset descriptors).
struct CFArrayCallBacks {
    bool retains;
};
extern const CFArrayCallBacks kCFTypeArrayCallBacks;
CFArrayRef CFArrayCreate(void* allocator, const void** values, CFIndex count, const CFArrayCallBacks* callBacks);
CFMutableArrayRef CFArrayCreateMutable(void* allocator, CFIndex capacity, const CFArrayCallBacks* callBacks);
void CFArrayAppendValue(CFMutableArrayRef array, const void* value);
CFIndex CFArrayGetCount(CFArrayRef array);
const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index);

// File URLs (a POSIX path inside).
CFURLRef CFURLCreateWithFileSystemPath(void* allocator, CFStringRef path, int pathStyle, bool isDirectory);
bool CFURLGetFileSystemRepresentation(CFURLRef url, bool resolveAgainstBase, UInt8* buffer, CFIndex maxBufLen);
enum { kCFURLPOSIXPathStyle = 0 };

// Bundles are directories. The plug-in's own bundle (kMarrowfinBundleIdentifier) is found by
// TBRegisterBundleIdentifier, which the binary that carries the plug-in calls with the folder
// it located for itself (see hostframework/Bundle.h); other bundles are made from a path.
CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef identifier);  // not retained for the caller
CFBundleRef CFBundleCreate(void* allocator, CFURLRef url);             // retained; null when not a folder
CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle);
// The path of a resource file inside the bundle, or an empty string when it does not exist.
std::string TBBundleResourcePath(CFBundleRef bundle, const char* resourceName);
void TBRegisterBundleIdentifier(const char* identifier, const std::string& folder);
std::string TBBundlePath(CFBundleRef bundle);
