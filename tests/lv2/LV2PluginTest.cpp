// The plug-in binary driven through the LV2 C API, as an LV2 host does: it is loaded with
// dlopen, and its output is compared with the same unit driven directly through the component
// interface.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "effect/MarrowfinParameters.h"
#include "effect/VoskMarrowfinEntry.h"
#include "lv2/MarrowfinLV2Ports.h"
#include "tests/lv2/LilvHost.h"
#include "tests/lv2/PluckSignal.h"
#include "tests/support/Process.h"
#include "tests/support/ScopedTestFolders.h"
#include "tests/support/TestHost.h"

namespace {

using namespace MarrowfinLV2;

const std::string kBinary = std::string(MARROWFIN_BINARY_DIR) + "/lv2/marrowfin.lv2/marrowfin.so";
const std::string kBundlePath = std::string(MARROWFIN_BINARY_DIR) + "/lv2/marrowfin.lv2/";

void* Library() {
    static void* library = dlopen(kBinary.c_str(), RTLD_NOW | RTLD_LOCAL);
    return library;
}

const LV2_Descriptor* Descriptor(uint32_t index) {
    auto entry = reinterpret_cast<LV2_Descriptor_Function>(dlsym(Library(), "lv2_descriptor"));
    return entry ? entry(index) : nullptr;
}

const LV2_Descriptor* DescriptorFor(int channels) { return Descriptor(channels == 2 ? 1 : 0); }

using UridMap = MarrowfinLV2Test::LilvUridMap;

// A host's state store: what save() stored, handed back to restore().
struct StateEntry {
    std::string value;
    uint32_t type = 0;
    uint32_t flags = 0;
};
typedef std::map<uint32_t, StateEntry> StateStore;

LV2_State_Status Store(LV2_State_Handle handle, uint32_t key, const void* value, size_t size, uint32_t type,
                       uint32_t flags) {
    (*static_cast<StateStore*>(handle))[key] = {std::string(static_cast<const char*>(value), size), type, flags};
    return LV2_STATE_SUCCESS;
}

const void* Retrieve(LV2_State_Handle handle, uint32_t key, size_t* size, uint32_t* type, uint32_t* flags) {
    auto* store = static_cast<StateStore*>(handle);
    auto it = store->find(key);
    if (it == store->end()) return nullptr;
    *size = it->second.value.size();
    *type = it->second.type;
    *flags = it->second.flags;
    return it->second.value.data();
}

// One plug-in instance with every port connected to buffers of its own.
class Instance {
public:
    // With inPlace, each output port shares its channel's input buffer, as some hosts do.
    Instance(int channels, double rate, const LV2_Feature* const* features, bool inPlace = false,
             uint32_t maxFrames = 16384)
        : m_channels(channels), m_descriptor(DescriptorFor(channels)), m_inPlace(inPlace) {
        if (!m_descriptor) return;
        m_handle = m_descriptor->instantiate(m_descriptor, rate, kBundlePath.c_str(), features);
        if (!m_handle) return;
        for (int id = 0; id < kNumParams; ++id) {
            m_controls[id] = astParamInfos[id].defaultValue;
            m_descriptor->connect_port(m_handle, id, &m_controls[id]);
        }
        m_descriptor->connect_port(m_handle, kPortLatency, &m_latency);
        m_descriptor->connect_port(m_handle, kPortControl, m_sequence);
        ClearSequence();
        for (int c = 0; c < channels; ++c) {
            m_in[c].assign(maxFrames, 0.f);
            m_out[c].assign(maxFrames, 0.f);
            m_descriptor->connect_port(m_handle, AudioInPort(c), m_in[c].data());
            m_descriptor->connect_port(m_handle, AudioOutPort(channels, c), inPlace ? m_in[c].data() : m_out[c].data());
        }
        m_descriptor->activate(m_handle);
    }
    ~Instance() {
        if (m_handle) {
            m_descriptor->deactivate(m_handle);
            m_descriptor->cleanup(m_handle);
        }
    }
    bool Ok() const { return m_handle != nullptr; }
    LV2_Handle Handle() const { return m_handle; }

