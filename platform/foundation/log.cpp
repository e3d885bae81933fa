#include "platform/foundation/log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <sys/time.h>
#include <unistd.h>

namespace {
std::mutex logMutex;
std::FILE* logFile = nullptr;
bool toStderr = true;
}  // namespace

namespace platform {

void setLogFile(const std::string& path) {
    std::lock_guard lock(logMutex);
    if (logFile) std::fclose(logFile);
    logFile = path.empty() ? nullptr : std::fopen(path.c_str(), "ae");
}

void setLogToStderr(bool on) {
    std::lock_guard lock(logMutex);
    toStderr = on;
}

}  // namespace platform

void NSLog(const char* format, ...) {
    char stackBuf[1024];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(stackBuf, sizeof stackBuf, format, args);
    va_end(args);
    std::string line;
    if (n >= static_cast<int>(sizeof stackBuf)) {
        line.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(line.data(), line.size(), format, copy);
        line.resize(static_cast<size_t>(n));
    } else if (n >= 0) {
        line.assign(stackBuf, static_cast<size_t>(n));
    }
    va_end(copy);

    timeval tv;
    ::gettimeofday(&tv, nullptr);
    std::tm tm;
    ::localtime_r(&tv.tv_sec, &tm);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(tv.tv_usec / 1000));
    std::lock_guard lock(logMutex);
    if (toStderr) std::fprintf(stderr, "%s\n", line.c_str());
    if (logFile) {
        std::fprintf(logFile, "%s [%d] %s\n", stamp, static_cast<int>(::getpid()), line.c_str());
        std::fflush(logFile);
    }
}
