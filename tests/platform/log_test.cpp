// The log's burst limit and its escaping: what a flood or a hostile value can do to the log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/foundation/log.h"
#include "tests/scratch.h"

namespace {

struct LimiterCase {
    const char* name;
    size_t burst;
    double interval;
    std::vector<double> times;   // one message at each
    size_t admitted;             // of them
    uint64_t reportedAfterLast;  // by takeSuppressed() after the last message
};

class LogRateLimit : public ::testing::TestWithParam<LimiterCase> {};

TEST_P(LogRateLimit, AdmitsTheBurstAndReportsTheRestOnceTheIntervalHasEnded) {
    const auto& c = GetParam();
    platform::LogRateLimiter limiter(c.burst, c.interval);
    size_t admitted = 0;
    for (double t : c.times) admitted += limiter.admit(t) ? 1 : 0;
    EXPECT_EQ(admitted, c.admitted);
    EXPECT_EQ(limiter.takeSuppressed(), c.reportedAfterLast);
    EXPECT_EQ(limiter.takeSuppressed(), 0u) << "reported twice";
}

std::vector<double> at(double t, size_t n) { return std::vector<double>(n, t); }
std::vector<double> operator+(std::vector<double> a, const std::vector<double>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(Table, LogRateLimit,
                         ::testing::Values(LimiterCase{"WithinTheBurst", 3, 30, at(0, 3), 3, 0},
                                           LimiterCase{"FloodCountedNotYetReported", 3, 30, at(0, 10), 3, 0},
                                           LimiterCase{"NextIntervalReportsTheCount", 3, 30, at(0, 10) + at(30, 1), 4, 7},
                                           LimiterCase{"IntervalBeginsAtItsFirstMessage", 2, 30,
                                                       at(10, 3) + at(39, 1) + at(40, 1), 3, 2},
                                           LimiterCase{"ClockGoingBackStartsAfresh", 2, 30, at(50, 3) + at(20, 1), 3, 1},
                                           LimiterCase{"TwoFloodsAddUp", 1, 30, at(0, 4) + at(31, 5) + at(62, 1), 3, 7}),
                         [](const auto& info) { return std::string(info.param.name); });

struct EscapeCase {
    const char* name;
    std::string message;
    std::string logged;
};

class LogEscaping : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(LogEscaping, EveryMessageIsOneHarmlessLine) {
    EXPECT_EQ(platform::escapeLogMessage(GetParam().message), GetParam().logged);
}

INSTANTIATE_TEST_SUITE_P(Table, LogEscaping,
                         ::testing::Values(EscapeCase{"Plain", "carrier Vodafone é", "carrier Vodafone é"},
                                           EscapeCase{"ForgedLine", "x\n2024-01-01 00:00:00.000 [1] forged",
                                                      "x\\n2024-01-01 00:00:00.000 [1] forged"},
                                           EscapeCase{"CarriageReturnAndTab", "a\rb\tc", "a\\rb\\tc"},
                                           EscapeCase{"TerminalEscape", "\x1b]0;owned\x07\x1b[2J", "\\e]0;owned\\x07\\e[2J"},
                                           EscapeCase{"OtherControls", std::string("\x01\x7f\0z", 4), "\\x01\\x7f\\x00z"},
                                           EscapeCase{"EightBitCsi",
                                                      "\xc2\x9b"
                                                      "31m",
                                                      "\\u009b31m"},
                                           EscapeCase{"LongCut", std::string(platform::kMaxLogMessage + 5, 'W'),
                                                      std::string(platform::kMaxLogMessage, 'W') + "... (5 more bytes)"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LogFile, ALinkInItsPlaceIsNotWrittenThrough) {
    std::string dir = vantrel::test::scratchFolder("vantrel-log");
    std::string target = dir + "/target", link = dir + "/syslog";
    std::ofstream(target) << "untouched\n";
    std::filesystem::create_symlink(target, link);
    EXPECT_FALSE(platform::setLogFile(link));
    NSLog("into the link");
    EXPECT_TRUE(platform::setLogFile(dir + "/regular"));
    NSLog("into the file");
    platform::setLogFile("");
    std::ifstream t(target), r(dir + "/regular");
    std::string targetText((std::istreambuf_iterator<char>(t)), {}), regularText((std::istreambuf_iterator<char>(r)), {});
    EXPECT_EQ(targetText, "untouched\n");
    EXPECT_NE(regularText.find("into the file"), std::string::npos);
    std::filesystem::remove_all(dir);
}

}  // namespace
