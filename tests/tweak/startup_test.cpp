#include "tests/tweak/fixture.h"

#include <dlfcn.h>

#include "platform/foundation/file.h"

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
