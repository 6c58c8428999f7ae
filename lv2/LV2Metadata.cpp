// Writes manifest.ttl, marrowfin.ttl and presets.ttl from the parameter and preset table.
#include "lv2/LV2Metadata.h"

#include "effect/MarrowfinConstants.h"

#include <cctype>
#include <charconv>

#include "lv2/MarrowfinLV2Ports.h"

namespace MarrowfinLV2 {

namespace {

const char* const kPrefixes =
    "@prefix atom:   <http://lv2plug.in/ns/ext/atom#> .\n"
    "@prefix doap:   <http://usefulinc.com/ns/doap#> .\n"
    "@prefix foaf:   <http://xmlns.com/foaf/0.1/> .\n"
    "@prefix log:    <http://lv2plug.in/ns/ext/log#> .\n"
    "@prefix lv2:    <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix midi:   <http://lv2plug.in/ns/ext/midi#> .\n"
    "@prefix opts:   <http://lv2plug.in/ns/ext/options#> .\n"
    "@prefix pg:     <http://lv2plug.in/ns/ext/port-groups#> .\n"
    "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
    "@prefix pset:   <http://lv2plug.in/ns/ext/presets#> .\n"
    "@prefix rdf:    <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs:   <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix state:  <http://lv2plug.in/ns/ext/state#> .\n"
    "@prefix ui:     <http://lv2plug.in/ns/extensions/ui#> .\n"
    "@prefix units:  <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix urid:   <http://lv2plug.in/ns/ext/urid#> .\n"
    "@prefix work:   <http://lv2plug.in/ns/ext/worker#> .\n"
    "\n";

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string Ref(const std::string& uri) { return "<" + uri + ">"; }

const char* UnitURI(AudioUnitParameterUnit unit) {
    switch (unit) {
        case kAudioUnitParameterUnit_Hertz: return "units:hz";
        case kAudioUnitParameterUnit_Milliseconds: return "units:ms";
        case kAudioUnitParameterUnit_Decibels: return "units:db";
        case kAudioUnitParameterUnit_RelativeSemiTones: return "units:semitone12TET";
        case kAudioUnitParameterUnit_Cents: return "units:cent";
        case kAudioUnitParameterUnit_Percent: return "units:pc";
        default: return nullptr;
    }
}

// Cutoffs, LFO rates and envelope times span decades: hosts draw them on a log scale.
bool IsLogarithmic(AudioUnitParameterUnit unit) {
    return unit == kAudioUnitParameterUnit_Hertz || unit == kAudioUnitParameterUnit_Milliseconds;
}

void WriteScalePoint(std::ostream& out, const char* label, float value, bool& first) {
    out << (first ? "        lv2:scalePoint [ rdfs:label " : " , [ rdfs:label ") << Quoted(label)
        << " ; rdf:value " << FormatFloat(value) << " ]";
    first = false;
}

void WriteControlPort(std::ostream& out, AudioUnitParameterID id) {
    const ParamInfo& info = astParamInfos[id];
    out << "    [\n"
        << "        a lv2:InputPort , lv2:ControlPort ;\n"
        << "        lv2:index " << id << " ;\n"
        << "        lv2:symbol " << Quoted(ParamSymbol(id)) << " ;\n"
        << "        lv2:name " << Quoted(info.name) << " ;\n"
        << "        lv2:default " << FormatFloat(info.defaultValue) << " ;\n"
        << "        lv2:minimum " << FormatFloat(info.minValue) << " ;\n"
        << "        lv2:maximum " << FormatFloat(info.maxValue);
    if (const char* unit = UnitURI(info.unit)) out << " ;\n        units:unit " << unit;

    std::string props;
    auto addProp = [&props](const char* p) { props += props.empty() ? p : std::string(" , ") + p; };
    if (info.unit == kAudioUnitParameterUnit_Indexed) addProp("lv2:integer");
    if (info.unit == kAudioUnitParameterUnit_Boolean) addProp("lv2:toggled");
    if (ParamIsLFOShape(id)) addProp("lv2:enumeration");
    if (IsLogarithmic(info.unit)) addProp("pprops:logarithmic");
    if (!props.empty()) out << " ;\n        lv2:portProperty " << props;

    bool first = true;
    if (ParamIsLFOShape(id)) {
        for (int shape = 0; shape < kNumLFOShapes; ++shape) {
            if (first) out << " ;\n";
            WriteScalePoint(out, pLFOShapeNames[shape], float(shape), first);
        }
    } else if (ParamValuesHaveStrings(id)) {
        // The named values of these parameters are whole numbers inside the range.
        for (int v = int(info.minValue); v <= int(info.maxValue); ++v) {
            if (const char* label = ParamStringForValue(id, float(v))) {
                if (first) out << " ;\n";
                WriteScalePoint(out, label, float(v), first);
            }
        }
    }
    out << "\n    ]";
}

void WritePlugin(std::ostream& out, int channels) {
    const bool stereo = channels == 2;
    const std::string uri = PluginURI(channels);
    const std::string inGroup = std::string(kBaseURI) + (stereo ? "#stereo_in" : "#mono_in");
    const std::string outGroup = std::string(kBaseURI) + (stereo ? "#stereo_out" : "#mono_out");

    out << Ref(inGroup) << "\n    a pg:InputGroup , " << (stereo ? "pg:StereoGroup" : "pg:MonoGroup") << " ;\n"
        << "    lv2:symbol \"in\" ;\n    lv2:name \"Input\" .\n\n";
    out << Ref(outGroup) << "\n    a pg:OutputGroup , " << (stereo ? "pg:StereoGroup" : "pg:MonoGroup") << " ;\n"
        << "    lv2:symbol \"out\" ;\n    lv2:name \"Output\" ;\n    pg:source " << Ref(inGroup) << " .\n\n";

    out << Ref(uri) << "\n"
        << "    a lv2:Plugin , lv2:PitchPlugin , doap:Project ;\n"
        << "    doap:name " << Quoted(stereo ? "Marrowfin Stereo" : "Marrowfin Mono") << " ;\n"
        << "    lv2:project " << Ref(kBaseURI) << " ;\n"
        << "    doap:license <https://tallowbright.example/plugins/marrowfin/license> ;\n"
        << "    doap:maintainer [ a foaf:Person ; foaf:name \"Tallow Bright\" ; "
           "foaf:homepage <https://tallowbright.example/> ] ;\n"
        << "    lv2:minorVersion 1 ;\n    lv2:microVersion 0 ;\n"
        << "    rdfs:comment \"Tracks the pitch of each input cycle and builds its output from the delayed "
           "input, the last cycle replayed at a transposing speed, a tracking or fixed-pitch oscillator, "
           "ring modulation and a morphing resonant filter. MIDI input drives a Lua script.\" ;\n"
        << "    lv2:optionalFeature lv2:hardRTCapable , urid:map , opts:options , log:log , work:schedule ;\n"
        << "    lv2:extensionData state:interface , work:interface ;\n"
        << "    ui:ui " << Ref(kUIURI) << " ;\n"
        << "    pg:mainInput " << Ref(inGroup) << " ;\n"
        << "    pg:mainOutput " << Ref(outGroup) << " ;\n"
        << "    lv2:port\n";

    for (AudioUnitParameterID id = 0; id < kNumParams; ++id) {
        WriteControlPort(out, id);
        out << " ,\n";
    }
    out << "    [\n"
        << "        a lv2:OutputPort , lv2:ControlPort ;\n"
        << "        lv2:index " << kPortLatency << " ;\n"
        << "        lv2:symbol \"latency\" ;\n"
        << "        lv2:name \"Latency\" ;\n"
        << "        lv2:designation lv2:latency ;\n"
        // Older hosts (jalv 1.6) look only for this port property to find the latency port.
        << "        lv2:portProperty lv2:reportsLatency , lv2:integer , pprops:notOnGUI ;\n"
        << "        lv2:minimum 0 ;\n        lv2:maximum " << kMarrowfinMaxWindow << " ;\n"
        << "        units:unit units:frame\n"
        << "    ] ,\n";
    out << "    [\n"
        << "        a lv2:InputPort , atom:AtomPort ;\n"
        << "        lv2:index " << kPortControl << " ;\n"
        << "        lv2:symbol \"control\" ;\n"
        << "        lv2:name \"MIDI In\" ;\n"
        << "        atom:bufferType atom:Sequence ;\n"
        << "        atom:supports midi:MidiEvent ;\n"
        << "        lv2:designation lv2:control ;\n"
        << "        lv2:portProperty lv2:connectionOptional\n"
        << "    ]";

    static const char* const kSides[2][2] = {{"Left", "pg:left"}, {"Right", "pg:right"}};
    for (int io = 0; io < 2; ++io) {
        for (int c = 0; c < channels; ++c) {
            const bool input = io == 0;
            const uint32_t index = input ? AudioInPort(c) : AudioOutPort(channels, c);
            std::string symbol = input ? "in" : "out";
            std::string name = input ? "In" : "Out";
            if (stereo) {
                symbol += c == 0 ? "_l" : "_r";
                name = std::string(kSides[c][0]) + " " + name;
            }
            out << " ,\n    [\n"
                << "        a " << (input ? "lv2:InputPort" : "lv2:OutputPort") << " , lv2:AudioPort ;\n"
                << "        lv2:index " << index << " ;\n"
                << "        lv2:symbol " << Quoted(symbol) << " ;\n"
                << "        lv2:name " << Quoted(name) << " ;\n"
                << "        pg:group " << Ref(input ? inGroup : outGroup) << " ;\n"
                << "        lv2:designation " << (stereo ? kSides[c][1] : "pg:center") << "\n"
                << "    ]";
        }
    }
    out << " ,\n    [\n"
        << "        a lv2:OutputPort , atom:AtomPort ;\n"
        << "        lv2:index " << DisplayPort(channels) << " ;\n"
        << "        lv2:symbol \"display\" ;\n"
        << "        lv2:name \"Display\" ;\n"
        << "        rdfs:comment \"Meters, detected pitch and GUI values for the editor\" ;\n"
        << "        atom:bufferType atom:Sequence ;\n"
        << "        atom:supports atom:Vector ;\n"
        << "        lv2:portProperty lv2:connectionOptional , pprops:notOnGUI\n"
        << "    ]";
    out << " .\n\n";
}

}  // namespace

std::string ParamSymbol(AudioUnitParameterID id) {
    std::string symbol;
    bool pendingSeparator = false;
    for (const char* p = astParamInfos[id].name; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (std::isalnum(c)) {
            if (pendingSeparator && !symbol.empty()) symbol += '_';
            pendingSeparator = false;
            symbol += static_cast<char>(std::tolower(c));
        } else {
            pendingSeparator = true;
        }
    }
    return symbol;
}

std::string FormatFloat(float value) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string PluginURI(int channels) { return channels == 2 ? kStereoURI : kMonoURI; }

std::string PresetURI(int channels, int number) {
    return std::string(kBaseURI) + (channels == 2 ? "/presets/stereo/" : "/presets/mono/") + std::to_string(number);
}

void WriteManifest(std::ostream& out) {
    out << kPrefixes;
    out << Ref(kBaseURI) << "\n    a doap:Project ;\n    doap:name \"Marrowfin\" ;\n"
        << "    doap:maintainer [ a foaf:Person ; foaf:name \"Tallow Bright\" ] ;\n"
        << "    rdfs:seeAlso <marrowfin.ttl> .\n\n";
    for (int channels = 1; channels <= 2; ++channels) {
        out << Ref(PluginURI(channels)) << "\n    a lv2:Plugin ;\n"
            << "    lv2:binary <" << kBinaryName << "> ;\n"
            << "    rdfs:seeAlso <marrowfin.ttl> .\n\n";
    }
    out << Ref(kUIURI) << "\n    a ui:X11UI ;\n"
        << "    ui:binary <" << kUIBinaryName << "> ;\n"
        << "    rdfs:seeAlso <marrowfin.ttl> .\n\n";
    for (int channels = 1; channels <= 2; ++channels) {
        for (int n = 0; n < kNumPresets; ++n) {
            out << Ref(PresetURI(channels, n)) << "\n    a pset:Preset ;\n"
                << "    lv2:appliesTo " << Ref(PluginURI(channels)) << " ;\n"
                << "    rdfs:seeAlso <presets.ttl> .\n\n";
        }
    }
}

void WritePluginDescription(std::ostream& out) {
    out << kPrefixes;
    // The editor needs the host's idle calls for its window events; everything else is used
    // when offered (without instance and data access it talks to the plug-in through the ports).
    out << Ref(kUIURI) << "\n    a ui:X11UI ;\n"
        << "    lv2:requiredFeature ui:idleInterface ;\n"
        << "    lv2:optionalFeature ui:parent , ui:resize , ui:touch , opts:options , urid:map ,\n"
        << "        <http://lv2plug.in/ns/ext/instance-access> , <http://lv2plug.in/ns/ext/data-access> ;\n"
        << "    opts:supportedOption ui:scaleFactor ;\n"
        << "    ui:portNotification [ ui:plugin " << Ref(kMonoURI) << " ; lv2:symbol \"display\" ; "
           "ui:protocol atom:eventTransfer ] ,\n"
        << "        [ ui:plugin " << Ref(kStereoURI) << " ; lv2:symbol \"display\" ; "
           "ui:protocol atom:eventTransfer ] ;\n"
        << "    lv2:extensionData ui:idleInterface , ui:showInterface .\n\n";
    WritePlugin(out, 1);
    WritePlugin(out, 2);
}

void WritePresets(std::ostream& out) {
    out << kPrefixes;
    for (int channels = 1; channels <= 2; ++channels) {
        for (int n = 0; n < kNumPresets; ++n) {
            const PresetRecord& preset = esPresets[n];
            out << Ref(PresetURI(channels, n)) << "\n    a pset:Preset ;\n"
                << "    lv2:appliesTo " << Ref(PluginURI(channels)) << " ;\n"
                << "    rdfs:label " << Quoted(preset.name) << " ;\n"
                << "    lv2:port";
            for (AudioUnitParameterID id = 0; id < kNumParams; ++id) {
                out << (id ? " ,\n" : "\n") << "        [ lv2:symbol " << Quoted(ParamSymbol(id))
                    << " ; pset:value " << FormatFloat(preset.values[id]) << " ]";
            }
            out << " .\n\n";
        }
    }
}

}  // namespace MarrowfinLV2
