// Class-info state: restore refusals and damaged "data" blocks, .aupreset write errors, factory
// presets and the present preset.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "hostframework/ClassInfoFile.h"
#include "tests/hostframework/GainTestEffect.h"
#include "tests/support/TestHost.h"

using namespace gaintest;

namespace {

// Owns a property list; `p` is the tree.
struct PlistPtr {
    explicit PlistPtr(plist_t tree) : p(tree) {}
    ~PlistPtr() { plist_free(p); }
    PlistPtr(const PlistPtr&) = delete;
    plist_t p;
};

void SetData(plist_t state, const std::vector<UInt8>& block) {
    plist_dict_set_item(state, "data", plist_new_data(reinterpret_cast<const char*>(block.data()), block.size()));
}

std::vector<UInt8> Words(std::initializer_list<UInt32> words) {
    std::vector<UInt8> out;
    for (UInt32 w : words)
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(UInt8(w >> shift));
    return out;
}

class StateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(host.Open(GainTestEffectEntry, kDescription), noErr);
        dir = std::filesystem::temp_directory_path() / ("mf-state-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    void SetValues(float gain, float mode, float offset) {
        ASSERT_EQ(host.SetParameter(kGain, gain), noErr);
        ASSERT_EQ(host.SetParameter(kMode, mode), noErr);
        ASSERT_EQ(host.SetParameter(kOffset, offset), noErr);
    }
    std::vector<float> Values() { return {host.Parameter(kGain), host.Parameter(kMode), host.Parameter(kOffset)}; }
    std::string PresetName() {
        SInt32 number = 0;
        std::string name;
        EXPECT_EQ(host.GetPresentPreset(number, name), noErr);
        return std::to_string(number) + " " + name;
    }

    TB::TestHost host;
    std::filesystem::path dir;
};

}  // namespace

