// The cycle analysis's scan of a ring's band-limited column: the baseline one eight frames at a
// time with SSE, and one sixteen frames at a time for processors with AVX2.
#include "effect/MarrowfinScanWindow.h"

#include <immintrin.h>

#include <algorithm>

namespace {

// The frames k to run - 1 of a run one by one (prev: the frame before k): true when a rising
// crossing ends the scan, found set to its offset i + k.
inline bool ScanTail(const float* band, UInt32 k, UInt32 run, UInt32 i, float& prev, float& peak, UInt32& found)
{
    for (; k < run; ++k) {
        const float v = band[2 * k + 1];
        if (v > peak)
            peak = v;
        if (v > 0.f && prev <= 0.f) {
            found = i + k;
            return true;
        }
        prev = v;
    }
    return false;
}

// The baseline scan, eight frames at a time.
float ScanWindowBaseline(const float* ring, UInt32 start, UInt32 frames, UInt32& found)
{
    // Peak of the band-limited window up to the first rising zero crossing (all of it when none),
    // eight frames at a time while they lie side by side in the ring. The peak is the largest
    // value above +0 seen (v > peak keeps neither NaN nor -0), so the lanes' order cannot change
    // it, and maxps(v, peak) is exactly "v > peak ? v : peak".
    float peak = 0.f;
    float prev = 1000000.f;
    found = 0;
    bool stopped = false;
    __m128 peaksA = _mm_setzero_ps(), peaksB = _mm_setzero_ps();
    const __m128 zero = _mm_setzero_ps();
    UInt32 i = 0;
    while (i < frames && !stopped) {
        const UInt32 at = (start + i) & kMarrowfinRingMask;
        const UInt32 run = std::min(frames - i, kMarrowfinRingFrames - at);  // side by side from `at`
        const float* band = ring + 2 * at;
        // Lane 3 of `last` is the value before the group.
        __m128 last = _mm_set1_ps(prev);
        UInt32 k = 0;
        for (; k + 8 <= run; k += 8) {
            const __m128 v0 = _mm_shuffle_ps(_mm_loadu_ps(band + 2 * k), _mm_loadu_ps(band + 2 * k + 4),
                                             _MM_SHUFFLE(3, 1, 3, 1));
            const __m128 v1 = _mm_shuffle_ps(_mm_loadu_ps(band + 2 * k + 8), _mm_loadu_ps(band + 2 * k + 12),
                                             _MM_SHUFFLE(3, 1, 3, 1));
            // (last3, v0_0, v0_1, v0_2) and (v0_3, v1_0, v1_1, v1_2)
            const __m128 t0 = _mm_shuffle_ps(last, v0, _MM_SHUFFLE(0, 0, 3, 3));
            const __m128 before0 = _mm_shuffle_ps(t0, v0, _MM_SHUFFLE(2, 1, 2, 0));
            const __m128 t1 = _mm_shuffle_ps(v0, v1, _MM_SHUFFLE(0, 0, 3, 3));
            const __m128 before1 = _mm_shuffle_ps(t1, v1, _MM_SHUFFLE(2, 1, 2, 0));
            const int rising =
                _mm_movemask_ps(_mm_and_ps(_mm_cmpgt_ps(v0, zero), _mm_cmple_ps(before0, zero))) |
                (_mm_movemask_ps(_mm_and_ps(_mm_cmpgt_ps(v1, zero), _mm_cmple_ps(before1, zero))) << 4);
            if (rising != 0) {
                const int first = __builtin_ctz(static_cast<unsigned>(rising));
                alignas(16) float lanes[8];
                _mm_store_ps(lanes, v0);
                _mm_store_ps(lanes + 4, v1);
                for (int l = 0; l <= first; ++l)
                    if (lanes[l] > peak)
                        peak = lanes[l];
                found = i + k + static_cast<UInt32>(first);
                stopped = true;
                break;
            }
            peaksA = _mm_max_ps(v0, peaksA);
            peaksB = _mm_max_ps(v1, peaksB);
            last = v1;
        }
        if (stopped)
            break;
        prev = _mm_cvtss_f32(_mm_shuffle_ps(last, last, _MM_SHUFFLE(3, 3, 3, 3)));
        stopped = ScanTail(band, k, run, i, prev, peak, found);
        i += run;
    }
    alignas(16) float lanes[8];
    _mm_store_ps(lanes, peaksA);
    _mm_store_ps(lanes + 4, peaksB);
    for (float v : lanes)
        if (v > peak)
            peak = v;
    return peak;
}


// The same scan with AVX2, sixteen frames at a time: one unaligned 256-bit load per four frames,
// the band column gathered in order by a shuffle and a 64-bit permute, and the rising crossings
// found from two bit masks, "v > 0" and "v <= 0" (both false for NaN, as the scalar comparisons
// are). Same results as the baseline scan, bit for bit.
__attribute__((target("avx2"))) float ScanWindowAVX2(const float* ring, UInt32 start, UInt32 frames, UInt32& found)
{
    float peak = 0.f;
    float prev = 1000000.f;
    found = 0;
    __m256 peaks = _mm256_setzero_ps();
    const __m256 zero = _mm256_setzero_ps();
    UInt32 i = 0;
    while (i < frames) {
        const UInt32 at = (start + i) & kMarrowfinRingMask;
        const UInt32 run = std::min(frames - i, kMarrowfinRingFrames - at);  // side by side from `at`
        const float* band = ring + 2 * at;
        // Bit 0: the frame before the group is at most 0.
        unsigned before = prev <= 0.f ? 1u : 0u;
        UInt32 k = 0;
        for (; k + 8 <= run; k += 8) {
            // Lanes of (raw, band) pairs: frames k..k+3 and k+4..k+7; the shuffle leaves the band
            // values of frames (k, k+1, k+4, k+5 | k+2, k+3, k+6, k+7), the permute puts them in order.
            const __m256 lo = _mm256_loadu_ps(band + 2 * k);
            const __m256 hi = _mm256_loadu_ps(band + 2 * k + 8);
            const __m256 mixed = _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
            const __m256 v = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(mixed), _MM_SHUFFLE(3, 1, 2, 0)));
            const unsigned positive = static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(v, zero, _CMP_GT_OQ)));
            const unsigned atMost = static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(v, zero, _CMP_LE_OQ)));
            const unsigned rising = positive & ((atMost << 1) | before) & 0xffu;
            if (rising != 0) {
                const int first = __builtin_ctz(rising);
                alignas(32) float lanes[8];
                _mm256_store_ps(lanes, v);
                for (int l = 0; l <= first; ++l)
                    if (lanes[l] > peak)
                        peak = lanes[l];
                found = i + k + static_cast<UInt32>(first);
                i = frames;  // stop
                break;
            }
            peaks = _mm256_max_ps(v, peaks);
            before = atMost >> 7;
        }
        if (i == frames)
            break;
        if (k > 0)
            prev = band[2 * k - 1];
        if (ScanTail(band, k, run, i, prev, peak, found))
            break;
        i += run;
    }
    alignas(32) float lanes[8];
    _mm256_store_ps(lanes, peaks);
    for (float v : lanes)
        if (v > peak)
            peak = v;
    return peak;
}

const bool g_scanWithAVX2 = MarrowfinUseAVX2();

}  // namespace

float MarrowfinScanWindow(const float* ring, UInt32 start, UInt32 frames, UInt32& found, bool wide)
{
    if (wide && g_scanWithAVX2)
        return ScanWindowAVX2(ring, start, frames, found);
    return ScanWindowBaseline(ring, start, frames, found);
}
