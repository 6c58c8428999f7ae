-- GUI bool indicators: the editor shows eight lamps that scripts switch.
-- Lamp 0 is lit while any note is held, lamp 1 while the sustain pedal (controller 64) is down,
-- and lamp 2 blinks once for each program change.

local notesHeld = 0

requestAllNoteOn(function(channel, note, velocity)
    notesHeld = notesHeld + 1
    setGUIBoolValue(0, true)
end)

requestAllNoteOff(function(channel, note, velocity)
    notesHeld = math.max(0, notesHeld - 1)
    setGUIBoolValue(0, notesHeld > 0)
end)

requestCC(64, function(channel, controller, value)
    setGUIBoolValue(1, value >= 64)
end)

requestAllProgramChange(function(channel, program)
    setGUIBoolValue(2, true)
    requestTimedCallback(0.2, function()
        setGUIBoolValue(2, false)
    end)
end)