TEST_F(StateTest, RefusedStatesChangeNothing) {
    SetValues(0.75f, 1.f, 0.25f);
    PlistPtr good(host.SaveState());
    SetValues(0.1f, 2.f, -0.5f);
    ASSERT_EQ(host.ChoosePreset(2), noErr);  // gain 0, "Silent"
    const std::vector<float> before = Values();
    // Each case changes one key of a good state (a null value removes the key).
    const std::pair<const char*, plist_t> changes[] = {
        {"version", plist_new_uint(1)},     {"subtype", plist_new_uint(FourCC("Gan2"))},
        {"data", plist_new_string("abc")},  {"manufacturer", nullptr},
    };
    for (const auto& [key, value] : changes) {
        PlistPtr s(plist_copy(good.p));
        if (value) plist_dict_set_item(s.p, key, value);
        else plist_dict_remove_item(s.p, key);
        EXPECT_EQ(host.RestoreState(s.p), kAudioUnitErr_InvalidPropertyValue) << key;
        EXPECT_EQ(Values(), before) << key;
        EXPECT_EQ(PresetName(), "2 Silent") << key;
    }
    EXPECT_EQ(host.RestoreState(nullptr), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(Values(), before);
    // The "type" is not compared.
    PlistPtr s(plist_copy(good.p));
    plist_dict_set_item(s.p, "type", plist_new_uint(FourCC("aufx")));
    EXPECT_EQ(host.RestoreState(s.p), noErr);
    EXPECT_EQ(Values(), (std::vector<float>{0.75f, 1.f, 0.25f}));
}

TEST_F(StateTest, DamagedDataBlocksRestoreOnlyCompletePairs) {
    PlistPtr base(host.SaveState());
    plist_dict_remove_item(base.p, "name");
    auto restore = [&](const std::vector<UInt8>& block) {
        SetValues(1.f, 0.f, 0.f);
        PlistPtr s(plist_copy(base.p));
        SetData(s.p, block);
        // The block's bytes are copied into an exactly sized buffer: an over-read shows
        // under the address sanitizer.
        EXPECT_EQ(host.RestoreState(s.p), noErr);
        return Values();
    };
    const UInt32 half = 0x3F000000, two = 0x40000000, quarter = 0x3E800000;
    // Truncated inside the third pair: the two complete pairs are restored.
    std::vector<UInt8> block = Words({0, 0, 3, 0, half, 1, two, 2, quarter});
    block.resize(block.size() - 3);
    EXPECT_EQ(restore(block), (std::vector<float>{0.5f, 2.f, 0.f}));
    // A count that claims far more pairs than there are.
    EXPECT_EQ(restore(Words({0, 0, 0xFFFFFFFF, 2, quarter})), (std::vector<float>{1.f, 0.f, 0.25f}));
    // A header cut short, and an empty block.
    EXPECT_EQ(restore({0, 0, 0, 0, 0, 0}), (std::vector<float>{1.f, 0.f, 0.f}));
    EXPECT_EQ(restore({}), (std::vector<float>{1.f, 0.f, 0.f}));
    // Restoring stops at the first record whose element does not exist.
    EXPECT_EQ(restore(Words({0, 0, 1, 0, half, 2, 9, 1, 0, 0, 0, 1, 2, quarter})),
              (std::vector<float>{0.5f, 0.f, 0.f}));
    // Unknown ids are skipped; values are stored exactly as saved, whatever they are.
    const std::vector<float> odd = restore(Words({0, 0, 3, 55, half, 0, 0x42C80000 /* 100 */, 2, 0xFF800000 /* -inf */}));
    EXPECT_EQ(odd[0], 100.f);
    EXPECT_EQ(odd[2], -INFINITY);
    EXPECT_EQ(PresetName(), "-1 Untitled");
}

TEST_F(StateTest, PresetFileWriteErrorsLeaveNoFile) {
    PlistPtr state(host.SaveState());
    std::string err;
    EXPECT_EQ(WriteClassInfoFile(state.p, (dir / "no-such-folder" / "x.aupreset").string(), &err), kAudioUnitErr_InvalidFile);
    EXPECT_FALSE(err.empty());
    PlistPtr array(plist_new_array());
    EXPECT_EQ(WriteClassInfoFile(array.p, (dir / "x.aupreset").string(), &err), paramErr);
    EXPECT_FALSE(std::filesystem::exists(dir / "x.aupreset"));
}

TEST_F(StateTest, FactoryPresetsAndThePresentPreset) {
    EXPECT_EQ(host.FactoryPresetNames(), (std::vector<std::string>{"Unity", "Half", "Silent"}));
    EXPECT_EQ(PresetName(), "0 Unity");

    static int notifications = 0;
    notifications = 0;
    AudioUnitPropertyListenerProc listener = [](void*, AudioUnit, AudioUnitPropertyID id, AudioUnitScope,
                                                AudioUnitElement) {
        if (id == kAudioUnitProperty_PresentPreset) ++notifications;
    };
    ASSERT_EQ(AudioUnitAddPropertyListener(host.Unit(), kAudioUnitProperty_PresentPreset, listener, nullptr), noErr);

    ASSERT_EQ(host.ChoosePreset(1), noErr);
    EXPECT_EQ(host.Parameter(kGain), 0.5f);
    EXPECT_EQ(PresetName(), "1 Half");
    EXPECT_EQ(notifications, 1);

    AUPreset unnamed{-1, nullptr};
    EXPECT_EQ(host.SetProperty(kAudioUnitProperty_PresentPreset, unnamed), kAudioUnitErr_InvalidPropertyValue);
    CFStringRef mine = CFStringCreateWithCString(nullptr, "Mine", kCFStringEncodingUTF8);
    AUPreset user{-1, mine};
    ASSERT_EQ(host.SetProperty(kAudioUnitProperty_PresentPreset, user), noErr);
    CFRelease(mine);  // the unit keeps its own reference
    EXPECT_EQ(PresetName(), "-1 Mine");
    EXPECT_EQ(notifications, 2);
    PlistPtr state(host.SaveState());
    ASSERT_EQ(host.RestoreState(state.p), noErr);
    EXPECT_EQ(notifications, 3);
}
