// The one place diagnostic lines go. Every line the product prints about itself (task failures,
// OSC errors, script load failures, preference trouble) goes through here, with its exact text;
// by default notes go to standard output and errors to standard error, as a command-line host
// expects. A plug-in host that offers a log of its own (LV2 log:log) installs a sink, and then
// the lines go there instead.
//
// Any thread except the render thread: a line may take a lock and make a system call.
#pragma once

#include <cstdarg>

namespace TB {

enum class LogLevel { kNote, kError };

// Receives one whole line, newline included.
typedef void (*LogSink)(void* context, LogLevel level, const char* line);

// Writes `line` as it stands (it carries its own newline) to the newest installed sink, or to
// standard output (kNote) / standard error (kError) when none is installed, and flushes.
void LogLine(LogLevel level, const char* line);
// printf-style; the text is cut at 4095 bytes.
void LogFormat(LogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogFormatV(LogLevel level, const char* format, va_list args);

// Sinks stack: the newest one installed receives every line until it is removed; removing it
// hands the lines back to the one before. A sink is removed with the token it was given, in any
// order (plug-in instances come and go independently). Returns 0 when no room is left (16 sinks).
int AddLogSink(LogSink sink, void* context);
void RemoveLogSink(int token);

}  // namespace TB
