-- A periodic timer: sweeps "Filter Cutoff" slowly up and down, one cycle every 8 seconds,
-- independent of the host's tempo. Timers run on the main thread, 20 times a second here.
-- Controller 64 (sustain pedal) pressed stops the sweep, released starts it again.

local CUTOFF = getParameterID("Filter Cutoff")
local low, high = 200, 4000
local period = 8 -- seconds per sweep
local start = time()
local timer

local function tick()
    local phase = ((time() - start) / period) % 1
    local shape = 0.5 - 0.5 * math.cos(2 * math.pi * phase)
    setParameter(CUTOFF, low * (high / low) ^ shape)
end

local function startSweep()
    if not timer then
        timer = requestPeriodicCallback(0.05, tick)
    end
end

requestCC(64, function(channel, controller, value)
    if value >= 64 and timer then
        cancelTimer(timer)
        timer = nil
    elseif value < 64 then
        startSweep()
    end
end)

startSweep()
