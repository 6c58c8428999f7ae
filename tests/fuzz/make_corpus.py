#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora into tests/fuzz/corpus/<target>/ (run by hand; the
output is committed). Small, well-formed inputs of every kind each target reads, plus a few
near misses, so the fuzzer starts from the structures rather than from nothing."""
import os
import plistlib
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "corpus")


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode()
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# --- OSC ------------------------------------------------------------------------------------
def osc_string(text):
    b = text.encode() + b"\0"
    return b + b"\0" * (-len(b) % 4)


def osc_message(address, *args):
    tags, payload = ",", b""
    for a in args:
        if isinstance(a, bool):
            tags += "T" if a else "F"
        elif isinstance(a, int):
            tags += "i"
            payload += struct.pack(">i", a)
        elif isinstance(a, float):
            tags += "f"
            payload += struct.pack(">f", a)
        elif isinstance(a, bytes):
            tags += "b"
            payload += struct.pack(">i", len(a)) + a + b"\0" * (-len(a) % 4)
        elif a is None:
            tags += "N"
        else:
            tags += "s"
            payload += osc_string(a)
    return osc_string(address) + osc_string(tags) + payload


def osc_bundle(*elements):
    out = osc_string("#bundle") + struct.pack(">Q", 1)
    for e in elements:
        out += struct.pack(">i", len(e)) + e
    return out


T, R = "127.0.0.1:9000", "/reply"
osc = {
    "set": osc_message("/set", 5, -12.5),
    "set-port": osc_message("/set", 39, 3.0),
    "get": osc_message("/get", 5, T, R),
    "getall": osc_message("/getAll", T, R),
    "getallregistered": osc_message("/getAllRegistered"),
    "getnum": osc_message("/getNumParameters", T, R),
    "isused": osc_message("/isParameterUsed", 3, T, R),
    "getinfo": osc_message("/getInfo", 7, T, R),
    "register": osc_message("/registerUpdate", 5, "osc.udp://localhost:9001/", R),
    "unregister": osc_message("/unregisterUpdate", 5, "localhost:9001", R),
    "ping": osc_message("/ping", T, R),
    "exec": osc_message("/exec", "echo", 1, 2.5, "x", True, False, None),
    "exec-blob": osc_message("/exec", "echo", b"\1\2\3"),
    "call": osc_message("/call", "add", T, R, 1, 2),
    "call-fail": osc_message("/call", "fail", T, R),
    "startnote": osc_message("/startNote", 60, 0.5),
    "stopnote": osc_message("/stopNote", 60, 0.0),
    "registered-path": osc_message("/cutoff", 0.25),
    "registered-both": osc_message("/both", 0.75),
    "address-only": osc_string("/set"),
    "bundle": osc_bundle(osc_message("/set", 1, 0.5), osc_bundle(osc_message("/get", 1, T, R))),
    "bad-blob-size": osc_string("/x") + osc_string(",b") + struct.pack(">i", -8) + b"abcdefgh",
    "bad-element-size": osc_string("#bundle") + struct.pack(">Q", 1) + struct.pack(">i", -4) + osc_message("/x"),
}
for name, data in osc.items():
    write("OSCDispatch", name, data)

# --- property lists: class-info states and preferences ---------------------------------------
def fourcc(text):
    return struct.unpack(">I", text.encode())[0]


def state(values, name="Fuzz", **extra):
    block = struct.pack(">III", 0, 0, len(values))
    for i, v in enumerate(values):
        block += struct.pack(">If", i, v)
    d = {"version": 0, "type": fourcc("aumf"), "subtype": fourcc("Marf"), "manufacturer": fourcc("Vosk"),
         "data": block, "name": name}
    d.update(extra)
    return d


states = {
    "state": state([0.5] * 40),
    "state-short-block": state([1.0] * 3),
    "state-element-names": state([0.0] * 40, **{"element-name": {"1": {"0": "In"}, "2": {"0": "Out"}},
                                                 "render-quality": 127, "cpu-load": 0.5}),
    "state-foreign": dict(state([0.0]), subtype=1),
    "state-part": dict(state([0.0]), part=1),
    "nested": {"a": [[[{"b": [1, 2.5, True, "x"]}]]]},
}
for name, d in states.items():
    xml = plistlib.dumps(d, fmt=plistlib.FMT_XML)
    binary = plistlib.dumps(d, fmt=plistlib.FMT_BINARY)
    for target in ("ClassInfoState", "StateAndPrefsFiles"):
        write(target, name + ".xml", xml)
        write(target, name + ".bin", binary)

prefs = {
    "prefs": {"OSC Base Port": 7100, "Enable eye candy": 0, "Enable constant redraw": 5,
              "Enable floating tooltip": 1, "Skin": "Dark"},
    "prefs-wrong-types": {"OSC Base Port": "7000", "Skin": 3, "Enable eye candy": 1.5},
    "prefs-negative": {"OSC Base Port": -3},
}
for name, d in prefs.items():
    write("StateAndPrefsFiles", name + ".xml", plistlib.dumps(d, fmt=plistlib.FMT_XML))
    write("StateAndPrefsFiles", name + ".bin", plistlib.dumps(d, fmt=plistlib.FMT_BINARY))
write("StateAndPrefsFiles", "comment-cdata.xml",
      '<?xml version="1.0"?><plist version="1.0"><dict><!-- c --><key>Skin</key>'
      '<string><![CDATA[a<b>]]></string></dict></plist>')

# --- standard MIDI files ----------------------------------------------------------------------
def varlen(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.insert(0, (n & 0x7F) | 0x80)
        n >>= 7
    return bytes(out)


def track(events):
    body = b"".join(varlen(delta) + data for delta, data in events) + b"\0\xff\x2f\0"
    return b"MTrk" + struct.pack(">I", len(body)) + body


def smf(fmt, division, *tracks):
    return b"MThd" + struct.pack(">IHHH", 6, fmt, len(tracks), division) + b"".join(tracks)


notes = [(0, b"\x90\x3c\x64"), (96, b"\x80\x3c\x00"), (0, b"\xb0\x01\x40"), (10, b"\xe0\x00\x40")]
write("MidiFile", "format0", smf(0, 96, track(notes)))
write("MidiFile", "format1-tempo", smf(1, 480, track([(0, b"\xff\x51\x03\x07\xa1\x20")]), track(notes)))
write("MidiFile", "running-status", smf(0, 96, track([(0, b"\x90\x3c\x64"), (10, b"\x3e\x64"), (10, b"\x3c\x00")])))
write("MidiFile", "sysex", smf(0, 96, track([(0, b"\xf0\x03\x7e\x01\xf7"), (5, b"\xf7\x02\x01\xf7")])))
write("MidiFile", "smpte", smf(0, 0xE728, track(notes)))
write("MidiFile", "truncated", smf(0, 96, track(notes))[:-7])
write("MidiFile", "meta-text", smf(0, 96, track([(0, b"\xff\x03\x04name"), (0, b"\xc0\x05"), (0, b"\xd0\x10")])))

# --- MIDI scripts -----------------------------------------------------------------------------
scripts = {
    "callbacks.lua": """
