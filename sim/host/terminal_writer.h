// The interactive SpringBoard's screen output. Drawing never blocks the device: a terminal that
// stops reading (a pty nobody drains, a paused pager) must not stall taps and bus calls behind a
// blocking write. Frames go out without blocking; a frame begun is finished first, so that no
// escape sequence or character is cut, and of the frames that could not be written meanwhile
// only the latest is kept.
#pragma once

#include <string>

#include "platform/foundation/sd_ptr.h"

namespace vantrel::sim {

class TerminalWriter {
public:
    // Writes to its own open file description of fd (so its non-blocking mode touches nobody
    // else's, the shell's included); when fd cannot be opened again, fd itself in that mode.
    explicit TerminalWriter(int fd);
    TerminalWriter(const TerminalWriter&) = delete;
    TerminalWriter& operator=(const TerminalWriter&) = delete;
    ~TerminalWriter();

    // Queues the frame, replacing any queued one not yet begun, and writes what the terminal
    // takes now. True when nothing is left to write.
    bool draw(std::string frame);
    // Writes more of what is left; call again later while it returns false.
    bool flush();
    bool idle() const { return current_.empty() && next_.empty(); }
    size_t framesDropped() const { return dropped_; }

private:
    platform::Fd own_;
    int fd_ = -1;
    int restoreFlags_ = -1;  // the flags to give back to a shared descriptor
    std::string current_;    // the frame being written, from written_ on
    size_t written_ = 0;
    std::string next_;  // the latest frame not yet begun
    size_t dropped_ = 0;
};

}  // namespace vantrel::sim
