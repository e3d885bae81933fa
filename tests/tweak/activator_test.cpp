#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <limits>
#include <string>

#include "platform/activator/activator.h"
#include "platform/foundation/file.h"
#include "tests/tweak/fixture.h"
#include "tests/tweak/recording.h"
#include "tweak/core/activator.h"

using namespace vantrel;
using namespace vantrel::test;
using platform::LAActivator;
using platform::LAEvent;

namespace {

constexpr char kTap[] = "libactivator.statusbar.tap.single";

class ActivatorTest : public TweakTest {
protected:
    void SetUp() override {
        TweakTest::SetUp();
        LAActivator::discardSharedInstance();  // a SpringBoard that has just started
        watchPostedCodes(center(), loop());
    }
    void TearDown() override {
        LAActivator::discardSharedInstance();
        TweakTest::TearDown();
    }

    static bool tap() {
        bool delivered = LAActivator::sharedInstance().sendEvent(kTap);
        loop().runPending();
        return delivered;
    }
    static int64_t storedMode() { return readInteger(readPreferences(PreferenceFile::Main), "clockformat"); }
    void writeMode(int64_t mode) {
        Dictionary d = defaultPreferences(PreferenceFile::Main);
        d["clockformat"] = static_cast<long long>(mode);
        writeMain(d);
    }
};

TEST_F(ActivatorTest, FirstLoadGivesTheListenerTheStatusBarTap) {
    ASSERT_FALSE(LAActivator::sharedInstance().hasSeenListenerWithName(kBundleIdentifier));
    tweak::loadVantrelTweak();
    auto& activator = LAActivator::sharedInstance();
    EXPECT_TRUE(activator.hasSeenListenerWithName(kBundleIdentifier));
    EXPECT_EQ(activator.assignedListenerNameForEvent(kTap), std::optional<std::string>(kBundleIdentifier));
    ASSERT_NE(activator.listenerForName(kBundleIdentifier), nullptr);
    EXPECT_STREQ(class_getName(object_getClass(activator.listenerForName(kBundleIdentifier))), "VantrelTweak");
    EXPECT_TRUE(platform::fileExists(LAActivator::storePath()));
}

TEST_F(ActivatorTest, SixTapsCycleThroughEveryModeAndBack) {
    tweak::loadVantrelTweak();
    Dictionary before = defaultPreferences(PreferenceFile::Main);
    before["hideall"] = true;
    before["intromessageshown"] = true;
    writeMain(before);
    for (int64_t expected : {1, 2, 3, 4, 5, 0}) {
        postedCodes().clear();
        ASSERT_TRUE(tap());
        EXPECT_EQ(storedMode(), expected);
        EXPECT_EQ(postedCodes(), std::vector<int>{26});
    }
    Dictionary after = *readPreferences(PreferenceFile::Main);
    EXPECT_EQ(after, before);  // back at 0, every other key kept
    EXPECT_TRUE(platform::visibleAlerts().empty());
}

TEST_F(ActivatorTest, ModesPastTheCycleKeepCountingAndAModeChosenElsewhereIsFollowed) {
    tweak::loadVantrelTweak();
    // Each mode is written as the settings panel would between two taps.
    const std::pair<int64_t, int64_t> kNext[] = {{7, 8}, {5, 0}, {2, 3}, {-1, 0}, {std::numeric_limits<int64_t>::max(), 0}};
    for (const auto& [mode, next] : kNext) {
        writeMode(mode);
        tap();
        EXPECT_EQ(storedMode(), next) << "after " << mode;
    }
}

TEST_F(ActivatorTest, UnreadableOrMissingFileGivesTheDefaultsWithMode1) {
    tweak::loadVantrelTweak();
    Dictionary expected = defaultPreferences(PreferenceFile::Main);
    expected["clockformat"] = 1;
    const std::string path = preferencePath(PreferenceFile::Main);
    for (bool unreadable : {true, false}) {
        SCOPED_TRACE(unreadable ? "unreadable" : "missing");
        std::remove(path.c_str());
        if (unreadable) platform::writeFileAtomically(path, std::vector<uint8_t>{'<', '?', 'x', 'm', 'l'});
        postedCodes().clear();
        tap();
        EXPECT_EQ(readPreferences(PreferenceFile::Main), expected);
        EXPECT_EQ(postedCodes(), std::vector<int>{26});
    }
}

TEST_F(ActivatorTest, RefusedWhileTheTextIsAnimating) {
    tweak::loadVantrelTweak();
    writeMode(2);
    auto before = platform::fileIdentity(preferencePath(PreferenceFile::Main));
    tweak::isAnimatingText = true;
    EXPECT_TRUE(tap());
    EXPECT_EQ(platform::fileIdentity(preferencePath(PreferenceFile::Main)), before);
    EXPECT_TRUE(postedCodes().empty());
    ASSERT_EQ(platform::visibleAlerts().size(), 1u);
    auto alert = platform::visibleAlerts().front();
    EXPECT_EQ(alert->title(), "Warning");
    EXPECT_EQ(alert->message(), "Please DISABLE\n'Animated Custom Text'\nin order to use this activator feature.");
    EXPECT_EQ(alert->buttonTitles(), std::vector<std::string>{"OK"});
    EXPECT_EQ(alert->delegate(), nullptr);

    tweak::isAnimatingText = false;
    tap();
    EXPECT_EQ(storedMode(), 3);
}

TEST_F(ActivatorTest, ASecondStartUpKeepsTheUsersOwnAssignment) {
    tweak::loadVantrelTweak();
    // The user moves the action to another gesture and gives the tap to something else.
    auto& first = LAActivator::sharedInstance();
    first.assignEvent_toListenerWithName(*LAEvent::eventWithName("libactivator.statusbar.tap.double"), kBundleIdentifier);
    first.assignEvent_toListenerWithName(*LAEvent::eventWithName(kTap), "com.example.flashlight");

    LAActivator::discardSharedInstance();  // respring
    tweak::loadVantrelTweak();
    auto& second = LAActivator::sharedInstance();
    EXPECT_EQ(second.assignedListenerNameForEvent(kTap), std::optional<std::string>("com.example.flashlight"));
    writeMode(0);
    EXPECT_FALSE(tap());  // nobody registered as the flashlight in this process
    EXPECT_EQ(storedMode(), 0);
    EXPECT_TRUE(second.sendEvent("libactivator.statusbar.tap.double"));
    EXPECT_EQ(storedMode(), 1);

    // Taking the tap away altogether is kept as well.
    second.unassignEvent(*LAEvent::eventWithName(kTap));
    LAActivator::discardSharedInstance();
    tweak::loadVantrelTweak();
    EXPECT_EQ(LAActivator::sharedInstance().assignedListenerNameForEvent(kTap), std::nullopt);
}

TEST_F(ActivatorTest, DamagedActivatorFileCountsAsAFirstRun) {
    std::string path = LAActivator::storePath();
    platform::createDirectories(path.substr(0, path.rfind('/')));
    platform::writeDictionaryFile(path, {{"eventAssignments", Value(7)}, {"seenListeners", Value("oops")}});
    tweak::loadVantrelTweak();
    EXPECT_EQ(LAActivator::sharedInstance().assignedListenerNameForEvent(kTap), std::optional<std::string>(kBundleIdentifier));
}

// The library's own loading: the listener is in place once the loader has opened it. The
// library brings a second copy of every hook, which cannot be undone, so it is opened in a
// child process and the rest of this program keeps a clean SpringBoard.
TEST_F(ActivatorTest, TheInjectedLibraryRegistersTheListener) {
    fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(30);  // reaper
        void* handle = dlopen(VANTREL_DYLIB, RTLD_NOW | RTLD_LOCAL);
        if (!handle) _exit(10);
        if (LAActivator::sharedInstance().assignedListenerNameForEvent(kTap) != std::optional<std::string>(kBundleIdentifier))
            _exit(11);
        if (!platform::fileExists(preferencePath(PreferenceFile::Main))) _exit(12);  // start-up ran too
        postedCodes().clear();
        if (!tap()) _exit(13);
        if (storedMode() != 1) _exit(14);
        if (postedCodes() != std::vector<int>{26}) _exit(15);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10 no dlopen, 11 no listener, 12 no start-up, 13 no tap, 14 mode, 15 codes";
}

}  // namespace
