-- The plug-in's own skin: every parameter in sections laid out as a player reads the sound's
-- path (mix and pitch, the envelope follower and the filter, the oscillator, the three LFOs,
-- OSC), exact-value fields where a knob is too coarse, the level meters and detected pitch of
-- both channels, the eight lamps the MIDI scripts light, and the Prefs button. 1024 x 512.
--
-- The top level only defines functions; the editor calls getWindowSize, the font functions and
-- then createUI, which may use every function of the editor (knobRenderer, levelMeters, ...).

local kWidth, kHeight = 1024, 512
local kKnob = 60            -- knob side
local kPitch = 68           -- knob to knob
local kRow = kKnob + 5      -- a knob with its caption
local kPad = 6              -- plate beyond the content, above and below
local kCaption, kField, kFieldH, kFieldPitch = 66, 56, 16, 22
local kGap = 12             -- between knobs and a column of fields
local kIndent = 10          -- a group's outline around its content
local kRight = kWidth - 8 - kIndent  -- where the last section of a row ends

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
function getLabelFont() return faces(10) end
function getTextFieldFont() return faces(10) end

-- The content width of a section of `knobs` knobs and a column of fields when `fields`.
local function contentWidth(knobs, fields)
    local w = knobs > 0 and (knobs * kPitch - (kPitch - kKnob)) or 0
    if fields then w = w + (knobs > 0 and kGap or 0) + kCaption + kField end
    return w
end

