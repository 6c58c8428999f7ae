// The render path never allocates: this binary replaces the global operator new to count every
// allocation, so it runs apart from the other engine tests.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "tests/effect/EngineRig.h"

namespace {
std::atomic<long> g_allocations{0};
}

void* operator new(std::size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, std::align_val_t align)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    const std::size_t a = static_cast<std::size_t>(align);
    if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t align) { return ::operator new(size, align); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

TEST(KernelAlloc, ThousandBlocksAllocateNothing)
{
    const long atStart = g_allocations.load();
    EngineRig rig(48000.f, 512);
    EXPECT_GT(g_allocations.load(), atStart);  // the counter sees the ring and the scratch buffer
    rig.SetPreset(10);
    std::vector<float> in(512), out(512);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<float>((i % 97) / 97.0 - 0.5);
    DataToGuiAnalysis gui{};
    MarrowfinSmoothing smoothing{};
    const CMarrowfinKernel* kernels[2] = {&rig.kernel, nullptr};

    // Three more channels of the same unit, rendered side by side.
    CMarrowfinKernel k1(nullptr, &rig.block, 1), k2(nullptr, &rig.block, 2), k3(nullptr, &rig.block, 3);
    CMarrowfinKernel* group[3] = {&k1, &k2, &k3};
    std::vector<float> out1(512), out2(512), out3(512);
    const Float32* groupIn[3] = {in.data(), out.data(), in.data()};
    Float32* groupOut[3] = {out1.data(), out2.data(), out3.data()};

    const long before = g_allocations.load();
    for (int block = 0; block < 1000; ++block) {
        rig.params[kParam_FilterCutoff] = static_cast<float>(100 + block);  // control changes too
        rig.Render(in.data(), out.data(), in.size(), 512);
        EXPECT_EQ(noErr, CMarrowfinKernel::ProcessChannels(group, groupIn, groupOut, 3, 512));
        UpdateDataToGui(gui, smoothing, rig.fs, 512, kernels);
    }
    rig.kernel.Reset();  // a reset keeps the ring
    rig.Render(in.data(), out.data(), in.size(), 64);
    rig.Render(in.data(), out.data(), 32, 1);  // the sample-by-sample generator
    EXPECT_EQ(noErr, CMarrowfinKernel::ProcessChannels(group, groupIn, groupOut, 3, 1));
    EXPECT_EQ(g_allocations.load() - before, 0);
}
