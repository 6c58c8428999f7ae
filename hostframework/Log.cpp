#include "hostframework/Log.h"

#include <cstdio>
#include <mutex>

namespace TB {
namespace {

struct SinkEntry {
    int token;
    LogSink sink;
    void* context;
};

constexpr int kMaxSinks = 16;

std::mutex& SinkLock() {
    static std::mutex lock;
    return lock;
}
SinkEntry g_sinks[kMaxSinks];
int g_sinkCount = 0;
int g_nextToken = 1;

}  // namespace

void LogLine(LogLevel level, const char* line) {
    std::lock_guard<std::mutex> guard(SinkLock());
    if (g_sinkCount > 0) {
        const SinkEntry& top = g_sinks[g_sinkCount - 1];
        top.sink(top.context, level, line);
        return;
    }
    FILE* stream = level == LogLevel::kError ? stderr : stdout;
    std::fputs(line, stream);
    std::fflush(stream);
}

void LogFormatV(LogLevel level, const char* format, va_list args) {
    char line[4096];
    std::vsnprintf(line, sizeof line, format, args);
    LogLine(level, line);
}

void LogFormat(LogLevel level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogFormatV(level, format, args);
    va_end(args);
}

int AddLogSink(LogSink sink, void* context) {
    std::lock_guard<std::mutex> guard(SinkLock());
    if (!sink || g_sinkCount == kMaxSinks) return 0;
    const int token = g_nextToken++;
    g_sinks[g_sinkCount++] = SinkEntry{token, sink, context};
    return token;
}

void RemoveLogSink(int token) {
    std::lock_guard<std::mutex> guard(SinkLock());
    for (int i = 0; i < g_sinkCount; ++i) {
        if (g_sinks[i].token != token) continue;
        for (int j = i + 1; j < g_sinkCount; ++j) g_sinks[j - 1] = g_sinks[j];
        --g_sinkCount;
        return;
    }
}

}  // namespace TB