-- A titled section with its backdrop at (x, y) (the content's bottom left): a row of knobs,
-- each {parameter name, caption}, then a column of captioned fields, each {parameter name,
-- caption[, format]}, centred on the knob row. `width` widens the plate for extra content;
-- "last" stretches it to the window's right margin. Returns the group and the x where the next
-- section may start.
local function section(title, x, y, knobs, fields, width)
    local g = group(title)
    local hasFields = fields ~= nil and #fields > 0
    local w = contentWidth(#knobs, hasFields)
    if width == "last" then w = math.max(w, kRight - x) elseif width then w = math.max(w, width) end
    g:add(panel(0, -kPad, w, kRow + 2 * kPad))  -- first: it lies behind the rest
    local cx = 0
    for _, k in ipairs(knobs) do
        g:add(knob(k[1], k[2], cx, 0, kKnob))
        cx = cx + kPitch
    end
    if hasFields then
        local fx = #knobs > 0 and (cx - (kPitch - kKnob) + kGap) or 0
        local fy = (kRow + #fields * kFieldPitch) / 2 - kFieldH - 3
        for _, f in ipairs(fields) do
            g:add(label(f[2], fx, fy, kCaption - 4, kFieldH))
            g:add(textField(f[1], "", fx + kCaption, fy, kField, kFieldH, f[3] or ""))
            fy = fy - kFieldPitch
        end
    end
    g:setPosition(x, y)
    return g, x + w + 2 * kIndent + 14
end

function createUI()
    setBackgroundColour(0.07, 0.075, 0.085)
    setGroupActiveColour(1.0, 0.62, 0.22, 1)
    setGroupInactiveColour(0.6, 0.63, 0.68, 1)
    setBannerColour(0.9, 0.9, 0.9, 0.06)
    setBannerTextColour(0.85, 0.87, 0.9, 1)
    setBannerPosition(kHeight - 22)
    setBackgroundTexture(texture("background.png"), texture("background-normal.png"))
    theKnobRenderer = knobRenderer(texture("knob.png"), texture("knob-normal.png"), 0, 0, 128)
    theKnobRenderer:setValueArc(0.64, 0.09, 1.0, 0.62, 0.22)

    local left = 8 + kIndent
    local rows = {380, 262, 144, 26}  -- content bottoms, top row first
    local x, g

    -- What is mixed, and how the wet signal is pitched from the filtered input.
    x = left
    _, x = section("Mix", x, rows[1], {
        {"Dry Level", "Dry"}, {"Wet Level", "Wet"}, {"Osc Level", "Osc"},
        {"Dry Ring Mod Level", "Dry Ring"}, {"Wet Ring Mod Level", "Wet Ring"},
    })
    _, x = section("Pitch & Input", x, rows[1], {
        {"Pitch Offset", "Offset"}, {"Pitch Offset Sweepable", "Sweep"},
        {"Lowpass Cutoff", "Lowpass"}, {"Highpass Cutoff", "Highpass"},
    }, {
        {"Pitch Offset", "Semitones", "%+.0f"}, {"Sync Cycles", "Sync Cycles"}, {"Use Filtered For Dry", "Filtered Dry"},
    })

    -- Each channel's detected pitch, and its cycle peak and follower envelope as meters.
    local meterH = 64
    local meterX = kRight - x - 55
    g = section("Channels", x, rows[1], {}, nil, "last")
    g:add(infoDisplay(0, kRow / 2 - 14, 124, 40))
    local meters = levelMeters(texture("meter.png"), 0, 0, 10, meterH)
    local my = rows[1] + (kRow - meterH) / 2
    meters:add("peak", 0, x + meterX, my)
    meters:add("envelope", 0, x + meterX + 13, my)
    meters:add("peak", 1, x + meterX + 32, my)
    meters:add("envelope", 1, x + meterX + 45, my)

    -- The envelope follower, and the filter it can sweep.
    x = left
    _, x = section("Envelope", x, rows[2], {
        {"Env Pre Gain", "Pre Gain"}, {"Env Attack", "Attack"}, {"Env Release", "Release"},
        {"Env Gate", "Gate"}, {"Trigger Level", "Trigger"},
    })
    _, x = section("Filter", x, rows[2], {
        {"Filter Cutoff", "Cutoff"}, {"Filter Q", "Q"}, {"Filter Env Depth", "Env Depth"},
    }, {
        {"Filter Cutoff", "Cutoff Hz"}, {"Filter Type", "Type"}, {"Use Filtered For Wet", "Filtered Wet"},
    })
    g = section("OSC", x, rows[2], {}, {{"OSC Port Offset", "Port Offset", "%.0f"}}, "last")
    g:add(button("Prefs", "Prefs", kCaption, 2, kField, 18))

    -- The oscillator, and the lamps the MIDI scripts light.
    x = left
    _, x = section("Oscillator", x, rows[3], {
        {"Osc Pitch", "Pitch"}, {"Osc Env Follow", "Follow"}, {"Pitch Env Depth", "Env Pitch"},
        {"Triangle", "Triangle"}, {"Saw", "Saw"}, {"Square", "Square"},
        {"Pulse Width", "Width"}, {"PWM Env Depth", "Env PWM"},
    }, {{"Osc Pitch", "Note"}})
    local lampSize = 18
    local lampPitch = (kRight - x - lampSize) / 7
    g = section("Script Lamps", x, rows[3], {}, nil, "last")
    for i = 0, 7 do g:add(scriptLamp(i, i * lampPitch, (kRow - lampSize) / 2, lampSize)) end

    -- The three LFOs.
    x = left
    _, x = section("Pitch LFO", x, rows[4], {
        {"Pitch LFO Speed", "Speed"}, {"Pitch LFO Amount", "Amount"}, {"Pitch LFO Amount Fine", "Fine"},
    }, {{"Pitch LFO Shape", "Shape"}})
    _, x = section("Filter LFO", x, rows[4], {
        {"Filter LFO Speed", "Speed"}, {"Filter LFO Amount", "Amount"},
    }, {{"Filter LFO Shape", "Shape"}})
    section("PWM LFO", x, rows[4], {
        {"PWM LFO Speed", "Speed"}, {"PWM LFO Amount", "Amount"},
    }, {{"PWM LFO Shape", "Shape"}}, "last")
end
