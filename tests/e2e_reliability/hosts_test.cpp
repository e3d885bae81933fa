// A running device under abuse: damaged preference files swapped in under its SpringBoard, and
// a burst of ten thousand settings-change notifications on the device bus. Each case has a
// device folder of its own under /tmp; every program started here is ended by its pid, and
// every wait has a reaper timeout.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/dbus_notifications.h"
#include "platform/foundation/file.h"
#include "platform/foundation/plist.h"
#include "platform/foundation/sdevent_runloop.h"
#include "tests/e2e/process.h"
#include "tests/e2e_reliability/running_device.h"

namespace {

namespace fs = std::filesystem;
using namespace vantrel::test;

void putBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    // Swapped in whole, as an editor or a broken writer would leave it.
    std::string tmp = path + ".swap";
    std::ofstream(tmp, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    fs::rename(tmp, path);
}

std::vector<uint8_t> binaryOf(const platform::Dictionary& d) {
    return *platform::serializeBinaryPropertyList(platform::Value(d));
}

TEST_F(RunningDevice, DamagedFilesSwappedInKeepSpringBoardRunningOnTheFallbacks) {
    std::string pid = springBoardPid();
    ASSERT_FALSE(pid.empty());
    const size_t all = enabledItems();
    ASSERT_GT(all, 5u);
    std::string path = mainPreferences();
    auto good = binaryOf({{"hideall", true}});
    std::vector<uint8_t> random(4096);
    std::mt19937 rng(11);
    for (auto& b : random) b = static_cast<uint8_t>(rng());
    std::string deep = "<plist>";
    for (int i = 0; i < 20000; ++i) deep += "<array>";
    std::vector<std::pair<const char*, std::function<void()>>> corpus = {
        {"empty", [&] { putBytes(path, {}); }},
        {"truncated binary",
         [&] {
             putBytes(path, {good.begin(), good.begin() + static_cast<long>(good.size() / 2)});
         }},
        {"random bytes", [&] { putBytes(path, random); }},
        {"XML with errors",
         [&] {
             std::string x = "<plist><dict><key>hideall</key><true/></plist>";
             putBytes(path, {x.begin(), x.end()});
         }},
        {"root array", [&] { putBytes(path, *platform::serializeBinaryPropertyList(platform::Value(platform::Array{1}))); }},
        {"wrong types",
         [&] {
             putBytes(path, binaryOf({{"hideall", platform::Array{1}},
                                      {"clockformat", platform::Data{{1}}},
                                      {"timeText", platform::Dictionary{}},
                                      {"carrierText", 5}}));
         }},
        {"deep nesting",
         [&] {
             putBytes(path, {deep.begin(), deep.end()});
         }},
        {"over 1 MiB",
         [&] {
             platform::Dictionary d{{"hideall", true}, {"pad", std::string(platform::kMaxPropertyListFileSize, 'x')}};
             putBytes(path, binaryOf(d));
         }},
        {"directory",
         [&] {
             fs::remove_all(path);
             fs::create_directory(path);
         }},
        {"dangling link",
         [&] {
             fs::remove_all(path);
             fs::create_symlink(folder_ + "/nowhere", path);
         }},
    };
    for (auto& [name, make] : corpus) {
        SCOPED_TRACE(name);
        make();
        post(99);
        // Whatever the file, every switch reads false: every item SpringBoard wants is shown.
        EXPECT_TRUE(waitFor([&] { return enabledItems() == all; }, 5.0)) << status();
        EXPECT_EQ(springBoardPid(), pid);
        fs::remove_all(path);
        putBytes(path, good);  // the next good file is picked up
        post(99);
        EXPECT_TRUE(waitFor([&] { return enabledItems() == 0; }, 5.0));
        EXPECT_EQ(springBoardPid(), pid);
    }
    EXPECT_EQ(count(device({"log", "-n", "100000"}).out, "more than a preference file"), 1u);
}

TEST_F(RunningDevice, TenThousandNotificationsLeaveSpringBoardResponsive) {
    std::string pid = springBoardPid();
    ASSERT_FALSE(pid.empty());
    const size_t all = enabledItems();
    post(5, 1000);  // warm up: the allocator's pools, the bus buffers
    ASSERT_TRUE(waitFor([&] { return !status().empty(); }));
    long baseline = residentKiB(pid);

    post(5, 10000);
    // The tap is answered and handled behind the burst; how fast is the flood benchmark's to say.
    ASSERT_EQ(device({"tap"}).code, 0);
    EXPECT_TRUE(waitFor(
        [&] {
            auto d = platform::readDictionaryFile(mainPreferences());
            const platform::Value* v = d ? platform::lookup(*d, "clockformat") : nullptr;
            return v && v->integer() && *v->integer() == 1;
        },
        60.0));
    // Nothing was lost: a change posted after the burst lands after all of it.
    auto d = platform::readDictionaryFile(mainPreferences());
    ASSERT_TRUE(d);
    (*d)["hideall"] = true;
    ASSERT_TRUE(platform::writeDictionaryFile(mainPreferences(), *d));
    post(99);
    EXPECT_TRUE(waitFor([&] { return enabledItems() == 0; }, 60.0));
    (*d)["hideall"] = false;
    ASSERT_TRUE(platform::writeDictionaryFile(mainPreferences(), *d));
    post(99);
    EXPECT_EQ(springBoardPid(), pid);
    EXPECT_TRUE(waitFor([&] { return enabledItems() == all; }, 60.0));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    long after = residentKiB(pid);
    RecordProperty("rss_kib_before", std::to_string(baseline));
    RecordProperty("rss_kib_after", std::to_string(after));
#if !defined(__SANITIZE_ADDRESS__)
    // Sanitized, freed memory sits in quarantine; leaks are LeakSanitizer's to report there.
    EXPECT_LE(after, baseline + 4096) << "resident memory grew by " << (after - baseline) << " KiB";
#endif
}

// The Settings page changing switches while SpringBoard's gesture rewrites the clock mode:
// neither side may revert what the other wrote, and every read in between parses.
TEST_F(RunningDevice, TwoWritersInterleavedLoseNoUpdate) {
#if defined(__SANITIZE_ADDRESS__)
    constexpr int kEach = 250;  // every tap starts a sanitized program: a quarter keeps CI's time
#else
    constexpr int kEach = 1000;
#endif
    openSession();
    ASSERT_NE(ask("show").find("lockclock"), std::string::npos);
    std::atomic<bool> done{false};
    std::atomic<int> unreadable{0}, reads{0};
    std::thread reader([&] {
        while (!done) {
            if (!platform::readDictionaryFile(mainPreferences())) ++unreadable;
            ++reads;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::atomic<int> failedTaps{0};
    std::thread gestures([&] {
        std::vector<std::string> tap = {bin("vantrel-device"), "--device", folder_, "tap"};
        for (int i = 0; i < kEach; ++i)
            if (run(tap, 4 * kReaper).code != 0) ++failedTaps;  // a loaded machine: a longer reaper
    });
    // Whatever fails below, both threads are joined first.
    struct Join {
        std::thread& a;
        std::thread& b;
        std::atomic<bool>& done;
        ~Join() {
            done = true;
            if (a.joinable()) a.join();
            if (b.joinable()) b.join();
        }
    } join{gestures, reader, done};
    const char* keys[] = {"lockclock", "samelockstatusbar", "timeandram", "hideallls"};
    std::map<std::string, bool> last;
    for (int i = 0; i < kEach; ++i) {
        const char* key = keys[i % 4];
        bool on = (i / 4) % 2 == 0;
        ask(std::string("set ") + key + (on ? " true" : " false"));
        last[key] = on;
    }
    gestures.join();
    ASSERT_EQ(failedTaps.load(), 0);
    auto clockMode = [&] {
        auto d = platform::readDictionaryFile(mainPreferences());
        const platform::Value* v = d ? platform::lookup(*d, "clockformat") : nullptr;
        return v && v->integer() ? *v->integer() : -1;
    };
    EXPECT_TRUE(waitFor([&] { return clockMode() == kEach % 6; }, 10.0)) << "clock mode " << clockMode();
    done = true;
    reader.join();
    EXPECT_EQ(unreadable.load(), 0) << "of " << reads.load() << " reads";
    auto prefs = platform::readDictionaryFile(mainPreferences());
    ASSERT_TRUE(prefs);
    for (const auto& [key, on] : last) {
        const platform::Value* v = platform::lookup(*prefs, key);
        ASSERT_TRUE(v && v->boolean()) << key;
        EXPECT_EQ(*v->boolean(), on) << key << " was reverted";
    }
}

TEST_F(RunningDevice, DeviceBusAndFoldersAreThisUsersAlone) {
    struct stat st;
    std::string socket = address_.substr(address_.find("path=") + 5);
    socket = socket.substr(0, socket.find(','));
    ASSERT_EQ(stat(socket.c_str(), &st), 0) << socket;
    std::string busFolder = socket.substr(0, socket.rfind('/'));
    ASSERT_EQ(stat(busFolder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << busFolder;
    EXPECT_EQ(st.st_uid, getuid());
    for (const auto& e : fs::recursive_directory_iterator(folder_, fs::directory_options::skip_permission_denied)) {
        if (e.is_symlink()) continue;
        ASSERT_EQ(lstat(e.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IWOTH, 0u) << e.path() << " is world-writable";
    }
}

}  // namespace
