// Script discovery, loading and error reporting, the application-support folders, skins.
#include <algorithm>

#include "midiscript/ScriptFolders.h"
#include "tests/midiscript/ScriptTestUnit.h"

namespace {

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::vector<std::string> ScriptNames() {
    std::vector<std::string> scripts;
    TB::GetScripts(scripts);
    std::vector<std::string> names;
    for (const std::string& path : scripts) names.push_back(BaseName(path));
    return names;
}

int CountOccurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

}  // namespace

TEST_F(ScriptTest, DiscoveryKeepsReadableLuaFilesOnlyUserDomainFirst) {
    UserScript("b.lua", "");
    UserScript("Midi.lua", "");
    UserScript("midi.txt", "");
    UserScript(".lua", "");
    UserScript("a.lua", "");
    MakeFolder(ScriptsFolder(m_user) + "/folder.lua");
    UserScript("unreadable.lua", "");
    chmod((ScriptsFolder(m_user) + "/unreadable.lua").c_str(), 0);
    LocalScript("c.lua", "");

    std::vector<std::string> names = ScriptNames();
    std::vector<std::string> user(names.begin(), names.end() - 1);
    std::sort(user.begin(), user.end());
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.back(), "c.lua");  // local after every user script
    // access() grants root everything, so the unreadable file only drops out for other users.
    std::vector<std::string> expected = {"Midi.lua", "a.lua", "b.lua"};
    if (geteuid() == 0) expected.push_back("unreadable.lua");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(user, expected);
}

TEST_F(ScriptTest, ApplicationSupportFoldersFollowXDGVariables) {
    EXPECT_EQ(TB::GetApplicationSupportFolder(TB::kUserDomain), m_user);
    EXPECT_EQ(TB::GetApplicationSupportFolder(TB::kLocalDomain), m_local);
    unsetenv("XDG_DATA_DIRS");
    EXPECT_EQ(TB::GetApplicationSupportFolder(TB::kLocalDomain), "/usr/local/share");
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(TB::GetApplicationSupportFolder(TB::kUserDomain), std::string(getenv("HOME")) + "/.local/share");
    setenv("XDG_DATA_HOME", ("/" + std::string(300, 'x')).c_str(), 1);
    EXPECT_EQ(TB::GetApplicationSupportFolder(TB::kUserDomain), "");
    EXPECT_EQ(TB::GetApplicationSupportFolder(12345), "");
}

TEST_F(ScriptTest, SkinBundleByExactNameThenWithBundleSuffixUserFirst) {
    MakeFolder(m_user + "/Tallow Bright/Marrowfin/Skins/Dark.bundle");
    MakeFolder(m_local + "/Tallow Bright/Marrowfin/Skins/Dark");
    MakeFolder(m_local + "/Tallow Bright/Marrowfin/Skins/Light");
    CFBundleRef dark = TB::LocateSkinBundle("Dark");
    ASSERT_NE(dark, nullptr);
    EXPECT_EQ(BaseName(TBBundlePath(dark)), "Dark.bundle");
    CFRelease(dark);
    CFBundleRef light = TB::LocateSkinBundle("Light");
    ASSERT_NE(light, nullptr);
    EXPECT_NE(TBBundlePath(light).find(m_local), std::string::npos);
    CFRelease(light);
    EXPECT_EQ(TB::LocateSkinBundle("Missing"), nullptr);
}

TEST_F(ScriptTest, BuiltInScriptRunsUnlessAUserMidiLuaExists) {
    UserScript("Midi.lua", "");  // not the same name: the built-in script still runs
    AudioUnit withBuiltIn = OpenUnit();
    MIDI(withBuiltIn, 0x90, 60, 100);
    EXPECT_EQ(Param(withBuiltIn, kParam_OscPitch), 60.0f);

    LocalScript("midi.lua", "replaced = true");
    AudioUnit replaced = OpenUnit();
    EXPECT_EQ(Eval(replaced, "replaced"), "true");
    MIDI(replaced, 0x90, 60, 100);
    EXPECT_EQ(Param(replaced, kParam_OscPitch), 0.0f);
}

TEST_F(ScriptTest, LoadFailuresPrintOneLineEachAndLaterScriptsRun) {
    UserScript("midi.lua", "ran = {}");
    UserScript("broken.lua", "this is not lua");
    UserScript("raises.lua", "error('boom')");
    UserScript("good.lua", "ran.good = true");
    testing::internal::CaptureStdout();
    AudioUnit unit = OpenUnit();
    std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(CountOccurrences(out, "@@@ failed to run file: "), 2) << out;
    EXPECT_EQ(CountOccurrences(out, "\n"), 2) << out;
    EXPECT_NE(out.find("/broken.lua:1: "), std::string::npos) << out;
    EXPECT_NE(out.find("raises.lua:1: boom\n"), std::string::npos);
    EXPECT_EQ(Eval(unit, "ran.good"), "true");
}

TEST_F(ScriptTest, SecondInitReturnsTheSameStateAndRunsNothingAgain) {
    UserScript("midi.lua", "runs = (runs or 0) + 1");
    AudioUnit unit = OpenUnit();
    EXPECT_EQ(Helper(unit).LuaInit(), Helper(unit).GetState());
    EXPECT_EQ(Eval(unit, "runs"), "1");
}
