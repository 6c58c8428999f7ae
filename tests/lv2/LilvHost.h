// A small LV2 host on lilv, as the tests and benchmarks run the plug-in in-process: a world with
// one bundle loaded, instances with every port connected, state snapshots as lilv takes them,
// and optional host features (a worker that runs when the host says so, a log that keeps lines).
#pragma once

#include <dlfcn.h>

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/log/log.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace MarrowfinLV2Test {

// URIs numbered from 1 in order of first use.
struct LilvUridMap {
    std::vector<std::string> uris;
    LV2_URID_Map map{this, [](LV2_URID_Map_Handle h, const char* uri) -> LV2_URID {
                         auto* self = static_cast<LilvUridMap*>(h);
                         for (size_t i = 0; i < self->uris.size(); ++i)
                             if (self->uris[i] == uri) return LV2_URID(i + 1);
                         self->uris.push_back(uri);
                         return LV2_URID(self->uris.size());
                     }};
    LV2_Feature feature{LV2_URID__map, &map};
    LV2_URID Map(const char* uri) { return map.map(this, uri); }
    const LV2_Feature* Feature() const { return &feature; }
};

// A host worker: keeps what run() schedules; the test hands it to work() when it chooses.
struct LilvWorker {
    std::vector<std::string> pending;
    LV2_Worker_Schedule schedule{this, [](LV2_Worker_Schedule_Handle h, uint32_t size, const void* data) {
                                     static_cast<LilvWorker*>(h)->pending.emplace_back(
                                         static_cast<const char*>(data), size);
                                     return LV2_WORKER_SUCCESS;
                                 }};
    LV2_Feature feature{LV2_WORKER__schedule, &schedule};
};

// A host log that keeps (type, text) of every line.
struct LilvLog {
    static int VPrintf(LV2_Log_Handle h, LV2_URID type, const char* format, va_list args) {
        char text[4096];
        const int n = std::vsnprintf(text, sizeof text, format, args);
        static_cast<LilvLog*>(h)->lines.emplace_back(type, text);
        return n;
    }
    static int Printf(LV2_Log_Handle h, LV2_URID type, const char* format, ...) {
        va_list args;
        va_start(args, format);
        const int n = VPrintf(h, type, format, args);
        va_end(args);
        return n;
    }
    std::vector<std::pair<LV2_URID, std::string>> lines;
    LV2_Log_Log log{this, &Printf, &VPrintf};
    LV2_Feature feature{LV2_LOG__log, &log};
};

class LilvHostWorld {
public:
    // `bundle`: the folder of one LV2 bundle.
    explicit LilvHostWorld(const std::string& bundle) : m_world(lilv_world_new()) {
        // The plug-in's code stays loaded when lilv closes it, as in hosts that never unload: its
        // process-lifetime objects then stay reachable, and LeakSanitizer does not mistake them
        // for leaks of unloaded code.
        dlopen((bundle + "/marrowfin.so").c_str(), RTLD_NOW | RTLD_NODELETE);
        LilvNode* uri = lilv_new_file_uri(m_world, nullptr, (bundle + "/").c_str());
        lilv_world_load_bundle(m_world, uri);
        lilv_node_free(uri);
    }
    ~LilvHostWorld() { lilv_world_free(m_world); }
    LilvHostWorld(const LilvHostWorld&) = delete;
    LilvHostWorld& operator=(const LilvHostWorld&) = delete;

    const LilvPlugin* Plugin(const char* uri) const {
        LilvNode* node = lilv_new_uri(m_world, uri);
        const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(m_world), node);
        lilv_node_free(node);
        return plugin;
    }
    LilvWorld* World() const { return m_world; }

private:
    LilvWorld* m_world;
};

class LilvHostInstance {
public:
    static constexpr uint32_t kBlock = 512;

