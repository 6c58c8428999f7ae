// The preferences store over its property-list file: types, defaults, damaged files, writes.
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <plist/plist.h>

#include "osc/Preferences.h"
#include "tests/support/ScopedTestFolders.h"

namespace {

class PreferencesTest : public testing::Test {
protected:
    void SetUp() override {
        m_folders.emplace("marrowfin-prefs");
        m_folder = m_folders->Config();
        m_path = m_folder + "/com.tallowbright.Marrowfin.plist";
    }
    void TearDown() override {
        m_folders.reset();
    }

    void WriteFile(const std::string& bytes) {
        mkdir(m_folder.c_str(), 0700);
        std::ofstream(m_path, std::ios::binary) << bytes;
    }
    std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool Exists(const std::string& path) {
        struct stat info;
        return stat(path.c_str(), &info) == 0;
    }
    // Stores a dictionary built by `fill` as an XML (or binary) property list.
    void WriteDict(void (*fill)(plist_t), bool binary = false) {
        plist_t dict = plist_new_dict();
        fill(dict);
        char* data = nullptr;
        uint32_t length = 0;
        if (binary) plist_to_bin(dict, &data, &length);
        else plist_to_xml(dict, &data, &length);
        WriteFile(std::string(data, length));
        if (binary) plist_to_bin_free(data);
        else plist_to_xml_free(data);
        plist_free(dict);
    }
    std::vector<std::string> FolderEntries() {
        std::vector<std::string> names;
        if (DIR* dir = opendir(m_folder.c_str())) {
            while (dirent* entry = readdir(dir))
                if (entry->d_name[0] != '.') names.push_back(entry->d_name);
            closedir(dir);
        }
        return names;
    }

    std::optional<TB::ScopedTestFolders> m_folders;
    std::string m_folder, m_path;
};

}  // namespace

TEST_F(PreferencesTest, NothingStoredReadsTheDefaultsAndCreatesNoFile) {
    EXPECT_EQ(GetPrefsFilePath(), m_path);
    EXPECT_EQ(GetPrefInt("OSC Base Port", 7000), 7000);
    EXPECT_EQ(GetPrefInt("Enable eye candy", 1), 1);
    EXPECT_EQ(GetPrefInt("Enable floating tooltip", 0), 0);
    std::string skin;
    GetPrefString("Skin", skin);
    EXPECT_EQ(skin, "");
    EXPECT_FALSE(Exists(m_folder));
}

TEST_F(PreferencesTest, StoredIntegersReadBackAndOtherKeysSurvive) {
    SetPrefInt("OSC Base Port", 9000);  // creates the missing folder
    EXPECT_EQ(GetPrefInt("OSC Base Port", 7000), 9000);
    SetPrefInt("Enable eye candy", 0);
    SetPrefInt("Negative", -5);
    SetPrefInt("Lowest", INT32_MIN);
    EXPECT_EQ(GetPrefInt("OSC Base Port", 7000), 9000);
    EXPECT_EQ(GetPrefInt("Enable eye candy", 1), 0);
    EXPECT_EQ(GetPrefInt("Negative", 0), -5);
    EXPECT_EQ(GetPrefInt("Lowest", 0), INT32_MIN);
    EXPECT_EQ(GetPrefInt("Never stored", 42), 42);
    SetPrefInt("OSC Base Port", 7100);
    EXPECT_EQ(GetPrefInt("OSC Base Port", 7000), 7100);

    // An integer in a plain XML property list that other tools can read and edit.
    const std::string xml = ReadFile(m_path);
    EXPECT_NE(xml.find("<key>OSC Base Port</key>"), std::string::npos);
    EXPECT_NE(xml.find("<integer>7100</integer>"), std::string::npos);
    // Only the file (and the writers' lock) remain: no temporary files left behind.
    for (const std::string& name : FolderEntries())
        EXPECT_TRUE(name == "com.tallowbright.Marrowfin.plist" || name == "com.tallowbright.Marrowfin.plist.lock") << name;
}

TEST_F(PreferencesTest, ValuesOfTheWrongTypeReadAsTheDefault) {
    WriteDict([](plist_t d) {
        plist_dict_set_item(d, "OSC Base Port", plist_new_string("9000"));
        plist_dict_set_item(d, "Enable eye candy", plist_new_bool(0));
        plist_dict_set_item(d, "Enable constant redraw", plist_new_uint(5));
        plist_dict_set_item(d, "Real", plist_new_real(7100.9));
        plist_dict_set_item(d, "Huge", plist_new_uint(5000000000ull));
        plist_dict_set_item(d, "Skin", plist_new_uint(3));
        plist_dict_set_item(d, "Name", plist_new_string("Night"));
    });
    EXPECT_EQ(GetPrefInt("OSC Base Port", 7000), 7000);
    EXPECT_EQ(GetPrefInt("Enable eye candy", 1), 1);
    EXPECT_EQ(GetPrefInt("Enable constant redraw", 1), 5);  // a switch stored as 5 is on
    EXPECT_EQ(GetPrefInt("Real", 0), 7100);
    EXPECT_EQ(GetPrefInt("Huge", 7), 7);
    std::string skin = "unchanged";
    GetPrefString("Skin", skin);
    EXPECT_EQ(skin, "unchanged");
    GetPrefString("Name", skin);
    EXPECT_EQ(skin, "Night");
}

