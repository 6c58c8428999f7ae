#include "osc/OSCPacketCheck.h"

#include <cstdint>
#include <cstring>

namespace TB {

namespace {

constexpr size_t kWord = 4;
constexpr char kBundleTag[] = "#bundle";  // with its terminator: 8 bytes
constexpr size_t kBundleHeaderBytes = 16;  // "#bundle\0" and the time tag

// A big-endian 32-bit field as a signed number (OSC sizes are int32).
int32_t ReadInt32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return int32_t(uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]));
}

bool IsZero(const char* p, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (p[i] != 0) return false;
    return true;
}

// One OSC string at data[at]: its terminator within `size`, zero padding to the next word.
// Returns the offset after the padding, or 0 when the string is malformed.
size_t SkipString(const char* data, size_t at, size_t size) {
    if (at >= size) return 0;
    const void* nul = std::memchr(data + at, 0, size - at);
    if (!nul) return 0;
    const size_t terminator = size_t(static_cast<const char*>(nul) - data);
    const size_t end = (terminator / kWord + 1) * kWord;
    if (end > size || !IsZero(data + terminator, end - terminator)) return 0;
    return end;
}

const char* CheckMessage(const char* data, size_t size) {
    if (size == 0) return "zero length messages not permitted";
    const size_t typeTags = SkipString(data, 0, size);
    if (typeTags == 0) return "unterminated address pattern";
    if (typeTags == size) return nullptr;  // an address alone: no type tags, no arguments
    if (data[typeTags] != ',') return "type tags not present";
    size_t argument = SkipString(data, typeTags, size);
    if (argument == 0) return "type tags were not terminated before end of message";

    int arrayDepth = 0;
    for (const char* tag = data + typeTags + 1; *tag; ++tag) {
        size_t fixed = 0;
        switch (*tag) {
        case 'T': case 'F': case 'N': case 'I':
            break;
        case '[':
            ++arrayDepth;
            break;
        case ']':
            if (--arrayDepth < 0) return "array end without array begin";
            break;
        case 'i': case 'f': case 'c': case 'r': case 'm':
            fixed = 4;
            break;
        case 'h': case 't': case 'd':
            fixed = 8;
            break;
        case 's': case 'S':
            argument = SkipString(data, argument, size);
            if (argument == 0) return "unterminated string argument";
            break;
        case 'b': {
            if (size - argument < kWord) return "arguments exceed message size";
            const int32_t blobSize = ReadInt32(data + argument);
            if (blobSize < 0) return "negative blob size";
            const size_t padded = (size_t(blobSize) + kWord - 1) / kWord * kWord;
            if (padded > size - argument - kWord) return "blob size exceeds message size";
            const size_t contentEnd = argument + kWord + size_t(blobSize);
            argument += kWord + padded;
            if (!IsZero(data + contentEnd, argument - contentEnd)) return "blob padding is not zero";
            break;
        }
        default:
            return "unknown type tag";
        }
        if (fixed) {
            if (size - argument < fixed) return "arguments exceed message size";
            argument += fixed;
        }
    }
    if (arrayDepth != 0) return "array begin without array end";
    if (argument != size) return "message has bytes after its arguments";
    return nullptr;
}

const char* CheckElement(const char* data, size_t size, int depth);

const char* CheckBundle(const char* data, size_t size, int depth) {
    if (depth > kMaxOSCBundleDepth) return "bundles nested too deeply";
    if (size < kBundleHeaderBytes) return "packet too short for bundle";
    if (std::memcmp(data, kBundleTag, sizeof kBundleTag) != 0) return "bad bundle address pattern";
    size_t at = kBundleHeaderBytes;
    while (at < size) {
        if (size - at < kWord) return "packet too short for elementSize";
        const int32_t elementSize = ReadInt32(data + at);
        at += kWord;
        if (elementSize <= 0) return "bundle element size must be positive";
        if (elementSize % int32_t(kWord) != 0) return "bundle element size must be multiple of four";
        if (size_t(elementSize) > size - at) return "packet too short for bundle element";
        if (const char* reason = CheckElement(data + at, size_t(elementSize), depth + 1)) return reason;
        at += size_t(elementSize);
    }
    return nullptr;
}

// oscpack takes any element whose first byte is '#' for a bundle, so this check does too.
const char* CheckElement(const char* data, size_t size, int depth) {
    if (size > 0 && data[0] == '#') return CheckBundle(data, size, depth);
    return CheckMessage(data, size);
}

}  // namespace

const char* CheckOSCPacket(const char* data, size_t size) {
    if (data == nullptr || size == 0) return "zero length packet";
    if (size > kMaxOSCPacketBytes) return "packet longer than 4096 bytes";
    if (size % kWord != 0) return "packet size must be multiple of four";
    return CheckElement(data, size, 0);
}

}  // namespace TB
