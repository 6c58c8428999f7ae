// The checked property-list parse every state, preset and preferences file goes through: deep
// nesting (which overflows libplist's recursive parser and free), and binary documents whose
// references run in a cycle, out of range, or expand to a tree too large to build.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hostframework/ClassInfoFile.h"
#include "hostframework/PropertyListParse.h"
#include "hostframework/RegularFile.h"

namespace {

std::string NestedXml(int containers) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">";
    for (int i = 0; i < containers; ++i) xml += "<array>";
    xml += "<string>x</string>";
    for (int i = 0; i < containers; ++i) xml += "</array>";
    return xml + "</plist>";
}

// A binary property list of the given objects (marker and payload bytes each); references are
// one byte, offsets two.
std::string Binary(const std::vector<std::string>& objects, uint64_t root = 0, uint64_t count = 0) {
    std::string out = "bplist00";
    std::vector<size_t> offsets;
    for (const std::string& object : objects) {
        offsets.push_back(out.size());
        out += object;
    }
    const size_t table = out.size();
    for (size_t offset : offsets) out += {char(offset >> 8), char(offset & 0xFF)};
    std::string trailer(32, '\0');
    trailer[6] = 2;
    trailer[7] = 1;
    auto put = [&](size_t at, uint64_t value) {
        for (int i = 7; i >= 0; --i, value >>= 8) trailer[at + size_t(i)] = char(value & 0xFF);
    };
    put(8, count ? count : objects.size());
    put(16, root);
    put(24, table);
    return out + trailer;
}

std::string Array(const std::vector<int>& refs) {
    std::string object(1, char(0xA0 | refs.size()));
    for (int ref : refs) object += char(ref);
    return object;
}

const std::string kString = "\x51x";  // ASCII string "x"

bool Accepted(const std::string& bytes) {
    plist_t root = ParsePropertyList(bytes.data(), bytes.size(), nullptr);
    if (root) plist_free(root);
    return root != nullptr;
}

}  // namespace

TEST(PropertyListParse, XmlNestingIsBoundedBeforeLibplistSeesIt) {
    EXPECT_TRUE(Accepted(NestedXml(kMaxPropertyListDepth)));
    EXPECT_FALSE(Accepted(NestedXml(kMaxPropertyListDepth + 1)));
    std::string why;
    const std::string deep = NestedXml(200000);  // overflowed the stack
    EXPECT_EQ(ParsePropertyList(deep.data(), deep.size(), &why), nullptr);
    EXPECT_EQ(why, "nested too deeply");

    // Markup that could hide opening or closing tags from the count.
    const std::string open = "<plist><array><array>", close = "</array></array></plist>";
    EXPECT_TRUE(Accepted(open + "<string><![CDATA[</array></array>]]></string>" + close));
    EXPECT_TRUE(Accepted(open + "<!-- </array></array> -->" + close));
    EXPECT_TRUE(Accepted("<plist><array x=\"/>\"><string>a</string></array></plist>"));  // quoted: not empty
    EXPECT_FALSE(Accepted("<!DOCTYPE plist [ <!ENTITY a \"x\"> ]><plist><true/></plist>"));
    EXPECT_FALSE(Accepted("<plist><array x=\"<array>\"></array></plist>"));
    EXPECT_FALSE(Accepted("</array></array><plist><true/></plist>"));
    EXPECT_FALSE(Accepted("<plist><array><!-- </array>"));

    // libplist aborts when asked for a string holding a zero character; XML has none.
    EXPECT_FALSE(Accepted(std::string("<plist><string><![CDATA[a\0b]]></string></plist>", 44)));

    // A CDATA closer inside each level does not let the count fall behind.
    std::string sneaky = "<plist>";
    for (int i = 0; i <= kMaxPropertyListDepth; ++i) sneaky += "<array><string><![CDATA[</array>]]></string>";
    EXPECT_NE(CheckPropertyList(sneaky.data(), sneaky.size()), nullptr);
}

TEST(PropertyListParse, BinaryReferencesAreCheckedBeforeLibplistSeesThem) {
    // A chain of single-element arrays ending in a string.
    auto chain = [](int containers) {
        std::vector<std::string> objects;
        for (int i = 0; i < containers; ++i) objects.push_back(Array({i + 1}));
        objects.push_back(kString);
        return Binary(objects);
    };
    EXPECT_TRUE(Accepted(chain(kMaxPropertyListDepth)));
    EXPECT_FALSE(Accepted(chain(kMaxPropertyListDepth + 1)));

    EXPECT_FALSE(Accepted(Binary({Array({0})})));                  // an array holding itself
    EXPECT_FALSE(Accepted(Binary({Array({1}), Array({0})})));      // a longer cycle
    EXPECT_FALSE(Accepted(Binary({Array({1}), Array({7})})));      // a reference out of range
    EXPECT_FALSE(Accepted(Binary({kString}, 3)));                  // the root out of range
    EXPECT_FALSE(Accepted(Binary({kString}, 0, 1000)));            // more objects than the table holds
    EXPECT_FALSE(Accepted(Binary({std::string("\xAF\x13\x7f\xff\xff\xff\xff\xff\xff\xff", 10)})));  // huge count

    EXPECT_FALSE(Accepted(Binary({std::string("\x53" "a\0b", 4)})));             // ASCII string with a zero
    EXPECT_FALSE(Accepted(Binary({std::string("\x62\0a\0\0", 5)})));           // UTF-16 string with a zero
    EXPECT_FALSE(Accepted(Binary({std::string("\x5f\x10\x40" "ab", 5)})));      // string longer than the document
    EXPECT_TRUE(Accepted(Binary({std::string("\x62\0a\0b", 5)})));

    // Forty levels of arrays that hold the next level twice: 2^40 values once expanded.
    std::vector<std::string> doubling;
    for (int i = 0; i < 40; ++i) doubling.push_back(Array({i + 1, i + 1}));
    doubling.push_back(kString);
    std::string why;
    const std::string bomb = Binary(doubling);
    EXPECT_EQ(ParsePropertyList(bomb.data(), bomb.size(), &why), nullptr);
    EXPECT_EQ(why, "expands to too many values");

    // libplist's own output of a shared value and a dictionary reads back.
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "a", plist_new_string("shared"));
    plist_dict_set_item(dict, "b", plist_new_string("shared"));
    plist_t inner = plist_new_array();
    plist_array_append_item(inner, plist_new_uint(7));
    plist_dict_set_item(dict, "c", inner);
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(dict, &bin, &length);
    plist_free(dict);
    EXPECT_TRUE(Accepted(std::string(bin, length)));
    plist_to_bin_free(bin);
}

TEST(PropertyListParse, StateFilesThatAreNotRegularOrNestTooDeeplyAreRefused) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("mf-plist-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string fifo = (dir / "fifo.aupreset").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string err, bytes;
    EXPECT_EQ(ReadClassInfoFile(fifo, &err), nullptr);  // returns at once: no writer is waited for
    EXPECT_NE(err.find("not a regular file"), std::string::npos) << err;
    EXPECT_EQ(ReadRegularFile(fifo, 100, bytes, nullptr), EINVAL);

    const std::string deep = (dir / "deep.aupreset").string();
    std::ofstream(deep) << NestedXml(200000);
    err.clear();
    EXPECT_EQ(ReadClassInfoFile(deep, &err), nullptr);
    EXPECT_NE(err.find("nested too deeply"), std::string::npos) << err;
    EXPECT_EQ(ReadRegularFile(deep, 1000, bytes, nullptr), EFBIG);
    std::filesystem::remove_all(dir);
}
