// A helper for the host-tool tests: writes the plucked bass line as a float WAV file, and
// compares two audio files sample for sample.
// Usage: marrowfin_lv2_wavtool pluck OUT.wav CHANNELS SECONDS [RATE]
//        marrowfin_lv2_wavtool compare A B
#include <cstdio>
#include <cstdlib>

#include "tests/lv2/PluckSignal.h"
#include "tests/support/AudioFile.h"

namespace {

int Pluck(const char* path, int channels, double seconds, int rate) {
    if (channels < 1 || channels > 2 || !(seconds > 0 && seconds < 600) || rate < 1000) return 2;
    const size_t frames = size_t(seconds * rate);
    TB::AudioFile file{rate, channels, 0, std::vector<float>(frames * channels)};
    for (int c = 0; c < channels; ++c) {
        const std::vector<float> line = MarrowfinLV2Test::PluckedBass(frames, rate, c);
        for (size_t i = 0; i < frames; ++i) file.samples[i * channels + c] = line[i];
    }
    TB::WriteAudioFile(path, file);
    return 0;
}

int Compare(const char* a, const char* b) {
    const TB::AudioFile fa = TB::ReadAudioFile(a), fb = TB::ReadAudioFile(b);
    if (fa.channels != fb.channels || fa.Frames() != fb.Frames() || fa.sampleRate != fb.sampleRate) {
        std::fprintf(stderr, "wavtool: %s has %d ch, %lld frames, %d Hz; %s has %d ch, %lld frames, %d Hz\n", a,
                     fa.channels, (long long)fa.Frames(), fa.sampleRate, b, fb.channels, (long long)fb.Frames(),
                     fb.sampleRate);
        return 1;
    }
    size_t differing = 0, first = 0;
    double energy = 0;
    for (size_t i = 0; i < fa.samples.size(); ++i) {
        energy += double(fa.samples[i]) * fa.samples[i];
        if (fa.samples[i] != fb.samples[i] && differing++ == 0) first = i;
    }
    if (differing) {
        std::fprintf(stderr, "wavtool: %zu of %zu samples differ; first at frame %zu channel %zu: %.9g vs %.9g\n",
                     differing, fa.samples.size(), first / fa.channels, first % fa.channels, fa.samples[first],
                     fb.samples[first]);
        return 1;
    }
    if (energy == 0) std::fprintf(stderr, "wavtool: both files are silent\n");
    return energy == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    try {
        if (mode == "pluck" && (argc == 5 || argc == 6))
            return Pluck(argv[2], std::atoi(argv[3]), std::atof(argv[4]), argc == 6 ? std::atoi(argv[5]) : 44100);
        if (mode == "compare" && argc == 4) return Compare(argv[2], argv[3]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "wavtool: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: marrowfin_lv2_wavtool pluck OUT.wav CHANNELS SECONDS [RATE] | compare A B\n");
    return 2;
}
