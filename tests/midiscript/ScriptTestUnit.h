// A small MIDI effect unit carrying a script host, for the script tests: 40 parameters with the
// table's defaults, the editor-data property 64001, MIDI forwarded to the helper, and an entry
// in the instance registry. Plus helpers that set up script folders and read script globals.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "effect/DataToGui.h"
#include "effect/MarrowfinParameters.h"
#include "hostframework/AUMIDIEffectBase.h"
#include "hostframework/CFLite.h"
#include "midiscript/LuaMIDIHelper.h"
#include "osc/VoskInstanceTracker.h"
#include "tests/support/ScopedTestFolders.h"

class ScriptTestUnit : public AUMIDIEffectBase {
public:
    class Helper : public TB::LuaMIDIHelper {
    public:
        Helper(ScriptTestUnit* unit) : TB::LuaMIDIHelper(unit, nullptr), m_unit(unit) {}
        void setGUIBoolValue(int index, int value) override { m_unit->m_data.SetGUIBool(index, value != 0); }
        int getGUIBoolValue(int index) const override { return m_unit->m_data.GetGUIBool(index); }

    private:
        ScriptTestUnit* m_unit;
    };

    explicit ScriptTestUnit(AudioComponentInstance ci) : AUMIDIEffectBase(ci, false), m_helper(this) {
        m_helper.LuaInit();
        CreateElements();
        Globals()->UseIndexedParameters(kNumParams);
        for (UInt32 id = 0; id < kNumParams; ++id) AUEffectBase::SetParameter(id, astParamInfos[id].defaultValue);
        VoskInstanceTracker::Add(this);
    }
    void PreDestructor() override {
        VoskInstanceTracker::Remove(this);
        AUMIDIEffectBase::PreDestructor();
    }

    OSStatus GetPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element, UInt32& size,
                             Boolean& writable) override {
        if (id != kMarrowfinProperty_DataToGui)
            return AUMIDIEffectBase::GetPropertyInfo(id, scope, element, size, writable);
        size = sizeof(DataToGui*);
        writable = false;
        return noErr;
    }
    OSStatus GetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                         void* data) override {
        if (id != kMarrowfinProperty_DataToGui) return AUMIDIEffectBase::GetProperty(id, scope, element, data);
        *static_cast<DataToGui**>(data) = &m_data;
        return noErr;
    }

    // MIDI goes to the script host.
    OSStatus HandleNoteOn(UInt8 c, UInt8 n, UInt8 v, UInt32 f) override { return m_helper.HandleNoteOn(c, n, v, f), noErr; }
    OSStatus HandleNoteOff(UInt8 c, UInt8 n, UInt8 v, UInt32 f) override { return m_helper.HandleNoteOff(c, n, v, f), noErr; }
    OSStatus HandleControlChange(UInt8 c, UInt8 n, UInt8 v, UInt32 f) override { return m_helper.HandleControlChange(c, n, v, f), noErr; }
    OSStatus HandlePitchWheel(UInt8 c, UInt8 l, UInt8 m, UInt32 f) override { return m_helper.HandlePitchWheel(c, l, m, f), noErr; }
    OSStatus HandleChannelPressure(UInt8 c, UInt8 v, UInt32 f) override { return m_helper.HandleChannelPressure(c, v, f), noErr; }
    OSStatus HandleProgramChange(UInt8 c, UInt8 p) override { return m_helper.HandleProgramChange(c, p), noErr; }
    OSStatus HandlePolyPressure(UInt8 c, UInt8 n, UInt8 v, UInt32 f) override { return m_helper.HandlePolyPressure(c, n, v, f), noErr; }

    Helper m_helper;
    DataToGui m_data;
};

inline ComponentResult ScriptTestUnitEntry(ComponentParameters* params, void** storage) {
    if (params->what == kComponentOpenSelect) return ComponentBase::Open<ScriptTestUnit>(params, storage);
    ComponentBase* base = storage ? static_cast<ComponentBase*>(*storage) : nullptr;
    return AUMIDIEffectBase::ComponentEntryDispatch(params, static_cast<ScriptTestUnit*>(base));
}

