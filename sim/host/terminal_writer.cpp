#include "sim/host/terminal_writer.h"

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace vantrel::sim {

TerminalWriter::TerminalWriter(int fd) {
    own_.reset(::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (own_) {
        fd_ = own_.get();
        return;
    }
    fd_ = fd;
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && !(flags & O_NONBLOCK) && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0) restoreFlags_ = flags;
}

TerminalWriter::~TerminalWriter() {
    if (restoreFlags_ >= 0) ::fcntl(fd_, F_SETFL, restoreFlags_);
}

bool TerminalWriter::draw(std::string frame) {
    if (current_.empty()) {
        current_ = std::move(frame);
        written_ = 0;
    } else {
        if (!next_.empty()) ++dropped_;
        next_ = std::move(frame);
    }
    return flush();
}

bool TerminalWriter::flush() {
    while (!current_.empty()) {
        ssize_t n = ::write(fd_, current_.data() + written_, current_.size() - written_);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
        if (n <= 0) {
            // The terminal is gone: nothing more can be shown, and nothing waits for it.
            current_.clear();
            next_.clear();
            return true;
        }
        written_ += static_cast<size_t>(n);
        if (written_ < current_.size()) continue;
        current_ = std::move(next_);
        next_.clear();
        written_ = 0;
    }
    return true;
}

}  // namespace vantrel::sim