TEST_F(PreferencesTest, BinaryPropertyListsAreRead) {
    WriteDict(
        [](plist_t d) {
            plist_dict_set_item(d, "OSC Base Port", plist_new_uint(8000));
            plist_dict_set_item(d, "Skin", plist_new_string("Dark"));
        },
        true);
    EXPECT_EQ(GetPrefInt("OSC Base Port", 7000), 8000);
    std::string skin;
    GetPrefString("Skin", skin);
    EXPECT_EQ(skin, "Dark");
    SetPrefInt("Enable eye candy", 0);  // rewritten as XML with every key kept
    EXPECT_EQ(GetPrefInt("OSC Base Port", 7000), 8000);
    EXPECT_EQ(GetPrefInt("Enable eye candy", 1), 0);
}

TEST_F(PreferencesTest, LongStringsAreCutAt1023BytesOnACharacterBoundary) {
    WriteDict([](plist_t d) {
        std::string text(1022, 'a');
        text += "\xC3\xA9\xC3\xA9";  // a two-byte character across the limit
        plist_dict_set_item(d, "Skin", plist_new_string(text.c_str()));
    });
    std::string skin;
    GetPrefString("Skin", skin);
    EXPECT_EQ(skin, std::string(1022, 'a'));
}

TEST_F(PreferencesTest, DamagedFilesReadAsNothingStoredAndAreNeverRewrittenByReads) {
    const std::vector<std::string> damaged = {
        std::string("\x01\x02garbage\xff", 10),
        "",                                                              // empty
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>OSC",  // truncated
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><integer>1</integer></array></plist>",
        std::string("bplist00\x01\x02\x03", 11),
    };
    for (const std::string& bytes : damaged) {
        WriteFile(bytes);
        EXPECT_EQ(GetPrefInt("OSC Base Port", 7000), 7000);
        std::string skin = "kept";
        GetPrefString("Skin", skin);
        EXPECT_EQ(skin, "kept");
        EXPECT_EQ(ReadFile(m_path), bytes);
    }
}

TEST_F(PreferencesTest, AFifoOrADeeplyNestedFileReadsAsTheDefaultsAndIsLeftAlone) {
    // A FIFO in place of the file: opening it for reading used to wait for a writer for ever.
    mkdir(m_folder.c_str(), 0700);
    ASSERT_EQ(mkfifo(m_path.c_str(), 0600), 0);
    EXPECT_EQ(GetPrefInt("OSC Base Port", 7000), 7000);
    struct stat info;
    ASSERT_EQ(stat(m_path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    unlink(m_path.c_str());

    // 200 000 levels: libplist's recursive parser overflowed the stack.
    std::string deep = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>OSC Base Port</key><integer>7100</integer><key>x</key>";
    for (int i = 0; i < 200000; ++i) deep += "<array>";
    WriteFile(deep);
    EXPECT_EQ(GetPrefInt("OSC Base Port", 7000), 7000);
    std::string skin = "kept";
    GetPrefString("Skin", skin);
    EXPECT_EQ(skin, "kept");
    EXPECT_EQ(ReadFile(m_path), deep);
}

TEST_F(PreferencesTest, WritingOverACorruptFileKeepsTheOldOneAside) {
    const std::string bytes("not a property list \x80\x81", 22);
    WriteFile(bytes);
    testing::internal::CaptureStderr();
    SetPrefInt("OSC Base Port", 9100);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find(".corrupt"), std::string::npos) << report;
    EXPECT_EQ(ReadFile(m_path + ".corrupt"), bytes);
    EXPECT_EQ(GetPrefInt("OSC Base Port", 7000), 9100);
}

TEST_F(PreferencesTest, ConcurrentWritersLoseNoKey) {
    // Each set is a read-modify-write of the whole file; none may undo another.
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < 10; ++i) SetPrefInt(("key " + std::to_string(t) + "." + std::to_string(i)).c_str(), t * 100 + i);
        });
    }
    for (auto& w : writers) w.join();
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(GetPrefInt(("key " + std::to_string(t) + "." + std::to_string(i)).c_str(), -1), t * 100 + i);
}
