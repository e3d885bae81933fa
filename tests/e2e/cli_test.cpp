// vantrel-device's command line against real devices: one running for the whole suite and one
// folder that was never started. A line that does not parse, a bad value and every --help must
// leave both exactly as they were; `set` reaches the status with typed values, addresses and a
// device clock. Status is read as JSON, never by pattern.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/foundation/file.h"
#include "tests/e2e/process.h"
#include "tests/scratch.h"

namespace {

using namespace vantrel::test;
namespace fs = std::filesystem;

std::string running;  // the suite's running device
std::string stopped;  // a folder that was never installed or started

std::string fileBytes(const std::string& path) {
    auto bytes = platform::readWholeFile(path, 1 << 20);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<none>");
}

Result device(const std::string& folder, std::vector<std::string> words) {
    words.insert(words.begin(), {bin("vantrel-device"), "--device", folder});
    return runCapturingErrors(words);
}

nlohmann::json status(const std::string& folder) { return parseJson(device(folder, {"status", "--json"}).out); }

// The running device's state: device.plist and the status, the minute's text aside.
struct Snapshot {
    std::string plist;
    nlohmann::json status;
    bool operator==(const Snapshot&) const = default;
};
Snapshot snapshot() {
    auto s = status(running);
    // What the clock says moves on by itself, minute by minute.
    if (s.is_object() && s.contains("time")) s["time"].erase("text");
    if (s.is_object() && s.contains("clock")) s["clock"].erase("local");
    return {fileBytes(running + "/device.plist"), s};
}

bool lower(const std::string& text, const std::string& what) {
    std::string t = text;
    for (auto& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return t.find(what) != std::string::npos;
}

class Cli : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        running = scratchFolder("vantrel-cli");
        stopped = scratchFolder("vantrel-cli-stopped") + "/device";
        ASSERT_EQ(device(running, {"start", "--fresh"}).code, 0);
    }
    static void TearDownTestSuite() {
        device(running, {"stop"});
        device(stopped, {"stop"});
        fs::remove_all(running);
        fs::remove_all(fs::path(stopped).parent_path());
    }
    void SetUp() override { ASSERT_TRUE(status(running).is_object()) << "the suite's device is not running"; }
    // The clock set by a case goes with it.
    void TearDown() override { device(running, {"set", "clock=live"}); }
};

// ---- lines that must be refused, acting on nothing

struct BadLine {
    std::vector<std::string> argv;  // D stands for the folder; without D, --device FOLDER goes first
    bool onRunning;
    int code;
    std::string stderrHas;  // F stands for the folder
};

void PrintTo(const BadLine& b, std::ostream* os) {
    for (const auto& a : b.argv) *os << a << " ";
}

