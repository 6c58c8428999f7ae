// `params`, `presets`, `--version` and `--help`: JSON lines another program can read, numbers in
// their shortest text, value names only where the unit has them.
#include "tests/apps/AppTestSupport.h"

using namespace apptest;

TEST(Listings, JsonListingsHoldOneObjectPerLineInShortestNumbers) {
    RunResult params = RunApp({"params", "--json"});
    ASSERT_EQ(params.status, 0) << params.err;
    EXPECT_EQ(params.out.rfind("[\n  {\"id\": 0, \"name\": \"Dry Level\", ", 0), 0u);
    EXPECT_EQ(Lines(params.out), 42);
    for (const char* line :
         {"\n  {\"id\": 26, \"name\": \"Filter Q\", \"unit\": 0, \"unitName\": \"\", \"min\": 0.01, \"max\": 1, "
          "\"default\": 0.1, \"valueNames\": []},\n",
          "\"valueNames\": [{\"value\": 0, \"name\": \"Sine\"}, {\"value\": 1, \"name\": \"Tri\"}, {\"value\": 2, "
          "\"name\": \"SawUp\"}, {\"value\": 3, \"name\": \"Square\"}, {\"value\": 4, \"name\": \"SawDn\"}]},\n",
          "\n  {\"id\": 39, \"name\": \"OSC Port Offset\", \"unit\": 1, \"unitName\": \"indexed\", \"min\": 0, \"max\": "
          "100, \"default\": 0, \"valueNames\": [{\"value\": 0, \"name\": \"Off\"}]}\n]\n"})
        EXPECT_NE(params.out.find(line), std::string::npos) << line;

    RunResult presets = RunApp({"presets", "--json"});
    ASSERT_EQ(presets.status, 0) << presets.err;
    EXPECT_EQ(Lines(presets.out), 13);
    EXPECT_NE(presets.out.find("\n  {\"number\": 10, \"name\": \"Madness\", \"values\": [0, 0, 1, 0, 1, -36, 0, 800, 100, "
                               "0, 0, 0, 12, 1, 1, 0, 1, 0, 0, 48, 0, 1, 0, 50, 0, 1902.25, 0.862, 3, -16, 3, 7.394, "
                               "16.02, "),
              std::string::npos);
}

TEST(Listings, VersionAndHelp) {
    RunResult v = RunApp({"--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out, "Marrowfin 1.1.0\n");
    for (const char* sub : {"render", "demo", "params", "presets", "serve"}) {
        RunResult h = RunApp({sub, "--help"});
        EXPECT_EQ(h.status, 0) << sub;
        EXPECT_NE(h.out.find("--"), std::string::npos) << sub;
    }
    EXPECT_EQ(RunApp({}).status, 2);
}
