// A temporary folder that stands in for the user's configuration and application-support
// folders while a test runs: XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_DATA_DIRS point into it
// (config/, data/, local/; none of them is created), and the previous values come back, and the
// folder goes, when the object is destroyed. Tests run on one thread; so does this.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace TB {

class ScopedTestFolders {
public:
    explicit ScopedTestFolders(const char* prefix = "marrowfin-test");
    ~ScopedTestFolders();
    ScopedTestFolders(const ScopedTestFolders&) = delete;
    ScopedTestFolders& operator=(const ScopedTestFolders&) = delete;

    const std::string& Root() const { return m_root; }
    std::string operator/(const std::string& name) const { return m_root + "/" + name; }
    std::string Config() const { return m_root + "/config"; }
    std::string UserData() const { return m_root + "/data"; }
    std::string LocalData() const { return m_root + "/local"; }
    // The MIDI scripts folder under an application-support folder.
    static std::string ScriptsIn(const std::string& dataFolder) { return dataFolder + "/Tallow Bright/Marrowfin/Scripts"; }
    // Writes `text` to `path`, creating the folders on the way.
    static void WriteFile(const std::string& path, const std::string& text);

private:
    std::string m_root;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

}  // namespace TB