    LilvHostInstance(LilvHostWorld& world, const LilvPlugin* plugin, double rate, LilvUridMap& map,
                     std::vector<const LV2_Feature*> extra = {})
        : m_world(world.World()), m_plugin(plugin), m_map(map) {
        m_features.push_back(&map.feature);
        for (const LV2_Feature* f : extra) m_features.push_back(f);
        m_features.push_back(nullptr);
        if (!plugin) return;
        m_instance = lilv_plugin_instantiate(plugin, rate, m_features.data());
        if (!m_instance) return;
        LilvWorld* w = world.World();
        LilvNode* audio = lilv_new_uri(w, LV2_CORE__AudioPort);
        LilvNode* control = lilv_new_uri(w, LV2_CORE__ControlPort);
        LilvNode* atom = lilv_new_uri(w, LV2_ATOM__AtomPort);
        LilvNode* output = lilv_new_uri(w, LV2_CORE__OutputPort);
        const uint32_t ports = lilv_plugin_get_num_ports(plugin);
        std::vector<float> mins(ports), maxs(ports), defaults(ports);
        lilv_plugin_get_port_ranges_float(plugin, mins.data(), maxs.data(), defaults.data());
        m_values.assign(ports, 0.f);
        m_audio.resize(ports);
        auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(m_sequence);
        seq->atom.type = map.Map(LV2_ATOM__Sequence);
        seq->atom.size = sizeof(LV2_Atom_Sequence_Body);
        for (uint32_t i = 0; i < ports; ++i) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
            void* data = nullptr;
            if (lilv_port_is_a(plugin, port, audio)) {
                m_audio[i].assign(kBlock, 0.f);
                data = m_audio[i].data();
            } else if (lilv_port_is_a(plugin, port, control)) {
                m_values[i] = std::isnan(defaults[i]) ? 0.f : defaults[i];
                data = &m_values[i];
            } else if (lilv_port_is_a(plugin, port, atom)) {
                data = lilv_port_is_a(plugin, port, output) ? m_output : m_sequence;
            }
            lilv_instance_connect_port(m_instance, i, data);
        }
        for (LilvNode* n : {audio, control, atom, output}) lilv_node_free(n);
    }
    ~LilvHostInstance() {
        if (!m_instance) return;
        if (m_active) lilv_instance_deactivate(m_instance);
        lilv_instance_free(m_instance);
    }
    LilvHostInstance(const LilvHostInstance&) = delete;
    LilvHostInstance& operator=(const LilvHostInstance&) = delete;

    bool Ok() const { return m_instance != nullptr; }

    void Activate() {
        lilv_instance_activate(m_instance);
        m_active = true;
    }
    void Deactivate() {
        lilv_instance_deactivate(m_instance);
        m_active = false;
    }
    void Run(uint32_t frames = kBlock) {
        // An atom output's size is its capacity until run() writes it.
        reinterpret_cast<LV2_Atom*>(m_output)->size = uint32_t(sizeof m_output - sizeof(LV2_Atom));
        lilv_instance_run(m_instance, frames);
        auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(m_sequence);
        seq->atom.size = sizeof(LV2_Atom_Sequence_Body);  // events are delivered once
    }

    // What run() wrote to the atom output port.
    const LV2_Atom_Sequence* Output() const { return reinterpret_cast<const LV2_Atom_Sequence*>(m_output); }
    std::vector<float>& Audio(uint32_t port) { return m_audio[port]; }

    float& Control(const char* symbol) { return m_values[PortIndex(symbol)]; }
    uint32_t PortIndex(const char* symbol) const {
        LilvNode* node = lilv_new_string(m_world, symbol);
        const LilvPort* port = lilv_plugin_get_port_by_symbol(m_plugin, node);
        lilv_node_free(node);
        return port ? lilv_port_get_index(m_plugin, port) : 0;
    }

    // Appends one MIDI event to the sequence the next Run delivers.
    void AddMidi(uint32_t frame, std::vector<uint8_t> bytes) {
        auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(m_sequence);
        const size_t at = sizeof(LV2_Atom) + lv2_atom_pad_size(seq->atom.size);
        LV2_Atom_Event header{};
        header.time.frames = frame;
        header.body.type = m_map.Map("http://lv2plug.in/ns/ext/midi#MidiEvent");
        header.body.size = uint32_t(bytes.size());
        if (at + sizeof header + bytes.size() > sizeof m_sequence) return;
        std::memcpy(m_sequence + at, &header, sizeof header);
        std::memcpy(m_sequence + at + sizeof header, bytes.data(), bytes.size());
        seq->atom.size += uint32_t(lv2_atom_pad_size(sizeof(LV2_Atom_Event) + bytes.size()));
    }

    // State as lilv takes it: the plug-in's state and the host's control values.
    LilvState* Save() {
        return lilv_state_new_from_instance(m_plugin, m_instance, &m_map.map, nullptr, nullptr, nullptr, nullptr,
                                            &GetPortValue, this, 0, m_features.data());
    }
    void Restore(const LilvState* state) {
        lilv_state_restore(state, m_instance, &SetPortValue, this, 0, m_features.data());
    }

private:
    static const void* GetPortValue(const char* symbol, void* user, uint32_t* size, uint32_t* type) {
        auto* self = static_cast<LilvHostInstance*>(user);
        *size = sizeof(float);
        *type = self->m_map.Map(LV2_ATOM__Float);
        return &self->m_values[self->PortIndex(symbol)];
    }
    static void SetPortValue(const char* symbol, void* user, const void* value, uint32_t size, uint32_t type) {
        auto* self = static_cast<LilvHostInstance*>(user);
        if (size == sizeof(float) && type == self->m_map.Map(LV2_ATOM__Float))
            std::memcpy(&self->m_values[self->PortIndex(symbol)], value, sizeof(float));
    }

    LilvWorld* m_world;
    const LilvPlugin* m_plugin;
    LilvUridMap& m_map;
    std::vector<const LV2_Feature*> m_features;
    LilvInstance* m_instance = nullptr;
    bool m_active = false;
    std::vector<float> m_values;
    std::vector<std::vector<float>> m_audio;
    alignas(8) uint8_t m_sequence[4096] = {};
    alignas(8) uint8_t m_output[4096] = {};
};

}  // namespace MarrowfinLV2Test
