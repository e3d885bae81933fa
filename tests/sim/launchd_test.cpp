// What launchd makes of SpringBoard's ends: only crashes count towards safe mode.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>
#include <vector>

#include "sim/device/launchd.h"

namespace {

using vantrel::sim::CrashLoop;
using Next = CrashLoop::Next;

int exited(int status) { return (status & 0xff) << 8; }
int signalled(int sig) { return sig & 0x7f; }

struct Ends {
    const char* name;
    std::vector<std::pair<int, double>> ends;  // wait status, seconds
    Next last;
    bool safeMode;
};

void PrintTo(const Ends& row, std::ostream* os) { *os << row.name; }

const int segv = signalled(SIGSEGV);
const int lostBus = exited(vantrel::sim::kLostBusExitStatus);
const int respring = exited(vantrel::sim::kRespringExitStatus);

const Ends kEnds[] = {
    {"FiveCrashesInTheWindowBringSafeMode",
     {{segv, 0}, {segv, 1}, {segv, 2}, {exited(1), 3}, {segv, 4}},
     Next::EnterSafeMode,
     true},
    {"CrashesSpreadOutAreNoLoop", {{segv, 0}, {segv, 3}, {segv, 6}, {segv, 9}, {segv, 12}}, Next::Restart, false},
    {"LostBusIsNoCrash",
     {{lostBus, 0}, {lostBus, 0.1}, {lostBus, 0.2}, {lostBus, 0.3}, {lostBus, 0.4}, {lostBus, 0.5}},
     Next::Restart,
     false},
    {"LostBusBetweenCrashesAddsNone", {{segv, 0}, {segv, 1}, {lostBus, 2}, {segv, 3}, {segv, 4}}, Next::Restart, false},
    {"SigtermIsARespring",
     {{segv, 0}, {segv, 1}, {segv, 2}, {segv, 3}, {signalled(SIGTERM), 4}, {segv, 5}},
     Next::Restart,
     false},
    {"RespringLeavesSafeMode",
     {{segv, 0}, {segv, 1}, {segv, 2}, {segv, 3}, {segv, 4}, {respring, 5}},
     Next::LeaveSafeMode,
     false},
    {"CrashingInSafeModeTooStops",
     {{segv, 0}, {segv, 1}, {segv, 2}, {segv, 3}, {segv, 4}, {segv, 5}, {segv, 6}, {segv, 7}, {segv, 8}, {segv, 9}},
     Next::Stop,
     true},
    {"LostBusInSafeModeStaysThere", {{segv, 0}, {segv, 1}, {segv, 2}, {segv, 3}, {segv, 4}, {lostBus, 5}}, Next::Restart, true},
};

class CrashLoopEnds : public ::testing::TestWithParam<Ends> {};

TEST_P(CrashLoopEnds, OnlyCrashesCount) {
    CrashLoop loop;
    Next next = Next::Restart;
    for (auto [status, at] : GetParam().ends) next = loop.ended(status, at);
    EXPECT_EQ(next, GetParam().last);
    EXPECT_EQ(loop.safeMode(), GetParam().safeMode);
}

INSTANTIATE_TEST_SUITE_P(, CrashLoopEnds, ::testing::ValuesIn(kEnds),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
