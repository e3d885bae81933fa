// SpringBoard's typed interface driven by clients we did not write: busctl (introspection,
// properties, calls) and plain sd-bus (error names, PropertiesChanged), beside vantrel-device.
// Each case runs on a fresh device folder of its own; every wait has a reaper timeout.
#include <gtest/gtest.h>

#include <systemd/sd-bus.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/file.h"
#include "tests/e2e/process.h"
#include "tests/scratch.h"

namespace {

using namespace vantrel::test;

constexpr char kBusctl[] = "/usr/bin/busctl";
constexpr char kPath[] = "/com/apple/springboard";
constexpr char kInterface[] = "com.quennick.vantrel.Device";

class Interface : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(kBusctl)) << "busctl comes with the systemd package (./vantrel setup)";
        folder_ = scratchFolder("vantrel-e2e-interface");
        ASSERT_EQ(device({"start", "--fresh"}).code, 0);
        address_ = busAddressOf(folder_);
        ASSERT_FALSE(address_.empty());
        bus_ = joinBus(address_);
        ASSERT_TRUE(bus_);
    }
    void TearDown() override {
        bus_.reset();
        device({"stop"});
        std::filesystem::remove_all(folder_);
    }

    Result device(std::vector<std::string> words) {
        words.insert(words.begin(), {bin("vantrel-device"), "--device", folder_});
        return run(words);
    }
    Result busctl(std::vector<std::string> words) {
        words.insert(words.begin(), {kBusctl, "--address=" + address_});
        return run(words);
    }
    std::string property(const std::string& name) {
        std::string out = busctl({"get-property", "com.apple.springboard", kPath, kInterface, name}).out;
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    }
    // The D-Bus error name a call ends with, or empty when it succeeds.
    template <typename... A>
    std::string errorOf(const char* method, const char* types, A... args) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        platform::MessagePtr reply;
        int r = sd_bus_call_method(bus_.get(), "com.apple.springboard", kPath, kInterface, method, &error, platform::out(reply),
                                   types, args...);
        std::string name = r < 0 && error.name ? error.name : "";
        sd_bus_error_free(&error);
        return name;
    }

public:
    void introspection();
    void lockedProperty();
    void unknownAlert();
    void badHardwareKey();
    void propertiesChangedAfterTap();

protected:
    std::string folder_, address_;
    platform::BusPtr bus_;
};

void Interface::introspection() {
    Result r = busctl({"introspect", "com.apple.springboard", kPath, kInterface});
    ASSERT_EQ(r.code, 0);
    for (const char* member :
         {".Tap ", ".Lock ", ".Unlock ", ".OpenNotificationCenter ", ".CloseNotificationCenter ", ".AnswerAlert ",
          ".SetHardware ", ".Status ", ".StatusLine ", ".Locked ", ".Items ", ".TimeText ", ".TimePattern ", ".ServiceText ",
          ".DataNetworkType ", ".Alerts ", ".SafeMode ", ".StatusBarRedrawn "})
        EXPECT_NE(r.out.find(member), std::string::npos) << member << " missing from\n" << r.out;
    for (const char* member : {".GetHardware ", ".ResetHardware "})
        EXPECT_NE(r.out.find(member), std::string::npos) << member << " missing from\n" << r.out;
    EXPECT_EQ(r.out.find(".Control "), std::string::npos);
    // The full XML names the arguments too.
    std::string xml = busctl({"introspect", "--xml-interface", "com.apple.springboard", kPath}).out;
    EXPECT_NE(xml.find("name=\"button\""), std::string::npos) << xml;
    EXPECT_NE(property("SafeMode"), "");
}

void Interface::lockedProperty() {
    EXPECT_EQ(property("Locked"), "b false");
    ASSERT_EQ(busctl({"call", "com.apple.springboard", kPath, kInterface, "Lock"}).code, 0);
    EXPECT_EQ(property("Locked"), "b true");
    ASSERT_EQ(device({"unlock"}).code, 0);
    EXPECT_EQ(property("Locked"), "b false");
    EXPECT_EQ(property("SafeMode"), "b false");
}

void Interface::unknownAlert() {
    EXPECT_EQ(errorOf("AnswerAlert", "ts", uint64_t{424242}, "OK"), "com.quennick.vantrel.Error.NoSuchAlert");
    EXPECT_NE(busctl({"call", "com.apple.springboard", kPath, kInterface, "AnswerAlert", "ts", "424242", "OK"}).code, 0);
    EXPECT_EQ(device({"alert", "424242", "OK"}).code, 1);
    EXPECT_EQ(device({"alert", "first", "OK"}).code, 2);
}

