// The effect unit through the component interface, as a host sees it: parameter flags and
// defaults, value strings, presets and their notifications, the OSC port rule, latency and
// repeated time stamps, the editor record and bundle, and render errors.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "effect/MarrowfinParameters.h"
#include "effect/VoskMarrowfin.h"
#include "effect/VoskMarrowfinEntry.h"
#include "hostframework/RunLoop.h"
#include "osc/Preferences.h"
#include "tests/support/ScopedTestFolders.h"
#include "tests/support/TestHost.h"

namespace {

using TB::Channels;
using TB::TestHost;

class VoskMarrowfinTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Keep the user's preferences and scripts out of the tests.
        m_folders.emplace("marrowfin-unit");
        ASSERT_EQ(noErr, m_host.Open(VoskMarrowfinEntry, kMarrowfinComponentDescription));
    }
    void TearDown() override {
        m_host.Close();
        m_folders.reset();
    }
    VoskMarrowfin& Unit() {
        return *dynamic_cast<VoskMarrowfin*>(
            static_cast<ComponentBase*>(GetComponentInstanceStorage(m_host.Unit())));
    }
    void Start(double rate, UInt32 channels, UInt32 maxFrames = 1024) {
        ASSERT_EQ(noErr, m_host.SetFormat(rate, channels));
        ASSERT_EQ(noErr, m_host.SetMaxFrames(maxFrames));
        ASSERT_EQ(noErr, m_host.Initialize());
    }

    std::optional<TB::ScopedTestFolders> m_folders;
    TestHost m_host;
};

Channels Sine(UInt32 channels, UInt32 frames, double freq, double rate, float amp = 0.5f) {
    Channels out(channels, std::vector<float>(frames));
    for (UInt32 c = 0; c < channels; ++c)
        for (UInt32 i = 0; i < frames; ++i) out[c][i] = amp * float(std::sin(2 * M_PI * freq * i / rate));
    return out;
}

TEST_F(VoskMarrowfinTest, NamedValuesAreFlaggedAndUnknownIdsAreRefused) {
    ASSERT_EQ(40u, m_host.ParameterList().size());
    for (UInt32 id = 0; id < kNumParams; ++id) {
        AudioUnitParameterInfo info;
        ASSERT_EQ(noErr, m_host.GetParameterInfo(id, info));
        const bool named = id == 11 || id == 18 || id == 27 || id == 39;
        EXPECT_EQ(named, (info.flags & kAudioUnitParameterFlag_ValuesHaveStrings) != 0) << id;
    }
    AudioUnitParameterInfo info;
    EXPECT_EQ(kAudioUnitErr_InvalidParameter, m_host.GetParameterInfo(40, info));
    EXPECT_EQ(kAudioUnitErr_InvalidParameter, m_host.GetParameterInfo(0, info, kAudioUnitScope_Input));
    EXPECT_EQ(kAudioUnitErr_InvalidParameter, m_host.SetParameter(40, 1.f));
}

// Asks property 33 for the string of (id, value); "<null>" when none is given.
std::string ValueString(TestHost& host, AudioUnitParameterID id, const float* value, OSStatus* err = nullptr) {
    AudioUnitParameterStringFromValue request = {id, value, CFSTR("garbage")};
    OSStatus result = host.GetProperty(kAudioUnitProperty_ParameterStringFromValue, request);
    if (err) *err = result;
    std::string text = request.outString ? TB::CFToString(request.outString) : "<null>";
    if (request.outString) CFRelease(request.outString);
    return text;
}

TEST_F(VoskMarrowfinTest, ValueStrings) {
    const struct {
        AudioUnitParameterID id;
        float value;
        const char* text;
    } cases[] = {
        {27, 0.996f, "Low"}, {27, 0.994f, "<null>"}, {27, -0.003f, "Thru"}, {27, 4.f, "Thru"},
        {18, 0.f, "Track"},  {39, 5.f, "<null>"},    {27, NAN, "<null>"},
    };
    for (const auto& c : cases) {
        OSStatus err = -1;
        EXPECT_EQ(c.text, ValueString(m_host, c.id, &c.value, &err)) << c.id << " " << c.value;
        EXPECT_EQ(noErr, err);
    }
    // No value pointer: the current value.
    ASSERT_EQ(noErr, m_host.SetParameter(27, 3.f));
    EXPECT_EQ("High", ValueString(m_host, 27, nullptr));

    OSStatus err = noErr;
    const float one = 1.f;
    EXPECT_EQ("<null>", ValueString(m_host, 1, &one, &err));
    EXPECT_EQ(kAudioUnitErr_InvalidParameter, err);
}