local id = getParameterID("Filter Cutoff")
requestAllNoteOn(function(channel, note, velocity) setParameter(id, note * 10) end)
requestAllNoteOff(function(channel, note, velocity) setParameter("Osc Pitch", 0) end)
requestCC(7, function(channel, controller, value) setParameter(id, value) end)
requestPitchWheel(function(channel, value) print(channel, value) end)
requestAllProgramChange(function(channel, program) setGUIBoolValue(program % 8, 1) end)
""",
    "api.lua": """
local lo, hi = getParameterMinMax(7)
print(getParameterName(7), getParameterUnit(7), getNumParameters(), isParameterUsed(3), lo, hi)
setParameter(5, getParameter(5) + 1)
local t = requestPeriodicCallback(0.5, function() end)
cancelTimer(t)
requestTimedCallback(1.0, function() end)
registerOSCPathForParameter("/p", {1, 2, 3})
sendOSC("127.0.0.1:9000", "/x", "ifs", 1, 2.5, "three")
print(time(), getGUIBoolValue(2))
""",
    "errors.lua": 'setParameter(99, 1)\n',
    "syntax.lua": 'function (\n',
    "nrpn.lua": 'requestNRPN(0, 5, function(channel, number, value) setParameter(number, value) end)\n',
    "string-work.lua": 'local s = string.rep("ab", 100) for w in s:gmatch("a") do end print(#s, s:upper())\n',
}
for name, text in scripts.items():
    write("MidiScript", name, text)
for name in os.listdir(os.path.join(HERE, "..", "..", "resources", "examples")):
    shutil.copy(os.path.join(HERE, "..", "..", "resources", "examples", name), os.path.join(ROOT, "MidiScript", name))
