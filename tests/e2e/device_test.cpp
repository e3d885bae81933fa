// Two processes on a private device bus: the device's SpringBoard with the tweak injected and
// the Settings host with the bundle loaded, each case on a fresh device folder of its own.
// Every program started here is ended by its pid, and every wait has a reaper timeout.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/foundation/dbus_notifications.h"
#include "platform/foundation/file.h"
#include "platform/foundation/sdevent_runloop.h"
#include "tests/e2e/process.h"
#include "tests/scratch.h"

namespace {

using namespace vantrel::test;

class Device : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = scratchFolder("vantrel-e2e");
        Result r = run({bin("vantrel-device"), "--device", folder_, "start", "--fresh"});
        ASSERT_EQ(r.code, 0) << "the device did not start";
    }
    void TearDown() override {
        session_.close();
        run({bin("vantrel-device"), "--device", folder_, "stop"});
        std::system(("rm -rf '" + folder_ + "'").c_str());
    }

    Result device(std::vector<std::string> words) {
        words.insert(words.begin(), {bin("vantrel-device"), "--device", folder_});
        return run(words);
    }
    Result settings(std::vector<std::string> words) {
        words.insert(words.begin(), {bin("vantrel-settings"), "--device", folder_});
        return run(words);
    }
    nlohmann::json status() { return parseJson(device({"status", "--json"}).out); }
    size_t enabledItems() {
        size_t n = 0;
        for (const auto& item : jsonAt(status(), "/items")) n += item.value("enabled", false);
        return n;
    }
    std::string text(const std::string& pointer) {
        auto v = jsonAt(status(), pointer);
        return v.is_string() ? v.get<std::string>() : v.is_null() ? std::string() : v.dump();
    }
    std::string timeText() { return text("/time/text"); }
    std::string springBoardPid() { return text("/springboardPid"); }
    size_t alertsTitled(const nlohmann::json& s, const std::string& prefix) {
        size_t n = 0;
        for (const auto& a : jsonAt(s, "/alerts")) n += a.value("title", "").rfind(prefix, 0) == 0;
        return n;
    }

    void openSession() { session_.open(folder_); }
    std::string ask(const std::string& line) { return session_.ask(line); }
    std::string mainPreferences() { return folder_ + "/var/mobile/Library/Preferences/com.quennick.vantrel.plist"; }
    int64_t clockMode() {
        auto d = platform::readDictionaryFile(mainPreferences());
        const platform::Value* v = d ? platform::lookup(*d, "clockformat") : nullptr;
        return v && v->integer() ? *v->integer() : -1;
    }

    std::string folder_;
    SettingsSession session_;
};

TEST_F(Device, HideAllSetInSettingsEmptiesTheStatusBarOfSpringBoardAndUnsetRefillsIt) {
    size_t before = enabledItems();
    ASSERT_GT(before, 5u);
    ASSERT_EQ(settings({"set", "hideall", "true"}).code, 0);
    EXPECT_TRUE(waitFor([&] { return enabledItems() == 0; }, 5.0));
    ASSERT_EQ(settings({"set", "hideall", "false"}).code, 0);
    EXPECT_TRUE(waitFor([&] { return enabledItems() == before; }, 5.0));
}

TEST_F(Device, TheAnimationLoopRefusesClockTextEditsWhileItRunsAndEndsWhenTurnedOff) {
    openSession();
    EXPECT_NE(ask("show").find("animatedcustomtime"), std::string::npos);
    ask("set animatedcustomtime true");
    ask("set clockformat 5");
    // The tweak arms the animation and tells the open page; the page then refuses the edit.
    std::string refused;
    EXPECT_TRUE(waitFor(
        [&] {
            refused = ask("press timeText:");
            if (refused.find("Warning") != std::string::npos) return true;
            ask("answer --button Cancel");
            return false;
        },
        10.0))
        << refused;
    ask("answer --button OK");
    ask("set animatedcustomtime false");
    EXPECT_TRUE(waitFor([&] { return timeText() == "_Quennick_"; })) << timeText();
    // No pass follows: the fixed text stays.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(timeText(), "_Quennick_");
}

TEST_F(Device, TapsCycleTheClockModeThroughAllSixAndBack) {
    ASSERT_EQ(settings({"set", "clockformat", "0"}).code, 0);
    std::vector<std::string> patterns;
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(device({"tap"}).code, 0);
        EXPECT_EQ(clockMode(), (i + 1) % 6);
        patterns.push_back(text("/time/pattern"));
    }
    EXPECT_EQ(clockMode(), 0);
    EXPECT_NE(patterns[0], patterns[5]);
}