void CollectChange(void* refCon, void*, const AudioUnitParameter* param, AudioUnitParameterValue value) {
    static_cast<std::vector<std::pair<UInt32, float>>*>(refCon)->push_back({param->mParameterID, value});
}

TEST_F(VoskMarrowfinTest, FactoryPresetsSetTheirValuesAndNotifyEveryListener) {
    ASSERT_EQ(11u, m_host.FactoryPresetNames().size());
    TB::RunLoop loop;
    std::vector<std::pair<UInt32, float>> changes;
    AUParameterListenerRef listener = nullptr;
    ASSERT_EQ(noErr, AUListenerCreate(CollectChange, &changes, &loop, nullptr, 1.f / 30, &listener));
    for (UInt32 id = 0; id < kNumParams; ++id) {
        AudioUnitParameter param = m_host.ParameterRef(id);
        ASSERT_EQ(noErr, AUListenerAddParameter(listener, nullptr, &param));
    }
    ASSERT_EQ(noErr, m_host.ChoosePreset(3));
    loop.RunFor(std::chrono::milliseconds(100));
    ASSERT_EQ(40u, changes.size());
    for (UInt32 id = 0; id < kNumParams; ++id) {
        EXPECT_EQ(id, changes[id].first);
        EXPECT_EQ(esPresets[3].values[id], changes[id].second);
    }
    AUListenerDispose(listener);

    // Unknown numbers change nothing.
    ASSERT_EQ(noErr, m_host.ChoosePreset(7));
    ASSERT_EQ(noErr, m_host.SetParameter(0, 0.25f));
    EXPECT_EQ(kAudioUnitErr_InvalidPropertyValue, m_host.ChoosePreset(11));
    EXPECT_EQ(0.25f, m_host.Parameter(0));
    SInt32 number = -1;
    std::string name;
    ASSERT_EQ(noErr, m_host.GetPresentPreset(number, name));
    EXPECT_EQ(7, number);
    EXPECT_EQ("Auto Bassline", name);
}

TEST_F(VoskMarrowfinTest, OSCPortRule) {
    TB::OSCHelper& osc = Unit().GetOSCHelper();
    const SInt32 base = g_OSCBasePort;
    ASSERT_EQ(noErr, m_host.SetParameter(kParam_OSCPortOffset, 5.9f));
    EXPECT_EQ(base + 5, osc.GetPort());
    ASSERT_EQ(noErr, m_host.SetParameter(kParam_OSCPortOffset, 0.f));
    EXPECT_EQ(0, osc.GetPort());
    // Values no port can be made of turn remote control off.
    ASSERT_EQ(noErr, m_host.SetParameter(kParam_OSCPortOffset, 7.f));
    ASSERT_EQ(noErr, m_host.SetParameter(kParam_OSCPortOffset, NAN));
    EXPECT_EQ(0, osc.GetPort());

    // A restored state re-applies the rule; a refused one leaves everything as it was.
    plist_t withZero = m_host.SaveState();
    ASSERT_EQ(noErr, m_host.SetParameter(kParam_OSCPortOffset, 4.f));
    EXPECT_EQ(base + 4, osc.GetPort());
    plist_t foreign = plist_copy(withZero);
    plist_dict_set_item(foreign, "subtype", plist_new_uint(FourCC("Othr")));
    EXPECT_EQ(kAudioUnitErr_InvalidPropertyValue, m_host.RestoreState(foreign));
    EXPECT_EQ(base + 4, osc.GetPort());
    EXPECT_EQ(4.f, m_host.Parameter(kParam_OSCPortOffset));
    ASSERT_EQ(noErr, m_host.RestoreState(withZero));
    EXPECT_EQ(0, osc.GetPort());
    plist_free(foreign);
    plist_free(withZero);

    // Choosing a preset applies it too (every preset has offset 0).
    ASSERT_EQ(noErr, m_host.SetParameter(kParam_OSCPortOffset, 2.f));
    ASSERT_EQ(noErr, m_host.ChoosePreset(3));
    EXPECT_EQ(0, osc.GetPort());
}

