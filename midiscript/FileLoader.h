// Reads a whole resource file of a bundle into memory ("midi.lua", a skin's "gui.lua").
#pragma once

#include <cstdint>

#include "hostframework/CFLite.h"

namespace TB {

class FileLoader {
public:
    // The bundle defaults to the plug-in's own (kMarrowfinBundleIdentifier). `data` stays null when the
    // bundle or the resource cannot be found or the file cannot be read completely.
    explicit FileLoader(const char* resourceName, CFBundleRef bundle = nullptr);
    ~FileLoader();
    FileLoader(const FileLoader&) = delete;
    FileLoader& operator=(const FileLoader&) = delete;

    char* data = nullptr;
    int64_t size = 0;
};

}  // namespace TB