TEST_F(Device, LockScreenHideAllAndTheFirstUnlockNoticeShownOnce) {
    ASSERT_EQ(settings({"set", "hideallls", "true"}).code, 0);
    size_t full = enabledItems();
    ASSERT_EQ(device({"lock"}).code, 0);
    EXPECT_EQ(enabledItems(), 0u);
    EXPECT_EQ(jsonAt(status(), "/locked"), true);
    ASSERT_EQ(device({"unlock"}).code, 0);
    EXPECT_EQ(enabledItems(), full);
    auto s = status();
    ASSERT_EQ(alertsTitled(s, "Thank you"), 1u) << s;
    // A button the alert lacks is refused with the buttons it has.
    auto wrong =
        runCapturingErrors({bin("vantrel-device"), "--device", folder_, "alert", jsonAt(s, "/alerts/0/id").dump(), "ok"});
    EXPECT_EQ(wrong.code, 1);
    EXPECT_NE(wrong.err.find("has no button ok (its buttons: OK)"), std::string::npos) << wrong.err;
    ASSERT_EQ(device({"alert", jsonAt(s, "/alerts/0/id").dump(), "OK"}).code, 0);

    ASSERT_EQ(device({"lock"}).code, 0);
    ASSERT_EQ(device({"unlock"}).code, 0);
    EXPECT_EQ(jsonAt(status(), "/alerts").size(), 0u);
}

TEST_F(Device, RespringNowRestartsSpringBoardAndTheTweakStartsAgain) {
    std::string before = springBoardPid();
    ASSERT_FALSE(before.empty());
    // The switch is negated: off stores true, a change from the start value, so the page offers a respring.
    Result r = settings({"set", "ncstatus", "false", "--button", "Respring Now"});
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(waitFor([&] {
        std::string now = springBoardPid();
        return !now.empty() && now != before;
    }));
    std::string log = device({"log", "-n", "1000"}).out;
    EXPECT_EQ(count(log, "Vantrel by Quennick Loaded."), 2u) << log;
    EXPECT_EQ(settings({"set", "hideall", "true"}).code, 0);
    EXPECT_TRUE(waitFor([&] { return enabledItems() == 0; }, 5.0));
}

TEST_F(Device, AUserInfoThatIsNoIntegerGivesToggleErrorAndSpringBoardGoesOn) {
    std::string address = busAddressOf(folder_);
    ASSERT_FALSE(address.empty());
    platform::SdEventRunLoop loop;
    {
        platform::DBusNotificationCenter center(address, loop);
        ASSERT_TRUE(center.isConnected());
        platform::Dictionary bad{{"itemToggled", "ninety-nine"}};
        center.post("vantrel.SettingsChanged", &bad);
        platform::Dictionary tooWide{{"itemToggled", 4294967395LL}};  // 99 + 2^32: no 32-bit read
        center.post("vantrel.SettingsChanged", &tooWide);
    }  // flushed on close
    // Both are shown, as one alert that counts them.
    EXPECT_TRUE(waitFor([&] { return jsonAt(status(), "/alerts/0/count") == 2; }, 5.0)) << status();
    EXPECT_EQ(alertsTitled(status(), "Toggle Error"), 1u);
    ASSERT_EQ(settings({"set", "hideall", "true"}).code, 0);
    EXPECT_TRUE(waitFor([&] { return enabledItems() == 0; }, 5.0));
}

// The fields of `status --json` as the command-line document lists them, as JSON pointers
// ("alerts[].id" is "/alerts/0/id").
std::vector<std::string> documentedStatusFields() {
    std::ifstream doc(std::string(VANTREL_SOURCE_DIR) + "/docs/cli.md");
    std::vector<std::string> fields;
    bool inSection = false;
    for (std::string line; std::getline(doc, line);) {
        if (line.rfind("## ", 0) == 0) inSection = line == "## `status --json`";
        if (!inSection || line.rfind("| `", 0) != 0) continue;
        std::string name = line.substr(3, line.find('`', 3) - 3), pointer = "/";
        for (char c : name) pointer += c == '.' ? "/" : c == '[' ? "/0" : c == ']' ? "" : std::string(1, c);
        fields.push_back(pointer);
    }
    return fields;
}

TEST_F(Device, StatusJsonHasEveryDocumentedFieldAndTheHardware) {
    auto fields = documentedStatusFields();
    ASSERT_GT(fields.size(), 10u) << "docs/cli.md lists no status fields";
    // An alert on screen, so the fields of its entries are there to check.
    ASSERT_EQ(device({"lock"}).code, 0);
    ASSERT_EQ(device({"unlock"}).code, 0);
    ASSERT_EQ(device({"set", "batteryLevel=20", "charging=true", "wifiNetwork=Caf\xc3\xa9", "clock=09:41"}).code, 0);
    auto s = status();
    ASSERT_FALSE(s.is_discarded());
    for (const auto& f : fields) EXPECT_TRUE(s.contains(nlohmann::json::json_pointer(f))) << f << " missing in " << s;
    EXPECT_EQ(jsonAt(s, "/schema"), 1);
    EXPECT_EQ(jsonAt(s, "/battery/level"), 20);
    EXPECT_EQ(jsonAt(s, "/battery/charging"), true);
    EXPECT_EQ(jsonAt(s, "/wifi/network"), "Caf\xc3\xa9");
    // The lock screen's clock is the device's, in the time item's form.
    EXPECT_TRUE(jsonAt(s, "/clock/local").get<std::string>().ends_with("T09:41")) << s;
    EXPECT_EQ(jsonAt(s, "/time/text"), "09:41 AM");
    EXPECT_EQ(jsonAt(s, "/clock/twentyFourHour"), false);
    ASSERT_EQ(settings({"set", "1224", "true"}).code, 0);
    EXPECT_EQ(jsonAt(status(), "/clock/twentyFourHour"), true);
}

}  // namespace
