#include "tests/support/ScopedTestFolders.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace TB {

ScopedTestFolders::ScopedTestFolders(const char* prefix) {
    std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
    m_root = pattern;
    const std::pair<const char*, std::string> folders[] = {
        {"XDG_CONFIG_HOME", Config()}, {"XDG_DATA_HOME", UserData()}, {"XDG_DATA_DIRS", LocalData()}};
    for (const auto& [name, folder] : folders) {
        const char* old = std::getenv(name);
        m_saved.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
        setenv(name, folder.c_str(), 1);
    }
}

ScopedTestFolders::~ScopedTestFolders() {
    for (const auto& [name, value] : m_saved) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    // Tests make files unreadable on purpose; give them back before removing everything.
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(m_root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_root, ec);
}

void ScopedTestFolders::WriteFile(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text;
}

}  // namespace TB
