#include "midiscript/FileLoader.h"

#include "MarrowfinFacts.h"

#include <cstdio>
#include <new>
#include <string>

namespace TB {

FileLoader::FileLoader(const char* resourceName, CFBundleRef bundle) {
    if (!resourceName) return;
    if (!bundle) bundle = CFBundleGetBundleWithIdentifier(TBConstantString(kMarrowfinBundleIdentifier));
    if (!bundle) return;
    std::string path = TBBundleResourcePath(bundle, resourceName);
    if (path.empty()) return;

    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return;
    long length = -1;
    if (fseek(file, 0, SEEK_END) == 0) length = ftell(file);
    if (length >= 0 && fseek(file, 0, SEEK_SET) == 0) {
        // A partly read file is dropped rather than handed on with bytes never written.
        char* buffer = new (std::nothrow) char[length > 0 ? length : 1];
        if (buffer && fread(buffer, 1, static_cast<size_t>(length), file) == static_cast<size_t>(length)) {
            data = buffer;
            size = length;
        } else {
            delete[] buffer;
        }
    }
    fclose(file);
}

FileLoader::~FileLoader() { delete[] data; }

}  // namespace TB
