// Where a render's input comes from: an audio file, or a signal already in memory (the demo).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "apps/AudioFile.h"

namespace MarrowfinApp {

class InputSource {
public:
    virtual ~InputSource() = default;
    virtual double SampleRate() const = 0;
    virtual int Channels() const = 0;
    virtual int64_t Frames() const = 0;
    // Up to `frames` interleaved frames; fewer (0) at the end.
    virtual int64_t Read(float* interleaved, int64_t frames) = 0;
    virtual std::string Name() const = 0;
};

class FileInput : public InputSource {
public:
    explicit FileInput(const std::string& path) : m_reader(path) {}
    double SampleRate() const override { return m_reader.SampleRate(); }
    int Channels() const override { return m_reader.Channels(); }
    int64_t Frames() const override { return m_reader.Frames(); }
    int64_t Read(float* interleaved, int64_t frames) override { return m_reader.Read(interleaved, frames); }
    std::string Name() const override { return m_reader.Path(); }

private:
    AudioFileReader m_reader;
};

// Interleaved samples held in memory.
class MemoryInput : public InputSource {
public:
    MemoryInput(std::vector<float> interleaved, double sampleRate, int channels, std::string name)
        : m_samples(std::move(interleaved)), m_sampleRate(sampleRate), m_channels(channels), m_name(std::move(name)) {}
    double SampleRate() const override { return m_sampleRate; }
    int Channels() const override { return m_channels; }
    int64_t Frames() const override { return int64_t(m_samples.size()) / m_channels; }
    int64_t Read(float* interleaved, int64_t frames) override;
    std::string Name() const override { return m_name; }
    const std::vector<float>& Samples() const { return m_samples; }

private:
    std::vector<float> m_samples;
    double m_sampleRate;
    int m_channels;
    std::string m_name;
    int64_t m_position = 0;
};

}  // namespace MarrowfinApp
