// The generated .ttl files against the parameter and preset table: what hosts will show and set.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "effect/MarrowfinParameters.h"
#include "lv2/MarrowfinLV2Ports.h"
#include "tests/support/Process.h"

namespace {

const std::string kBundle = std::string(MARROWFIN_BINARY_DIR) + "/lv2/marrowfin.lv2";

// The text of one top-level Turtle statement about `uri` (from "<uri>\n" to the closing " .").
std::string Statement(const std::string& ttl, const std::string& uri) {
    const std::string start = "<" + uri + ">\n";
    const size_t begin = ttl.find(start);
    if (begin == std::string::npos) return "";
    const size_t end = ttl.find(" .\n", begin);
    return ttl.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

// The bracketed port descriptions of a plug-in statement, split at the top level.
std::vector<std::string> Blocks(const std::string& statement) {
    std::vector<std::string> blocks;
    int depth = 0;
    size_t open = 0;
    for (size_t i = 0; i < statement.size(); ++i) {
        if (statement[i] == '[') {
            if (depth++ == 0) open = i;
        } else if (statement[i] == ']' && --depth == 0) {
            blocks.push_back(statement.substr(open, i - open + 1));
        }
    }
    return blocks;
}

std::string Field(const std::string& block, const std::string& key) {
    std::smatch m;
    if (std::regex_search(block, m, std::regex(key + " (\"[^\"]*\"|[^ ;\\n\\]]+)"))) {
        std::string v = m[1];
        if (v.size() >= 2 && v.front() == '"') v = v.substr(1, v.size() - 2);
        return v;
    }
    return "";
}

// How a host reads a number: as a double, then narrowed to the port's float.
float HostFloat(const std::string& text) { return static_cast<float>(std::strtod(text.c_str(), nullptr)); }

struct PortView {
    std::string block, symbol;
};

std::map<int, PortView> Ports(const std::string& statement) {
    std::map<int, PortView> ports;
    for (const std::string& block : Blocks(statement)) {
        const std::string index = Field(block, "lv2:index");
        if (index.empty()) continue;
        ports[std::stoi(index)] = {block, Field(block, "lv2:symbol")};
    }
    return ports;
}

class LV2MetadataTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        m_ttl = TB::ReadTextFile(kBundle + "/marrowfin.ttl");
        ASSERT_FALSE(m_ttl.empty()) << "build the marrowfin_lv2_metadata target first";
        m_plugin = Statement(m_ttl, GetParam() == 2 ? MarrowfinLV2::kStereoURI : MarrowfinLV2::kMonoURI);
        ASSERT_FALSE(m_plugin.empty());
        m_ports = Ports(m_plugin);
    }
    std::string m_ttl, m_plugin;
    std::map<int, PortView> m_ports;
};

TEST_P(LV2MetadataTest, ControlPortsReadAsTheParameterTableWithUniqueSymbols) {
    ASSERT_EQ(m_ports.size(), MarrowfinLV2::PortCount(GetParam()));
    std::set<std::string> symbols;
    for (const auto& [index, port] : m_ports) {
        EXPECT_TRUE(std::regex_match(port.symbol, std::regex("[a-z][a-z0-9]*(_[a-z0-9]+)*"))) << port.symbol;
        EXPECT_TRUE(symbols.insert(port.symbol).second) << "duplicate symbol " << port.symbol;
        if (index >= kNumParams) continue;
        const ParamInfo& p = astParamInfos[index];
        EXPECT_NE(port.block.find("lv2:InputPort , lv2:ControlPort"), std::string::npos) << p.name;
        EXPECT_EQ(Field(port.block, "lv2:name"), p.name);
        EXPECT_EQ(HostFloat(Field(port.block, "lv2:minimum")), p.minValue) << p.name;
        EXPECT_EQ(HostFloat(Field(port.block, "lv2:maximum")), p.maxValue) << p.name;
        EXPECT_EQ(HostFloat(Field(port.block, "lv2:default")), p.defaultValue) << p.name;
    }
    auto has = [&](int id, const std::string& text) { return m_ports.at(id).block.find(text) != std::string::npos; };
    EXPECT_FALSE(has(kParam_FilterType, "lv2:enumeration"));  // continuous between its named values
    EXPECT_TRUE(has(MarrowfinLV2::kPortControl, "lv2:connectionOptional"));
    EXPECT_TRUE(has(MarrowfinLV2::kPortLatency, "lv2:reportsLatency"));  // older hosts read only this
    EXPECT_NE(m_plugin.find("lv2:extensionData state:interface , work:interface"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(MonoAndStereo, LV2MetadataTest, ::testing::Values(1, 2));

TEST(LV2PresetMetadataTest, ElevenPresetsPerPluginWithEveryTableValue) {
    FillPresetDefaults();
    const std::string ttl = TB::ReadTextFile(kBundle + "/presets.ttl");
    const std::string manifest = TB::ReadTextFile(kBundle + "/manifest.ttl");
    ASSERT_FALSE(ttl.empty());
    const std::string description = TB::ReadTextFile(kBundle + "/marrowfin.ttl");
    for (const char* plugin : {MarrowfinLV2::kMonoURI, MarrowfinLV2::kStereoURI}) {
        // Symbols come from the plug-in description; the values from the table.
        const auto ports = Ports(Statement(description, plugin));
        // Every preset of this plug-in, found through lv2:appliesTo as a host does.
        std::vector<std::string> statements;
        size_t pos = 0;
        while ((pos = ttl.find("\n<", pos)) != std::string::npos) {
            const size_t end = ttl.find(" .\n", pos);
            std::string statement = ttl.substr(pos + 1, end - pos - 1);
            if (statement.find(std::string("lv2:appliesTo <") + plugin + ">") != std::string::npos)
                statements.push_back(statement);
            pos = end;
        }
        ASSERT_EQ(statements.size(), size_t(kNumPresets)) << plugin;
        std::set<std::string> seen;
        for (const std::string& statement : statements) {
            const std::string label = Field(statement, "rdfs:label");
            int number = -1;
            for (int n = 0; n < kNumPresets; ++n)
                if (label == esPresets[n].name) number = n;
            ASSERT_GE(number, 0) << label;
            EXPECT_TRUE(seen.insert(label).second);
            const std::string uri = statement.substr(1, statement.find('>') - 1);
            EXPECT_NE(manifest.find("<" + uri + ">\n    a pset:Preset"), std::string::npos) << uri;

            std::regex portValue("lv2:symbol \"([a-z0-9_]+)\" ; pset:value ([^ \\]]+) \\]");
            std::map<std::string, float> values;
            for (auto it = std::sregex_iterator(statement.begin(), statement.end(), portValue);
                 it != std::sregex_iterator(); ++it)
                values[(*it)[1]] = HostFloat((*it)[2]);
            ASSERT_EQ(values.size(), size_t(kNumParams)) << label;
            for (int id = 0; id < kNumParams; ++id)
                EXPECT_EQ(values.at(ports.at(id).symbol), esPresets[number].values[id]) << label << " " << id;
        }
    }
}

}  // namespace
