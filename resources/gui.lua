-- The plug-in's own skin: every parameter in groups laid out as a player reads the sound's path
-- (mix, pitch and input, envelope follower, oscillator, filter, the three LFOs, OSC), the level
-- meters and detected pitch of both channels, and the Prefs button. 1024 x 512 pixels.
--
-- The top level only defines functions; the editor calls getWindowSize, the font functions and
-- then createUI, which may use every function of the editor (knobRenderer, levelMeters, ...).

local kWidth, kHeight = 1024, 512
local kKnob = 48     -- knob side
local kStep = 56     -- knob pitch
local kField = 112   -- text field width

local kFaces = {
    "truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
}

local function faces(size)
    local list = {}
    for i, name in ipairs(kFaces) do list[i] = {name = name, size = size} end
    return list
end

function getWindowSize() return kWidth, kHeight end
function getFont() return faces(11) end
function getLabelFont() return faces(9) end
function getTextFieldFont() return faces(10) end

-- A group at (x, y) holding a row of knobs and then a column of text fields, each given as
-- {parameter name, caption}. Returns the group and its width.
local function section(title, x, y, knobs, fields)
    local g = group(title)
    local cx = 0
    for _, k in ipairs(knobs) do
        g:add(knob(k[1], k[2], cx, 0, kKnob))
        cx = cx + kStep
    end
    if fields and #fields > 0 then
        local fy = kKnob - 14
        for _, f in ipairs(fields) do
            g:add(textField(f[1], f[2], cx, fy, kField, 14))
            fy = fy - 28
        end
        cx = cx + kField + 8
    end
    g:setPosition(x, y)
    return g, cx
end

function createUI()
    setBackgroundColour(0.11, 0.115, 0.13)
    setGroupActiveColour(0.95, 0.6, 0.25, 1)
    setGroupInactiveColour(0.45, 0.47, 0.5, 1)
    setBannerColour(0.9, 0.9, 0.9, 0.08)
    setBannerTextColour(0.75, 0.78, 0.8, 1)
    setBannerPosition(kHeight - 22)
    setBackgroundTexture(texture("background.png"), texture("background-normal.png"))
    theKnobRenderer = knobRenderer(texture("knob.png"), texture("knob-normal.png"), 0, 0, 128)

    local gap = 30
    local top, middle, bottom = 360, 215, 70
    local x, w

    -- The sound's path: what is mixed, what the follower hears, how the wet signal is pitched.
    x = 24
    _, w = section("Mix", x, top, {
        {"Dry Level", "Dry"}, {"Wet Level", "Wet"}, {"Osc Level", "Osc"},
        {"Dry Ring Mod Level", "Dry Ring"}, {"Wet Ring Mod Level", "Wet Ring"},
    })
    x = x + w + gap
    _, w = section("Pitch & Input", x, top, {
        {"Pitch Offset", "Offset"}, {"Pitch Offset Sweepable", "Sweep"},
        {"Lowpass Cutoff", "Lowpass"}, {"Highpass Cutoff", "Highpass"},
    }, {
        {"Sync Cycles", "Sync Cycles"}, {"Use Filtered For Dry", "Filtered Dry"},
    })
    x = x + w + gap
    section("Envelope", x, top, {
        {"Env Pre Gain", "Pre Gain"}, {"Env Attack", "Attack"}, {"Env Release", "Release"},
        {"Env Gate", "Gate"}, {"Trigger Level", "Trigger"},
    })

    -- The oscillator and the filter after it; what the unit hears.
    x = 24
    _, w = section("Oscillator", x, middle, {
        {"Osc Pitch", "Pitch"}, {"Osc Env Follow", "Follow"}, {"Pitch Env Depth", "Env Pitch"},
        {"Triangle", "Triangle"}, {"Saw", "Saw"}, {"Square", "Square"},
        {"Pulse Width", "Width"}, {"PWM Env Depth", "Env PWM"},
    })
    x = x + w + gap
    _, w = section("Filter", x, middle, {
        {"Filter Cutoff", "Cutoff"}, {"Filter Q", "Q"}, {"Filter Env Depth", "Env Depth"},
    }, {
        {"Filter Type", "Type"}, {"Use Filtered For Wet", "Filtered Wet"},
    })
    x = x + w + gap

    -- Each channel's detected pitch, and its cycle peak and follower envelope as meters.
    local levels = group("Channels")
    levels:add(infoDisplay(0, 0, 124, kKnob))
    levels:setPosition(x, middle)
    local meters = levelMeters(texture("meter.png"), 0, 0, 8, 64)
    local mx = x + 136
    meters:add("peak", 0, mx, middle - 8)
    meters:add("envelope", 0, mx + 11, middle - 8)
    meters:add("peak", 1, mx + 28, middle - 8)
    meters:add("envelope", 1, mx + 39, middle - 8)

    -- The three LFOs, remote control and the preferences.
    x = 24
    _, w = section("Pitch LFO", x, bottom, {
        {"Pitch LFO Speed", "Speed"}, {"Pitch LFO Amount", "Amount"}, {"Pitch LFO Amount Fine", "Fine"},
    }, {{"Pitch LFO Shape", "Shape"}})
    x = x + w + gap
    _, w = section("Filter LFO", x, bottom, {
        {"Filter LFO Speed", "Speed"}, {"Filter LFO Amount", "Amount"},
    }, {{"Filter LFO Shape", "Shape"}})
    x = x + w + gap
    _, w = section("PWM LFO", x, bottom, {
        {"PWM LFO Speed", "Speed"}, {"PWM LFO Amount", "Amount"},
    }, {{"PWM LFO Shape", "Shape"}})
    x = x + w + gap
    local osc = section("OSC", x, bottom, {}, {{"OSC Port Offset", "Port Offset"}})
    osc:add(button("Prefs", "Prefs", 0, 0, 80, 18))
end