// Fixture: empty user and local application-support folders, the plug-in's bundle at the source
// tree's resources; helpers to write scripts, open units and talk to their states.
class ScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folders.emplace("mf-script");
        m_user = m_folders->UserData();
        m_local = m_folders->LocalData();
        // Only the first entry of the machine-wide list counts.
        setenv("XDG_DATA_DIRS", (m_local + ":/nonexistent").c_str(), 1);
        TBRegisterBundleIdentifier("com.Vosk.test.Marf", MARROWFIN_SOURCE_DIR "/resources");
    }
    void TearDown() override {
        for (AudioUnit unit : m_units) CloseComponent(unit);
        m_units.clear();
        m_folders.reset();
    }

    static std::string ScriptsFolder(const std::string& base) { return TB::ScopedTestFolders::ScriptsIn(base); }
    static void MakeFolder(const std::string& path) { std::filesystem::create_directories(path); }
    void UserScript(const std::string& name, const std::string& text) {
        TB::ScopedTestFolders::WriteFile(ScriptsFolder(m_user) + "/" + name, text);
    }
    void LocalScript(const std::string& name, const std::string& text) {
        TB::ScopedTestFolders::WriteFile(ScriptsFolder(m_local) + "/" + name, text);
    }

    // Opens and initialises a unit; its scripts run during the open.
    AudioUnit OpenUnit() {
        OSStatus err = noErr;
        AudioComponentDescription desc{0x61756d66, 0x54737520, 0x54657374, 0, 0};  // 'aumf' 'Tsu ' 'Test'
        AudioUnit unit = OpenComponent(ScriptTestUnitEntry, desc, &err);
        EXPECT_EQ(err, noErr);
        if (!unit) return nullptr;
        EXPECT_EQ(AudioUnitInitialize(unit), noErr);
        m_units.push_back(unit);
        return unit;
    }
    void CloseUnit(AudioUnit unit) {
        CloseComponent(unit);
        m_units.erase(std::remove(m_units.begin(), m_units.end(), unit), m_units.end());
    }
    static ScriptTestUnit* Unit(AudioUnit unit) {
        return static_cast<ScriptTestUnit*>(static_cast<ComponentBase*>(GetComponentInstanceStorage(unit)));
    }
    static TB::LuaMIDIHelper& Helper(AudioUnit unit) { return Unit(unit)->m_helper; }

    // Runs a chunk in the unit's state; returns "" or the error message.
    static std::string Run(AudioUnit unit, const std::string& code) {
        TB::LuaMIDIHelper& helper = Helper(unit);
        TB::LuaMIDIHelper::ScopedLock lock(helper);
        lua_State* L = helper.GetState();
        int top = lua_gettop(L);
        std::string error;
        if (luaL_loadstring(L, code.c_str()) != 0 || helper.protectedPcall(0) != 0)
            error = lua_tostring(L, -1) ? lua_tostring(L, -1) : "?";
        lua_settop(L, top);
        return error;
    }
    // The value of a global expression as text (tostring), evaluated in the unit's state.
    static std::string Eval(AudioUnit unit, const std::string& expression) {
        std::string error = Run(unit, "__result = tostring(" + expression + ")");
        if (!error.empty()) return "error: " + error;
        TB::LuaMIDIHelper& helper = Helper(unit);
        TB::LuaMIDIHelper::ScopedLock lock(helper);
        lua_State* L = helper.GetState();
        lua_getglobal(L, "__result");
        std::string text = lua_tostring(L, -1) ? lua_tostring(L, -1) : "nil";
        lua_pop(L, 1);
        return text;
    }
    // The error a call raises (run through pcall) without the caller's position, or "ok".
    static std::string ErrorOf(AudioUnit unit, const std::string& call) {
        std::string error = Eval(unit, "select(2, pcall(function() " + call + " end)) or 'ok'");
        if (error.rfind("[string ", 0) == 0) {
            size_t position = error.find("]:");
            size_t end = position == std::string::npos ? position : error.find(": ", position + 2);
            if (end != std::string::npos) error = error.substr(end + 2);
        }
        return error;
    }
    static float Param(AudioUnit unit, AudioUnitParameterID id) {
        AudioUnitParameterValue value = -12345;
        AudioUnitGetParameter(unit, id, kAudioUnitScope_Global, 0, &value);
        return value;
    }
    static void MIDI(AudioUnit unit, UInt32 status, UInt32 data1, UInt32 data2) {
        ASSERT_EQ(MusicDeviceMIDIEvent(unit, status, data1, data2, 0), noErr);
    }

    std::optional<TB::ScopedTestFolders> m_folders;
    std::string m_user, m_local;
    std::vector<AudioUnit> m_units;
};
