#include <map>
#include <set>
#include <sstream>

#include "tests/prefs/fixture.h"
#include "tests/shared/lock_holder.h"

using namespace vantrel;
using namespace vantrel::test;
using platform::PSValue;
using platform::Value;

namespace {

struct CodeCase {
    const char* page;
    std::string key;
    Value value;
    std::optional<int> code;
};
void PrintTo(const CodeCase& c, std::ostream* os) { *os << c.page << " " << c.key; }

PreferenceFile fileOf(const std::string& page) {
    return page == "main" ? PreferenceFile::Main : page == "icontester" ? PreferenceFile::IconTester : PreferenceFile::DataFaker;
}

std::vector<CodeCase> codeCases() {
    std::vector<CodeCase> cases;
    for (size_t i = 0; i < kItemHideKeys.size(); ++i) cases.push_back({"main", kItemHideKeys[i], true, static_cast<int>(i)});
    cases.insert(cases.end(), {
                                  {"main", "clockformat", 3, 26},
                                  {"main", "1224", 1, 26},
                                  {"main", "animatedcustomtime", true, 26},
                                  {"main", "nowplaying", true, 26},
                                  {"main", "sos", true, 27},
                                  {"main", "customcarrier", true, 29},
                                  {"main", "hidetethering", true, 40},
                                  {"main", "hideall", true, 99},
                                  {"main", "ncstatus", false, std::nullopt},
                                  {"main", "lockclock", true, std::nullopt},
                                  {"main", "samelockstatusbar", true, std::nullopt},
                                  {"main", "hideallls", true, std::nullopt},
                                  {"main", "timeandram", true, std::nullopt},
                                  {"main", "ramtime", true, std::nullopt},
                                  {"main", "activatorenabled", false, std::nullopt},
                                  {"main", "enabled", true, std::nullopt},
                                  {"main", "Clock", true, std::nullopt},
                                  {"main", "HIDEALL", true, std::nullopt},
                                  {"icontester", "enabletester", true, 99},
                                  {"icontester", "sync", true, 126},
                                  {"icontester", "clock0", true, 100},
                                  {"icontester", "unknow24", true, 100},
                                  {"icontester", "EnableTester", true, 100},
                                  {"datafaker", "enablefaker", true, 9991},
                                  {"datafaker", "datatype", 3, 9991},
                                  {"datafaker", "enabletethering", true, 9992},
                                  {"datafaker", "EnableFaker", true, std::nullopt},
                                  {"datafaker", "somethingelse", true, std::nullopt},
                              });
    return cases;
}

}  // namespace

class CodeTest : public PrefsTest, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(CodeTest, StoredValueIsWrittenThenItsCodePosted) {
    const auto& c = GetParam();
    id page = open(c.page);
    ASSERT_TRUE(page);
    set(page, specifier(c.key), c.value);

    auto file = readPreferences(fileOf(c.page));
    ASSERT_TRUE(file);
    ASSERT_TRUE(platform::lookup(*file, c.key));
    EXPECT_EQ(*platform::lookup(*file, c.key), c.value);
    if (!c.code) {
        EXPECT_TRUE(center().codes().empty());
        return;
    }
    ASSERT_EQ(center().codes(), std::vector<int>{*c.code});
    const Post& post = center().posts.front();
    const auto& atPost = fileOf(c.page) == PreferenceFile::Main         ? post.main
                         : fileOf(c.page) == PreferenceFile::IconTester ? post.tester
                                                                        : post.faker;
    ASSERT_TRUE(atPost);
    ASSERT_TRUE(platform::lookup(*atPost, c.key));
    EXPECT_EQ(*platform::lookup(*atPost, c.key), c.value);  // the tweak reads the file on arrival
}