const BadLine kBadLines[] = {
    {{"--devcie", "D", "status"}, true, 2, "did you mean --device?"},
    {{"status", "--devcie", "D"}, true, 2, "did you mean --device?"},
    {{"-d", "D", "status"}, true, 2, "did you mean --device?"},
    {{"stauts"}, true, 2, "did you mean status?"},
    {{"unlcok"}, true, 2, "did you mean unlock?"},
    {{"status", "--jsno"}, true, 2, "did you mean --json?"},
    {{"log", "--folow"}, true, 2, "did you mean --follow?"},
    {{"status", "--json", "--jsno"}, true, 2, "unknown option --jsno; did you mean --json?"},
    {{"tap", "-q", "--bogus"}, true, 2, "unknown option --bogus"},
    {{"-n", "5", "log"}, true, 2, "unknown option -n"},
    {{"stauts", "--help"}, true, 2, "unknown command stauts; did you mean status?"},
    {{"status", "extra"}, true, 2, "extra"},
    {{"tap", "twice"}, true, 2, "twice"},
    {{"log", "-n", "abc"}, true, 2, "positive whole number, not abc"},
    {{"log", "-n", "0"}, true, 2, "positive whole number, not 0"},
    {{"nc", "opne"}, true, 2, "open"},
    {{"alert", "x", "OK"}, true, 2, "alert id is a number"},
    {{"alert", "1"}, true, 2, "BUTTON"},
    {{}, true, 2, "Usage"},
    {{"--device"}, true, 2, "--device"},
    {{"set"}, true, 2, "KEY=VALUE"},
    {{"set", "batteryLevel"}, true, 2, "KEY=VALUE"},
    {{"set", "batteryLevel=500"}, true, 1, "batteryLevel takes 0-100"},
    {{"set", "batteryLevel=-5"}, true, 1, "batteryLevel takes 0-100"},
    {{"set", "batteryLevel=33", "bogus=1"}, true, 1, "bogus is not a hardware key"},
    {{"set", "batteryLevl=33"}, true, 1, "did you mean batteryLevel?"},
    {{"set", "batery=33"}, true, 1, "did you mean batteryLevel?"},
    {{"set", "signalBars=6"}, true, 1, "signalBars takes 0-5"},
    {{"set", "charging=maybe"}, true, 1, "charging takes true/false"},
    {{"set", "bluetoothBatteryLevel=101"}, true, 1, "bluetoothBatteryLevel takes 0-100 or none"},
    {{"set", "locked=true"}, true, 1, "lock and unlock"},
    {{"set", "wifiAddress=1.2.3"}, true, 1, "wifiAddress takes IPv4 address or none"},
    {{"set", "wifiAddress6=192.0.2.7"}, true, 1, "wifiAddress6 takes IPv6 address or none"},
    {{"set", "clock=25:00"}, true, 1, "clock takes"},
    {{"set", "clock=2026-02-30T09:41:00"}, true, 1, "clock takes"},
    {{"set", "carrier=" + std::string(4097, 'a')}, true, 1, "carrier takes text of up to 4096 bytes"},
    {{"status"}, false, 1, "not running: F (" + bin("vantrel-device") + " --device F start starts it)"},
    {{"ping"}, false, 1, "not running: F"},
    {{"watch"}, false, 1, "not running: F"},
    {{"log"}, false, 1, "not running: F"},
    {{"tap"}, false, 1, "not running: F"},
    {{"set", "batteryLevel=5"}, false, 1, "not running: F"},
    {{"set", "batteryLevel=500"}, false, 1, "batteryLevel takes 0-100"},
    {{"stauts"}, false, 2, "did you mean status?"},
    {{"get", "batery"}, true, 1, "batery is not a hardware key (did you mean batteryLevel?)"},
    {{"get", "batteryLevel", "batery"}, false, 1, "and 28 more; see `" + bin("vantrel-device") + " keys`"},
    {{"reset", "batteryLevel", "bogus"}, true, 1, "bogus is not a hardware key; nothing reset"},
    {{"reset"}, true, 2, "--all"},
    {{"reset", "--all", "batteryLevel"}, true, 2, "excludes"},
    {{"reset", "--all"}, false, 1, "not running: F"},
};

// Each row on its own line of the output; the one device serves them all (a start per row
// would cost more than the rows).
TEST_F(Cli, BadLinesExitWithTheirCodeSayWhyAndChangeNothing) {
    for (const BadLine& row : kBadLines) {
        std::ostringstream name;
        PrintTo(row, &name);
        SCOPED_TRACE(name.str());
        const std::string& folder = row.onRunning ? running : stopped;
        std::vector<std::string> argv = {bin("vantrel-device")};
        bool folderNamed = false;
        for (const auto& a : row.argv) argv.push_back(a == "D" ? (folderNamed = true, folder) : a);
        if (!folderNamed) argv.insert(argv.begin() + 1, {"--device", folder});
        const Snapshot before = snapshot();
        Result r = runCapturingErrors(argv);
        EXPECT_EQ(r.code, row.code) << r.err;
        std::string expected = row.stderrHas;
        // F: the folder, in the reason and in the hint that starts it.
        if (expected.starts_with("not running: F"))
            for (size_t at; (at = expected.find(" F")) != std::string::npos;) expected.replace(at + 1, 1, folder);
        EXPECT_NE(r.err.find(expected), std::string::npos) << "stderr: " << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(snapshot() == before) << "the running device changed";
        EXPECT_FALSE(fs::exists(stopped + "/device.plist")) << "the stopped folder was installed";
        EXPECT_FALSE(fs::exists(stopped + "/run/launchd.lock")) << "the stopped folder was started";
    }
}