TEST_F(VoskMarrowfinTest, LatencyAndRepeatedTimeStamps) {
    Start(44100, 1);
    Float64 latency = -1;
    ASSERT_EQ(noErr, m_host.GetProperty(kAudioUnitProperty_Latency, latency));
    EXPECT_EQ(0.0, latency);
    Channels input = Sine(1, 512, 441, 44100), output;
    ASSERT_EQ(noErr, m_host.Render(512, input, output));
    ASSERT_EQ(noErr, m_host.GetProperty(kAudioUnitProperty_Latency, latency));
    EXPECT_EQ(Float64(882.f / 44100.f), latency);

    // The same time stamp again: no new pull of the input, but the block control advances.
    const float phase = Unit().GetBlock().lfo.pitchLfoPhase;
    const UInt32 pulls = m_host.InputPulls();
    Channels again;
    m_host.RepeatNextTimeStamp();
    ASSERT_EQ(noErr, m_host.Render(512, input, again));
    EXPECT_EQ(pulls, m_host.InputPulls());
    EXPECT_EQ(output, again) << "the host gets the block it already has";
    const float expected = phase + 512.f / 44100.f * 5.f;
    EXPECT_NEAR(expected - std::floor(expected), Unit().GetBlock().lfo.pitchLfoPhase, 1e-6);
}

TEST_F(VoskMarrowfinTest, MonoFillsOnlyTheFirstHalfOfTheEditorRecord) {
    Start(44100, 1);
    Channels input = Sine(1, 500, 441, 44100), output;  // whole periods: the blocks join seamlessly
    for (int block = 0; block < 18; ++block) ASSERT_EQ(noErr, m_host.Render(500, input, output));
    DataToGui* address = nullptr;  // the editor finds the record through property 64001
    ASSERT_EQ(noErr, m_host.GetProperty(kMarrowfinProperty_DataToGui, address));
    ASSERT_EQ(&Unit().GetDataToGui(), address);
    const DataToGui& gui = *address;
    const DataToGuiAnalysis analysis = gui.Analysis();
    EXPECT_NEAR(441.f, analysis.frequency[0], 20.f);
    EXPECT_GT(analysis.peak[0], 0.f);
    EXPECT_EQ(0.f, analysis.frequency[1]);
    EXPECT_EQ(0.f, analysis.peak[1]);
    EXPECT_EQ(0.f, analysis.envelope[1]);
}

TEST_F(VoskMarrowfinTest, EditorBundleProperty) {
    AudioUnitCocoaViewInfo info = {};
    ASSERT_EQ(noErr, m_host.GetProperty(kAudioUnitProperty_CocoaUI, info));
    EXPECT_EQ("ComVoskTestMarfCocoaViewFactory", TB::CFToString(info.mCocoaAUViewClass[0]));
    UInt8 path[1024];
    ASSERT_TRUE(CFURLGetFileSystemRepresentation(info.mCocoaAUViewBundleLocation, true, path, sizeof(path)));
    EXPECT_EQ(0, access((std::string(reinterpret_cast<char*>(path)) + "/midi.lua").c_str(), R_OK));
    CFRelease(info.mCocoaAUViewBundleLocation);

    TBRegisterBundleIdentifier(kMarrowfinBundleIdentifier, "");
    EXPECT_EQ(fnfErr, m_host.GetProperty(kAudioUnitProperty_CocoaUI, info));
    TBRegisterBundleIdentifier(kMarrowfinBundleIdentifier, MARROWFIN_SOURCE_DIR "/resources");
}

TEST_F(VoskMarrowfinTest, AKernelRefusalComesBackFromTheRenderCall) {
    // Interleaved stereo hands each kernel two channels, which it refuses.
    ASSERT_EQ(noErr, m_host.SetFormat(44100, 2, true));
    ASSERT_EQ(noErr, m_host.Initialize());
    Channels stereo = Sine(2, 64, 300, 44100), output;
    EXPECT_EQ(kAudioUnitErr_FormatNotSupported, m_host.Render(64, stereo, output));
}

}  // namespace