INSTANTIATE_TEST_SUITE_P(EveryKey, CodeTest, ::testing::ValuesIn(codeCases()), [](const auto& info) {
    std::string name = std::string(info.param.page) + "_" + info.param.key;
    for (auto& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
});

TEST_F(PrefsTest, NegateAndDefaultRules) {
    id page = open("main");
    // Absent key: the default as it stands, even with negate.
    EXPECT_EQ(read(page, specifier("absentkey", true, Value(true))), PSValue(Value(true)));
    EXPECT_EQ(read(page, specifier("absentkey")), std::nullopt);
    // Stored value: as stored, or its opposite with negate.
    EXPECT_EQ(read(page, specifier("clockformat")), PSValue(Value(0)));
    EXPECT_EQ(read(page, specifier("ncstatus", true, Value(true))), PSValue(Value(true)));
    set(page, specifier("lockclock", true), Value(true));
    EXPECT_EQ(*platform::lookup(*readPreferences(PreferenceFile::Main), "lockclock"), Value(false));
    // Null removes the key; with negate it stores true.
    set(page, specifier("hideallls"), std::nullopt);
    EXPECT_FALSE(platform::lookup(*readPreferences(PreferenceFile::Main), "hideallls"));
    set(page, specifier("samelockstatusbar", true), std::nullopt);
    EXPECT_EQ(*platform::lookup(*readPreferences(PreferenceFile::Main), "samelockstatusbar"), Value(true));
    // A row without a key changes nothing.
    auto before = readPreferences(PreferenceFile::Main);
    auto keyless = specifier("x");
    keyless->properties.erase("key");
    set(page, keyless, Value(true));
    EXPECT_EQ(readPreferences(PreferenceFile::Main), before);
    EXPECT_TRUE(center().posts.empty());
}

// The main page's enabled/setEnabled: pair: stored at once under "enabled", announced to nobody.
TEST_F(PrefsTest, EnabledPairSavesAtOnceAndPostsNothing) {
    id page = open("main");
    auto enabled = [&] { return msgSend<PSValue>(page, sel_registerName("enabled")); };
    auto setEnabled = [&](PSValue v) { msgSend<void>(page, sel_registerName("setEnabled:"), std::move(v)); };
    auto stored = [] {
        auto file = readPreferences(PreferenceFile::Main);
        const Value* v = file ? platform::lookup(*file, "enabled") : nullptr;
        return v ? PSValue(*v) : std::nullopt;
    };
    EXPECT_EQ(enabled(), std::nullopt);
    for (const Value& v : {Value(false), Value("on")}) {
        setEnabled(v);
        EXPECT_EQ(enabled(), PSValue(v));
        EXPECT_EQ(stored(), PSValue(v));
    }
    setEnabled(std::nullopt);
    EXPECT_EQ(enabled(), std::nullopt);
    EXPECT_EQ(stored(), std::nullopt);
    EXPECT_TRUE(center().posts.empty());
}

TEST_F(PrefsTest, CreationWritesFileOrDefaults) {
    writePreferences(PreferenceFile::Main, {{"hideall", true}});
    open("main");
    EXPECT_EQ(readPreferences(PreferenceFile::Main), (Dictionary{{"hideall", true}}));
    open("datafaker");
    auto faker = readPreferences(PreferenceFile::DataFaker);
    ASSERT_TRUE(faker);
    EXPECT_EQ(*faker, defaultPreferences(PreferenceFile::DataFaker));
    EXPECT_TRUE(platform::lookup(*faker, "datatype")->isInteger());
    open("icontester");
    EXPECT_EQ(readPreferences(PreferenceFile::IconTester), defaultPreferences(PreferenceFile::IconTester));
    // An unreadable file: the page starts from the defaults and writes them.
    platform::writeFileAtomically(preferencePath(PreferenceFile::IconTester), std::vector<uint8_t>{'n', 'o'});
    open("icontester");
    EXPECT_EQ(readPreferences(PreferenceFile::IconTester), defaultPreferences(PreferenceFile::IconTester));
}

TEST_F(PrefsTest, VanishedFileGetsDefaultsThenThePageSettings) {
    for (const char* name : {"main", "icontester", "datafaker"}) {
        PreferenceFile file = fileOf(name);
        id page = open(name);
        set(page, specifier("first"), Value(true));
        std::filesystem::remove(preferencePath(file));
        set(page, specifier("second"), Value(true));
        EXPECT_EQ(readPreferences(file), defaultPreferences(file)) << name;
        set(page, specifier("third"), Value(true));
        auto now = readPreferences(file);
        ASSERT_TRUE(now);
        for (const char* key : {"first", "second", "third"}) EXPECT_TRUE(platform::lookup(*now, key)) << name << " " << key;
    }
}

TEST_F(PrefsTest, ChangeWrittenBehindThePageSurvivesItsNextChange) {
    id page = open("main");
    set(page, specifier("hideall"), Value(true));
    // The Activator gesture and the first unlock write the file from SpringBoard meanwhile.
    auto behind = readPreferencesForUpdate(PreferenceFile::Main);
    behind["clockformat"] = 3;
    behind["intromessageshown"] = true;
    writePreferences(PreferenceFile::Main, behind);

    set(page, specifier("sos"), Value(true));
    auto file = readPreferences(PreferenceFile::Main);
    ASSERT_TRUE(file);
    EXPECT_EQ(*platform::lookup(*file, "clockformat"), Value(3));
    EXPECT_EQ(*platform::lookup(*file, "intromessageshown"), Value(true));
    EXPECT_EQ(*platform::lookup(*file, "hideall"), Value(true));
    EXPECT_EQ(*platform::lookup(*file, "sos"), Value(true));
    EXPECT_EQ(read(page, specifier("clockformat")), PSValue(Value(3)));

    // The same holds for a save without a change: suspension and leaving the page.
    behind = *readPreferences(PreferenceFile::Main);
    behind["clockformat"] = 4;
    writePreferences(PreferenceFile::Main, behind);
    platform::suspendController(page);
    EXPECT_EQ(*platform::lookup(*readPreferences(PreferenceFile::Main), "clockformat"), Value(4));
    behind["clockformat"] = 5;
    writePreferences(PreferenceFile::Main, behind);
    leave(page);
    EXPECT_EQ(*platform::lookup(*readPreferences(PreferenceFile::Main), "clockformat"), Value(5));
}

TEST_F(PrefsTest, AnimationChangedCallbackFollowsOnlyZeroAndOne) {
    open("main");
    auto deliver = [&](std::optional<Dictionary> info) {
        center().post(kAnimationChangedNotification, info ? &*info : nullptr);
        loop().runPending();
        return prefs::isAnimationRunning;
    };
    EXPECT_TRUE(deliver(Dictionary{{"animationFlag", 1}}));
    EXPECT_FALSE(deliver(Dictionary{{"animationFlag", 0}}));
    deliver(Dictionary{{"animationFlag", 1}});
    EXPECT_TRUE(deliver(Dictionary{{"animationFlag", 2}}));
    EXPECT_TRUE(deliver(std::nullopt));
    EXPECT_TRUE(deliver(Dictionary{}));
    EXPECT_TRUE(deliver(Dictionary{{"animationFlag", "0"}}));
    EXPECT_TRUE(deliver(Dictionary{{"animationFlag", int64_t{1} << 32}}));
    // Leaving and reopening the page does not reset the flag.
    leave(pages_.front());
    open("main");
    EXPECT_TRUE(prefs::isAnimationRunning);
}

TEST_F(PrefsTest, SubPagesSaveOnSuspendAndLeaveAndReadTheirOwnFile) {
    writePreferences(PreferenceFile::DataFaker, {{"enablefaker", true}, {"datatype", 2}});
    id faker = open("datafaker");
    EXPECT_EQ(read(faker, platform::specifierForKey(faker, "datatype")), PSValue(Value(2)));
    EXPECT_EQ(read(faker, platform::specifierForKey(faker, "enabletethering")), PSValue(Value(false)));
    std::filesystem::remove(preferencePath(PreferenceFile::DataFaker));
    platform::suspendController(faker);
    EXPECT_EQ(readPreferences(PreferenceFile::DataFaker), defaultPreferences(PreferenceFile::DataFaker));
    leave(faker);
    EXPECT_EQ(readPreferences(PreferenceFile::DataFaker), (Dictionary{{"enablefaker", true}, {"datatype", 2}}));
    EXPECT_TRUE(center().posts.empty());
}

// A stopped peer holds the page's file lock: the change is neither written nor announced, no
// success line is logged, the page says why; the next save after the peer is gone writes it.
class SaveFailureTest : public PrefsTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(SaveFailureTest, ChangeBehindAStoppedLockHolderIsNotWrittenNorAnnounced) {
    const std::string name = GetParam();
    const PreferenceFile file = fileOf(name);
    const std::string key = name == "main" ? "hideall" : name == "icontester" ? "enabletester" : "enablefaker";
    const std::string path = preferencePath(file);
    const std::string log = device_ + "/log.txt";
    id page = open(name.c_str());
    auto before = readPreferences(file);
    ASSERT_TRUE(before);
    auto takeSaveFailure = [&] { return msgSend<std::string>(page, sel_registerName("takeSaveFailure")); };
    platform::setLogFile(log);
    {
        StoppedLockHolder holder(path.substr(0, path.rfind('/') + 1) + "." + path.substr(path.rfind('/') + 1) + ".lock");
        ASSERT_TRUE(holder.held());
        set(page, specifier(key), Value(true));
        EXPECT_EQ(readPreferences(file), before);
        EXPECT_TRUE(center().posts.empty());
        EXPECT_NE(takeSaveFailure().find(path + ": another writer has held its lock"), std::string::npos);
    }
    platform::setLogFile("");
    auto logged = platform::readWholeFile(log, 1 << 20).value_or(std::vector<uint8_t>{});
    EXPECT_EQ(std::string(logged.begin(), logged.end()).find("Icon Tester - "), std::string::npos);
    platform::suspendController(page);
    EXPECT_EQ(takeSaveFailure(), "");
    EXPECT_EQ(*platform::lookup(*readPreferences(file), key), Value(true));
}

// The host told its user the change was not saved and had the page forget it: leaving the page
// once the peer is gone writes nothing of it.
TEST_P(SaveFailureTest, DiscardedChangeIsNeverWrittenLater) {
    const std::string name = GetParam();
    const PreferenceFile file = fileOf(name);
    const std::string key = name == "main" ? "hideall" : name == "icontester" ? "enabletester" : "enablefaker";
    const std::string path = preferencePath(file);
    id page = open(name.c_str());
    auto before = readPreferences(file);
    ASSERT_TRUE(before);
    {
        StoppedLockHolder holder(path.substr(0, path.rfind('/') + 1) + "." + path.substr(path.rfind('/') + 1) + ".lock");
        ASSERT_TRUE(holder.held());
        set(page, specifier(key), Value(true));
        EXPECT_NE(msgSend<std::string>(page, sel_registerName("takeSaveFailure")), "");
        msgSend<void>(page, sel_registerName("discardUnsavedChanges"));
    }
    auto shown = msgSend<Dictionary>(page, sel_registerName("settings"));
    EXPECT_EQ(shown, *before);
    leave(page);
    EXPECT_EQ(readPreferences(file), before);
    EXPECT_TRUE(center().posts.empty());
}

INSTANTIATE_TEST_SUITE_P(EveryPage, SaveFailureTest, ::testing::Values("main", "icontester", "datafaker"),
                         [](const auto& info) { return std::string(info.param); });

// Each page class answers the host with its own methods (selector and types); a method lost or
// added on one page changes what the Settings host reaches.
class PageClassTest : public PrefsTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(PageClassTest, OwnMethodsAreThePagesOwn) {
    const std::string name = GetParam();
    std::map<std::string, std::string> expected = {{"initForContentSize:", "@@:{CGSize=dd}"},
                                                   {"specifiers", "@@:"},
                                                   {"notifySettings:", "v@:@"},
                                                   {"setPreferenceValue:specifier:", "v@:@@"},
                                                   {"readPreferenceValue:", "@@:@"},
                                                   {"writeSettings", "c@:"},
                                                   {"sendSettings", "c@:"},
                                                   {"suspend", "v@:"},
                                                   {"takeSaveFailure", "@@:"},
                                                   {"discardUnsavedChanges", "v@:"},
                                                   {"dealloc", "v@:"},
                                                   {"settings", "@@:"},
                                                   {"setSettings:", "v@:@"}};
    if (name == "main") {
        for (const char* action : {"donate:", "sendFeedback:", "carrierText:", "timeText:", "reverseString:", "visitTwitter:",
                                   "visitFacebook:", "Quennick:", "setEnabled:", "setCarrierTextButton:"})
            expected[action] = "v@:@";
        for (const char* alert : {"carrierAlertView", "timeAlertView", "reverseStringView", "respringAlertView"}) {
            expected[alert] = "@@:";
            std::string setter = std::string("set") + alert + ":";
            setter[3] = static_cast<char>(std::toupper(static_cast<unsigned char>(setter[3])));
            expected[setter] = "v@:@";
        }
        expected.insert({{"alertView:clickedButtonAtIndex:", "v@:@q"},
                         {"enabled", "@@:"},
                         {"respringPrompt", "v@:"},
                         {"loadMusic", "v@:"},
                         {"viewDidAppear:", "v@:c"},
                         {"carrierTextButton", "@@:"}});
    } else {
        expected["viewWillDisappear:"] = "v@:c";
    }
    std::map<std::string, std::string> own;
    for (const auto& m : class_copyMethodList(objc_getClass(prefs::pageClassName(name))))
        EXPECT_TRUE(own.emplace(m.selector, m.types).second) << m.selector;
    EXPECT_EQ(own, expected);
}

// The lines a page logs over its life: creation on a missing file, a change, suspension, leaving.
TEST_P(PageClassTest, LogsItsLifeOnlyWhereItDid) {
    const std::string name = GetParam();
    const std::string log = device_ + "/log.txt";
    platform::setLogFile(log);
    id page = open(name.c_str());
    platform::controllerRows(page);
    set(page, specifier("sync"), Value(false));
    platform::suspendController(page);
    leave(page);
    platform::setLogFile("");

    const std::set<std::string> lifeLines = {"specifiers", "viewWillDisappear", "Icon Tester - Settings Updated!",
                                             "Icon Tester - Defaults Saved!"};
    std::vector<std::string> logged;
    auto bytes = platform::readWholeFile(log, 1 << 20).value_or(std::vector<uint8_t>{});
    std::istringstream lines(std::string(bytes.begin(), bytes.end()));
    for (std::string line; std::getline(lines, line);) {
        auto at = line.find("] ");
        if (at != std::string::npos && lifeLines.count(line.substr(at + 2))) logged.push_back(line.substr(at + 2));
    }
    std::vector<std::string> expected;
    if (name == "icontester")
        expected = {"Icon Tester - Defaults Saved!", "Icon Tester - Settings Updated!", "Icon Tester - Settings Updated!",
                    "viewWillDisappear", "Icon Tester - Settings Updated!"};
    if (name == "datafaker") expected = {"specifiers"};
    EXPECT_EQ(logged, expected);
}

INSTANTIATE_TEST_SUITE_P(EveryPage, PageClassTest, ::testing::Values("main", "icontester", "datafaker"),
                         [](const auto& info) { return std::string(info.param); });
