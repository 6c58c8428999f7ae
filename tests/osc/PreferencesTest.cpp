// The preferences store over its property-list file: types, defaults, damaged files, writes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include <plist/plist.h>

#include "osc/Preferences.h"
#include "tests/support/Process.h"
#include "tests/support/ScopedTestFolders.h"

namespace {

class PreferencesTest : public testing::Test {
protected:
    void WriteFile(const std::string& bytes) { TB::ScopedTestFolders::WriteFile(m_path, bytes); }
    // Stores a dictionary built by `fill` as an XML (or binary) property list.
    void WriteDict(void (*fill)(plist_t), bool binary = false) {
        plist_t dict = plist_new_dict();
        fill(dict);
        char* data = nullptr;
        uint32_t length = 0;
        binary ? plist_to_bin(dict, &data, &length) : plist_to_xml(dict, &data, &length);
        WriteFile(std::string(data, length));
        free(data);
        plist_free(dict);
    }
    std::string Skin(const std::string& initial = "") {
        std::string skin = initial;
        GetPrefString("Skin", skin);
        return skin;
    }

    TB::ScopedTestFolders m_folders{"marrowfin-prefs"};
    std::string m_path = m_folders.Config() + "/com.tallowbright.Marrowfin.plist";
};

}  // namespace

TEST_F(PreferencesTest, StoredIntegersReadBackAndOtherKeysSurvive) {
    EXPECT_EQ(GetPrefsFilePath(), m_path);
    EXPECT_EQ(GetPrefInt("OSC Base Port", 7000), 7000);
    EXPECT_EQ(Skin(), "");
    EXPECT_FALSE(std::filesystem::exists(m_folders.Config()));  // reading creates nothing

    SetPrefInt("OSC Base Port", 9000);  // creates the missing folder
    SetPrefInt("Lowest", INT32_MIN);
    SetPrefInt("OSC Base Port", 7100);
    EXPECT_EQ(GetPrefInt("Lowest", 0), INT32_MIN);
    EXPECT_EQ(GetPrefInt("Never stored", 42), 42);
    EXPECT_EQ(GetPrefInt("OSC Base Port", 7000), 7100);
    // Only the file (and the writers' lock) remain: no temporary files left behind.
    for (const auto& entry : std::filesystem::directory_iterator(m_folders.Config())) {
        const std::string name = entry.path().filename();
        EXPECT_TRUE(name == "com.tallowbright.Marrowfin.plist" || name == "com.tallowbright.Marrowfin.plist.lock") << name;
    }
}

TEST_F(PreferencesTest, ValuesOfTheWrongTypeReadAsTheDefault) {
    WriteDict([](plist_t d) {
        plist_dict_set_item(d, "OSC Base Port", plist_new_string("9000"));
        plist_dict_set_item(d, "Enable eye candy", plist_new_bool(0));
        plist_dict_set_item(d, "Real", plist_new_real(7100.9));
        plist_dict_set_item(d, "Huge", plist_new_uint(5000000000ull));
        plist_dict_set_item(d, "Skin", plist_new_uint(3));
    });
    EXPECT_EQ(GetPrefInt("OSC Base Port", 7000), 7000);
    EXPECT_EQ(GetPrefInt("Enable eye candy", 1), 1);
    EXPECT_EQ(GetPrefInt("Real", 0), 7100);
    EXPECT_EQ(GetPrefInt("Huge", 7), 7);
    EXPECT_EQ(Skin("unchanged"), "unchanged");
}

TEST_F(PreferencesTest, BinaryListsAreReadAndLongStringsCutOnACharacterBoundary) {
    WriteDict(
        [](plist_t d) {
            plist_dict_set_item(d, "OSC Base Port", plist_new_uint(8000));
            plist_dict_set_item(d, "Skin", plist_new_string((std::string(1022, 'a') + "\xC3\xA9\xC3\xA9").c_str()));
        },
        true);
    EXPECT_EQ(GetPrefInt("OSC Base Port", 7000), 8000);
    EXPECT_EQ(Skin(), std::string(1022, 'a'));  // 1023 bytes at most, never half a character
    SetPrefInt("Enable eye candy", 0);          // rewritten as XML with every key kept
    EXPECT_EQ(GetPrefInt("OSC Base Port", 7000), 8000);
    EXPECT_EQ(GetPrefInt("Enable eye candy", 1), 0);
}

TEST_F(PreferencesTest, DamagedFilesReadAsNothingStoredAndAreKeptAsideOnWrite) {
    // 200 000 levels of nesting overflowed libplist's recursive parser.
    std::string deep = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>OSC Base Port</key><integer>7100</integer><key>x</key>";
    for (int i = 0; i < 200000; ++i) deep += "<array>";
    const std::vector<std::string> damaged = {
        deep,
        std::string("\x01\x02garbage\xff", 10),
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><integer>1</integer></array></plist>",
        std::string("bplist00\x01\x02\x03", 11),
    };
    for (const std::string& bytes : damaged) {
        WriteFile(bytes);
        EXPECT_EQ(GetPrefInt("OSC Base Port", 7000), 7000);
        EXPECT_EQ(Skin("kept"), "kept");
        EXPECT_EQ(TB::ReadTextFile(m_path), bytes) << "a read never rewrites the file";
    }
    testing::internal::CaptureStderr();
    SetPrefInt("OSC Base Port", 9100);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find(".corrupt"), std::string::npos) << report;
    EXPECT_EQ(TB::ReadTextFile(m_path + ".corrupt"), damaged.back());
    EXPECT_EQ(GetPrefInt("OSC Base Port", 7000), 9100);
}

TEST_F(PreferencesTest, ConcurrentWritersLoseNoKey) {
    // Each set is a read-modify-write of the whole file; none may undo another.
    auto key = [](int t, int i) { return "key " + std::to_string(t) + "." + std::to_string(i); };
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) SetPrefInt(key(t, i).c_str(), t * 100 + i);
        });
    for (auto& w : writers) w.join();
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 10; ++i) EXPECT_EQ(GetPrefInt(key(t, i).c_str(), -1), t * 100 + i);
}

TEST_F(PreferencesTest, AFifoInPlaceOfTheFileReadsAsTheDefaultsAndIsLeftAlone) {
    // Opening a FIFO for reading used to wait for a writer for ever.
    std::filesystem::create_directories(m_folders.Config());
    ASSERT_EQ(mkfifo(m_path.c_str(), 0600), 0);
    EXPECT_EQ(GetPrefInt("OSC Base Port", 7000), 7000);
    struct stat info;
    ASSERT_EQ(stat(m_path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}
