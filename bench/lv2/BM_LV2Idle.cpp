// Idle plug-in instances: 50 stereo instances activated and then left alone, as in a large
// session where most tracks are silent. The counter "cpu_of_core_pct" is the CPU time of the
// whole process (all threads of the plug-in) over the wall time, in percent of one core; the
// benchmark's own thread only sleeps. Argument: 1 when the host offers its worker (work:schedule).
// Usage: BM_LV2Idle [google benchmark flags]   (loads the bundle of the build tree)
#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "lv2/MarrowfinLV2Ports.h"
#include "tests/lv2/LilvHost.h"

namespace {

using namespace MarrowfinLV2Test;

constexpr int kInstances = 50;

double Seconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void BM_LV2IdleInstances(benchmark::State& state) {
    const bool hostWorker = state.range(0) != 0;
    LilvHostWorld world(MARROWFIN_LV2_BUNDLE);
    LilvUridMap map;
    LilvWorker worker;
    const LilvPlugin* plugin = world.Plugin(MarrowfinLV2::kStereoURI);
    std::vector<std::unique_ptr<LilvHostInstance>> instances;
    for (int i = 0; i < kInstances; ++i) {
        std::vector<const LV2_Feature*> extra;
        if (hostWorker) extra.push_back(&worker.feature);
        instances.push_back(std::make_unique<LilvHostInstance>(world, plugin, 48000, map, extra));
        if (!instances.back()->Ok()) {
            state.SkipWithError("cannot instantiate");
            return;
        }
        instances.back()->Activate();
        instances.back()->Run();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // start-up work settles

    const double cpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID), wall0 = Seconds(CLOCK_MONOTONIC);
    for (auto _ : state) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double cpu = Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0, wall = Seconds(CLOCK_MONOTONIC) - wall0;
    state.counters["cpu_of_core_pct"] = 100.0 * cpu / wall;
    state.counters["instances"] = kInstances;
}

}  // namespace

BENCHMARK(BM_LV2IdleInstances)->Arg(0)->Arg(1)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
