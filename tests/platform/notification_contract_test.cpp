// One contract for every notification centre and every run loop: the in-process centre on the
// manual loop, and the D-Bus centre on sd-event with a private dbus-daemon that this test starts
// and ends by its pid. Two D-Bus connections stand for two processes on the device bus.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/wait.h>

#include <systemd/sd-bus.h>

#include "platform/foundation/dbus_notifications.h"
#include "platform/foundation/device_bus.h"
#include "platform/foundation/notifications.h"
#include "platform/foundation/runloop.h"
#include "platform/foundation/sd_ptr.h"
#include "platform/foundation/sdevent_runloop.h"
#include "tests/scratch.h"

namespace platform {
namespace {

constexpr double kReaper = 5.0;  // no asynchronous wait here lasts longer

// An integer inside `levels` arrays; the bus carries this many around a userInfo entry's variant.
constexpr int kDeepestArrays = (kMaxUserInfoNesting - 3) / 2;
Value nestedArrays(int levels) {
    Value v = 1;
    for (int i = 0; i < levels; ++i) v = Value(Array{std::move(v)});
    return v;
}

class Harness {
public:
    virtual ~Harness() = default;
    virtual RunLoop& loop() = 0;
    virtual NotificationCenter& center() = 0;
    // The same bus seen from another process (the in-process centre has only itself).
    virtual NotificationCenter& otherProcess() = 0;
    // Makes observers added so far visible to every poster.
    virtual void settle() = 0;
    // Runs the loop until done() or the reaper timeout.
    virtual bool runUntil(const std::function<bool()>& done) = 0;
    // Runs the loop for this long of its own time.
    virtual void runFor(double seconds) = 0;
};

class InProcessHarness : public Harness {
public:
    RunLoop& loop() override { return loop_; }
    NotificationCenter& center() override { return center_; }
    NotificationCenter& otherProcess() override { return center_; }
    void settle() override {}
    bool runUntil(const std::function<bool()>& done) override {
        for (int i = 0; i < 100 && !done(); ++i) loop_.advance(0.05);
        return done();
    }
    void runFor(double seconds) override { loop_.advance(seconds); }

private:
    ManualRunLoop loop_;
    InProcessNotificationCenter center_;
};

class DBusHarness : public Harness {
public:
    DBusHarness() {
        folder_ = vantrel::test::scratchFolder("vantrel-bus");
        std::string error;
        auto bus = startDeviceBus(folder_, kReaper, &error);
        if (!bus) {
            error_ = error;
            return;
        }
        pid_ = bus->pid;
        center_ = std::make_unique<DBusNotificationCenter>(bus->address, loop_);
        other_ = std::make_unique<DBusNotificationCenter>(bus->address, loop_);
    }
    ~DBusHarness() override {
        center_.reset();
        other_.reset();
        stopDeviceBus(pid_);
        std::system(("rm -rf '" + folder_ + "'").c_str());
    }
    const std::string& error() const { return error_; }

    RunLoop& loop() override { return loop_; }
    NotificationCenter& center() override { return *center_; }
    NotificationCenter& otherProcess() override { return *other_; }
    void settle() override {
        // A round trip on each connection: the daemon handles a connection's messages in order,
        // so its earlier AddMatch calls are in force once the reply is back.
        for (auto* c : {center_.get(), other_.get()}) {
            MessagePtr reply;
            sd_bus_call_method(c->bus(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId",
                               nullptr, out(reply), "");
        }
    }
    bool runUntil(const std::function<bool()>& done) override { return loop_.runUntil(done, kReaper); }
    void runFor(double seconds) override {
        loop_.runUntil([] { return false; }, seconds);
    }

private:
    std::string folder_, error_;
    pid_t pid_ = -1;
    SdEventRunLoop loop_;
    std::unique_ptr<DBusNotificationCenter> center_, other_;
};

using Factory = std::function<std::unique_ptr<Harness>()>;

struct Implementation {
    const char* name;
    Factory make;
};

class CentreAndLoopContract : public ::testing::TestWithParam<Implementation> {
protected:
    void SetUp() override {
        h_ = GetParam().make();
        if (auto* d = dynamic_cast<DBusHarness*>(h_.get()); d && !d->error().empty())
            GTEST_SKIP() << "no private bus: " << d->error();
    }

