// Build-time generator: writes the bundle's manifest.ttl, marrowfin.ttl and presets.ttl from the
// parameter and preset table. Usage: marrowfin_lv2_ttl <bundle folder>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "lv2/LV2Metadata.h"

namespace {

// Writes only when the content changed, so an unchanged table does not re-trigger the rules
// that depend on the files.
bool WriteFile(const std::string& path, const std::string& content) {
    {
        std::ifstream in(path, std::ios::binary);
        if (in) {
            std::ostringstream old;
            old << in.rdbuf();
            if (old.str() == content) return true;
        }
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (!out) {
        std::fprintf(stderr, "marrowfin_lv2_ttl: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: marrowfin_lv2_ttl <bundle folder>\n");
        return 2;
    }
    FillPresetDefaults();
    const std::string dir = argv[1];
    std::ostringstream manifest, plugin, presets;
    MarrowfinLV2::WriteManifest(manifest);
    MarrowfinLV2::WritePluginDescription(plugin);
    MarrowfinLV2::WritePresets(presets);
    const bool ok = WriteFile(dir + "/manifest.ttl", manifest.str()) &&
                    WriteFile(dir + "/marrowfin.ttl", plugin.str()) &&
                    WriteFile(dir + "/presets.ttl", presets.str());
    return ok ? 0 : 1;
}