// ---- every --help and -h: usage on stdout, exit 0, nothing done

struct HelpLine {
    std::vector<std::string> argv;
    std::string shows;
};

void PrintTo(const HelpLine& h, std::ostream* os) {
    for (const auto& a : h.argv) *os << a << " ";
}

const HelpLine kHelpLines[] = {
    {{"--help"}, "springboard"},
    {{"-h"}, "status"},
    {{"start", "--help"}, "start"},
    {{"start", "-h"}, "--interactive"},
    {{"install", "--help"}, "install"},
    {{"restart", "-h"}, "restart"},
    {{"springboard", "--help"}, "springboard"},
    {{"stop", "--help"}, "stop"},
    {{"stop", "-h"}, "stop"},
    {{"log", "--help"}, "LINES"},
    {{"status", "-h"}, "--json"},
    {{"watch", "--help"}, "watch"},
    {{"keys", "--help"}, "keys"},
    {{"set", "--help"}, "KEY=VALUE"},
    {{"ping", "-h"}, "ping"},
    {{"tap", "--help"}, "tap"},
    {{"lock", "-h"}, "lock"},
    {{"unlock", "--help"}, "unlock"},
    {{"nc", "--help"}, "close"},
    {{"alert", "--help"}, "BUTTON"},
    {{"get", "--help"}, "KEY"},
    {{"reset", "-h"}, "--all"},
    {{"set", "batteryLevel=500", "--help"}, "KEY=VALUE"},
};

TEST_F(Cli, EveryHelpPrintsTheUsageExitsZeroAndActsOnNothing) {
    std::string pid = jsonAt(status(running), "/springboardPid").dump();
    for (const HelpLine& row : kHelpLines) {
        std::ostringstream name;
        PrintTo(row, &name);
        SCOPED_TRACE(name.str());
        for (const std::string& folder : {stopped, running}) {
            Result r = device(folder, row.argv);
            EXPECT_EQ(r.code, 0) << r.err;
            EXPECT_TRUE(lower(r.out, "usage")) << r.out;
            EXPECT_NE(r.out.find(row.shows), std::string::npos) << r.out;
        }
        EXPECT_FALSE(fs::exists(stopped + "/device.plist")) << "the stopped folder was installed";
        EXPECT_FALSE(fs::exists(stopped + "/run/launchd.lock")) << "the stopped folder was started";
        EXPECT_EQ(jsonAt(status(running), "/springboardPid").dump(), pid) << "the running device was restarted or stopped";
    }
}

// ---- set: typed values, addresses and the device clock reach the status

