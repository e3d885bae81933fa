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
#include "sim/device/device.h"
#include "sim/device/safety.h"
#include "sim/device/sha256.h"
#include "tests/e2e/process.h"

namespace {

namespace fs = std::filesystem;
using namespace vantrel::test;

class SafeMode : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vantrel-safe-mode-XXXXXX";
        folder_ = ::mkdtemp(tmpl);
        ASSERT_EQ(device({"start", "--fresh"}).code, 0);
    }
    void TearDown() override {
        device({"stop"});
        fs::remove_all(folder_);
    }

    Result device(std::vector<std::string> words) {
        words.insert(words.begin(), {bin("vantrel-device"), "--device", folder_});
        return run(words);
    }
    std::string status() { return device({"status", "--json"}).out; }
    std::string log() { return device({"log", "-n", "100000"}).out; }
    std::string safeModeProperty() {
        std::string out = run({"/usr/bin/busctl", "--address=" + busAddressOf(folder_), "get-property",
                               "com.apple.springboard", "/com/apple/springboard", "com.quennick.vantrel.Device", "SafeMode"})
                              .out;
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    }

    // Installs the crashing extension as install would: the file, its filter naming
    // SpringBoard, and its digest in the record. Sorted ahead of the tweak, it loads first.
    void installCrasher() {
        vantrel::sim::DeviceFolder dev{folder_};
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

    std::string folder_;
};

TEST_F(SafeMode, ACrashLoopBringsSafeModeAndRestartWithoutTheExtensionBringsTheTweakBack) {
    std::string pid = field(status(), "\"springboardPid\":(\\d+)");
    ASSERT_FALSE(pid.empty());
    installCrasher();
    ::kill(std::stoi(pid), SIGTERM);  // a respring: the next SpringBoard loads the extension

    ASSERT_TRUE(waitFor([&] { return status().find("\"safeMode\":true") != std::string::npos; })) << log();
    std::string s = status();
    EXPECT_EQ(count(s, "\"title\":\"Safe Mode\""), 1u) << s;
    EXPECT_NE(s.find("\"buttons\":[\"OK\",\"Restart\"]"), std::string::npos) << s;
    EXPECT_EQ(safeModeProperty(), "b true");
    EXPECT_NE(device({"status"}).out.find("[safe mode]"), std::string::npos);
    std::string l = log();
    EXPECT_NE(l.find("crashed 5 times within 10 s; starting it in safe mode"), std::string::npos) << l;
    // The tweak's constructor ran at the first start only; safe mode loads nothing, so nobody
    // takes the status bar tap.
    EXPECT_EQ(count(l, "Vantrel by Quennick Loaded."), 1u) << l;
    EXPECT_EQ(device({"tap"}).code, 1);

    // OK keeps safe mode; Restart, with the extension gone, brings the tweak back.
    std::string safePid = field(s, "\"springboardPid\":(\\d+)");
    fs::remove(folder_ + "/Library/MobileSubstrate/DynamicLibraries/0Crasher.dylib");
    ASSERT_EQ(device({"alert", field(s, "\"alerts\":\\[\\{\"id\":(\\d+)"), "Restart"}).code, 0);
    ASSERT_TRUE(waitFor([&] {
        std::string now = status();
        std::string p = field(now, "\"springboardPid\":(\\d+)");
        return !p.empty() && p != safePid && now.find("\"safeMode\":false") != std::string::npos;
    })) << log();
    EXPECT_EQ(safeModeProperty(), "b false");
    l = log();
    EXPECT_EQ(count(l, "Vantrel by Quennick Loaded."), 2u) << l;
    EXPECT_NE(l.find("a respring leaves safe mode"), std::string::npos);
    EXPECT_EQ(count(status(), "\"title\""), 0u);
    EXPECT_EQ(device({"tap"}).code, 0);
}

}  // namespace
