// Audio files for tests through libsndfile: interleaved float samples in, any format out.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace TB {

struct AudioFile {
    int sampleRate = 0;
    int channels = 0;
    int format = 0;
    std::vector<float> samples;  // interleaved
    int64_t Frames() const { return channels ? int64_t(samples.size()) / channels : 0; }
};

inline void WriteAudioFile(const std::string& path, const AudioFile& a, int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT) {
    SF_INFO info{};
    info.samplerate = a.sampleRate;
    info.channels = a.channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) throw std::runtime_error("cannot write test file " + path);
    sf_writef_float(f, a.samples.data(), a.Frames());
    sf_close(f);
}

inline AudioFile ReadAudioFile(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) throw std::runtime_error("cannot read test file " + path);
    AudioFile a;
    a.sampleRate = info.samplerate;
    a.channels = info.channels;
    a.format = info.format;
    a.samples.resize(size_t(info.frames * info.channels));
    a.samples.resize(size_t(sf_readf_float(f, a.samples.data(), info.frames) * info.channels));
    sf_close(f);
    return a;
}

}  // namespace TB
