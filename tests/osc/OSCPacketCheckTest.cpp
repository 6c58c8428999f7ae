// The structural check every received datagram passes before oscpack parses it: what it must
// refuse (each class once crashed or hung oscpack, or read past the datagram) and what well-
// formed packets from real clients it must let through.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <oscpack/osc/OscOutboundPacketStream.h>

#include "osc/OSCPacketCheck.h"

namespace {

// Packet bytes written word by word: strings padded with zeros, big-endian int32.
struct Bytes {
    std::string data;
    Bytes& Str(const std::string& text) {
        data += text;
        data.append(4 - text.size() % 4, '\0');
        return *this;
    }
    Bytes& Int(int32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8) data += char(uint32_t(value) >> shift & 0xFF);
        return *this;
    }
    Bytes& Raw(const std::string& raw) {
        data += raw;
        return *this;
    }
    Bytes& BundleHeader() { return Str("#bundle").Int(0).Int(1); }
    // An element: its size, then its bytes.
    Bytes& Element(const Bytes& element) { return Int(int32_t(element.data.size())).Raw(element.data); }
};

Bytes Msg(const std::string& address, const std::string& tags) {
    return Bytes().Str(address).Str(tags);
}

Bytes Nested(int depth) {
    Bytes inner = Msg("/x", ",");
    for (int i = 0; i < depth; ++i) inner = Bytes().BundleHeader().Element(inner);
    return inner;
}

struct Case {
    const char* name;
    std::string bytes;
    bool accepted;
};

}  // namespace

TEST(OSCPacketCheck, RefusesEveryMalformedStructureAndAcceptsWellFormedOnes) {
    char buffer[1024];
    osc::OutboundPacketStream full(buffer, sizeof buffer);
    full << osc::BeginBundleImmediate << osc::BeginMessage("/all") << true << false << osc::OscNil << osc::Infinitum
         << osc::int32(1) << 2.0f << 'c' << osc::RgbaColor(1) << osc::MidiMessage(2) << osc::int64(3)
         << osc::TimeTag(4) << 5.0 << "text" << osc::Symbol("sym") << osc::Blob("abcde", 5) << osc::BeginArray
         << osc::int32(6) << osc::EndArray << osc::EndMessage << osc::BeginBundle(7) << osc::BeginMessage("/in")
         << osc::EndMessage << osc::EndBundle << osc::EndBundle;

    const std::vector<Case> cases = {
        // Well formed.
        {"every argument type, nested bundle", std::string(full.Data(), full.Size()), true},
        {"address only, no type tags", Bytes().Str("/a").data, true},
        {"empty type tag string", Msg("/a", ",").data, true},
        {"empty blob", Msg("/a", ",b").Int(0).data, true},
        {"bundle without elements", Bytes().BundleHeader().data, true},
        {"bundles at the nesting bound", Nested(TB::kMaxOSCBundleDepth + 1).data, true},
        // Blob sizes: negative, far beyond the datagram, one word beyond, the size field itself missing.
        {"negative blob size", Msg("/a", ",b").Int(-8).Raw("abcdefgh").data, false},
        {"blob size -1", Msg("/a", ",b").Int(-1).data, false},
        {"huge blob size", Msg("/a", ",b").Int(0x7FFFFFFF).Raw("abcd").data, false},
        {"blob one word too long", Msg("/a", ",b").Int(8).Raw("abcd").data, false},
        {"blob size field past the end", Msg("/a", ",b").data, false},
        {"blob padding not zero", Msg("/a", ",b").Int(1).Raw("aXYZ").data, false},
        // Bundle element sizes.
        {"element size -4", Bytes().BundleHeader().Int(-4).Raw(Msg("/a", ",").data).data, false},
        {"element size -8 with more after", Bytes().BundleHeader().Int(-8).Int(8).Raw(Msg("/a", ",").data).data, false},
        {"element size 0", Bytes().BundleHeader().Int(0).data, false},
        {"element size not a multiple of four", Bytes().BundleHeader().Int(6).Raw(Msg("/a", ",").data).data, false},
        {"element past the end", Bytes().BundleHeader().Int(64).Raw(Msg("/a", ",").data).data, false},
        {"bundles nested too deeply", Nested(TB::kMaxOSCBundleDepth + 2).data, false},
        {"bundle too short", Bytes().Str("#bundle").data, false},
        {"'#' address that is no bundle", Msg("#bundlX", ",").Int(0).Int(0).data, false},
        {"malformed message inside a bundle", Bytes().BundleHeader().Element(Bytes().Raw("/abc")).data, false},
        // Strings and type tags.
        {"unterminated address", std::string("/abc"), false},
        {"address padding not zero", std::string("/a\0X,\0\0\0", 8), false},
        {"no comma before type tags", Bytes().Str("/a").Str("i").Int(1).data, false},
        {"unterminated type tags", Bytes().Str("/a").Raw(",iii").data, false},
        {"unknown type tag", Msg("/a", ",x").data, false},
        {"int32 missing", Msg("/a", ",i").data, false},
        {"double cut short", Msg("/a", ",d").Int(1).data, false},
        {"unterminated string argument", Msg("/a", ",s").Raw("abcd").data, false},
        {"bytes after the arguments", Msg("/a", ",i").Int(1).Int(2).data, false},
        {"array not closed", Msg("/a", ",[i").Int(1).data, false},
        {"array closed before opened", Msg("/a", ",]").data, false},
        // Whole datagram.
        {"empty", std::string(), false},
        {"three bytes", std::string("abc"), false},
        {"longer than the service reads", Msg("/a", ",b").Int(5000).Raw(std::string(5000, 'x')).data, false},
    };
    for (const Case& c : cases) {
        const char* reason = TB::CheckOSCPacket(c.bytes.data(), c.bytes.size());
        if (c.accepted)
            EXPECT_EQ(reason, nullptr) << c.name << ": " << reason;
        else
            EXPECT_NE(reason, nullptr) << c.name;
    }
}

TEST(OSCPacketCheck, ReadsNothingPastTheGivenSize) {
    // A blob whose size field lies just past the end; the bytes after it (stale receive-buffer
    // contents) would make it valid. Only the first eight bytes are the datagram.
    const std::string stale = Msg("/a", ",b").Int(0).data;
    EXPECT_NE(TB::CheckOSCPacket(stale.data(), 8), nullptr);
    EXPECT_EQ(TB::CheckOSCPacket(stale.data(), stale.size()), nullptr);
}
