// A strict structural check of one received OSC datagram, made before oscpack parses it.
//
// oscpack trusts the size fields it reads: a blob size that is negative or larger than the
// datagram, or a bundle element size of -4, makes it read past the packet or loop for ever. This
// check walks the same structure without trusting anything: 4-byte alignment, terminated and
// zero-padded strings, the type tag string, every size field against the bytes that remain, and
// a bound on bundle nesting. A packet that passes is one oscpack parses within its bytes.
//
// Pure function; any thread.
#pragma once

#include <cstddef>

namespace TB {

// The longest datagram the service accepts; the receive loop reads one byte word more so that a
// longer one is seen, and refused, rather than cut to a size that might parse.
constexpr size_t kMaxOSCPacketBytes = 4096;
// Bundles inside bundles: clients send one level, rarely two. Each level is a recursive call in
// oscpack's dispatch and in this check, so the bound keeps both shallow whatever a datagram says.
constexpr int kMaxOSCBundleDepth = 8;

// Null when `data` (`size` bytes) is a well-formed OSC message or bundle; otherwise the reason,
// a constant text in oscpack's wording ("unterminated address pattern", ...).
const char* CheckOSCPacket(const char* data, size_t size);

}  // namespace TB
