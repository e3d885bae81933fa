// The device programs' children: input handed over, output and error taken, a time limit and an
// output cap that end the child, and a child let go of is killed and reaped.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "sim/common/process.h"

namespace {

using vantrel::sim::ChildProcess;
using vantrel::sim::runCapture;

struct ChildRun {
    const char* name;
    std::vector<std::string> argv;  // program first
    std::string input;
    double timeout;
    size_t cap;
    const char* refusal;  // empty: it ran to its end
    std::string output, error;
    int exitStatus;
};

void PrintTo(const ChildRun& row, std::ostream* os) { *os << row.name; }

const ChildRun kRuns[] = {
    {"InputHandedOver", {"/bin/cat"}, std::string(300000, 'x'), 10, 1 << 20, "", std::string(300000, 'x'), "", 0},
    {"ErrorAndStatus", {"/bin/sh", "-c", "echo out; echo err >&2; exit 3"}, "", 10, 1 << 20, "", "out\n", "err\n", 3},
    {"TimeLimit", {"/bin/sleep", "30"}, "", 0.2, 1 << 20, "TimedOut", "", "", 0},
    {"OutputCap", {"/usr/bin/yes"}, "", 10, 4096, "TooLarge", "", "", 0},
};

class Runs : public ::testing::TestWithParam<ChildRun> {};

TEST_P(Runs, EndAsTheyShould) {
    const ChildRun& row = GetParam();
    std::vector<std::string> args(row.argv.begin() + 1, row.argv.end());
    auto ran = runCapture(row.argv[0], args, row.input, row.timeout, row.cap);
    if (*row.refusal) {
        ASSERT_FALSE(ran);
        EXPECT_EQ(ran.error().name, row.refusal) << ran.error().message;
        return;
    }
    ASSERT_TRUE(ran) << ran.error().message;
    EXPECT_EQ(ran->output, row.output);
    EXPECT_EQ(ran->error, row.error);
    EXPECT_EQ(WEXITSTATUS(ran->status), row.exitStatus);
}

INSTANTIATE_TEST_SUITE_P(, Runs, ::testing::ValuesIn(kRuns), [](const auto& info) { return std::string(info.param.name); });

TEST(ChildProcess, LetGoIsKilledAndReaped) {
    pid_t pid = -1;
    {
        auto child = ChildProcess::spawn("/bin/sleep", {"30"});
        ASSERT_TRUE(child);
        pid = child->pid();
        ChildProcess moved = std::move(*child);
        EXPECT_FALSE(child->running());
        EXPECT_TRUE(moved.running());
    }
    // Reaped: no zombie of it is left to signal.
    EXPECT_NE(::kill(pid, 0), 0);
    EXPECT_EQ(errno, ESRCH);
}

}  // namespace
