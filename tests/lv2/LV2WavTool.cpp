// A helper for the host-tool tests: writes the plucked bass line as a float WAV file, and
// compares two audio files sample for sample.
// Usage: marrowfin_lv2_wavtool pluck OUT.wav CHANNELS SECONDS [RATE]
//        marrowfin_lv2_wavtool compare A B
#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/lv2/PluckSignal.h"

namespace {

int Pluck(const char* path, int channels, double seconds, int rate) {
    if (channels < 1 || channels > 2 || !(seconds > 0 && seconds < 600) || rate < 1000) {
        std::fprintf(stderr, "wavtool: bad pluck arguments\n");
        return 2;
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path, SFM_WRITE, &info);
    if (!file) {
        std::fprintf(stderr, "wavtool: cannot write %s: %s\n", path, sf_strerror(nullptr));
        return 1;
    }
    const size_t frames = size_t(seconds * rate);
    std::vector<std::vector<float>> signal;
    for (int c = 0; c < channels; ++c) signal.push_back(MarrowfinLV2Test::PluckedBass(frames, rate, c));
    std::vector<float> interleaved(frames * channels);
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) interleaved[i * channels + c] = signal[c][i];
    const bool ok = sf_writef_float(file, interleaved.data(), sf_count_t(frames)) == sf_count_t(frames);
    sf_close(file);
    return ok ? 0 : 1;
}

bool Read(const char* path, SF_INFO& info, std::vector<float>& samples) {
    info = SF_INFO{};
    SNDFILE* file = sf_open(path, SFM_READ, &info);
    if (!file) {
        std::fprintf(stderr, "wavtool: cannot read %s: %s\n", path, sf_strerror(nullptr));
        return false;
    }
    samples.resize(size_t(info.frames) * info.channels);
    const sf_count_t got = sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    return got == info.frames;
}

int Compare(const char* a, const char* b) {
    SF_INFO ia, ib;
    std::vector<float> sa, sb;
    if (!Read(a, ia, sa) || !Read(b, ib, sb)) return 1;
    if (ia.channels != ib.channels || ia.frames != ib.frames || ia.samplerate != ib.samplerate) {
        std::fprintf(stderr, "wavtool: %s has %d ch, %lld frames, %d Hz; %s has %d ch, %lld frames, %d Hz\n", a,
                     ia.channels, (long long)ia.frames, ia.samplerate, b, ib.channels, (long long)ib.frames,
                     ib.samplerate);
        return 1;
    }
    size_t differing = 0, first = 0;
    double energy = 0;
    for (size_t i = 0; i < sa.size(); ++i) {
        energy += double(sa[i]) * sa[i];
        if (sa[i] != sb[i] && differing++ == 0) first = i;
    }
    if (differing) {
        std::fprintf(stderr, "wavtool: %zu of %zu samples differ; first at frame %zu channel %zu: %.9g vs %.9g\n",
                     differing, sa.size(), first / ia.channels, first % ia.channels, sa[first], sb[first]);
        return 1;
    }
    if (energy == 0) {
        std::fprintf(stderr, "wavtool: both files are silent\n");
        return 1;
    }
    std::printf("wavtool: %lld frames x %d channels identical\n", (long long)ia.frames, ia.channels);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "pluck" && (argc == 5 || argc == 6))
        return Pluck(argv[2], std::atoi(argv[3]), std::atof(argv[4]), argc == 6 ? std::atoi(argv[5]) : 44100);
    if (mode == "compare" && argc == 4) return Compare(argv[2], argv[3]);
    std::fprintf(stderr, "usage: marrowfin_lv2_wavtool pluck OUT.wav CHANNELS SECONDS [RATE]\n"
                         "       marrowfin_lv2_wavtool compare A B\n");
    return 2;
}
