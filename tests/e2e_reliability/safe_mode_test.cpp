// A crash loop on a device of its own: an installed extension that aborts SpringBoard as it
// loads brings SpringBoard back in safe mode (nothing injected, an alert, the property and the
// JSON say so); Restart from the alert, once the extension is gone, brings the tweak back.
// Every program started here is ended by its pid, and every wait has a reaper timeout.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/foundation/file.h"
#include "platform/foundation/plist.h"
#include "sim/common/device.h"
#include "sim/common/safety.h"
#include "sim/common/sha256.h"
#include "tests/e2e_reliability/running_device.h"

namespace {

namespace fs = std::filesystem;
using namespace vantrel::test;

class SafeMode : public RunningDevice {
protected:
    std::string safeModeProperty() {
        std::string out = run({"/usr/bin/busctl", "--address=" + busAddressOf(folder_), "get-property", "com.apple.springboard",
                               "/com/apple/springboard", "com.quennick.vantrel.Device", "SafeMode"})
                              .out;
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    }

    // Installs the crashing extension as install would: the file, its filter naming
    // SpringBoard, and its digest in the record. Sorted ahead of the tweak, it loads first.
    void installCrasher() {
        vantrel::sim::DeviceFolder dev{folder_, folder_};
        const std::string relative = "Library/MobileSubstrate/DynamicLibraries/0Crasher.dylib";
        fs::copy_file(VANTREL_CRASHER_LIBRARY, folder_ + "/" + relative);
        fs::permissions(folder_ + "/" + relative, fs::perms::owner_all);
        platform::Dictionary filter{
            {"Filter", platform::Dictionary{{"Bundles", platform::Array{platform::Value("com.apple.springboard")}}}}};
        ASSERT_TRUE(platform::writeDictionaryFile(dev.dynamicLibraries() + "/0Crasher.plist", filter));
        platform::Fd fd(::open((folder_ + "/" + relative).c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_TRUE(fd);
        auto digest = vantrel::sim::sha256OfDescriptor(fd.get());
        ASSERT_TRUE(digest);
        auto files = vantrel::sim::installedFiles(dev);
        files[relative] = *digest;
        ASSERT_TRUE(vantrel::sim::recordInstalledFiles(dev, files));
    }

    // A respring with the crashing extension installed: five crashes later, safe mode.
    void crashIntoSafeMode() {
        std::string pid = springBoardPid();
        ASSERT_FALSE(pid.empty());
        installCrasher();
        ::kill(std::stoi(pid), SIGTERM);  // a respring: the next SpringBoard loads the extension
        ASSERT_TRUE(waitFor([&] { return jsonAt(statusJson(), "/safeMode") == true; })) << log();
    }
};

TEST_F(SafeMode, ACrashLoopBringsSafeModeAndRestartWithoutTheExtensionBringsTheTweakBack) {
    crashIntoSafeMode();
    if (HasFatalFailure()) return;
    auto s = statusJson();
    ASSERT_EQ(s["alerts"].size(), 1u) << s;
    EXPECT_EQ(jsonAt(s, "/alerts/0/title"), "Safe Mode");
    EXPECT_EQ(jsonAt(s, "/alerts/0/buttons"), nlohmann::json::array({"OK", "Restart"}));
    EXPECT_EQ(safeModeProperty(), "b true");
    EXPECT_NE(device({"status"}).out.find("[safe mode]"), std::string::npos);
    std::string l = log();
    EXPECT_NE(l.find("crashed 5 times within 10 s; starting it in safe mode"), std::string::npos) << l;
    // The tweak's constructor ran at the first start only; safe mode loads nothing, so nobody
    // takes the status bar tap.
    EXPECT_EQ(count(l, "Vantrel by Quennick Loaded."), 1u) << l;
    EXPECT_EQ(device({"tap"}).code, 1);

    // OK keeps safe mode; Restart, with the extension gone, brings the tweak back.
    auto safePid = jsonAt(s, "/springboardPid");
    fs::remove(folder_ + "/Library/MobileSubstrate/DynamicLibraries/0Crasher.dylib");
    ASSERT_EQ(device({"alert", jsonAt(s, "/alerts/0/id").dump(), "Restart"}).code, 0);
    ASSERT_TRUE(waitFor([&] {
        auto now = statusJson();
        auto p = jsonAt(now, "/springboardPid");
        return p.is_number() && p != safePid && jsonAt(now, "/safeMode") == false;
    })) << log();
    EXPECT_EQ(safeModeProperty(), "b false");
    l = log();
    EXPECT_EQ(count(l, "Vantrel by Quennick Loaded."), 2u) << l;
    EXPECT_NE(l.find("a respring leaves safe mode"), std::string::npos);
    EXPECT_TRUE(alerts().empty());
    EXPECT_EQ(device({"tap"}).code, 0);
}

// Safe mode loads nothing, so a SpringBoard that still crashes there has no way out: after
// five crashes within the window the device stops instead of restarting it for ever.
TEST_F(SafeMode, CrashingInSafeModeTooStopsTheDevice) {
    crashIntoSafeMode();
    if (HasFatalFailure()) return;
    std::string killed;
    for (int crash = 0; crash < 5; ++crash) {
        std::string pid;
        ASSERT_TRUE(waitFor([&] { return !(pid = springBoardPid()).empty() && pid != killed; })) << log();
        ::kill(std::stoi(pid), SIGKILL);  // the safe SpringBoard, started by this case's device
        killed = pid;
    }
    ASSERT_TRUE(waitFor([&] { return log().find("launchd: the device stopped") != std::string::npos; })) << log();
    std::string l = log();
    EXPECT_NE(l.find("SpringBoard keeps crashing in safe mode too; the device stops"), std::string::npos) << l;
    EXPECT_EQ(device({"stop"}).out, "not running: " + folder_ + "\n");
}

}  // namespace