void Interface::badHardwareKey() {
    const std::string before = property("Items");
    const std::string line = device({"status"}).out;
    ASSERT_NE(line.find("87%"), std::string::npos) << line;
    // One bad key, or one good key of the wrong type: nothing at all is applied.
    EXPECT_EQ(errorOf("SetHardware", "a{sv}", 2, "batteryLevel", "i", 5, "noSuchKey", "s", "x"),
              "com.quennick.vantrel.Error.InvalidArgument");
    EXPECT_EQ(errorOf("SetHardware", "a{sv}", 2, "batteryLevel", "i", 5, "wifiNetwork", "d", 1.5),
              "com.quennick.vantrel.Error.InvalidArgument");
    // The command line's table holds on the bus too: out of range, or no address.
    EXPECT_EQ(errorOf("SetHardware", "a{sv}", 2, "charging", "b", 1, "batteryLevel", "i", 500),
              "com.quennick.vantrel.Error.InvalidArgument");
    EXPECT_EQ(errorOf("SetHardware", "a{sv}", 1, "wifiAddress", "s", "1.2.3"), "com.quennick.vantrel.Error.InvalidArgument");
    EXPECT_EQ(jsonAt(parseJson(device({"status", "--json"}).out), "/battery/charging"), false);
    EXPECT_NE(busctl({"call", "com.apple.springboard", kPath, kInterface, "SetHardware", "a{sv}", "2", "batteryLevel", "i", "5",
                      "noSuchKey", "s", "x"})
                  .code,
              0);
    EXPECT_EQ(device({"set", "batteryLevel=5", "noSuchKey=1"}).code, 1);
    EXPECT_NE(device({"status"}).out.find("87%"), std::string::npos);
    auto stored = platform::readDictionaryFile(folder_ + "/device.plist");
    ASSERT_TRUE(stored);
    EXPECT_EQ(platform::lookup(*stored, "noSuchKey"), nullptr);
    EXPECT_EQ(*platform::lookup(*stored, "batteryLevel")->integer(), 87);
    EXPECT_EQ(property("Items"), before);
    // The good ones, typed by busctl and by the command line's words.
    EXPECT_EQ(
        busctl({"call", "com.apple.springboard", kPath, kInterface, "SetHardware", "a{sv}", "1", "batteryLevel", "i", "20"}).code,
        0);
    EXPECT_NE(device({"status"}).out.find("20%"), std::string::npos);
    EXPECT_EQ(device({"set", "batteryLevel=30", "installedApps=[Twitter]"}).code, 0);
    EXPECT_NE(device({"status"}).out.find("30%"), std::string::npos);
    // ResetHardware: all or nothing as SetHardware; GetHardware reads what it left.
    EXPECT_EQ(errorOf("ResetHardware", "as", 2, "batteryLevel", "noSuchKey"), "com.quennick.vantrel.Error.InvalidArgument");
    EXPECT_NE(device({"status"}).out.find("30%"), std::string::npos);
    EXPECT_EQ(busctl({"call", "com.apple.springboard", kPath, kInterface, "ResetHardware", "as", "1", "batteryLevel"}).code, 0);
    Result got =
        busctl({"call", "com.apple.springboard", kPath, kInterface, "GetHardware", "as", "2", "batteryLevel", "installedApps"});
    EXPECT_NE(got.out.find(R"({\"batteryLevel\":87,\"installedApps\":[\"Twitter\"]})"), std::string::npos) << got.out;
}

void Interface::propertiesChangedAfterTap() {
    std::vector<std::string> changed;
    auto onChanged = [](sd_bus_message* m, void* userdata, sd_bus_error*) {
        const char* interface = nullptr;
        if (sd_bus_message_read(m, "s", &interface) < 0) return 0;
        if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) return 0;
        while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
            const char* name = nullptr;
            sd_bus_message_read(m, "s", &name);
            static_cast<std::vector<std::string>*>(userdata)->push_back(name ? name : "");
            sd_bus_message_skip(m, "v");
            sd_bus_message_exit_container(m);
        }
        return 0;
    };
    ASSERT_GE(sd_bus_match_signal(bus_.get(), nullptr, "com.apple.springboard", kPath, "org.freedesktop.DBus.Properties",
                                  "PropertiesChanged", onChanged, &changed),
              0);
    ASSERT_GE(sd_bus_call_method(bus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId",
                                 nullptr, nullptr, ""),
              0);                        // the match is in place
    ASSERT_EQ(device({"tap"}).code, 0);  // the clock moves to its next mode
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(kReaper);
    auto has = [&](const char* name) { return std::find(changed.begin(), changed.end(), name) != changed.end(); };
    while (!has("TimePattern") && std::chrono::steady_clock::now() < end) {
        if (sd_bus_process(bus_.get(), nullptr) > 0) continue;
        sd_bus_wait(bus_.get(), 100000);
    }
    EXPECT_TRUE(has("TimePattern"));
    EXPECT_FALSE(has("Locked")) << "only what changed is announced";
}

struct Case {
    const char* name;
    void (Interface::*run)();
};

class Typed : public Interface, public ::testing::WithParamInterface<Case> {};

TEST_P(Typed, BusctlAndTheControlToolSeeOneTypedInterface) { (this->*GetParam().run)(); }

INSTANTIATE_TEST_SUITE_P(Table, Typed,
                         ::testing::Values(Case{"Introspection", &Interface::introspection},
                                           Case{"LockedBeforeAndAfterLock", &Interface::lockedProperty},
                                           Case{"UnknownAlertIsNoSuchAlert", &Interface::unknownAlert},
                                           Case{"OneBadHardwareKeyAppliesNothing", &Interface::badHardwareKey},
                                           Case{"PropertiesChangedAfterTap", &Interface::propertiesChangedAfterTap}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
