// `params`, `presets`, `--version` and `--help`: the listings parse as JSON and carry the unit's
// own table.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>

#include "tests/apps/AppTestSupport.h"

using namespace apptest;

namespace {

// A small strict JSON reader: enough to prove the listings are valid JSON and to look inside.
struct Json {
    enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
    double number = 0;
    bool boolean = false;
    std::string text;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    const Json& operator[](const std::string& key) const {
        for (const auto& [k, v] : members)
            if (k == key) return v;
        throw std::runtime_error("no key " + key);
    }
    const Json& operator[](size_t i) const { return items.at(i); }
};

class JsonReader {
public:
    explicit JsonReader(const std::string& s) : m_s(s) {}
    Json Document() {
        Json v = Value();
        Space();
        if (m_p != m_s.size()) Fail("trailing text");
        return v;
    }

private:
    [[noreturn]] void Fail(const char* why) { throw std::runtime_error(std::string(why) + " at " + std::to_string(m_p)); }
    void Space() {
        while (m_p < m_s.size() && std::isspace(static_cast<unsigned char>(m_s[m_p]))) ++m_p;
    }
    bool Eat(char c) {
        Space();
        if (m_p < m_s.size() && m_s[m_p] == c) return ++m_p, true;
        return false;
    }
    void Expect(char c) {
        if (!Eat(c)) Fail("unexpected character");
    }
    std::string String() {
        Expect('"');
        std::string out;
        while (m_p < m_s.size() && m_s[m_p] != '"') {
            char c = m_s[m_p++];
            if (static_cast<unsigned char>(c) < 0x20) Fail("control character in string");
            if (c == '\\') {
                if (m_p >= m_s.size()) Fail("bad escape");
                char e = m_s[m_p++];
                if (e == 'u') {
                    if (m_p + 4 > m_s.size()) Fail("bad escape");
                    out += char(std::stoi(m_s.substr(m_p, 4), nullptr, 16));
                    m_p += 4;
                } else {
                    out += e == 'n' ? '\n' : e == 't' ? '\t' : e;
                }
            } else {
                out += c;
            }
        }
        Expect('"');
        return out;
    }
    Json Value() {
        Space();
        Json v;
        if (m_p >= m_s.size()) Fail("end of text");
        char c = m_s[m_p];
        if (c == '{') {
            ++m_p;
            v.kind = Json::kObject;
            if (Eat('}')) return v;
            do {
                Space();
                std::string key = String();
                Expect(':');
                v.members.emplace_back(key, Value());
            } while (Eat(','));
            Expect('}');
        } else if (c == '[') {
            ++m_p;
            v.kind = Json::kArray;
            if (Eat(']')) return v;
            do v.items.push_back(Value());
            while (Eat(','));
            Expect(']');
        } else if (c == '"') {
            v.kind = Json::kString;
            v.text = String();
        } else if (m_s.compare(m_p, 4, "null") == 0) {
            m_p += 4;
        } else if (m_s.compare(m_p, 4, "true") == 0 || m_s.compare(m_p, 5, "false") == 0) {
            v.kind = Json::kBool;
            v.boolean = c == 't';
            m_p += v.boolean ? 4 : 5;
        } else {
            size_t used = 0;
            if (!(c == '-' || std::isdigit(static_cast<unsigned char>(c)))) Fail("not a value");
            v.kind = Json::kNumber;
            v.number = std::stod(m_s.substr(m_p), &used);
            m_p += used;
        }
        return v;
    }
    const std::string& m_s;
    size_t m_p = 0;
};

}  // namespace

TEST(Listings, ParamsJsonHoldsTheWholeTable) {
    RunResult r = RunApp({"params", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    Json doc = JsonReader(r.out).Document();
    ASSERT_EQ(doc.kind, Json::kArray);
    ASSERT_EQ(doc.items.size(), 40u);
    for (size_t i = 0; i < 40; ++i) EXPECT_EQ(doc[i]["id"].number, double(i));

    const Json& cutoff = doc[25];
    EXPECT_EQ(cutoff["name"].text, "Filter Cutoff");
    EXPECT_EQ(cutoff["unit"].number, 8);
    EXPECT_EQ(cutoff["unitName"].text, "Hz");
    EXPECT_EQ(cutoff["min"].number, 50);
    EXPECT_EQ(cutoff["max"].number, 12000);
    EXPECT_EQ(cutoff["default"].number, 1000);
    EXPECT_TRUE(cutoff["valueNames"].items.empty());
    EXPECT_EQ(doc[26]["default"].number, 0.1);  // shortest text of the float, not 0.100000001

    const Json& shapes = doc[33]["valueNames"];
    ASSERT_EQ(shapes.items.size(), 5u);
    const char* names[] = {"Sine", "Tri", "SawUp", "Square", "SawDn"};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(shapes[i]["value"].number, double(i));
        EXPECT_EQ(shapes[i]["name"].text, names[i]);
    }
    const Json& filterType = doc[27]["valueNames"];
    ASSERT_EQ(filterType.items.size(), 5u);
    EXPECT_EQ(filterType[2]["name"].text, "Band");
    EXPECT_EQ(filterType[4]["name"].text, "Thru");
    const Json& osc = doc[39]["valueNames"];
    ASSERT_EQ(osc.items.size(), 1u);  // only 0 has a name: "Off"
    EXPECT_EQ(osc[0]["name"].text, "Off");
    EXPECT_EQ(doc[18]["valueNames"][0]["name"].text, "Track");

    RunResult text = RunApp({"params"});
    ASSERT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("Pitch LFO Amount Fine"), std::string::npos);
    EXPECT_EQ(Lines(text.out), 41);
}

TEST(Listings, PresetsJsonGivesEveryValueOfEveryPreset) {
    RunResult r = RunApp({"presets", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    Json doc = JsonReader(r.out).Document();
    ASSERT_EQ(doc.items.size(), 11u);
    for (size_t i = 0; i < 11; ++i) {
        EXPECT_EQ(doc[i]["number"].number, double(i));
        EXPECT_EQ(doc[i]["values"].items.size(), 40u);
    }
    EXPECT_EQ(doc[0]["name"].text, "Defaults");
    EXPECT_EQ(doc[0]["values"][1].number, 1);   // Wet Level default
    EXPECT_EQ(doc[0]["values"][25].number, 1000);
    EXPECT_EQ(doc[1]["name"].text, "Down One Octave");
    EXPECT_EQ(doc[1]["values"][5].number, -12);
    EXPECT_EQ(doc[10]["name"].text, "Madness");
    EXPECT_EQ(doc[10]["values"][31].number, 16.02);
    EXPECT_EQ(doc[5]["values"][24].number, 91);
}

TEST(Listings, VersionAndHelp) {
    RunResult v = RunApp({"--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out, "Marrowfin 1.1.0\n");
    for (const char* sub : {"render", "demo", "params", "presets", "serve"}) {
        SCOPED_TRACE(sub);
        RunResult h = RunApp({sub, "--help"});
        EXPECT_EQ(h.status, 0);
        EXPECT_NE(h.out.find("--"), std::string::npos);
    }
    RunResult none = RunApp({});
    EXPECT_EQ(none.status, 2);
}
