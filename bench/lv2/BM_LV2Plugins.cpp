// LV2 plug-ins on a real signal: a plucked bass line in 512-frame blocks (and in 32- and 1-frame
// blocks), through lilv, as a host runs them. lv2bench feeds silence, which lets a pitch tracker skip most of its work.
// Usage: BM_LV2Plugins [google benchmark flags] -- URI...   (LV2_PATH chooses where to look)
// Each benchmark reports the time per sample per channel in the counter "s_per_sample_ch".
#include <benchmark/benchmark.h>
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/lv2/LilvHost.h"
#include "tests/lv2/PluckSignal.h"

namespace {

constexpr uint32_t kBlock = 512;
constexpr double kRate = 44100;
constexpr size_t kSignalFrames = 44100 * 4;

LilvWorld* g_world = nullptr;
MarrowfinLV2Test::LilvUridMap g_map;

// Runs one plug-in over the signal, block after block, for as long as the benchmark asks.
void RunPlugin(benchmark::State& state, const LilvPlugin* plugin, uint32_t block) {
    const LV2_Feature* features[] = {&g_map.feature, nullptr};
    LilvInstance* instance = lilv_plugin_instantiate(plugin, kRate, features);
    if (!instance) {
        state.SkipWithError("cannot instantiate");
        return;
    }
    LilvNode* audio = lilv_new_uri(g_world, LV2_CORE__AudioPort);
    LilvNode* control = lilv_new_uri(g_world, LV2_CORE__ControlPort);
    LilvNode* input = lilv_new_uri(g_world, LV2_CORE__InputPort);
    LilvNode* atom = lilv_new_uri(g_world, LV2_ATOM__AtomPort);

    const uint32_t ports = lilv_plugin_get_num_ports(plugin);
    std::vector<float> controls(ports, 0.f), mins(ports), maxs(ports), defaults(ports);
    lilv_plugin_get_port_ranges_float(plugin, mins.data(), maxs.data(), defaults.data());
    std::vector<std::vector<float>> buffers;
    std::vector<size_t> inputs;  // index into buffers
    alignas(8) static uint8_t sequence[64];
    auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(sequence);
    seq->atom.type = g_map.map.map(&g_map, LV2_ATOM__Sequence);
    seq->atom.size = sizeof(LV2_Atom_Sequence_Body);
    buffers.reserve(ports);
    int channels = 0;
    for (uint32_t i = 0; i < ports; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
        if (lilv_port_is_a(plugin, port, audio)) {
            buffers.emplace_back(kBlock, 0.f);
            if (lilv_port_is_a(plugin, port, input)) {
                inputs.push_back(buffers.size() - 1);
                ++channels;
            }
            lilv_instance_connect_port(instance, i, buffers.back().data());
        } else if (lilv_port_is_a(plugin, port, control)) {
            controls[i] = std::isnan(defaults[i]) ? 0.f : defaults[i];
            lilv_instance_connect_port(instance, i, &controls[i]);
        } else if (lilv_port_is_a(plugin, port, atom)) {
            lilv_instance_connect_port(instance, i, sequence);
        } else {
            lilv_instance_connect_port(instance, i, nullptr);
        }
    }
    std::vector<std::vector<float>> signal;
    for (size_t c = 0; c < inputs.size(); ++c) signal.push_back(MarrowfinLV2Test::PluckedBass(kSignalFrames, kRate, int(c)));

    lilv_instance_activate(instance);
    size_t position = 0;
    int64_t frames = 0;
    for (auto _ : state) {
        for (size_t c = 0; c < inputs.size(); ++c)
            std::memcpy(buffers[inputs[c]].data(), signal[c].data() + position, block * sizeof(float));
        lilv_instance_run(instance, block);
        position = (position + block) % (kSignalFrames - kBlock);
        frames += block;
    }
    lilv_instance_deactivate(instance);
    lilv_instance_free(instance);
    for (LilvNode* n : {audio, control, input, atom}) lilv_node_free(n);

    state.SetItemsProcessed(frames);
    state.counters["channels"] = channels;
    // Seconds per sample and channel (shown with an SI prefix, "n" for ns).
    state.counters["s_per_sample_ch"] = benchmark::Counter(
        double(frames) * std::max(channels, 1), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

int main(int argc, char** argv) {
    // Google Benchmark's own flags come before "--", plug-in URIs after it.
    std::vector<char*> benchArgs;
    std::vector<std::string> uris;
    bool afterDashes = false;
    for (int i = 0; i < argc; ++i) {
        if (!afterDashes && i > 0 && !std::strcmp(argv[i], "--")) {
            afterDashes = true;
        } else if (afterDashes) {
            uris.push_back(argv[i]);
        } else {
            benchArgs.push_back(argv[i]);
        }
    }
    if (uris.empty()) {
        std::fprintf(stderr, "usage: BM_LV2Plugins [benchmark flags] -- URI...\n");
        return 2;
    }
    g_world = lilv_world_new();
    lilv_world_load_all(g_world);
    const LilvPlugins* plugins = lilv_world_get_all_plugins(g_world);
    for (const std::string& uri : uris) {
        LilvNode* node = lilv_new_uri(g_world, uri.c_str());
        const LilvPlugin* plugin = lilv_plugins_get_by_uri(plugins, node);
        lilv_node_free(node);
        if (!plugin) {
            std::fprintf(stderr, "BM_LV2Plugins: no plug-in %s on LV2_PATH\n", uri.c_str());
            return 1;
        }
        benchmark::RegisterBenchmark(("BM_LV2Pluck/" + uri).c_str(),
                                     [plugin](benchmark::State& state) { RunPlugin(state, plugin, kBlock); })
            ->Unit(benchmark::kMicrosecond);
        // Hosts that split blocks at automation points: the cost of every run() beside the audio.
        for (uint32_t block : {32u, 1u})
            benchmark::RegisterBenchmark(("BM_LV2PluckBlock" + std::to_string(block) + "/" + uri).c_str(),
                                         [plugin, block](benchmark::State& state) { RunPlugin(state, plugin, block); })
                ->Unit(benchmark::kMicrosecond);
    }
    int benchArgc = int(benchArgs.size());
    benchmark::Initialize(&benchArgc, benchArgs.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    lilv_world_free(g_world);
    return 0;
}
