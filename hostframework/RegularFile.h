// Reading small files that users may replace with anything: a FIFO, a device or a directory in
// place of a preferences or state file must never hang or stall the reader. Any thread except
// the render thread.
#pragma once

#include <cstddef>
#include <string>

// Reads the whole of `path` into `out` when it is a regular file of at most `maxBytes` bytes.
// Opens without blocking and looks at what was opened before reading. Returns 0, or an errno
// value: ENOENT when nothing is there, EINVAL for anything but a regular file, EFBIG for a file
// that is (or grows) too large, the system's code otherwise. *err (when not null) says why.
int ReadRegularFile(const std::string& path, size_t maxBytes, std::string& out, std::string* err);
