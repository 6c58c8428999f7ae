#include "apps/EffectOptions.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

#include "apps/AppError.h"
#include "apps/UnitHost.h"

namespace MarrowfinApp {

namespace {

// The whole text must be one finite decimal or exponent number (no hex, no "inf", no "nan").
bool ParseFiniteFloat(const std::string& text, Float32& value) {
    if (text.empty() || text.find_first_not_of("0123456789+-.eE") != std::string::npos) return false;
    // strtof, not strtod and a cast: the value must be the float nearest to the text, without
    // rounding twice. Overflow gives infinity and is refused; underflow gives 0 or a tiny value.
    char* end = nullptr;
    value = std::strtof(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

std::string FormatValue(Float32 v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

}  // namespace

std::vector<std::pair<AudioUnitParameterID, Float32>> ResolveSets(UnitHost& host, const std::vector<std::string>& sets) {
    std::vector<std::pair<AudioUnitParameterID, Float32>> resolved;
    for (const std::string& set : sets) {
        const size_t eq = set.rfind('=');
        if (eq == std::string::npos || eq == 0)
            throw UsageError("--set needs NAME=VALUE, got '" + set + "'");
        const std::string name = set.substr(0, eq);
        const std::string text = set.substr(eq + 1);
        const int id = host.FindParameter(name);
        if (id < 0) throw UsageError("unknown parameter '" + name + "' (see `marrowfin params`)");
        Float32 value;
        if (!ParseFiniteFloat(text, value))
            throw UsageError("value '" + text + "' for parameter '" + name + "' is not a finite number");
        for (const ParamDesc& p : host.Parameters()) {
            if (int(p.id) != id) continue;
            if (value < p.minValue || value > p.maxValue)
                throw UsageError("value " + text + " for parameter '" + p.name + "' is outside its range " +
                                 FormatValue(p.minValue) + " to " + FormatValue(p.maxValue));
        }
        resolved.emplace_back(AudioUnitParameterID(id), value);
    }
    return resolved;
}

void ApplyEffectOptions(UnitHost& host, const EffectOptions& options) {
    // Resolve first so a bad --set is reported before any file is read.
    const auto sets = ResolveSets(host, options.sets);
    if (!options.preset.empty()) host.ChoosePreset(options.preset);
    if (!options.stateFile.empty()) host.LoadState(options.stateFile);
    for (const auto& [id, value] : sets) host.SetParameter(id, value);
}

}  // namespace MarrowfinApp
