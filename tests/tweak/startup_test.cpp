#include "tests/tweak/fixture.h"

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "platform/foundation/file.h"
#include "platform/foundation/log.h"

using namespace vantrel;
using namespace vantrel::test;

class StartupTest : public TweakTest {};

TEST_F(StartupTest, NoFileWritesTheMainDefaults) {
    tweak::initializeSettings();
    auto prefs = readPreferences(PreferenceFile::Main);
    ASSERT_TRUE(prefs);
    EXPECT_EQ(prefs->size(), 44u);
    EXPECT_EQ(*prefs, defaultPreferences(PreferenceFile::Main));
    EXPECT_EQ(tweak::carrierText, std::optional<std::string>("CustomText"));
    EXPECT_EQ(tweak::timeText, "'_Quennick_'");
    EXPECT_EQ(tweak::reverseText, "'Vantrel'");
}

TEST_F(StartupTest, ExistingFileIsNeverRewrittenAndMissingTextsTakeDefaults) {
    writeMain({{"timeText", "'Other'"}, {"hideall", true}});
    auto before = platform::fileIdentity(preferencePath(PreferenceFile::Main));
    tweak::initializeSettings();
    EXPECT_EQ(platform::fileIdentity(preferencePath(PreferenceFile::Main)), before);
    EXPECT_FALSE(tweak::carrierText);
    EXPECT_EQ(tweak::timeText, "'Other'");
    EXPECT_EQ(tweak::reverseText, "'Vantrel'");
    EXPECT_EQ(tweak::customTime, u"'_Quennick_'");
}

TEST_F(StartupTest, InstallationAddsAndReplacesInTableOrder) {
    Class agg = objc_getClass("SBStatusBarStateAggregator");
    auto methods = class_copyMethodList(agg);
    std::vector<std::string> added;
    for (const auto& m : methods)
        for (const auto& row : tweak::addedMethods())
            if (m.selector == row.selector) {
                added.push_back(m.selector);
                EXPECT_EQ(m.types, "v@:") << m.selector;
            }
    ASSERT_EQ(added.size(), tweak::addedMethods().size());
    for (size_t i = 0; i < added.size(); ++i) EXPECT_EQ(added[i], tweak::addedMethods()[i].selector);
    EXPECT_EQ(tweak::addedMethods().size(), 17u);
    EXPECT_EQ(tweak::replacedMethods().size(), 19u);
    for (const auto& row : tweak::replacedMethods()) {
        EXPECT_TRUE(*row.previous) << row.className << " " << row.selector;
        IMP now = class_getMethodImplementation(objc_getClass(row.className), sel_registerName(row.selector));
        EXPECT_EQ(now.fn, row.replacement.fn) << row.selector;
    }
}

// Start-up in a SpringBoard without what a row needs: each such row is logged and skipped, the
// rest installs. Hooks cannot be undone, so this needs a process where SpringBoard's classes are
// not registered yet: ctest gives it one; a run of the whole program runs it again in a child.
TEST(StartupRefusals, MissingClassesAndMethodsAreLoggedAndSkipped) {
    if (objc_getClass("SBStatusBarStateAggregator")) {
        fflush(nullptr);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            execl("/proc/self/exe", "test_tweak", "--gtest_filter=StartupRefusals.*", static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        return;
    }
    char tmpl[] = "/tmp/vantrel-startup-XXXXXX";
    const std::string folder = mkdtemp(tmpl), log = folder + "/log.txt";
    ASSERT_TRUE(platform::setLogFile(log));
    platform::setLogToStderr(false);
    const auto& added = tweak::addedMethods();
    const auto& replaced = tweak::replacedMethods();
    std::vector<std::string> expected;

    // No SpringBoard at all: nothing installs.
    tweak::installMethods();
    for (const auto& row : added)
        expected.push_back(std::string("Vantrel: class SBStatusBarStateAggregator not found; ") + row.selector + " not added");
    for (const auto& row : replaced)
        expected.push_back(std::string("Vantrel: class ") + row.className + " not found; " + row.selector + " not replaced");

    // An aggregator that already has the first added method and none of those to replace, and one
    // more replaced class without its methods; the others are still missing.
    Class base = objc_registerClass("NSObject", nullptr);
    Class agg = objc_registerClass("SBStatusBarStateAggregator", base);
    objc_registerClass("SBTelephonyManager", base);
    const IMP own = runtime::imp(+[](id, SEL) {});
    ASSERT_TRUE(class_addMethod(agg, sel_registerName(added[0].selector), own, "v@:"));
    tweak::installMethods();
    expected.push_back(std::string("Vantrel: SBStatusBarStateAggregator already has ") + added[0].selector + "; not added");
    for (const auto& row : replaced) {
        bool present = objc_getClass(row.className) != nullptr;
        expected.push_back(
            present ? std::string("Vantrel: ") + row.className + " has no method " + row.selector + "; not replaced"
                    : std::string("Vantrel: class ") + row.className + " not found; " + row.selector + " not replaced");
    }
    platform::setLogFile("");

    std::vector<std::string> logged;
    auto bytes = platform::readWholeFile(log, 1 << 20).value_or(std::vector<uint8_t>{});
    std::istringstream lines(std::string(bytes.begin(), bytes.end()));
    for (std::string line; std::getline(lines, line);)
        if (auto at = line.find("] "); at != std::string::npos) logged.push_back(line.substr(at + 2));
    EXPECT_EQ(logged, expected);

    EXPECT_EQ(class_getMethodImplementation(agg, sel_registerName(added[0].selector)).fn, own.fn);  // kept
    for (size_t i = 1; i < added.size(); ++i)
        EXPECT_EQ(class_getMethodImplementation(agg, sel_registerName(added[i].selector)).fn, added[i].implementation.fn);
    for (const auto& row : replaced) {
        EXPECT_FALSE(*row.previous) << row.selector;
        if (Class cls = objc_getClass(row.className)) {
            EXPECT_FALSE(class_respondsToSelector(cls, sel_registerName(row.selector))) << row.selector;
        }
    }
    std::filesystem::remove_all(folder);
}