    struct Received {
        std::vector<std::optional<Dictionary>> infos;
        size_t count() const { return infos.size(); }
    };
    std::shared_ptr<Received> observe(NotificationCenter& center, const std::string& name) {
        auto r = std::make_shared<Received>();
        center.addObserver(
            name, [r](const Dictionary* info) { r->infos.push_back(info ? std::optional<Dictionary>(*info) : std::nullopt); },
            h_->loop());
        return r;
    }

    std::unique_ptr<Harness> h_;
};

TEST_P(CentreAndLoopContract, DeliversAfterPostReturnsToEveryObserverOfTheNameThePosterIncluded) {
    auto mine = observe(h_->center(), "vantrel.SettingsChanged");
    auto mineTwice = observe(h_->center(), "vantrel.SettingsChanged");
    auto elsewhere = observe(h_->otherProcess(), "vantrel.SettingsChanged");
    auto otherName = observe(h_->otherProcess(), "vantrel.AnimationChanged");
    h_->settle();

    Dictionary info{{"itemToggled", 99}};
    h_->center().post("vantrel.SettingsChanged", &info);
    EXPECT_EQ(mine->count(), 0u) << "delivered inside the posting call";

    ASSERT_TRUE(h_->runUntil([&] { return mine->count() >= 1 && mineTwice->count() >= 1 && elsewhere->count() >= 1; }));
    h_->runFor(0.05);
    EXPECT_EQ(mine->count(), 1u);
    EXPECT_EQ(mineTwice->count(), 1u);
    EXPECT_EQ(elsewhere->count(), 1u);
    EXPECT_EQ(otherName->count(), 0u);
    ASSERT_TRUE(mine->infos[0]);
    EXPECT_EQ(*mine->infos[0], info);
}

TEST_P(CentreAndLoopContract, KeepsTheUserInfoAsPostedAndAbsentStaysAbsent) {
    auto r = observe(h_->otherProcess(), "vantrel.Kinds");
    h_->settle();

    // Every property-list type, nested containers included, as deep as the bus carries them.
    const Dictionary kinds{{"int32", 26},
                           {"negative", -7},
                           {"int64", 5000000000LL},
                           {"int64min", std::numeric_limits<long long>::min()},
                           {"unsigned", Value::unsignedInteger(18446744073709551615ULL)},
                           {"real", 2.5},
                           {"text", "26"},
                           {"yes", true},
                           {"no", false},
                           {"date", Date{-978307200.5}},
                           {"data", Data{{0, 1, 0xff}}},
                           {"noData", Data{}},
                           {"array", Array{1, "two", Array{3.0, Data{{4}}}, Dictionary{{"five", Date{5}}}}},
                           {"noArray", Array{}},
                           {"dictionary", Dictionary{{"inner", Dictionary{{"itemToggled", 9991}}}, {"list", Array{true}}}},
                           {"noDictionary", Dictionary{}},
                           {"deepest", nestedArrays(kDeepestArrays)}};
    const Dictionary empty;
    h_->center().post("vantrel.Kinds", &kinds);
    h_->center().post("vantrel.Kinds", &empty);
    h_->center().post("vantrel.Kinds", nullptr);
    ASSERT_TRUE(h_->runUntil([&] { return r->count() >= 3; }));

    ASSERT_TRUE(r->infos[0]);
    EXPECT_EQ(*r->infos[0], kinds);
    const Dictionary& got = *r->infos[0];
    // What a 32-bit read sees: the one that does not fit fails, as would a real and a string.
    EXPECT_EQ(readInt32(lookup(got, "int32")), 26);
    EXPECT_EQ(readInt32(lookup(got, "negative")), -7);
    EXPECT_EQ(readInt32(lookup(got, "int64")), std::nullopt);
    EXPECT_TRUE(lookup(got, "real")->isReal());
    EXPECT_TRUE(lookup(got, "text")->isString());
    EXPECT_TRUE(lookup(got, "unsigned")->isLargeUnsigned());
    ASSERT_TRUE(r->infos[1]);
    EXPECT_TRUE(r->infos[1]->empty());
    EXPECT_FALSE(r->infos[2]);
}

TEST_P(CentreAndLoopContract, KeepsTheOrderOfPostsAndTakesPostsFromAnyThread) {
    auto r = observe(h_->otherProcess(), "vantrel.Order");
    h_->settle();
    for (int i = 0; i < 20; ++i) {
        Dictionary info{{"n", i}};
        h_->center().post("vantrel.Order", &info);
    }
    std::thread poster([&] {
        Dictionary info{{"n", 100}};
        h_->center().post("vantrel.Order", &info);
    });
    poster.join();
    ASSERT_TRUE(h_->runUntil([&] { return r->count() >= 21; }));
    for (int i = 0; i < 20; ++i) EXPECT_EQ(readInt32(lookup(*r->infos[static_cast<size_t>(i)], "n")), i);
    EXPECT_EQ(readInt32(lookup(*r->infos[20], "n")), 100);
}

TEST_P(CentreAndLoopContract, CFCallbacksRunOnTheMainLoopAndAThrowingOneDoesNotStopTheOthers) {
    RunLoop::setMain(&h_->loop());
    static std::atomic<int> calls{0};
    calls = 0;
    auto throwing = +[](CFNotificationCenterRef, void*, const std::string&, const void*, const Dictionary*) {
        ++calls;
        throw std::runtime_error("observer failed");
    };
    auto counting = +[](CFNotificationCenterRef, void*, const std::string&, const void*, const Dictionary*) { ++calls; };
    CFNotificationCenterAddObserver(&h_->center(), nullptr, throwing, "vantrel.Throw", nullptr, 0);
    CFNotificationCenterAddObserver(&h_->center(), nullptr, counting, "vantrel.Throw", nullptr, 0);
    h_->settle();
    // Even when asked to deliver immediately, a callback runs from the loop, never inside the post.
    CFNotificationCenterPostNotification(&h_->center(), "vantrel.Throw", nullptr, nullptr, true);
    CFNotificationCenterPostNotification(&h_->center(), "vantrel.Throw", nullptr, nullptr, true);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(h_->runUntil([&] { return calls >= 4; }));
    h_->runFor(0.05);
    EXPECT_EQ(calls, 4);  // each observer once per post
    RunLoop::setMain(nullptr);
}

TEST_P(CentreAndLoopContract, TimersFireInOrderRepeatAndStopWhenInvalidated) {
    RunLoop& loop = h_->loop();
    std::vector<std::string> fired;
    int ticks = 0;
    auto repeating = Timer::scheduled(loop, 0.1, Timer::Repeats::Yes, [&](Timer&) { ++ticks; });
    auto late = Timer::scheduled(loop, 0.25, Timer::Repeats::No, [&](Timer&) { fired.push_back("late"); });
    // Nobody keeps this handle: the loop does, until it fires.
    Timer::scheduled(loop, 0.15, Timer::Repeats::No, [&](Timer&) { fired.push_back("early"); });
    auto cancelled = Timer::scheduled(loop, 0.05, Timer::Repeats::No, [&](Timer&) { fired.push_back("cancelled"); });
    cancelled->invalidate();
    loop.perform([&] { fired.push_back("performed"); });

    h_->runFor(0.35);
    EXPECT_EQ(fired, (std::vector<std::string>{"performed", "early", "late"}));
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(late->isValid());
    repeating->invalidate();
    h_->runFor(0.15);
    EXPECT_EQ(ticks, 3);
}

TEST_P(CentreAndLoopContract, ATimerFiresOnItsDateNotASliceOfASecondLate) {
    RunLoop& loop = h_->loop();
    const double start = loop.now();
    double firedAt = 0;
    auto t = Timer::scheduled(loop, 0.2, Timer::Repeats::No, [&](Timer&) { firedAt = loop.now(); });
    ASSERT_TRUE(h_->runUntil([&] { return firedAt > 0; }));
    EXPECT_GE(firedAt - start, 0.2 - 1e-6);
    // The default slack of sd-event would make this 0.2 s timer come up to 0.25 s late.
    EXPECT_LT(firedAt - start, 0.35);
}

INSTANTIATE_TEST_SUITE_P(, CentreAndLoopContract,
                         ::testing::Values(Implementation{"InProcess",
                                                          [] { return std::unique_ptr<Harness>(new InProcessHarness); }},
                                           Implementation{"DBus", [] { return std::unique_ptr<Harness>(new DBusHarness); }}),
                         [](const auto& info) { return std::string(info.param.name); });

// The receiving end against signals nobody in this system sends: dropped or trimmed, never a crash.
TEST(DBusNotificationCenter, DropsMalformedSignalsAndSkipsUnknownEntries) {
    std::string folder = vantrel::test::scratchFolder("vantrel-bus");
    std::string error;
    auto bus = startDeviceBus(folder, kReaper, &error);
    if (!bus) GTEST_SKIP() << error;
    {
        SdEventRunLoop loop;
        DBusNotificationCenter center(bus->address, loop);
        std::vector<Dictionary> got;
        center.addObserver(
            "vantrel.SettingsChanged", [&](const Dictionary* info) { got.push_back(info ? *info : Dictionary{}); }, loop);
        MessagePtr reply;
        sd_bus_call_method(center.bus(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId",
                           nullptr, out(reply), "");

        auto emit = [&](const char* signature, auto&&... args) {
            MessagePtr m;
            sd_bus_message_new_signal(center.bus(), out(m), kNotificationObjectPath, kNotificationInterface, kNotificationMember);
            sd_bus_message_append(m.get(), signature, args...);
            sd_bus_send(center.bus(), m.get(), nullptr);
        };
        emit("s", "vantrel.SettingsChanged");      // no userInfo at all
        emit("si", "vantrel.SettingsChanged", 5);  // wrong shape
        // Entries of types we do not send, at the top and inside an array, are left out whole.
        emit("sba{sv}", "vantrel.SettingsChanged", 1, 3, "itemToggled", "i", 7, "odd", "ai", 2, 1, 2, "inner", "av", 2, "i", 1,
             "o", "/a");
        // Deeper than the bus carries: left out by the sender, so the rest still arrives.
        Dictionary tooDeep{{"itemToggled", 8}, {"deep", nestedArrays(kDeepestArrays + 1)}};
        center.post("vantrel.SettingsChanged", &tooDeep);
        ASSERT_TRUE(loop.runUntil([&] { return got.size() >= 2; }, kReaper));
        loop.runUntil([] { return false; }, 0.05);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0], (Dictionary{{"itemToggled", 7}}));
        EXPECT_EQ(got[1], (Dictionary{{"itemToggled", 8}}));
    }
    stopDeviceBus(bus->pid);
    std::system(("rm -rf '" + folder + "'").c_str());
}

}  // namespace

// A starter that blocks SIGTERM to wait for it (launchd does) still leaves the daemon its
// SIGTERM: stopping the device ends the bus at once instead of killing it when the wait runs out.
TEST(DeviceBus, EndsOnSigtermWhateverItsStarterBlocks) {
    sigset_t term, before;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &term, &before);
    std::string error;
    auto bus = startDeviceBus(vantrel::test::scratchFolder("vantrel-bus"), kReaper, &error);
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (!bus) GTEST_SKIP() << error;
    ASSERT_EQ(::kill(bus->pid, SIGTERM), 0);
    int status = 0;
    pid_t ended = 0;
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         (ended = ::waitpid(bus->pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end;)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (ended == 0) stopDeviceBus(bus->pid);  // the reaper: SIGKILL
    EXPECT_EQ(ended, bus->pid) << "the daemon ignored SIGTERM";
}

}  // namespace platform
