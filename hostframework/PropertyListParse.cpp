#include "hostframework/PropertyListParse.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr char kBinaryMagic[] = "bplist";
constexpr char kBinaryVersion[] = "bplist00";
constexpr size_t kTrailerBytes = 32;

// Finds `what` at or after `from`; npos when absent.
size_t Find(const char* data, size_t size, size_t from, const char* what) {
    const size_t length = std::strlen(what);
    for (size_t at = from; at + length <= size; ++at)
        if (std::memcmp(data + at, what, length) == 0) return at;
    return std::string::npos;
}

bool StartsWith(const char* data, size_t size, size_t at, const char* what) {
    const size_t length = std::strlen(what);
    return at <= size && size - at >= length && std::memcmp(data + at, what, length) == 0;
}

// The end of a markup declaration, tag or instruction starting at `at` ('<'): the '>' that
// closes it, skipping double-quoted text as libplist does. It must hold no '<' before that '>',
// so that no reading of the quotes can hide a tag from this count. npos when malformed.
size_t MarkupEnd(const char* data, size_t size, size_t at) {
    bool quoted = false;
    for (size_t i = at + 1; i < size; ++i) {
        const char c = data[i];
        if (c == '<') return std::string::npos;
        if (c == '"') quoted = !quoted;
        else if (c == '>' && !quoted) return i;
    }
    return std::string::npos;
}

// XML: the nesting of elements, an upper bound of libplist's container nesting (every element
// counts, containers or not; comments, CDATA sections and instructions hold none).
const char* CheckXml(const char* data, size_t size) {
    // XML has no zero character, and libplist aborts the process when asked for a string
    // that holds one (it passes through CDATA sections).
    if (std::memchr(data, 0, size)) return "zero byte in an XML document";
    int depth = 0;
    size_t at = 0;
    for (;;) {
        const void* next = at < size ? std::memchr(data + at, '<', size - at) : nullptr;
        if (!next) break;
        at = size_t(static_cast<const char*>(next) - data);
        size_t end = std::string::npos;
        if (StartsWith(data, size, at, "<!--")) {
            end = Find(data, size, at + 4, "-->");
            if (end == std::string::npos) return "unterminated comment";
            at = end + 3;
            continue;
        }
        if (StartsWith(data, size, at, "<![CDATA[")) {
            end = Find(data, size, at + 9, "]]>");
            if (end == std::string::npos) return "unterminated CDATA section";
            at = end + 3;
            continue;
        }
        end = MarkupEnd(data, size, at);
        if (end == std::string::npos) return "malformed XML markup";
        if (StartsWith(data, size, at, "<!")) {
            // A document type declaration; an internal subset may declare anything.
            if (std::memchr(data + at, '[', end - at)) return "document type declarations with an internal subset are not accepted";
        } else if (StartsWith(data, size, at, "<?")) {
            // A processing instruction.
        } else if (StartsWith(data, size, at, "</")) {
            if (--depth < 0) return "closing tag without opening tag";
        } else if (data[end - 1] != '/') {
            // Beside the containers: the <plist> element and a value in the innermost one.
            if (++depth > kMaxPropertyListDepth + 2) return "nested too deeply";
        }
        at = end + 1;
    }
    return nullptr;
}

uint64_t ReadBigEndian(const unsigned char* p, size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i) value = value << 8 | p[i];
    return value;
}

bool IsWordSize(unsigned size) {
    return size == 1 || size == 2 || size == 4 || size == 8;
}