TEST_F(Cli, SetTypesItsValuesAndTheAddressesAndTheClockReachTheStatus) {
    Result r = device(running, {"set", "carrier=123", "bluetoothBatteryLevel=none", "charging=on", "batteryLevel=42",
                                "clock=09:41", "wifiAddress=192.0.2.7", "wifiAddress6=2001:db8::7"});
    ASSERT_EQ(r.code, 0) << r.err;
    auto s = status(running);
    EXPECT_EQ(jsonAt(s, "/service/text"), "123") << "a string key keeps digits as text";
    EXPECT_TRUE(jsonAt(s, "/bluetooth/batteryLevel").is_null());
    EXPECT_EQ(jsonAt(s, "/battery/charging"), true);
    EXPECT_EQ(jsonAt(s, "/battery/level"), 42);
    EXPECT_NE(jsonAt(s, "/time/text").get<std::string>().find("09:41"), std::string::npos) << s;
    // What reaches a terminal cannot drive it.
    ASSERT_EQ(device(running, {"set", "carrier=Acme\x1b]0;owned\x07"}).code, 0);
    Result line = device(running, {"status"});
    EXPECT_EQ(line.out.find('\x1b'), std::string::npos) << line.out;
    EXPECT_NE(line.out.find("Acme\\x1b]0;owned\\x07"), std::string::npos) << line.out;

    // The IP clock modes read the interface table the addresses changed.
    ASSERT_EQ(run({bin("vantrel-settings"), "--device", running, "set", "clockformat", "1"}).code, 0);
    EXPECT_TRUE(waitFor([&] { return jsonAt(status(running), "/time/text") == "192.0.2.7"; }, 10.0)) << status(running);
    ASSERT_EQ(device(running, {"set", "wifiAddress=none"}).code, 0);
    EXPECT_TRUE(waitFor([&] { return jsonAt(status(running), "/time/text") == "2001:db8::7"; }, 10.0)) << status(running);
    ASSERT_EQ(device(running, {"set", "cellularAddress=198.51.100.9"}).code, 0);
    ASSERT_EQ(run({bin("vantrel-settings"), "--device", running, "set", "clockformat", "2"}).code, 0);
    EXPECT_TRUE(waitFor([&] { return jsonAt(status(running), "/time/text") == "198.51.100.9"; }, 10.0)) << status(running);

    // A full date, then the machine's clock again.
    ASSERT_EQ(run({bin("vantrel-settings"), "--device", running, "set", "clockformat", "0"}).code, 0);
    ASSERT_EQ(device(running, {"set", "clock=2026-12-07T21:41:00"}).code, 0);
    EXPECT_TRUE(waitFor([&] { return jsonAt(status(running), "/time/text") == "09:41 PM"; }, 10.0)) << status(running);
    ASSERT_EQ(device(running, {"set", "clock=live"}).code, 0);
    EXPECT_NE(jsonAt(status(running), "/time/text"), "09:41 PM");
}

// ---- get and reset: what set changed, read back and undone; --quiet says nothing

TEST_F(Cli, GetReadsWhatSetChangedAndResetPutsTheDefaultsBack) {
    Result r = device(running, {"set", "batteryLevel=20", "carrier=none", "installedApps=[a,b]"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "set batteryLevel=20 carrier=none installedApps=[a,b]\n");
    EXPECT_EQ(device(running, {"get", "batteryLevel", "carrier", "installedApps"}).out,
              "batteryLevel=20\ncarrier=none\ninstalledApps=[a,b]\n");
    EXPECT_EQ(parseJson(device(running, {"get", "carrier", "batteryLevel", "--json"}).out),
              parseJson(R"({"carrier":null,"batteryLevel":20})"));
    r = device(running, {"reset", "batteryLevel", "carrier"});
    EXPECT_EQ(r.out, "reset batteryLevel carrier\n");
    EXPECT_EQ(device(running, {"get", "batteryLevel", "carrier", "installedApps"}).out,
              "batteryLevel=87\ncarrier=Vantrel Mobile\ninstalledApps=[a,b]\n");
    EXPECT_EQ(jsonAt(status(running), "/battery/level"), 87);
    r = device(running, {"reset", "--all", "--quiet"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(device(running, {"get", "installedApps", "clock"}).out, "installedApps=[]\nclock=live\n");
    // A stopped device answers with what it would start with, and is left as it was.
    EXPECT_EQ(device(stopped, {"get", "batteryLevel"}).out, "batteryLevel=87\n");
    EXPECT_FALSE(fs::exists(stopped + "/device.plist"));
}

// ---- ./vantrel: a device command at the top level is pointed at, help TOPIC covers the device's

TEST_F(Cli, TheEntryScriptPointsAtTheDeviceCommands) {
    struct Line {
        std::vector<std::string> words;
        int code;
        std::string outHas, errHas;
    };
    const Line lines[] = {
        {{"status"}, 2, "", "did you mean './vantrel device status'?"},
        {{"stauts"}, 2, "", "did you mean './vantrel device status'?"},
        {{"help", "view"}, 0, "--port", ""},
        {{"device", "--help"}, 0, "  screenshot ", ""},
        {{"device", "--device", running, "get", "batteryLevel"}, 0, "batteryLevel=", ""},
    };
    for (const Line& l : lines) {
        std::vector<std::string> argv = {"/usr/bin/env", "VANTREL_BUILD_DIR=" + std::string(VANTREL_BINARY_DIR),
                                         std::string(VANTREL_SOURCE_DIR) + "/vantrel"};
        argv.insert(argv.end(), l.words.begin(), l.words.end());
        Result r = runCapturingErrors(argv);
        EXPECT_EQ(r.code, l.code) << l.words[0] << ": " << r.err;
        EXPECT_NE(r.out.find(l.outHas), std::string::npos) << l.words[0] << ": " << r.out;
        EXPECT_NE(r.err.find(l.errHas), std::string::npos) << l.words[0] << ": " << r.err;
    }
}

// ---- watch and log -f: what comes, as it comes, until SIGTERM

// A program read as it writes, ended by its pid with SIGTERM; its exit code.
class Follower {
public:
    explicit Follower(const std::vector<std::string>& argv) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) < 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], 1);
            execArgv(argv);
        }
        ::close(fds[1]);
        out_.reset(fds[0]);
    }
    ~Follower() { terminate(); }

    // Reads until done(text so far) holds or the timeout passes.
    bool readUntil(const std::function<bool(const std::string&)>& done, double timeout = kReaper) {
        return waitFor(
            [&] {
                pollfd p{out_.get(), POLLIN, 0};
                while (::poll(&p, 1, 0) > 0) {
                    char buf[65536];
                    ssize_t n = ::read(out_.get(), buf, sizeof buf);
                    if (n <= 0) break;
                    text_.append(buf, static_cast<size_t>(n));
                }
                return done(text_);
            },
            timeout);
    }
    const std::string& text() const { return text_; }

    int terminate() {
        if (pid_ <= 0) return code_;
        ::kill(pid_, SIGTERM);
        int status = 0;
        if (!waitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, 10.0)) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
        return code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    platform::Fd out_;
    std::string text_;
    int code_ = -1;
};

