#include "apps/MidiFileEvents.h"

// libsmf's header needs glib's types first.
#include <glib.h>
#include <smf.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>

#include "apps/AppError.h"

namespace MarrowfinApp {

namespace {

uint32_t ReadBE32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }
uint16_t ReadBE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }

void AppendBE32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

// A variable-length quantity of at most four bytes starting at `pos`; false when it runs past `end`.
bool ReadVarLen(const std::vector<uint8_t>& d, size_t& pos, size_t end, uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
        if (pos >= end) return false;
        uint8_t b = d[pos++];
        value = (value << 7) | (b & 0x7F);
        if (!(b & 0x80)) return true;
    }
    return false;  // longer than four bytes: malformed
}

void AppendVarLen(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t bytes[5];
    int n = 0;
    do {
        bytes[n++] = uint8_t(v & 0x7F);
        v >>= 7;
    } while (v && n < 5);
    while (n > 1) out.push_back(uint8_t(bytes[--n] | 0x80));
    out.push_back(bytes[0]);
}

// libsmf counts a track's time in pulses in an int (and aborts when the sum turns negative), so
// a track also ends before the first event that would lie beyond this.
constexpr uint64_t kMaxTrackPulses = 0x7FFFFFFF;

// Re-encodes one track's events from `begin` to `end` into `out`: every complete, well-formed
// event with an explicit status byte (no running status), sysex continuation packets (F7)
// dropped with their time kept, and an end-of-track event at the end. Stops at the first
// event that is cut off or malformed, so nothing is made up from missing bytes, or that lies
// beyond kMaxTrackPulses.
void CleanTrack(const std::vector<uint8_t>& d, size_t begin, size_t end, std::vector<uint8_t>& out) {
    size_t pos = begin;
    uint8_t running = 0;
    uint64_t pendingDelta = 0;  // time of dropped events, carried to the next one kept
    uint64_t trackTime = 0;     // pulses up to the last event kept
    bool full = false;
    auto emit = [&](uint32_t delta, uint8_t status, size_t dataBegin, size_t dataEnd, bool withLength,
                    uint8_t metaType) {
        const uint64_t gap = std::min<uint64_t>(pendingDelta + delta, 0x0FFFFFFF);
        if (trackTime + gap > kMaxTrackPulses) {
            full = true;
            return;
        }
        trackTime += gap;
        AppendVarLen(out, uint32_t(gap));
        pendingDelta = 0;
        out.push_back(status);
        if (status == 0xFF) out.push_back(metaType);
        if (withLength) AppendVarLen(out, uint32_t(dataEnd - dataBegin));
        out.insert(out.end(), d.begin() + dataBegin, d.begin() + dataEnd);
    };
    while (pos < end && !full) {
        uint32_t delta;
        if (!ReadVarLen(d, pos, end, delta) || pos >= end) break;
        uint8_t status = d[pos];
        if (status & 0x80) {
            ++pos;
        } else {
            if (!running) break;  // data byte without a status to continue
            status = running;
        }
        if (status == 0xFF) {
            if (pos >= end) break;
            uint8_t type = d[pos++];
            uint32_t length;
            if (!ReadVarLen(d, pos, end, length) || length > end - pos || type >= 0x80) break;
            running = 0;
            if (type == 0x2F) break;  // written below
            // Tempo changes must be three bytes; a damaged one is dropped rather than guessed at.
            if (type == 0x51 && length != 3) {
                pendingDelta += delta;
            } else {
                emit(delta, 0xFF, pos, pos + length, true, type);
            }
            pos += length;
        } else if (status == 0xF0 || status == 0xF7) {
            uint32_t length;
            if (!ReadVarLen(d, pos, end, length) || length > end - pos) break;
            running = 0;
            if (status == 0xF0)
                emit(delta, 0xF0, pos, pos + length, true, 0);
            else
                pendingDelta += delta;
            pos += length;
        } else if (status >= 0xF0) {
            break;  // system common and real-time messages have no place in a file
        } else {
            const size_t dataBytes = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
            if (dataBytes > end - pos) break;
            bool valid = true;
            for (size_t i = 0; i < dataBytes; ++i) valid = valid && !(d[pos + i] & 0x80);
            if (!valid) break;
            emit(delta, status, pos, pos + dataBytes, false, 0);
            pos += dataBytes;
            running = status;
        }
    }
    out.insert(out.end(), {0x00, 0xFF, 0x2F, 0x00});
}

// libsmf reports through glib's log; keep the last message for our own error line.
std::string& LastSmfMessage() {
    static std::string message;
    return message;
}

void SmfLogHandler(const gchar*, GLogLevelFlags, const gchar* message, gpointer) {
    LastSmfMessage() = message ? message : "";
}

