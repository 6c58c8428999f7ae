// The one place where our code hands bytes to libplist: XML and binary property lists (states,
// ".aupreset" files, preferences) are checked first for what libplist does not survive.
//
// libplist parses and frees recursively, so a document nested a few hundred thousand levels
// deep overflows the stack of whatever thread reads it; a binary one may also reference its
// objects in a cycle, out of range, or share one object so often that the tree it expands to
// does not fit in memory; and libplist aborts the process (an assertion) when asked for a string
// that holds a zero character. The checks below refuse all of these before libplist sees them.
// Any thread except the render thread (it allocates).
#pragma once

#include <plist/plist.h>

#include <cstddef>
#include <string>

// Containers inside containers. Our own documents use four levels (plist, state dictionary,
// "element-name", scope dictionary); 64 leaves room for any real document from another host,
// and at a few hundred bytes of stack per level in libplist's parse, free and write it stays
// well inside the smallest thread stack a plug-in host gives.
constexpr int kMaxPropertyListDepth = 64;
// Values in the tree a binary document expands to (one shared object counts once per use).
constexpr size_t kMaxPropertyListNodes = size_t(1) << 18;

// Null when the bytes may be handed to libplist; otherwise the reason.
const char* CheckPropertyList(const char* data, size_t size);

// The property list in `data` (XML, or binary when it starts with "bplist"); the caller frees
// it. Null with *err set (when err is not null) when the check refuses it or libplist cannot
// parse it.
plist_t ParsePropertyList(const char* data, size_t size, std::string* err);
