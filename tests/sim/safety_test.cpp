// The device folder's checks and bounds as pure logic: links on the path as the user gave it,
// text for a terminal, hardware texts, device.plist read for an update, pid files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/device/device_state.h"
#include "platform/foundation/file.h"
#include "sim/common/device.h"
#include "sim/common/hardware_keys.h"
#include "sim/common/safety.h"

namespace {

namespace fs = std::filesystem;
using namespace vantrel;
using namespace vantrel::sim;

constexpr uid_t kNobody = 65534;

class TempFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vantrel-sim-XXXXXX";
        base_ = ::mkdtemp(tmpl);
    }
    void TearDown() override { fs::remove_all(base_); }
    std::string base_;
};

struct GivenPath {
    const char* name;
    // Lays links out under base and gives the device path to check.
    std::function<std::string(const std::string& base)> lay;
    const char* refusal;  // empty: accepted
    bool needsRoot = false;
};

void PrintTo(const GivenPath& row, std::ostream* os) { *os << row.name; }

std::string folderWithMode(const std::string& path, mode_t mode) {
    fs::create_directories(path);
    ::chmod(path.c_str(), mode);
    return path;
}

std::string linkTo(const std::string& target, const std::string& link, uid_t owner) {
    fs::create_directories(target);
    fs::create_symlink(target, link);
    if (owner != ::geteuid()) {
        EXPECT_EQ(::lchown(link.c_str(), owner, owner), 0);
    }
    return link;
}

const GivenPath kGiven[] = {
    {"ForeignLinkInStickyFolder",
     [](auto& b) { return linkTo(b + "/victim", folderWithMode(b + "/shared", 01777) + "/devx", kNobody); },
     "devx is a symbolic link owned by nobody", true},
    {"ForeignLinkHigherUp",
     [](auto& b) { return linkTo(b + "/real", folderWithMode(b + "/shared", 01777) + "/up", kNobody) + "/device"; },
     "up is a symbolic link owned by nobody", true},
    {"OwnLinkInFolderOthersWrite",
     [](auto& b) { return linkTo(b + "/real", folderWithMode(b + "/open", 0777) + "/dev", ::geteuid()); },
     "which others can write", false},
    {"OwnLinkInStickyFolder",
     [](auto& b) { return linkTo(b + "/real", folderWithMode(b + "/shared", 01777) + "/dev", ::geteuid()); }, "", false},
    {"OwnLinkInOwnFolder", [](auto& b) { return linkTo(b + "/real", b + "/dev", ::geteuid()) + "/device"; }, "", false},
    {"DotDotAfterAForeignLink",
     [](auto& b) {
         fs::create_directories(b + "/elsewhere/x");
         return linkTo(b + "/elsewhere/x", folderWithMode(b + "/shared", 01777) + "/l", kNobody) + "/../device";
     },
     "l is a symbolic link owned by nobody", true},
};

class GivenPathLinks : public TempFolder, public ::testing::WithParamInterface<GivenPath> {};

TEST_P(GivenPathLinks, AreTrustedOnlyWhenNobodyElseCouldHaveMadeThem) {
    const GivenPath& row = GetParam();
    if (row.needsRoot && ::geteuid() != 0) GTEST_SKIP() << "needs root to give a link to another user";
    const std::string given = row.lay(base_);
    auto checked = checkDeviceFolder(deviceFolder(given));
    if (*row.refusal == '\0') {
        EXPECT_TRUE(checked) << checked.error().message;
    } else {
        ASSERT_FALSE(checked) << given;
        EXPECT_NE(checked.error().message.find(row.refusal), std::string::npos) << checked.error().message;
    }
}

INSTANTIATE_TEST_SUITE_P(, GivenPathLinks, ::testing::ValuesIn(kGiven),
                         [](const auto& info) { return std::string(info.param.name); });

// Nothing printed for a person can drive the terminal; what is no control stays as it was.
TEST(Displayable, EscapesControlsAndKeepsTheRest) {
    const std::pair<std::string, std::string> rows[] = {
        {"Acme\x1b]0;owned\x07", "Acme\\x1b]0;owned\\x07"},
        {"a\nb\rc\td\x7f", "a\\x0ab\\x0dc\\x09d\\x7f"},
        {"csi \xc2\x9b"
         "31m",
         "csi \\x9b31m"},  // U+009B, the one-byte CSI
        {"Caf\xc3\xa9 \\ \"q\" \\u001b", "Caf\xc3\xa9 \\ \"q\" \\u001b"},
        {"\xc2\xa0nbsp", "\xc2\xa0nbsp"},
    };
    for (const auto& [in, out] : rows) EXPECT_EQ(displayable(in), out) << in;
}