struct SmfDeleter {
    void operator()(smf_t* smf) const { smf_delete(smf); }
};

}  // namespace

std::vector<uint8_t> SanitizeMidiFile(const std::vector<uint8_t>& d, const std::string& name) {
    const std::string what = "'" + name + "'";
    if (d.size() < 14 || !std::equal(d.begin(), d.begin() + 4, "MThd") || ReadBE32(&d[4]) < 6)
        throw Failure("cannot read MIDI file " + what + ": not a standard MIDI file");
    const uint32_t headerLength = ReadBE32(&d[4]);
    const uint16_t format = ReadBE16(&d[8]);
    const uint16_t division = ReadBE16(&d[12]);
    // libsmf reads formats 0 and 1 only (and leaks on the others).
    if (format == 2) throw Failure("cannot read MIDI file " + what + ": format 2 (independent sequences) is not supported");
    if (format > 2) throw Failure("cannot read MIDI file " + what + ": unknown format " + std::to_string(format));
    if (division & 0x8000)
        throw Failure("cannot read MIDI file " + what + ": SMPTE time division is not supported");
    if (division == 0) throw Failure("cannot read MIDI file " + what + ": zero ticks per quarter note");
    if (uint64_t(8) + headerLength > d.size())
        throw Failure("cannot read MIDI file " + what + ": truncated header");

    std::vector<std::vector<uint8_t>> tracks;
    size_t pos = 8 + headerLength;
    while (pos + 8 <= d.size()) {
        const bool isTrack = std::equal(d.begin() + pos, d.begin() + pos + 4, "MTrk");
        const uint64_t declared = ReadBE32(&d[pos + 4]);
        const size_t begin = pos + 8;
        const size_t end = size_t(std::min<uint64_t>(begin + declared, d.size()));
        pos = end;
        if (!isTrack) continue;  // unknown chunks are skipped, as the format asks
        std::vector<uint8_t> track;
        CleanTrack(d, begin, end, track);
        tracks.push_back(std::move(track));
    }
    if (tracks.empty()) throw Failure("cannot read MIDI file " + what + ": it has no tracks");
    if (format == 0 && tracks.size() > 1) tracks.resize(1);

    std::vector<uint8_t> out = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
    out.push_back(uint8_t(format >> 8));
    out.push_back(uint8_t(format));
    out.push_back(uint8_t(tracks.size() >> 8));
    out.push_back(uint8_t(tracks.size()));
    out.push_back(uint8_t(division >> 8));
    out.push_back(uint8_t(division));
    for (const auto& track : tracks) {
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        AppendBE32(out, uint32_t(track.size()));
        out.insert(out.end(), track.begin(), track.end());
    }
    return out;
}

std::vector<MidiFileEvent> ParseMidiFile(const std::vector<uint8_t>& data, const std::string& name,
                                         double sampleRate) {
    std::vector<uint8_t> clean = SanitizeMidiFile(data, name);

    g_log_set_handler("libsmf", GLogLevelFlags(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION),
                      SmfLogHandler, nullptr);
    LastSmfMessage().clear();
    std::unique_ptr<smf_t, SmfDeleter> smf(smf_load_from_memory(clean.data(), int(clean.size())));
    if (!smf) {
        std::string why = LastSmfMessage().empty() ? std::string("not a standard MIDI file") : LastSmfMessage();
        throw Failure("cannot read MIDI file '" + name + "': " + why);
    }

    std::vector<MidiFileEvent> events;
    while (smf_event_t* e = smf_get_next_event(smf.get())) {
        if (smf_event_is_metadata(e) || e->midi_buffer_length < 1 || !e->midi_buffer) continue;
        const uint8_t status = e->midi_buffer[0];
        const bool channel = status >= 0x80 && status < 0xF0;
        const bool sysex = status == 0xF0;
        if (!channel && !sysex) continue;
        double seconds = e->time_seconds;
        if (!std::isfinite(seconds) || seconds < 0.0) continue;
        MidiFileEvent ev;
        ev.frame = std::llround(std::min(seconds * sampleRate, 9.0e15));
        ev.bytes.assign(e->midi_buffer, e->midi_buffer + e->midi_buffer_length);
        events.push_back(std::move(ev));
    }
    // Tracks are merged by time already; keep that order stable for equal frames.
    std::stable_sort(events.begin(), events.end(),
                     [](const MidiFileEvent& a, const MidiFileEvent& b) { return a.frame < b.frame; });
    return events;
}

std::vector<MidiFileEvent> ReadMidiFile(const std::string& path, double sampleRate) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure("cannot read MIDI file '" + path + "': no such file or not readable");
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw Failure("cannot read MIDI file '" + path + "': read error");
    return ParseMidiFile(data, path, sampleRate);
}

}  // namespace MarrowfinApp
