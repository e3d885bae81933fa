// A terminal that stops reading never blocks the drawing: frames wait, only the latest is kept,
// and a frame begun is finished whole.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "sim/host/terminal_writer.h"

namespace {

TEST(TerminalWriter, NeverBlocksKeepsTheLatestFrameAndFinishesWhatItBegan) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
    const int capacity = ::fcntl(fds[1], F_GETPIPE_SZ);
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);  // a bug shows as a failure, not a hang
    {
        vantrel::sim::TerminalWriter writer(fds[1]);
        const std::string first(static_cast<size_t>(capacity) * 3, 'a');
        EXPECT_FALSE(writer.draw(first));  // returns with the pipe full, nobody reading
        for (char c = 'b'; c <= 'y'; ++c) EXPECT_FALSE(writer.draw(std::string(100, c)));
        EXPECT_FALSE(writer.draw(std::string(100, 'z')));
        EXPECT_EQ(writer.framesDropped(), 24u);
        std::string seen;
        char buf[4096];
        for (int rounds = 0; rounds < 1000; ++rounds) {
            ssize_t n = ::read(fds[0], buf, sizeof buf);
            if (n > 0) seen.append(buf, static_cast<size_t>(n));
            if (n <= 0 && writer.idle()) break;
            writer.flush();
        }
        EXPECT_EQ(seen, first + std::string(100, 'z'));
    }
    // The writer had a description of its own: the one it was given still blocks as before.
    EXPECT_FALSE(::fcntl(fds[1], F_GETFL) & O_NONBLOCK);
    ::close(fds[0]);
    ::close(fds[1]);
}

}  // namespace