// Binary: the trailer, the offset table, every container's references, then the longest
// reference path from the root and the size of the tree it expands to.
const char* CheckBinary(const char* text, size_t size) {
    const auto* data = reinterpret_cast<const unsigned char*>(text);
    if (size < 8 + 1 + kTrailerBytes || std::memcmp(text, kBinaryVersion, 8) != 0) return "not a binary property list";
    const unsigned char* trailer = data + size - kTrailerBytes;
    const unsigned offsetSize = trailer[6];
    const unsigned refSize = trailer[7];
    const uint64_t objectCount = ReadBigEndian(trailer + 8, 8);
    const uint64_t root = ReadBigEndian(trailer + 16, 8);
    const uint64_t tableOffset = ReadBigEndian(trailer + 24, 8);
    const uint64_t tableEnd = size - kTrailerBytes;
    if (!IsWordSize(offsetSize) || !IsWordSize(refSize)) return "bad integer sizes in the trailer";
    if (objectCount == 0 || root >= objectCount) return "root object out of range";
    if (tableOffset < 8 || tableOffset > tableEnd || objectCount > (tableEnd - tableOffset) / offsetSize)
        return "offset table out of range";

    const size_t count = size_t(objectCount);
    // Children of every container, flattened: children[first[i] .. first[i + 1]).
    std::vector<size_t> first(count + 1, 0);
    std::vector<uint32_t> children;
    for (size_t i = 0; i < count; ++i) {
        first[i] = children.size();
        const uint64_t offset = ReadBigEndian(data + tableOffset + i * offsetSize, offsetSize);
        if (offset < 8 || offset >= tableOffset) return "object offset out of range";
        const unsigned marker = data[offset];
        const unsigned type = marker >> 4;
        const bool isString = type == 0x5 || type == 0x6 || type == 0x7;
        if (!isString && type != 0xA && type != 0xB && type != 0xC && type != 0xD) continue;
        uint64_t entries = marker & 0xF;
        uint64_t at = offset + 1;
        if (entries == 0xF) {
            if (at >= tableOffset || (data[at] >> 4) != 0x1 || (data[at] & 0xF) > 3) return "bad object size";
            const unsigned bytes = 1u << (data[at] & 0xF);
            if (tableOffset - at - 1 < bytes) return "bad object size";
            entries = ReadBigEndian(data + at + 1, bytes);
            at += 1 + bytes;
        }
        if (isString) {
            // libplist aborts the process when asked for a string that holds a zero character.
            const uint64_t unit = type == 0x6 ? 2 : 1;
            if (entries > (tableOffset - at) / unit) return "string larger than the document";
            for (uint64_t c = 0; c < entries; ++c)
                if (ReadBigEndian(data + at + c * unit, size_t(unit)) == 0) return "string holds a zero character";
            continue;
        }
        const uint64_t refs = type == 0xD ? entries * 2 : entries;
        if (entries > tableOffset || refs > (tableOffset - at) / refSize) return "container larger than the document";
        for (uint64_t r = 0; r < refs; ++r) {
            const uint64_t ref = ReadBigEndian(data + at + r * refSize, refSize);
            if (ref >= objectCount) return "object reference out of range";
            children.push_back(uint32_t(ref));
        }
    }
    first[count] = children.size();

    // Post-order walk without recursion: height and expanded size of every object reachable
    // from the root, refusing a reference back into the path (a cycle).
    enum : uint8_t { kUnseen, kOnPath, kDone };
    std::vector<uint8_t> state(count, kUnseen);
    std::vector<uint32_t> height(count, 0);
    std::vector<uint64_t> nodes(count, 0);
    struct Frame {
        size_t object;
        size_t next;  // index into children
    };
    std::vector<Frame> path{{size_t(root), first[size_t(root)]}};
    state[size_t(root)] = kOnPath;
    while (!path.empty()) {
        Frame& frame = path.back();
        if (frame.next < first[frame.object + 1]) {
            const size_t child = children[frame.next++];
            if (state[child] == kOnPath) return "reference cycle";
            if (state[child] == kUnseen) {
                // The containers, and a value in the innermost one.
                if (path.size() > size_t(kMaxPropertyListDepth)) return "nested too deeply";
                state[child] = kOnPath;
                path.push_back({child, first[child]});
            }
            continue;
        }
        const size_t object = frame.object;
        uint32_t tallest = 0;
        uint64_t total = 1;
        for (size_t c = first[object]; c < first[object + 1]; ++c) {
            tallest = std::max(tallest, height[children[c]]);
            total += nodes[children[c]];
            if (total > kMaxPropertyListNodes) return "expands to too many values";
        }
        height[object] = tallest + 1;
        if (height[object] > uint32_t(kMaxPropertyListDepth) + 1) return "nested too deeply";
        nodes[object] = total;
        state[object] = kDone;
        path.pop_back();
    }
    return nullptr;
}

bool IsBinary(const char* data, size_t size) {
    return size >= sizeof kBinaryMagic - 1 && std::memcmp(data, kBinaryMagic, sizeof kBinaryMagic - 1) == 0;
}

}  // namespace

const char* CheckPropertyList(const char* data, size_t size) {
    if (data == nullptr || size == 0) return "empty";
    if (size > std::numeric_limits<uint32_t>::max()) return "too large";
    return IsBinary(data, size) ? CheckBinary(data, size) : CheckXml(data, size);
}

plist_t ParsePropertyList(const char* data, size_t size, std::string* err) {
    if (const char* reason = CheckPropertyList(data, size)) {
        if (err) *err = reason;
        return nullptr;
    }
    plist_t root = nullptr;
    if (IsBinary(data, size)) plist_from_bin(data, uint32_t(size), &root);
    else plist_from_xml(data, uint32_t(size), &root);
    if (!root && err) *err = "not a property list";
    return root;
}
