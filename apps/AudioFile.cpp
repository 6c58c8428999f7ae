#include "apps/AudioFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <vector>
#include <filesystem>

#include "apps/AppError.h"

namespace MarrowfinApp {

namespace {

// Temporary files not yet renamed into place. A script may end the process with os.exit in the
// middle of a render, and an uncaught failure ends it through std::terminate: neither runs our
// destructors, so the files are also removed at exit and at terminate.
std::mutex g_pendingLock;
std::vector<std::string> g_pending;

void RemovePendingFiles() {
    std::lock_guard<std::mutex> lock(g_pendingLock);
    for (const std::string& path : g_pending) unlink(path.c_str());
    g_pending.clear();
}

void TrackTempFile(const std::string& path) {
    static const bool installed = [] {
        std::atexit(RemovePendingFiles);
        std::at_quick_exit(RemovePendingFiles);
        static const std::terminate_handler previous = std::set_terminate([] {
            RemovePendingFiles();
            if (previous) previous();
            std::abort();
        });
        return true;
    }();
    (void)installed;
    std::lock_guard<std::mutex> lock(g_pendingLock);
    g_pending.push_back(path);
}

void ForgetTempFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_pendingLock);
    g_pending.erase(std::remove(g_pending.begin(), g_pending.end(), path), g_pending.end());
}

}  // namespace

namespace {

std::string LowerExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

mode_t CurrentUmask() {
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

}  // namespace

SampleFormat ParseSampleFormat(const std::string& text) {
    if (text == "float") return SampleFormat::kFloat;
    if (text == "pcm16") return SampleFormat::kPCM16;
    if (text == "pcm24") return SampleFormat::kPCM24;
    throw UsageError("unknown sample format '" + text + "' (use float, pcm16 or pcm24)");
}

// ---------------------------------------------------------------------------------------------

AudioFileReader::AudioFileReader(const std::string& path) : m_path(path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw Failure("cannot read input " + Quoted(path) + ": it is a folder");
    m_file = sf_open(path.c_str(), SFM_READ, &m_info);
    if (!m_file) {
        int err = errno;
        if (access(path.c_str(), F_OK) != 0)
            throw Failure("cannot read input " + Quoted(path) + ": " + std::strerror(err ? err : ENOENT));
        throw Failure("cannot read input " + Quoted(path) + ": " + sf_strerror(nullptr));
    }
    if (m_info.channels < 1 || m_info.samplerate < 1) {
        sf_close(m_file);
        m_file = nullptr;
        throw Failure("cannot read input " + Quoted(path) + ": no channels or no sample rate");
    }
    // Files whose frame count is not known (pipes) are read to their end.
    if (m_info.frames < 0) m_info.frames = 0;
}

AudioFileReader::~AudioFileReader() {
    if (m_file) sf_close(m_file);
}

int64_t AudioFileReader::Read(float* interleaved, int64_t frames) {
    sf_count_t got = sf_readf_float(m_file, interleaved, frames);
    if (got < 0 || (got < frames && sf_error(m_file) != SF_ERR_NO_ERROR))
        throw Failure("cannot read input " + Quoted(m_path) + ": " + sf_strerror(m_file));
    return got;
}

// ---------------------------------------------------------------------------------------------

int OutputFormatFor(const std::string& path, SampleFormat format) {
    const std::string ext = LowerExtension(path);
    int major = 0;
    bool floatAllowed = true;
    if (ext == ".wav" || ext == ".wave") major = SF_FORMAT_WAV;
    else if (ext == ".aif" || ext == ".aiff" || ext == ".aifc") major = SF_FORMAT_AIFF;
    else if (ext == ".caf") major = SF_FORMAT_CAF;
    else if (ext == ".w64") major = SF_FORMAT_W64;
    else if (ext == ".rf64") major = SF_FORMAT_RF64;
    else if (ext == ".au" || ext == ".snd") major = SF_FORMAT_AU;
    else if (ext == ".flac") { major = SF_FORMAT_FLAC; floatAllowed = false; }
    else if (ext == ".ogg" || ext == ".oga") {
        // Vorbis has no sample format to choose.
        if (format != SampleFormat::kDefault)
            throw UsageError("--sample-format does not apply to Ogg Vorbis output " + Quoted(path));
        return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    } else
        throw UsageError("unsupported output format " + Quoted(path) +
                         " (use .wav, .aiff, .flac, .ogg, .caf, .w64, .rf64 or .au)");

    switch (format) {
        case SampleFormat::kDefault: return major | (floatAllowed ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_24);
        case SampleFormat::kFloat:
            if (!floatAllowed) throw UsageError("FLAC cannot hold 32-bit float samples: " + Quoted(path));
            return major | SF_FORMAT_FLOAT;
        case SampleFormat::kPCM16: return major | SF_FORMAT_PCM_16;
        case SampleFormat::kPCM24: return major | SF_FORMAT_PCM_24;
    }
    return major | SF_FORMAT_FLOAT;
}

AudioFileWriter::AudioFileWriter(const std::string& path, int format, double sampleRate, int channels)
    : m_path(path) {
    SF_INFO info{};
    info.samplerate = int(sampleRate);
    info.channels = channels;
    info.format = format;
    if (!sf_format_check(&info))
        throw Failure("cannot write " + Quoted(path) + ": the format cannot hold " + std::to_string(channels) +
                      " channel(s) at " + std::to_string(info.samplerate) + " Hz");

    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) throw Failure("cannot write " + Quoted(path) + ": it is a folder");

