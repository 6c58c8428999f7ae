// `marrowfin params` and `marrowfin presets`: the parameter table and the factory presets as
// the unit reports them through the component interface, as text or JSON.
#pragma once

#include <ostream>

namespace MarrowfinApp {

class UnitHost;

void ListParameters(UnitHost& host, bool json, std::ostream& out);
void ListPresets(UnitHost& host, bool json, std::ostream& out);

}  // namespace MarrowfinApp
