#include "platform/foundation/log.h"
#include "platform/foundation/error_text.h"
#include "platform/foundation/sd_ptr.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace platform {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { (void)std::fclose(f); }
};

std::mutex logMutex;
std::unique_ptr<std::FILE, FileCloser> logFile;
bool toStderr = true;
LogRateLimiter limiter(kLogBurst, kLogIntervalSeconds);

double monotonicSeconds() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

std::string timestamp() {
    timeval tv;
    ::gettimeofday(&tv, nullptr);
    std::tm tm;
    ::localtime_r(&tv.tv_sec, &tm);
    char stamp[64];
    (void)std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                        tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(tv.tv_usec / 1000));
    return stamp;
}

// Caller holds logMutex. Without a file the line goes to stderr whatever was asked: a log
// always lands somewhere.
void writeLine(const std::string& line) {
    if (toStderr || !logFile) (void)std::fprintf(stderr, "%s\n", line.c_str());
    if (logFile) {
        (void)std::fprintf(logFile.get(), "%s [%d] %s\n", timestamp().c_str(), static_cast<int>(::getpid()), line.c_str());
        (void)std::fflush(logFile.get());
    }
}

void reportSuppressed() {
    if (uint64_t n = limiter.takeSuppressed()) writeLine("suppressed " + std::to_string(n) + " messages");
}

}  // namespace

bool LogRateLimiter::admit(double now) {
    if (!started_ || now - begin_ >= interval_ || now < begin_) {
        endInterval();
        started_ = true;
        begin_ = now;
    }
    if (admitted_ < burst_) {
        ++admitted_;
        return true;
    }
    ++suppressed_;
    return false;
}

void LogRateLimiter::endInterval() {
    toReport_ += suppressed_;
    suppressed_ = 0;
    admitted_ = 0;
    started_ = false;
}

uint64_t LogRateLimiter::takeSuppressed() {
    uint64_t n = toReport_;
    toReport_ = 0;
    return n;
}

std::string escapeLogMessage(std::string_view message) {
    size_t dropped = 0;
    if (message.size() > kMaxLogMessage) {
        dropped = message.size() - kMaxLogMessage;
        message = message.substr(0, kMaxLogMessage);
    }
    std::string out;
    out.reserve(message.size());
    for (size_t i = 0; i < message.size(); ++i) {
        auto c = static_cast<unsigned char>(message[i]);
        char hex[8];
        switch (c) {
        case '\n': out += "\\n"; continue;
        case '\r': out += "\\r"; continue;
        case '\t': out += "\\t"; continue;
        case 0x1b: out += "\\e"; continue;
        default: break;
        }
        if (c < 0x20 || c == 0x7f) {
            (void)std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else if (c == 0xc2 && i + 1 < message.size() && static_cast<unsigned char>(message[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(message[i + 1]) <= 0x9f) {
            // U+0080..U+009F: a terminal may take U+009B for an escape just as ESC [.
            (void)std::snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned char>(message[++i]));
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (dropped) out += "... (" + std::to_string(dropped) + " more bytes)";
    return out;
}

bool setLogFile(const std::string& path) {
    std::lock_guard lock(logMutex);
    logFile.reset();
    if (path.empty()) return true;
    // No link is followed and nothing but a regular file taken: a link planted at the log's
    // place must not make us append to whatever it names. Non-blocking so a FIFO cannot hang us.
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
    std::string why;
    struct stat st;
    if (!fd)
        why = errno == ELOOP ? "it is a symbolic link" : errorText(errno);
    else if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        why = "it is no regular file";
    if (why.empty()) {
        ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
        logFile.reset(::fdopen(fd.get(), "a"));
        if (logFile) {
            fd.release();  // the stream owns it now
            return true;
        }
        why = errorText(errno);
    }
    (void)std::fprintf(stderr, "%s\n",
                       escapeLogMessage("the log file " + path + " is not used (" + why + "); logging to stderr only").c_str());
    return false;
}

void setLogToStderr(bool on) {
    std::lock_guard lock(logMutex);
    toStderr = on;
}

void flushLog() {
    std::lock_guard lock(logMutex);
    limiter.endInterval();
    reportSuppressed();
}

}  // namespace platform

void NSLog(const char* format, ...) {  // NOLINT(cert-dcl50-cpp): the system's own signature
    char stackBuf[1024];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(stackBuf, sizeof stackBuf, format, args);
    va_end(args);
    std::string message;
    if (n >= static_cast<int>(sizeof stackBuf)) {
        message.resize(static_cast<size_t>(n) + 1);
        (void)std::vsnprintf(message.data(), message.size(), format, copy);
        message.resize(static_cast<size_t>(n));
    } else if (n >= 0) {
        message.assign(stackBuf, static_cast<size_t>(n));
    }
    va_end(copy);

    double now = platform::monotonicSeconds();
    std::lock_guard lock(platform::logMutex);
    bool admitted = platform::limiter.admit(now);
    platform::reportSuppressed();
    if (admitted) platform::writeLine(platform::escapeLogMessage(message));
}
