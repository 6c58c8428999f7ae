
local id = getParameterID("Filter Cutoff")
requestAllNoteOn(function(channel, note, velocity) setParameter(id, note * 10) end)
requestAllNoteOff(function(channel, note, velocity) setParameter("Osc Pitch", 0) end)
requestCC(7, function(channel, controller, value) setParameter(id, value) end)
requestPitchWheel(function(channel, value) print(channel, value) end)
requestAllProgramChange(function(channel, program) setGUIBoolValue(program % 8, 1) end)