TEST_F(Cli, WatchAndLogFollowPrintWhatComesAndEndWithZeroOnSigterm) {
    Follower watch({bin("vantrel-device"), "watch", "--json", "--device", running});
    ASSERT_TRUE(watch.readUntil([](const std::string& t) { return count(t, "\n") >= 1; })) << "no status at start";
    ASSERT_EQ(device(running, {"set", "batteryLevel=33"}).code, 0);
    auto lastLevel = [](const std::string& t) {
        auto lines = t.substr(0, t.rfind('\n'));
        return jsonAt(parseJson(lines.substr(lines.rfind('\n') + 1)), "/battery/level");
    };
    EXPECT_TRUE(watch.readUntil([&](const std::string& t) { return count(t, "\n") >= 2 && lastLevel(t) == 33; })) << watch.text();
    // Reading the status on each redraw must not cause the next: the output comes to rest.
    size_t lines = 0;
    EXPECT_TRUE(watch.readUntil(
        [&](const std::string& t) {
            bool still = count(t, "\n") == lines;
            lines = count(t, "\n");
            return still && lines < 20;
        },
        10.0))
        << lines << " lines";
    // One line per change: no redraw repeats the one before it.
    std::istringstream shown(watch.text());
    std::string previous;
    for (std::string line; std::getline(shown, line); previous = line) EXPECT_TRUE(line != previous) << "a line repeated";
    EXPECT_EQ(watch.terminate(), 0);

    const std::string log = running + "/var/log/syslog";
    Follower follow({bin("vantrel-device"), "--device=" + running, "log", "-n", "1", "-f"});
    ASSERT_TRUE(follow.readUntil([](const std::string& t) { return count(t, "\n") == 1; }));
    std::ofstream(log, std::ios::app) << "appended by the test\n";
    EXPECT_TRUE(follow.readUntil([](const std::string& t) { return t.find("appended by the test\n") != std::string::npos; }));
    fs::rename(log, log + ".old");  // replaced, as a rotation does
    std::ofstream(log) << "in the new file\n";
    EXPECT_TRUE(follow.readUntil([](const std::string& t) { return t.find("in the new file\n") != std::string::npos; }))
        << follow.text();
    EXPECT_EQ(follow.terminate(), 0);
}

}  // namespace