    // The temporary file lives in the destination's folder so that the final rename stays on one
    // file system and is atomic.
    std::filesystem::path dest(path);
    std::filesystem::path dir = dest.parent_path();
    std::string pattern = (dir.empty() ? std::string(".") : dir.string()) + "/." + dest.filename().string() + ".XXXXXX";
    std::string buffer = pattern;
    int fd = mkstemp(buffer.data());
    if (fd < 0) throw Failure("cannot write " + Quoted(path) + ": " + std::strerror(errno));
    m_tempPath = buffer;
    TrackTempFile(m_tempPath);
    fchmod(fd, 0666 & ~CurrentUmask());  // mkstemp makes it private; the result is an ordinary file

    m_file = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    if (!m_file) {
        std::string why = sf_strerror(nullptr);
        close(fd);
        unlink(m_tempPath.c_str());
        ForgetTempFile(m_tempPath);
        m_tempPath.clear();
        throw Failure("cannot write " + Quoted(path) + ": " + why);
    }
    // Integer formats clip out-of-range samples instead of wrapping them round.
    sf_command(m_file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

AudioFileWriter::~AudioFileWriter() { Abort(); }

void AudioFileWriter::Write(const float* interleaved, int64_t frames) {
    if (frames <= 0) return;
    sf_count_t put = sf_writef_float(m_file, interleaved, frames);
    if (put != frames) throw Failure("cannot write " + Quoted(m_path) + ": " + sf_strerror(m_file));
}

void AudioFileWriter::Commit() {
    sf_write_sync(m_file);
    int closeErr = sf_close(m_file);
    m_file = nullptr;
    if (closeErr != 0) throw Failure("cannot write " + Quoted(m_path) + ": " + sf_error_number(closeErr));
    if (std::rename(m_tempPath.c_str(), m_path.c_str()) != 0)
        throw Failure("cannot write " + Quoted(m_path) + ": " + std::strerror(errno));
    m_committed = true;
    ForgetTempFile(m_tempPath);
    m_tempPath.clear();
}

void AudioFileWriter::Abort() {
    if (m_file) {
        sf_close(m_file);
        m_file = nullptr;
    }
    if (!m_committed && !m_tempPath.empty()) {
        unlink(m_tempPath.c_str());
        ForgetTempFile(m_tempPath);
        m_tempPath.clear();
    }
}

}  // namespace MarrowfinApp