// Texts a peer sets are bounded where they enter, and a refusal quotes only a little of them.
TEST(HardwareTexts, AreBoundedAndRefusalsStaySmall) {
    platform::DeviceState base;
    auto entries = [&](const std::string& key, platform::Value v) {
        return hardwareEntries(platform::Dictionary{{key, std::move(v)}}, base, 0);
    };
    EXPECT_TRUE(entries("carrier", std::string(kMaxHardwareText, 'a')));
    EXPECT_TRUE(entries("installedApps", std::string("[a,b]")));
    for (const auto& [key, value] : std::vector<std::pair<std::string, platform::Value>>{
             {"carrier", std::string(kMaxHardwareText + 1, 'a')},
             {"wifiNetwork", std::string(6 << 20, '\x01')},
             {"nowPlayingTitle", std::string(kMaxHardwareText + 1, 'a')},
             {"installedApps", "[" + std::string(kMaxHardwareText + 1, 'a') + "]"},
             {"installedApps", platform::Value(platform::Array(kMaxHardwareListItems + 1, platform::Value(std::string("a"))))},
             {std::string(1 << 20, 'k'), platform::Value(true)},
         }) {
        auto made = entries(key, value);
        ASSERT_FALSE(made) << key.substr(0, 20);
        EXPECT_LT(made.error().message.size(), 512u) << made.error().message.substr(0, 200);
    }
    platform::Dictionary many;
    for (int i = 0; i < 10000; ++i) many["bogus" + std::to_string(i)] = platform::Value(true);
    auto refused = hardwareEntries(many, base, 0);
    ASSERT_FALSE(refused);
    EXPECT_LT(refused.error().message.size(), 2048u);
    EXPECT_NE(refused.error().message.find("and 9990 more"), std::string::npos);
}

// A device.plist that exists but cannot be read is never replaced by what little is known.
TEST_F(TempFolder, DevicePlistReadForAnUpdate) {
    DeviceFolder device{base_, base_};
    auto missing = readDeviceStateForUpdate(device);
    ASSERT_TRUE(missing);
    EXPECT_TRUE(missing->empty());
    ASSERT_TRUE(writeDeviceState(device, platform::Dictionary{{"batteryLevel", platform::Value(7)}}));
    EXPECT_EQ(readDeviceStateForUpdate(device).valueOr({}).size(), 1u);
    for (const std::string& bad : {std::string(platform::kMaxPropertyListFileSize + 1, ' '), std::string("bplist00 cut")}) {
        std::ofstream(device.devicePlist(), std::ios::trunc) << bad;
        auto read = readDeviceStateForUpdate(device);
        ASSERT_FALSE(read);
        EXPECT_NE(read.error().message.find("cannot read " + device.devicePlist()), std::string::npos);
    }
}

// A pid file names a process of this device only while that process's command line names the
// folder: pids copied from another device's run/ end nothing here.
TEST_F(TempFolder, PidFilesOfAnotherDeviceAreNotOurs) {
    const DeviceFolder ours{base_ + "/ours", base_ + "/ours"};
    const std::string other = base_ + "/other";
    auto spawn = [](const std::string& folder) {
        pid_t pid = ::fork();
        if (pid == 0) {
            ::execl("/bin/sh", "sh", "-c", "sleep 30; :", "sh", folder.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return pid;
    };
    pid_t mine = spawn(ours.root), theirs = spawn(other), configured = spawn("--config-file=" + ours.root + "/run/bus.conf");
    fs::create_directories(ours.run());
    auto pidIn = [&](pid_t pid) {
        const std::string path = ours.run() + "/x.pid";
        writePid(path, pid);
        return readPid(ours, path, "dash").has_value() || readPid(ours, path, "bash").has_value() ||
               readPid(ours, path, "sh").has_value();
    };
    ::usleep(100000);  // each has exec'd its shell
    EXPECT_TRUE(pidIn(mine));
    EXPECT_TRUE(pidIn(configured));
    EXPECT_FALSE(pidIn(theirs));
    for (pid_t p : {mine, theirs, configured}) ::kill(p, SIGKILL), ::waitpid(p, nullptr, 0);
}

}  // namespace
