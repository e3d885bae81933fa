// A running device under floods and hostile peers on its bus: bad and valid notification floods,
// a client taking SpringBoard's name, a connection cut under SpringBoard, a signal of megabytes.
// One device folder per case under /tmp; every program started here is ended by its pid, and
// every wait has a reaper timeout. Timings belong to bench/device_flood_bench.cpp.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <systemd/sd-bus.h>

#include "platform/foundation/dbus_notifications.h"
#include "platform/foundation/file.h"
#include "platform/foundation/plist.h"
#include "platform/foundation/sdevent_runloop.h"
#include "tests/e2e_reliability/running_device.h"

namespace {

namespace fs = std::filesystem;
using namespace vantrel::test;

using platform::BusPtr;

class FloodedDevice : public RunningDevice {
protected:
    BusPtr connect() { return joinBus(address_); }

public:
    // The cases of the table.
    void badCodeFlood();
    void tapDuringValidFlood();
    void impostorTakesTheNameAndLeaves();
    void closedConnectionEndsTheHost();
    void megabyteSignals();
};

void FloodedDevice::badCodeFlood() {
    constexpr int kBad = 20000;
    post({{"itemToggled", "ninety-nine"}}, kBad / 2);
    post({{"itemToggled", 1.5}}, kBad / 2);
    // Every bad notification is shown, as one alert that counts them.
    ASSERT_TRUE(waitFor([&] { return firstAlertCount() == kBad; }, 120.0)) << status();
    std::string s = status();
    auto shown = jsonAt(parseJson(s), "/alerts");
    ASSERT_EQ(shown.size(), 1u) << s;
    EXPECT_EQ(shown[0].value("title", ""), "Toggle Error");
    EXPECT_LT(s.size(), 16u * 1024);
    ASSERT_EQ(device({"alert", shown[0]["id"].dump(), "OK"}).code, 0);
    EXPECT_TRUE(alerts().empty());
}

void FloodedDevice::tapDuringValidFlood() {
    constexpr int kFlood = 30000;
    writeMain({{"clockformat", 0}});
    post({{"itemToggled", 99}}, kFlood);
    auto start = std::chrono::steady_clock::now();
    Result tap = device({"tap"});  // the control tool gives up after 5 s
    double tapSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(tap.code, 0) << "the tap was not answered while the flood was handled";
    RecordProperty("tap_seconds_during_flood", std::to_string(tapSeconds));
    // Nothing is lost: a change posted after the flood still lands, after all of it.
    auto d = *platform::readDictionaryFile(mainPreferences());
    EXPECT_EQ(*platform::lookup(d, "clockformat")->integer(), 1);
    d["hideall"] = true;
    writeMain(d);
    post({{"itemToggled", 99}}, 1);
    EXPECT_TRUE(waitFor([&] { return enabledItems() == 0; }, 300.0));
}

void FloodedDevice::impostorTakesTheNameAndLeaves() {
    BusPtr impostor = connect();
    ASSERT_TRUE(impostor);
    // SpringBoard does not hand its name over; a peer can only queue for it.
    EXPECT_LT(sd_bus_request_name(impostor.get(), "com.apple.springboard", SD_BUS_NAME_REPLACE_EXISTING), 0);
    EXPECT_GE(sd_bus_request_name(impostor.get(), "com.apple.springboard", SD_BUS_NAME_QUEUE), 0);
    // No other name may be owned on the device bus.
    EXPECT_LT(sd_bus_request_name(impostor.get(), "com.quennick.vantrel.other", 0), 0);
    EXPECT_EQ(device({"ping"}).code, 0);
    // SpringBoard goes away: the queued peer gets the name, the new SpringBoard queues behind it.
    std::string pid = springBoardPid();
    ASSERT_FALSE(pid.empty());
    ::kill(std::stoi(pid), SIGTERM);
    const char* owner = nullptr;
    const char* unique = nullptr;
    sd_bus_get_unique_name(impostor.get(), &unique);
    ASSERT_TRUE(waitFor(
        [&] {
            sd_bus_process(impostor.get(), nullptr);
            char* name = nullptr;
            sd_bus_creds* creds = nullptr;
            if (sd_bus_get_name_creds(impostor.get(), "com.apple.springboard", SD_BUS_CREDS_UNIQUE_NAME, &creds) < 0)
                return false;
            bool mine = sd_bus_creds_get_unique_name(creds, &owner) >= 0 && owner && std::string(owner) == unique;
            sd_bus_creds_unref(creds);
            (void)name;
            return mine;
        },
        10.0));
    impostor.reset();  // leaves
    std::string now;
    EXPECT_TRUE(waitFor([&] {
        now = springBoardPid();
        return !now.empty() && now != pid;
    })) << "SpringBoard did not get its name back";
    EXPECT_EQ(count(log(), "SpringBoard: owns com.apple.springboard"), 2u) << log();
}

void FloodedDevice::closedConnectionEndsTheHost() {
    std::string pid = springBoardPid();
    ASSERT_FALSE(pid.empty());
    // Cut one of SpringBoard's bus connections from outside, as the daemon does to a client.
    platform::Fd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, std::stoi(pid), 0)));
    int cut = -1;
    for (const auto& e : fs::directory_iterator("/proc/" + pid + "/fd")) {
        std::error_code ec;
        if (fs::read_symlink(e.path(), ec).string().rfind("socket:", 0) != 0) continue;
        platform::Fd fd(!pidfd ? -1
                               : static_cast<int>(::syscall(SYS_pidfd_getfd, pidfd.get(), std::stoi(e.path().filename()), 0)));
        if (fd) {
            cut = ::shutdown(fd.get(), SHUT_RDWR);
            break;
        }
    }
    pidfd.reset();
    if (cut != 0) GTEST_SKIP() << "this machine does not let us reach another process's socket";
    std::string now;
    EXPECT_TRUE(waitFor([&] {
        now = springBoardPid();
        return !now.empty() && now != pid;
    })) << "launchd did not start SpringBoard again";
    std::string l = log();
    EXPECT_NE(l.find("connection; exiting for launchd"), std::string::npos);
    EXPECT_NE(l.find("SpringBoard ended (status 69)"), std::string::npos) << l;
}

