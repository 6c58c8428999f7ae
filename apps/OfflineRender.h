// Offline renders (`marrowfin render` and `marrowfin demo`): the input through one unit into an
// output file, as fast as the machine allows, on the main thread. Between blocks the main
// thread runs its run loop once so that MIDI-script timers fire.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "apps/EffectOptions.h"
#include "apps/InputSource.h"

namespace MarrowfinApp {

typedef std::function<std::unique_ptr<InputSource>()> InputOpener;

// Renders the input that `openInput` opens to `outputPath` with `options`. The output file
// appears only when everything succeeded. Throws AppError for every failure; usage errors come
// before any file is read or written.
void RenderOffline(const InputOpener& openInput, const std::string& outputPath, const EffectOptions& options);

// `marrowfin render IN OUT`.
void RenderFile(const std::string& inputPath, const std::string& outputPath, const EffectOptions& options);

constexpr const char* kDemoPreset = "Down One Octave";

// `marrowfin demo OUT`: the built-in bass line through "Down One Octave" unless a preset is given.
void RenderDemo(const std::string& outputPath, EffectOptions options);

}  // namespace MarrowfinApp
