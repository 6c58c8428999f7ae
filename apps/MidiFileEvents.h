// Standard MIDI files for offline renders: every channel message and system exclusive message
// of all tracks, merged in time order, with its time in sample frames (tempo map honoured).
// Main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace MarrowfinApp {

struct MidiFileEvent {
    int64_t frame;              // frames from the start of the input
    std::vector<uint8_t> bytes; // a complete channel message (1 to 3 bytes) or F0 ... F7
};

// Reads `path` and converts times at `sampleRate`. Throws AppError naming the file when it is
// missing or not a standard MIDI file. A truncated file keeps every event that arrived whole.
std::vector<MidiFileEvent> ReadMidiFile(const std::string& path, double sampleRate);

// The same for a file already in memory (`name` only for messages).
std::vector<MidiFileEvent> ParseMidiFile(const std::vector<uint8_t>& data, const std::string& name,
                                         double sampleRate);

// Checks the chunk structure and every event of `data` and returns a re-encoded copy that
// libsmf reads safely (it trusts declared lengths and asserts on some events): track lengths
// that match the bytes present, explicit status bytes, no sysex continuation packets, each
// track cut after its last whole event and closed with an end-of-track event. Throws AppError
// when the header is not that of a standard MIDI file.
std::vector<uint8_t> SanitizeMidiFile(const std::vector<uint8_t>& data, const std::string& name);

}  // namespace MarrowfinApp
