-- midi.lua: Marrowfin's built-in MIDI script.
--
-- It runs in every instance unless a script of your own named "midi.lua" lies in
-- ~/.local/share/Tallow Bright/Marrowfin/Scripts/ (or the machine-wide folder), which then
-- replaces it; scripts with other names run in addition to it.
--
-- What it does:
--   * Notes play the oscillator at a fixed pitch: a held note sets "Osc Pitch" to the note
--     number; releasing the last held note sets it back to 0, where the oscillator tracks the
--     input's pitch again. With several notes held the most recent one sounds (last-note
--     priority); releasing a note that is not sounding changes nothing, releasing the sounding
--     one returns to the most recent note still held. Note number 0 means "track", so it plays
--     no fixed pitch. Raise "Osc Level" to hear the oscillator.
--   * The modulation wheel (controller 1) sweeps "Filter Cutoff" exponentially over its whole
--     range, 50 Hz at 0 to 12000 Hz at 127, so equal wheel movements give equal musical
--     intervals. Set "Filter Type" away from 0 ("Thru") to hear it.
--   * The pitch wheel bends "Pitch Offset Sweepable" by up to 2 semitones either way; at rest it
--     is 0.
-- All sixteen MIDI channels are treated alike.

local OSC_PITCH = getParameterID("Osc Pitch")
local FILTER_CUTOFF = getParameterID("Filter Cutoff")
local PITCH_SWEEP = getParameterID("Pitch Offset Sweepable")
local BEND_RANGE = 2 -- semitones

-- Held notes, oldest first; each entry is channel * 128 + note.
local held = {}

local function release(key)
    for i = #held, 1, -1 do
        if held[i] == key then
            table.remove(held, i)
        end
    end
end

local function sound()
    local top = held[#held]
    setParameter(OSC_PITCH, top and top % 128 or 0)
end

requestAllNoteOn(function(channel, note, velocity)
    local key = channel * 128 + note
    release(key) -- a repeated note moves to the top instead of stacking twice
    held[#held + 1] = key
    sound()
end)

requestAllNoteOff(function(channel, note, velocity)
    local key = channel * 128 + note
    local wasSounding = held[#held] == key
    release(key)
    if wasSounding then
        sound()
    end
end)

local cutoffMin, cutoffMax = getParameterMinMax(FILTER_CUTOFF)
requestCC(1, function(channel, controller, value)
    setParameter(FILTER_CUTOFF, cutoffMin * (cutoffMax / cutoffMin) ^ (value / 127))
end)

requestPitchWheel(function(channel, value)
    local bend
    if value >= 8192 then
        bend = (value - 8192) / 8191
    else
        bend = (value - 8192) / 8192
    end
    setParameter(PITCH_SWEEP, bend * BEND_RANGE)
end)
