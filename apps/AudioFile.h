// Audio files through libsndfile: a reader for anything libsndfile reads, and a writer that
// writes into a temporary file beside the destination and renames it into place only when the
// whole render succeeded, so a failed or interrupted render never leaves a file behind.
// Main thread only.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>

namespace MarrowfinApp {

enum class SampleFormat { kDefault, kFloat, kPCM16, kPCM24 };

// "float", "pcm16", "pcm24"; throws a usage error otherwise.
SampleFormat ParseSampleFormat(const std::string& text);

class AudioFileReader {
public:
    explicit AudioFileReader(const std::string& path);  // throws AppError
    ~AudioFileReader();
    AudioFileReader(const AudioFileReader&) = delete;
    AudioFileReader& operator=(const AudioFileReader&) = delete;

    double SampleRate() const { return m_info.samplerate; }
    int Channels() const { return m_info.channels; }
    int64_t Frames() const { return m_info.frames; }
    const std::string& Path() const { return m_path; }

    // Reads up to `frames` interleaved frames; returns how many were read (0 at the end).
    // Throws AppError when the file turns out unreadable part way.
    int64_t Read(float* interleaved, int64_t frames);

private:
    std::string m_path;
    SF_INFO m_info{};
    SNDFILE* m_file = nullptr;
};

// The libsndfile major format for a path's extension (".wav", ".aiff", ".flac", ".ogg", ...),
// with the sample subtype chosen by `format` (32-bit float where the container allows it).
// Throws a usage error for an unknown extension or a subtype the container cannot hold.
int OutputFormatFor(const std::string& path, SampleFormat format);

class AudioFileWriter {
public:
    // Creates the temporary file beside `path`; throws AppError when it cannot.
    AudioFileWriter(const std::string& path, int format, double sampleRate, int channels);
    // Removes the temporary file unless Commit succeeded.
    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    void Write(const float* interleaved, int64_t frames);  // throws AppError
    // Closes the file and renames it to its destination; throws AppError when it cannot.
    void Commit();
    // Closes and removes the temporary file (also what the destructor does).
    void Abort();

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    std::string m_tempPath;
    SNDFILE* m_file = nullptr;
    bool m_committed = false;
};

}  // namespace MarrowfinApp
