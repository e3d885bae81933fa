// The Settings application with the bundle's pages, on a manual clock and an in-process
// notification centre, in a temporary device folder whose var/mobile is the home. Every post of
// "vantrel.SettingsChanged" is recorded with the three preference files as they were at that
// moment, so a test sees whether the file was written before the post.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/foundation/file.h"
#include "platform/foundation/home.h"
#include "platform/foundation/log.h"
#include "platform/foundation/notifications.h"
#include "platform/foundation/runloop.h"
#include "platform/preferences/settings_app.h"
#include "platform/device/device_state.h"
#include "platform/system/cfversion.h"
#include "platform/system/shell.h"
#include "platform/uikit/alert.h"
#include "platform/uikit/application.h"
#include "prefs/page.h"
#include "prefs/pages.h"
#include "shared/settings.h"
#include "tests/scratch.h"

namespace vantrel::test {

struct Post {
    std::string name;
    std::optional<Dictionary> userInfo;
    std::optional<Dictionary> main, tester, faker;  // the files when the post was made
};

class RecordingCenter : public platform::NotificationCenter {
public:
    std::vector<Post> posts;
    platform::InProcessNotificationCenter inner;
    void post(const std::string& name, const Dictionary* userInfo) override {
        posts.push_back({name, userInfo ? std::optional<Dictionary>(*userInfo) : std::nullopt,
                         readPreferences(PreferenceFile::Main), readPreferences(PreferenceFile::IconTester),
                         readPreferences(PreferenceFile::DataFaker)});
        inner.post(name, userInfo);
    }
    void addObserver(const std::string& name, std::function<void(const Dictionary*)> cb, platform::RunLoop& loop) override {
        inner.addObserver(name, std::move(cb), loop);
    }
    // The item codes of the settings-changed posts so far.
    std::vector<int> codes() const {
        std::vector<int> out;
        for (const auto& p : posts)
            if (p.name == kSettingsChangedNotification && p.userInfo)
                out.push_back(platform::readInt32(platform::lookup(*p.userInfo, kItemToggledKey)).value_or(-1));
        return out;
    }
};

class PrefsTest : public ::testing::Test {
protected:
    static platform::ManualRunLoop& loop() {
        static platform::ManualRunLoop l;
        return l;
    }
    static RecordingCenter& center() {
        static RecordingCenter c;
        return c;
    }

    void SetUp() override {
        alarm(60);  // reaper: a hung case ends the process instead of the run
        device_ = vantrel::test::scratchFolder("vantrel-prefs");
        std::filesystem::create_directories(device_ + "/var/mobile");
        platform::setHomeDirectory(device_ + "/var/mobile");
        platform::RunLoop::setMain(&loop());
        platform::NotificationCenter::setDistributed(&center());
        platform::setLogToStderr(false);
        prefs::registerPageClasses(VANTREL_SOURCE_DIR "/prefs/resources");
        platform::deviceState() = platform::DeviceState{};
        platform::clearAlerts();
        platform::clearShellCommands();
        platform::setSpringBoardRestartHandler([this] { ++restarts_; });
        platform::UIApplication::sharedApplication().clearOpenedURLs();
        prefs::isAnimationRunning = false;
        loop().runPending();
        center().posts.clear();
    }

    void TearDown() override {
        for (id page : pages_) platform::leaveController(page);
        loop().runPending();
        platform::clearAlerts();
        platform::setSpringBoardRestartHandler(nullptr);
        std::filesystem::remove_all(device_);
        alarm(0);
    }

    // Puts the tune where the bundle lies on the device.
    void installMusic() {
        std::string dir = device_ + "/Library/PreferenceBundles/Vantrel.bundle";
        std::filesystem::create_directories(dir);
        std::filesystem::copy_file(VANTREL_SOURCE_DIR "/prefs/resources/chiptune.m4a", dir + "/chiptune.m4a");
    }

    // A page the fixture leaves at the end of the case.
    id open(const char* name) {
        id page = prefs::openPage(name);
        if (page) pages_.push_back(page);
        loop().runPending();
        center().posts.clear();
        return page;
    }
    void leave(id page) {
        std::erase(pages_, page);
        platform::leaveController(page);
    }

    // A specifier as a switch row of the page's file would make it.
    platform::PSSpecifier* specifier(const std::string& key, bool negate = false, platform::PSValue fallback = std::nullopt) {
        auto s = std::make_shared<platform::PSSpecifier>();
        s->properties["cell"] = "PSSwitchCell";
        s->properties["key"] = key;
        if (negate) s->properties["negate"] = true;
        if (fallback) s->properties["default"] = *fallback;
        specifiers_.push_back(s);
        return s.get();
    }

    static void set(id page, platform::PSSpecifier* s, platform::PSValue v) {
        platform::setControllerValue(page, s, std::move(v));
    }
    static platform::PSValue read(id page, platform::PSSpecifier* s) {
        return msgSend<platform::PSValue>(page, sel_registerName("readPreferenceValue:"), s);
    }
    static void send(id page, const char* selector) { msgSend<void>(page, sel_registerName(selector), id{nullptr}); }

    static std::shared_ptr<platform::UIAlertView> topAlert() {
        auto alerts = platform::visibleAlerts();
        return alerts.empty() ? nullptr : alerts.back();
    }

    std::string device_;
    int restarts_ = 0;
    std::vector<id> pages_;
    std::vector<std::shared_ptr<platform::PSSpecifier>> specifiers_;
};

}  // namespace vantrel::test