void FloodedDevice::megabyteSignals() {
    BusPtr bus = connect();
    ASSERT_TRUE(bus);
    // One signal of about 2 MB whose entries are all of a type notifications do not carry, then
    // more small ones than the log's burst.
    auto send = [&](int entries) {
        platform::MessagePtr m;
        ASSERT_GE(sd_bus_message_new_signal(bus.get(), platform::out(m), platform::kNotificationObjectPath,
                                            platform::kNotificationInterface, platform::kNotificationMember),
                  0);
        sd_bus_message* raw = m.get();
        sd_bus_message_append(raw, "sb", "vantrel.SettingsChanged", 1);
        sd_bus_message_open_container(raw, 'a', "{sv}");
        for (int i = 0; i < entries; ++i)
            sd_bus_message_append(raw, "{sv}", ("k" + std::to_string(i)).c_str(), "as", 1, "0123456789abcdef");
        sd_bus_message_close_container(raw);
        ASSERT_GE(sd_bus_send(bus.get(), raw, nullptr), 0);
    };
    send(50000);
    constexpr int kSmall = 1500;
    for (int i = 0; i < kSmall; ++i) send(1);
    sd_bus_flush(bus.get());
    ASSERT_TRUE(waitFor([&] { return firstAlertCount() == kSmall + 1; }, 120.0));
    // SpringBoard writes what it suppressed before it exits.
    std::string pid = springBoardPid();
    ::kill(std::stoi(pid), SIGTERM);
    ASSERT_TRUE(waitFor([&] { return log().find("suppressed ") != std::string::npos; }, 10.0));
    std::string l = log();
    EXPECT_LE(count(l, "left out"), 1000u);
    EXPECT_LT(l.size(), 1024u * 1024);
}

struct FloodCase {
    const char* name;
    void (FloodedDevice::*run)();
};

void PrintTo(const FloodCase& c, std::ostream* os) { *os << c.name; }

class Flood : public FloodedDevice, public ::testing::WithParamInterface<FloodCase> {};

TEST_P(Flood, SpringBoardStaysBoundedAnsweringAndOnItsBus) { (this->*GetParam().run)(); }

INSTANTIATE_TEST_SUITE_P(Table, Flood,
                         ::testing::Values(FloodCase{"BadCodes", &FloodedDevice::badCodeFlood},
                                           FloodCase{"TapDuringValidFlood", &FloodedDevice::tapDuringValidFlood},
                                           FloodCase{"ImpostorTakesTheNameAndLeaves",
                                                     &FloodedDevice::impostorTakesTheNameAndLeaves},
                                           FloodCase{"ClosedConnection", &FloodedDevice::closedConnectionEndsTheHost},
                                           FloodCase{"MegabyteSignals", &FloodedDevice::megabyteSignals}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