    void Run(uint32_t frames) { m_descriptor->run(m_handle, frames); }
    // Renders the whole input in host blocks of `block` frames.
    TB::Channels Process(const TB::Channels& input, uint32_t block) {
        TB::Channels output(m_channels);
        const size_t frames = input[0].size();
        for (size_t start = 0; start < frames; start += block) {
            const uint32_t n = uint32_t(std::min<size_t>(block, frames - start));
            for (int c = 0; c < m_channels; ++c) std::copy_n(input[c].begin() + start, n, m_in[c].begin());
            Run(n);
            for (int c = 0; c < m_channels; ++c) {
                const std::vector<float>& out = m_inPlace ? m_in[c] : m_out[c];
                output[c].insert(output[c].end(), out.begin(), out.begin() + n);
            }
        }
        return output;
    }

    float& Control(int id) { return m_controls[id]; }
    float Latency() const { return m_latency; }

    // The MIDI port's sequence: cleared to an empty sequence of the given type.
    void ClearSequence(uint32_t sequenceType = 0) {
        std::memset(m_sequence, 0, sizeof m_sequence);
        auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(m_sequence);
        seq->atom.type = sequenceType;
        seq->atom.size = sequenceType ? sizeof(LV2_Atom_Sequence_Body) : 0;
    }
    void AddEvent(int64_t frame, uint32_t type, const std::vector<uint8_t>& bytes) {
        auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(m_sequence);
        const size_t at = sizeof(LV2_Atom) + lv2_atom_pad_size(seq->atom.size);
        LV2_Atom_Event header{};
        header.time.frames = frame;
        header.body.type = type;
        header.body.size = uint32_t(bytes.size());
        std::memcpy(m_sequence + at, &header, sizeof header);
        if (!bytes.empty()) std::memcpy(m_sequence + at + sizeof header, bytes.data(), bytes.size());
        seq->atom.size += uint32_t(lv2_atom_pad_size(sizeof(LV2_Atom_Event) + bytes.size()));
    }

    // One run() with these events in the MIDI port's sequence, emptied again after.
    void RunEvents(uint32_t sequenceType, uint32_t type, const std::vector<std::vector<uint8_t>>& events,
                   uint32_t frames = 32) {
        ClearSequence(sequenceType);
        for (const auto& bytes : events) AddEvent(0, type, bytes);
        Run(frames);
        ClearSequence(sequenceType);
    }

