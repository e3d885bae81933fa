// A fresh device started for one test case in a folder of its own under /tmp, stopped and
// removed afterwards, with the readers the reliability cases share: its status, its SpringBoard's
// pid, its main preference file, posts on its bus, a Settings session. Every wait has a reaper.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/dbus_notifications.h"
#include "platform/foundation/file.h"
#include "platform/foundation/sdevent_runloop.h"
#include "tests/e2e/process.h"
#include "tests/scratch.h"

namespace vantrel::test {

namespace fs = std::filesystem;

class RunningDevice : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = scratchFolder("vantrel-e2e-reliability");
        ASSERT_EQ(run({bin("vantrel-device"), "--device", folder_, "start", "--fresh"}).code, 0);
        address_ = busAddressOf(folder_);
        ASSERT_FALSE(address_.empty());
    }
    void TearDown() override {
        session_.close();
        run({bin("vantrel-device"), "--device", folder_, "stop"});
        fs::remove_all(folder_);
    }

    Result device(std::vector<std::string> words) {
        words.insert(words.begin(), {bin("vantrel-device"), "--device", folder_});
        return run(words);
    }
    std::string status() { return device({"status", "--json"}).out; }
    nlohmann::json statusJson() { return parseJson(status()); }
    std::string log() { return device({"log", "-n", "1000000"}).out; }
    // The alerts on SpringBoard's screen, and the count of the first (0 when none).
    nlohmann::json alerts() { return jsonAt(statusJson(), "/alerts"); }
    long long firstAlertCount() {
        auto n = jsonAt(alerts(), "/0/count");
        return n.is_number() ? n.get<long long>() : 0;
    }
    size_t enabledItems() {
        size_t n = 0;
        for (const auto& item : jsonAt(parseJson(status()), "/items")) n += item.value("enabled", false);
        return n;
    }
    std::string springBoardPid() {
        auto pid = jsonAt(parseJson(status()), "/springboardPid");
        return pid.is_number() ? pid.dump() : std::string();
    }
    void writeMain(const platform::Dictionary& d) { ASSERT_TRUE(platform::writeDictionaryFile(mainPreferences(), d)); }
    std::string mainPreferences() { return folder_ + "/var/mobile/Library/Preferences/com.quennick.vantrel.plist"; }

    bool waitFor(const std::function<bool()>& done, double timeout = kReaper) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
        while (std::chrono::steady_clock::now() < end) {
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return done();
    }

    // Posts info (by default {"itemToggled": code}) `times` times on the device bus; returns
    // when all are sent.
    void post(const platform::Dictionary& info, int times) {
        platform::SdEventRunLoop loop;
        platform::DBusNotificationCenter center(address_, loop);
        ASSERT_TRUE(center.isConnected());
        for (int i = 0; i < times; ++i) center.post("vantrel.SettingsChanged", &info);
    }  // flushed on close
    void post(int code, int times = 1) { post({{"itemToggled", code}}, times); }

    long residentKiB(const std::string& pid) {
        std::ifstream in("/proc/" + pid + "/status");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
        return -1;
    }

    void openSession() { session_.open(folder_); }
    std::string ask(const std::string& line) { return session_.ask(line); }

    std::string folder_, address_;
    SettingsSession session_;
};

}  // namespace vantrel::test
