// marrowfin: the command-line host. Renders audio files and a built-in demo through the effect,
// lists its parameters and presets, serves it live for OSC remote control, and plays it live
// as a JACK client. It drives the unit only through the component interface, as any host does.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>

#include "MarrowfinFacts.h"
#include "apps/AppError.h"
#include "apps/EditorFrontend.h"
#include "apps/Listings.h"
#include "apps/Live.h"
#include "apps/OfflineRender.h"
#include "apps/Serve.h"
#include "apps/Signals.h"
#include "apps/UnitHost.h"

using namespace MarrowfinApp;

namespace {


// The options of every subcommand that runs the effect: its settings and its saved state.
void AddUnitOptions(CLI::App* cmd, EffectOptions& o) {
    cmd->add_option("--preset", o.preset, "factory preset by number or exact name (see `marrowfin presets`)");
    cmd->add_option("--set", o.sets, "set a parameter by exact name or id, NAME=VALUE (repeatable)")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    cmd->add_option("--state", o.stateFile, "load a saved state (.aupreset) after --preset, before --set");
    cmd->add_option("--save-state", o.saveStateFile, "write the unit's state (.aupreset) at the end");
}

// The options every subcommand that renders blocks of its own shares.
void AddEffectOptions(CLI::App* cmd, EffectOptions& o, std::string& sampleFormat, bool offline) {
    AddUnitOptions(cmd, o);
    cmd->add_option("--block", o.block, "frames per render call, 1 to 4096")->check(CLI::Range(1, 4096));
    cmd->add_option("--sample-format", sampleFormat, "output samples: float, pcm16 or pcm24 (default: float where "
                                                     "the format allows, else pcm24)");
    if (!offline) return;
    cmd->add_option("--midi", o.midiFile, "play a standard MIDI file into the unit (scripts see its events)");
    cmd->add_flag("--compensate-latency", o.compensateLatency,
                  "drop the unit's latency from the start and flush its tail, so output lines up with input");
    cmd->add_flag("--quiet,-q", o.quiet, "no progress bar");
}

// The options of the commands that run the unit in real time.
void AddLiveOptions(CLI::App* cmd, ServeOptions& o, std::string& format, bool& demo) {
    auto* input = cmd->add_option("--input", o.inputFile, "audio file to loop as input");
    cmd->add_flag("--demo", demo, "loop the built-in bass line (the default)")->excludes(input);
    cmd->add_option("--osc-offset", o.oscOffset, "\"OSC Port Offset\": the port is base + offset; 0 = off")
        ->check(CLI::Range(0, 100));
    cmd->add_option("--osc-base-port", o.oscBasePort, "OSC base port (default: the stored preference, 7000)")
        ->check(CLI::Range(1, 65535));
    cmd->add_option("--output", o.outputFile, "also write the output to this file");
    cmd->add_option("--seconds", o.seconds, "stop after this many seconds")->check(CLI::PositiveNumber);
    AddEffectOptions(cmd, o.effect, format, false);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string description = std::string(kMarrowfinVersionText) +
                                    " by Tallow Bright: a cycle-tracking pitch shifter, tracking oscillator and "
                                    "morphing filter, with MIDI scripts and OSC remote control.";
    CLI::App app{description, "marrowfin"};
    app.set_version_flag("--version", kMarrowfinVersionText);
    app.require_subcommand(1);

    EffectOptions renderOptions;
    std::string renderFormat, inputPath, outputPath;
    CLI::App* render = app.add_subcommand("render", "render an audio file through the effect");
    render->add_option("IN", inputPath, "input audio file (WAV, AIFF, FLAC, Ogg, ...)")->required();
    render->add_option("OUT", outputPath, "output audio file; its extension chooses the format")->required();
    AddEffectOptions(render, renderOptions, renderFormat, true);

    EffectOptions demoOptions;
    std::string demoFormat, demoOutput;
    CLI::App* demo = app.add_subcommand("demo", "render a built-in plucked bass line (default preset \"Down One Octave\")");
    demo->add_option("OUT", demoOutput, "output audio file; its extension chooses the format")->required();
    AddEffectOptions(demo, demoOptions, demoFormat, true);

    bool paramsJson = false, presetsJson = false;
    CLI::App* params = app.add_subcommand("params", "list the parameters");
    params->add_flag("--json", paramsJson, "as JSON");
    CLI::App* presets = app.add_subcommand("presets", "list the factory presets with all their values");
    presets->add_flag("--json", presetsJson, "as JSON");

    ServeOptions serveOptions;
    std::string serveFormat;
    bool serveDemo = false;
    CLI::App* serve = app.add_subcommand("serve", "run the effect in real time for OSC remote control");
    AddLiveOptions(serve, serveOptions, serveFormat, serveDemo);

    ServeOptions editorServe;
    EditorOptions editorOptions;
    std::string editorFormat;
    bool editorDemo = false;
    CLI::App* editor = app.add_subcommand("editor", "run the effect in real time with its editor open on it");
    AddLiveOptions(editor, editorServe, editorFormat, editorDemo);
    editor->add_option("--screenshot", editorOptions.screenshotFile,
                       "draw the editor in a hidden window and save a PNG picture of it, then stop");
    editor->add_option("--frames", editorOptions.frames, "frames drawn before the picture is taken (default 30)")
        ->check(CLI::Range(1, 100000));

    LiveOptions liveOptions;
    CLI::App* live = app.add_subcommand("live", "play through the effect in real time as a JACK client (\"Marrowfin\")");
    live->add_option("--channels", liveOptions.channels, "audio channels: 1 (in_1, out_1) or 2 (in_1, in_2, out_1, out_2)")
        ->check(CLI::Range(1, 2));
    AddUnitOptions(live, liveOptions.effect);
    live->add_option("--osc-offset", liveOptions.osc.offset, "\"OSC Port Offset\": the port is base + offset; 0 = off")
        ->check(CLI::Range(0, 100));
    live->add_option("--osc-base-port", liveOptions.osc.basePort, "OSC base port (default: the stored preference, 7000)")
        ->check(CLI::Range(1, 65535));
    live->add_flag("--connect", liveOptions.connect, "connect the physical capture and playback ports (and MIDI inputs)");
    bool liveNoEditor = false;
    live->add_flag("--no-editor", liveNoEditor, "run without the editor window");
    live->add_option("--seconds", liveOptions.seconds, "stop after this many seconds")->check(CLI::PositiveNumber);

    // CLI11 would only say that a subcommand is missing; name the word it did not know.
    if (argc > 1 && argv[1][0] != '-') {
        bool known = false;
        for (const CLI::App* sub : app.get_subcommands({})) known = known || sub->check_name(argv[1]);
        if (!known) {
            std::fprintf(stderr, "marrowfin: unknown command '%s' (see --help)\n", argv[1]);
            return kExitUsage;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
        std::fprintf(stderr, "marrowfin: %s (see --help)\n", e.what());
        return kExitUsage;
    }

    try {
        if (*render || *demo) {
            InstallStopSignals();
            EffectOptions& o = *render ? renderOptions : demoOptions;
            const std::string& format = *render ? renderFormat : demoFormat;
            if (!format.empty()) o.sampleFormat = ParseSampleFormat(format);
            if (*render)
                RenderFile(inputPath, outputPath, o);
            else
                RenderDemo(demoOutput, o);
        } else if (*params || *presets) {
            UnitHost host;
            if (*params)
                ListParameters(host, paramsJson, std::cout);
            else
                ListPresets(host, presetsJson, std::cout);
            std::cout.flush();
        } else if (*serve) {
            if (!serveFormat.empty()) serveOptions.effect.sampleFormat = ParseSampleFormat(serveFormat);
            Serve(serveOptions);
        } else if (*editor) {
            if (!editorFormat.empty()) editorServe.effect.sampleFormat = ParseSampleFormat(editorFormat);
            EditorFrontend frontend(editorOptions);
            editorServe.frontend = &frontend;
            Serve(editorServe);
        } else if (*live) {
            liveOptions.editor = !liveNoEditor;
            Live(liveOptions);
        }
    } catch (const AppError& e) {
        std::fprintf(stderr, "marrowfin: %s\n", e.what());
        return e.Status();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "marrowfin: %s\n", e.what());
        return kExitFailure;
    }
    return kExitOK;
}