    const LV2_State_Interface* State() const {
        return static_cast<const LV2_State_Interface*>(m_descriptor->extension_data(LV2_STATE__interface));
    }
    LV2_State_Status Save(StateStore& store) { return State()->save(m_handle, Store, &store, 0, nullptr); }
    LV2_State_Status Restore(StateStore& store) { return State()->restore(m_handle, Retrieve, &store, 0, nullptr); }

private:
    int m_channels;
    const LV2_Descriptor* m_descriptor;
    bool m_inPlace;
    LV2_Handle m_handle = nullptr;
    float m_controls[kNumParams];
    float m_latency = -1.f;
    alignas(8) uint8_t m_sequence[4096];
    std::vector<float> m_in[2], m_out[2];
};

// The parameter values in a saved unit state (the big-endian "data" block of the dictionary).
std::map<int, float> ValuesOfState(const std::string& xml) {
    std::map<int, float> values;
    plist_t dict = nullptr;
    plist_from_xml(xml.data(), uint32_t(xml.size()), &dict);
    if (!dict) return values;
    plist_t data = plist_dict_get_item(dict, "data");
    char* bytes = nullptr;
    uint64_t length = 0;
    if (data && plist_get_node_type(data) == PLIST_DATA) plist_get_data_val(data, &bytes, &length);
    auto word = [&](uint64_t at) {
        const auto* p = reinterpret_cast<const uint8_t*>(bytes) + at;
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
    };
    for (uint64_t at = 0; bytes && at + 12 <= length;) {
        const uint32_t scope = word(at), count = word(at + 8);
        at += 12;
        for (uint32_t i = 0; i < count && at + 8 <= length; ++i, at += 8) {
            const uint32_t bits = word(at + 4);
            float value;
            std::memcpy(&value, &bits, 4);
            if (scope == kAudioUnitScope_Global) values[int(word(at))] = value;
        }
    }
    free(bytes);
    plist_free(dict);
    return values;
}

std::map<int, float> SavedValues(Instance& instance, UridMap& map) {
    StateStore store;
    if (instance.Save(store) != LV2_STATE_SUCCESS) return {};
    const auto it = store.find(map.Map(kStateClassInfoURI));
    if (it == store.end()) return {};
    std::string text = it->second.value;
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return ValuesOfState(text);
}

// A value inside each parameter's range that is not its default.
float TestValue(int id) {
    const ParamInfo& p = astParamInfos[id];
    if (id == kParam_OSCPortOffset) return 0.f;  // keep OSC off: no sockets in unit tests
    float v = p.minValue + (p.maxValue - p.minValue) * float(id % 7 + 1) / 9.f;
    if (p.unit == kAudioUnitParameterUnit_Indexed || p.unit == kAudioUnitParameterUnit_Boolean) v = std::round(v);
    return v == p.defaultValue ? p.maxValue : v;
}

TB::Channels Signal(int channels, size_t frames, double rate) {
    TB::Channels input;
    for (int c = 0; c < channels; ++c) input.push_back(MarrowfinLV2Test::PluckedBass(frames, rate, c));
    return input;
}

// The same unit driven directly, in the slices the plug-in cuts host blocks into.
TB::Channels Reference(int channels, double rate, const TB::Channels& input, uint32_t block, uint32_t maxFrames,
                       const float* controls) {
    TB::TestHost host;
    TB::Channels output(channels);
    if (host.Open(VoskMarrowfinEntry, kMarrowfinComponentDescription) != noErr) return output;
    host.SetFormat(rate, channels);
    host.SetMaxFrames(maxFrames);
    host.Initialize();
    for (int id = 0; id < kNumParams; ++id) host.SetParameter(id, controls[id]);
    const size_t frames = input[0].size();
    for (size_t start = 0; start < frames; start += block) {
        const size_t end = std::min<size_t>(start + block, frames);
        for (size_t s = start; s < end; s += maxFrames) {
            const uint32_t n = uint32_t(std::min<size_t>(maxFrames, end - s));
            TB::Channels slice(channels), out;
            for (int c = 0; c < channels; ++c) slice[c].assign(input[c].begin() + s, input[c].begin() + s + n);
            EXPECT_EQ(host.Render(n, slice, out), noErr);
            for (int c = 0; c < channels; ++c) output[c].insert(output[c].end(), out[c].begin(), out[c].end());
        }
    }
    return output;
}

// ---------------------------------------------------------------------------------------------

TEST(LV2PluginTest, ExportsTwoDescriptorsAndNothingElse) {
    ASSERT_NE(Library(), nullptr) << dlerror();
    ASSERT_NE(Descriptor(0), nullptr);
    ASSERT_NE(Descriptor(1), nullptr);
    EXPECT_STREQ(Descriptor(0)->URI, kMonoURI);
    EXPECT_STREQ(Descriptor(1)->URI, kStereoURI);
    EXPECT_EQ(Descriptor(2), nullptr);
    EXPECT_EQ(dlsym(Library(), "OpenComponent"), nullptr);
    EXPECT_EQ(Descriptor(0)->extension_data(nullptr), nullptr);
}

TEST(LV2PluginTest, InstantiatesWithoutFeaturesAndRefusesUnusableRates) {
    const LV2_Descriptor* d = DescriptorFor(1);
    ASSERT_NE(d, nullptr);
    for (double rate : {0.0, -44100.0, std::nan(""), 1e12}) {
        LV2_Handle h = d->instantiate(d, rate, kBundlePath.c_str(), nullptr);
        EXPECT_EQ(h, nullptr) << rate;
        if (h) d->cleanup(h);
    }
    // No features at all, as lv2apply does; the MIDI port gets an empty atom of size 0 with an
    // unmapped type, and the host runs one frame at a time.
    Instance instance(1, 44100, nullptr);
    ASSERT_TRUE(instance.Ok());
    instance.ClearSequence();
    for (int i = 0; i < 64; ++i) instance.Run(1);
    EXPECT_EQ(instance.Latency(), 882.f);  // the analysis window, from the first run
    Instance fast(2, 96000, nullptr);
    fast.Run(0);
    EXPECT_EQ(fast.Latency(), 1023.f);  // capped at the ring's longest period
    LV2_Handle bare = d->instantiate(d, 48000, nullptr, nullptr);  // no bundle path either
    ASSERT_NE(bare, nullptr);
    d->cleanup(bare);  // never activated
}

struct BlockCase {
    int channels;
    uint32_t block;
    bool inPlace = false;
};

class LV2RenderTest : public ::testing::TestWithParam<BlockCase> {};

TEST_P(LV2RenderTest, OutputEqualsTheUnitDrivenDirectly) {
    const auto [channels, block, inPlace] = GetParam();
    const double rate = 44100;
    const size_t frames = block == 1 ? 6000 : 20000;
    const TB::Channels input = Signal(channels, frames, rate);
    Instance instance(channels, rate, nullptr, inPlace);
    ASSERT_TRUE(instance.Ok());
    float controls[kNumParams];
    FillPresetDefaults();
    for (int id = 0; id < kNumParams; ++id) controls[id] = instance.Control(id) = esPresets[1].values[id];
    controls[kParam_DryLevel] = instance.Control(kParam_DryLevel) = 0.5f;

    const TB::Channels got = instance.Process(input, block);
    const TB::Channels want = Reference(channels, rate, input, block, kDefaultMaxFrames, controls);
    ASSERT_EQ(got.size(), want.size());
    for (int c = 0; c < channels; ++c) {
        ASSERT_EQ(got[c].size(), want[c].size());
        size_t differing = 0;
        for (size_t i = 0; i < frames; ++i) differing += got[c][i] != want[c][i];
        EXPECT_EQ(differing, 0u) << "channel " << c;
    }
    double energy = 0;
    for (float x : got[0]) energy += double(x) * x;
    EXPECT_GT(energy, 1.0);  // the effect really produced sound
}

// One frame (lv2apply), 32 frames, blocks longer than the slice the plug-in renders at once
// without a maximum from the host (10000 > 4096), and output ports sharing the input buffers.
INSTANTIATE_TEST_SUITE_P(BlockSizes, LV2RenderTest,
                         ::testing::Values(BlockCase{1, 1}, BlockCase{2, 32}, BlockCase{2, 10000},
                                           BlockCase{1, 10000, true}));

TEST(LV2PluginTest, HostMaximumBlockLengthSetsTheSlice) {
    UridMap map;
    const int32_t maxBlock = 256;
    const LV2_Options_Option options[] = {
        {LV2_OPTIONS_INSTANCE, 0, map.Map(LV2_BUF_SIZE__maxBlockLength), sizeof(int32_t), map.Map(LV2_ATOM__Int),
         &maxBlock},
        {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
    const LV2_Feature optionsFeature = {LV2_OPTIONS__options, const_cast<LV2_Options_Option*>(options)};
    const LV2_Feature* features[] = {map.Feature(), &optionsFeature, nullptr};
    const TB::Channels input = Signal(1, 9000, 48000);
    Instance instance(1, 48000, features);
    ASSERT_TRUE(instance.Ok());
    float controls[kNumParams];
    for (int id = 0; id < kNumParams; ++id) controls[id] = instance.Control(id);
    EXPECT_EQ(instance.Process(input, 1000), Reference(1, 48000, input, 1000, 256, controls));
}

TEST(LV2PluginTest, StateSavedByOneInstanceRestoresEveryValueInAnother) {
    UridMap map;
    const LV2_Feature* features[] = {map.Feature(), nullptr};
    Instance a(2, 44100, features);
    ASSERT_TRUE(a.Ok());
    for (int id = 0; id < kNumParams; ++id) a.Control(id) = TestValue(id);
    a.Run(16);
    StateStore store;
    ASSERT_EQ(a.Save(store), LV2_STATE_SUCCESS);
    EXPECT_TRUE(store.at(map.Map(kStateClassInfoURI)).flags & LV2_STATE_IS_PORTABLE);

    Instance b(1, 48000, features);  // another channel count and rate: the state is the parameters
    ASSERT_TRUE(b.Ok());
    ASSERT_EQ(b.Restore(store), LV2_STATE_SUCCESS);
    std::map<int, float> restored = SavedValues(b, map);
    ASSERT_EQ(restored.size(), size_t(kNumParams));
    for (int id = 0; id < kNumParams; ++id) EXPECT_EQ(restored.at(id), TestValue(id)) << astParamInfos[id].name;
}

TEST(LV2PluginTest, ValuesSetBehindTheHostsBackStayUntilTheControlPortMoves) {
    UridMap map;
    const LV2_Feature* features[] = {map.Feature(), nullptr};
    // A state holding only the unit's state, with "Dry Level" 0.25, stands for a value that OSC
    // or a script set while the host's control stayed where it was.
    StateStore quarter;
    {
        Instance other(1, 44100, features);
        ASSERT_TRUE(other.Ok());
        other.Control(kParam_DryLevel) = 0.25f;
        other.Run(1);
        ASSERT_EQ(other.Save(quarter), LV2_STATE_SUCCESS);
        quarter.erase(map.Map(kStatePortValuesURI));
    }
    auto dry = [&](Instance& i) { return SavedValues(i, map).at(kParam_DryLevel); };
    Instance a(1, 44100, features);
    ASSERT_TRUE(a.Ok());
    a.Control(kParam_DryLevel) = 0.5f;
    a.Run(8);
    EXPECT_EQ(dry(a), 0.5f);
    ASSERT_EQ(a.Restore(quarter), LV2_STATE_SUCCESS);
    for (int i = 0; i < 3; ++i) a.Run(8);
    ASSERT_EQ(dry(a), 0.25f);
    StateStore session;
    ASSERT_EQ(a.Save(session), LV2_STATE_SUCCESS);

    // Out-of-range and NaN port values are kept in range once the host moves them.
    a.Control(kParam_DryLevel) = 7.f;
    a.Control(kParam_FilterCutoff) = -3.f;
    a.Run(8);
    EXPECT_EQ(dry(a), 1.f);
    EXPECT_EQ(SavedValues(a, map).at(kParam_FilterCutoff), 50.f);

    // The host reloads the session: the unit's state, then its own control values (0.5).
    Instance b(1, 44100, features);
    ASSERT_TRUE(b.Ok());
    ASSERT_EQ(b.Restore(session), LV2_STATE_SUCCESS);
    b.Control(kParam_DryLevel) = 0.5f;
    b.Run(8);
    EXPECT_EQ(dry(b), 0.25f);
    b.Control(kParam_DryLevel) = 0.75f;  // now the host really moves it
    b.Run(8);
    EXPECT_EQ(dry(b), 0.75f);

    // A damaged port-value record is ignored: the ports as they are count as unchanged.
    session[map.Map(kStatePortValuesURI)].value.resize(12);
    Instance c(1, 44100, features);
    ASSERT_TRUE(c.Ok());
    c.Control(kParam_DryLevel) = 0.9f;
    ASSERT_EQ(c.Restore(session), LV2_STATE_SUCCESS);
    c.Run(8);
    EXPECT_EQ(dry(c), 0.25f);
}

TEST(LV2PluginTest, BadSavedStatesAreRefusedAndChangeNothing) {
    UridMap map;
    const LV2_Feature* features[] = {map.Feature(), nullptr};
    Instance instance(1, 44100, features);
    ASSERT_TRUE(instance.Ok());
    instance.Control(kParam_WetLevel) = 0.3f;
    instance.Run(4);
    const uint32_t key = map.Map(kStateClassInfoURI);
    const uint32_t text = map.Map(LV2_ATOM__String);

    StateStore good;
    ASSERT_EQ(instance.Save(good), LV2_STATE_SUCCESS);
    std::string wrongSubtype = good.at(key).value;
    const size_t pos = wrongSubtype.find("<key>subtype</key>");
    ASSERT_NE(pos, std::string::npos);
    const size_t number = wrongSubtype.find("<integer>", pos) + 9;
    wrongSubtype.replace(number, wrongSubtype.find('<', number) - number, "1");

    std::string deep = "<?xml version=\"1.0\"?><plist>";  // 200 000 levels overflowed libplist's parser
    for (int i = 0; i < 200000; ++i) deep += "<dict><key>k</key>";
    const std::vector<std::pair<std::string, uint32_t>> bad = {
        {"", text},
        {deep, text},
        {"not a property list", text},
        {good.at(key).value.substr(0, good.at(key).value.size() / 2), text},
        {good.at(key).value, map.Map(LV2_ATOM__Int)},
        {wrongSubtype, text},
    };
    for (const auto& [value, type] : bad) {
        StateStore store;
        store[key] = {value, type, 0};
        EXPECT_NE(instance.Restore(store), LV2_STATE_SUCCESS) << value.substr(0, 60);
        EXPECT_EQ(SavedValues(instance, map).at(kParam_WetLevel), 0.3f);
    }
    // A state without the unit's state (a factory preset: port values only) changes nothing.
    StateStore empty;
    EXPECT_EQ(instance.Restore(empty), LV2_STATE_SUCCESS);
    instance.Run(4);
    EXPECT_EQ(SavedValues(instance, map).at(kParam_WetLevel), 0.3f);

    // Without urid:map there are no state keys: both calls say so instead of guessing.
    Instance bare(1, 44100, nullptr);
    ASSERT_TRUE(bare.Ok());
    StateStore store;
    EXPECT_EQ(bare.Save(store), LV2_STATE_ERR_NO_FEATURE);
    EXPECT_EQ(bare.Restore(good), LV2_STATE_ERR_NO_FEATURE);
}

TEST(LV2PluginTest, MidiReachesTheScriptThroughTheWorkerThread) {
    TB::ScopedTestFolders folders("marrowfin-lv2-test");
    // A user script that turns controller 7 into "Dry Level", and sets "Osc Level" from a timer,
    // which only fires when the plug-in's own run-loop thread runs.
    TB::ScopedTestFolders::WriteFile(TB::ScopedTestFolders::ScriptsIn(folders.UserData()) + "/lv2test.lua",
                                     "requestCC(7, function(channel, cc, value) setParameter(0, value / 127) end)\n"
                                     "requestTimedCallback(0.01, function() setParameter(2, 0.25) end)\n");

    UridMap map;
    const LV2_Feature* features[] = {map.Feature(), nullptr};
    Instance instance(1, 44100, features);
    ASSERT_TRUE(instance.Ok());
    const uint32_t midi = map.Map(LV2_MIDI__MidiEvent), sequence = map.Map(LV2_ATOM__Sequence);
    instance.ClearSequence(sequence);
    instance.AddEvent(0, map.Map(LV2_ATOM__Int), {0xB0, 7, 10});  // not MIDI: ignored
    instance.AddEvent(2, midi, {0xB0, 7});                         // truncated: ignored
    for (uint8_t v = 1; v <= 60; ++v) instance.AddEvent(4, midi, {0xB0, 7, v});  // in order: 127 is last
    instance.AddEvent(4, midi, {0xB0, 7, 127});
    instance.Run(32);
    instance.ClearSequence(sequence);
    auto value = [&](int id) { return SavedValues(instance, map).at(id); };
    EXPECT_TRUE(TB::WaitUntil([&] { return value(kParam_DryLevel) == 1.f; }));
    EXPECT_TRUE(TB::WaitUntil([&] { return value(kParam_OscLevel) == 0.25f; }));

    // The built-in midi.lua, found in the plug-in's bundle folder, plays notes as "Osc Pitch".
    instance.RunEvents(sequence, midi, {{0x90, 60, 100}});
    EXPECT_TRUE(TB::WaitUntil([&] { return value(kParam_OscPitch) == 60.f; }));
    instance.Run(32);  // the port did not move: the script's value stays
    EXPECT_EQ(value(kParam_DryLevel), 1.f);

    // Events queued in the last run() before deactivation are still delivered.
    instance.RunEvents(sequence, midi, {{0xB3, 7, 0}});
    DescriptorFor(1)->deactivate(instance.Handle());
    EXPECT_EQ(value(kParam_DryLevel), 0.f);
    DescriptorFor(1)->activate(instance.Handle());
}

TEST(LV2PluginTest, MidiAndPortChangesGoThroughTheHostsWorkerInOrder) {
    TB::ScopedTestFolders folders("marrowfin-lv2-test");
    TB::ScopedTestFolders::WriteFile(TB::ScopedTestFolders::ScriptsIn(folders.UserData()) + "/order.lua",
                                     "requestCC(7, function(channel, cc, value) setParameter(0, value / 127) end)\n");
    UridMap map;
    MarrowfinLV2Test::LilvWorker worker;
    const LV2_Feature* features[] = {map.Feature(), &worker.feature, nullptr};
    Instance instance(1, 44100, features);
    ASSERT_TRUE(instance.Ok());
    const auto* iface =
        static_cast<const LV2_Worker_Interface*>(DescriptorFor(1)->extension_data(LV2_WORKER__interface));
    ASSERT_NE(iface, nullptr);
    instance.Run(32);
    ASSERT_EQ(worker.pending.size(), 1u);  // the first run hands over every control; the OSC port as work
    iface->work(instance.Handle(), nullptr, nullptr, uint32_t(worker.pending[0].size()), worker.pending[0].data());
    worker.pending.clear();
    instance.Run(32);
    EXPECT_TRUE(worker.pending.empty());  // nothing to do, nothing scheduled

    std::vector<std::vector<uint8_t>> controllers;
    for (uint8_t v = 1; v <= 100; ++v) controllers.push_back({0xB0, 7, v});
    instance.Control(kParam_OSCPortOffset) = 0.f;  // unchanged: not scheduled
    instance.RunEvents(map.Map(LV2_ATOM__Sequence), map.Map(LV2_MIDI__MidiEvent), controllers, 128);
    // Every event, none on a thread of the plug-in's own, in messages of at most 64.
    ASSERT_EQ(worker.pending.size(), 2u);
    EXPECT_EQ(SavedValues(instance, map).at(kParam_DryLevel), astParamInfos[kParam_DryLevel].defaultValue);
    for (const std::string& job : worker.pending)
        EXPECT_EQ(iface->work(instance.Handle(), nullptr, nullptr, uint32_t(job.size()), job.data()),
                  LV2_WORKER_SUCCESS);
    worker.pending.clear();
    EXPECT_EQ(SavedValues(instance, map).at(kParam_DryLevel), 1.f * 100 / 127);  // the last one won

    // Moving the OSC port is work too; garbage handed to work() is refused.
    instance.Control(kParam_OSCPortOffset) = 0.5f;  // truncates to 0: no port, but a change
    instance.Run(8);
    ASSERT_EQ(worker.pending.size(), 1u);
    EXPECT_EQ(iface->work(instance.Handle(), nullptr, nullptr, 3, "abc"), LV2_WORKER_ERR_UNKNOWN);
    EXPECT_EQ(iface->work(instance.Handle(), nullptr, nullptr, uint32_t(worker.pending[0].size()), nullptr),
              LV2_WORKER_ERR_UNKNOWN);
    iface->work(instance.Handle(), nullptr, nullptr, uint32_t(worker.pending[0].size()), worker.pending[0].data());
    EXPECT_EQ(SavedValues(instance, map).at(kParam_OSCPortOffset), 0.5f);
}

TEST(LV2PluginTest, DiagnosticLinesGoToTheHostsLogWhileAnInstanceOffersIt) {
    TB::ScopedTestFolders folders("marrowfin-lv2-test");
    // A script that does not compile prints a note ("@@@ ...") when an instance loads it.
    TB::ScopedTestFolders::WriteFile(TB::ScopedTestFolders::ScriptsIn(folders.UserData()) + "/broken.lua", "if\n");
    UridMap map;
    MarrowfinLV2Test::LilvLog log;
    const LV2_Feature* features[] = {map.Feature(), &log.feature, nullptr};
    StateStore bad;
    bad[map.Map(kStateClassInfoURI)] = {"not a property list", map.Map(LV2_ATOM__String), 0};
    {
        Instance instance(1, 44100, features);
        ASSERT_TRUE(instance.Ok());
        EXPECT_NE(instance.Restore(bad), LV2_STATE_SUCCESS);
        bool note = false, error = false;
        for (const auto& [type, text] : log.lines) {
            note |= type == map.Map(LV2_LOG__Note) && text.rfind("@@@ ", 0) == 0;
            error |= type == map.Map(LV2_LOG__Error) &&
                     text == "marrowfin.lv2 error: the saved unit state is not a property list\n";
        }
        EXPECT_TRUE(note);
        EXPECT_TRUE(error);
    }
    // Cleaned up, the sink is gone: the next instance's lines go to the standard streams.
    log.lines.clear();
    const LV2_Feature* mapOnly[] = {map.Feature(), nullptr};
    Instance plain(1, 44100, mapOnly);
    ASSERT_TRUE(plain.Ok());
    testing::internal::CaptureStderr();
    EXPECT_NE(plain.Restore(bad), LV2_STATE_SUCCESS);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("not a property list"), std::string::npos);
    EXPECT_TRUE(log.lines.empty());
}

}  // namespace
