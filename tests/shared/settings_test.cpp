#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/foundation/file.h"
#include "platform/foundation/home.h"
#include "platform/foundation/notifications.h"
#include "platform/foundation/plist.h"
#include "platform/foundation/runloop.h"
#include "shared/settings.h"
#include "tests/scratch.h"

using namespace vantrel;
using platform::Array;
using platform::Data;
using platform::Date;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = vantrel::test::scratchFolder("vantrel-settings");
        platform::setHomeDirectory(home_);
    }
    void TearDown() override { std::system(("rm -rf '" + home_ + "'").c_str()); }
    std::string home_;
};

std::string runPython(const std::string& script) {
    const std::string folder = vantrel::test::scratchFolder("vantrel-py"), path = folder + "/check.py";
    std::ofstream(path) << script;
    FILE* p = popen(("python3 " + path + " 2>&1").c_str(), "r");
    std::string out;
    char buf[256];
    while (p && fgets(buf, sizeof buf, p)) out += buf;
    if (p) pclose(p);
    std::remove(path.c_str());
    ::rmdir(folder.c_str());
    return out;
}

}  // namespace

TEST_F(SettingsTest, PathsFollowTheHomeDirectory) {
    EXPECT_EQ(preferencePath(PreferenceFile::Main), home_ + "/Library/Preferences/com.quennick.vantrel.plist");
    EXPECT_EQ(preferencePath(PreferenceFile::DataFaker), home_ + "/Library/Preferences/com.quennick.vantrel-datafaker.plist");
    EXPECT_EQ(preferencePath(PreferenceFile::IconTester), home_ + "/Library/Preferences/com.quennick.vantrel-icontester.plist");
}

struct ReadingCase {
    const char* name;
    std::optional<Value> value;
    bool asBool;
    int64_t asInteger;
};

class ReadingRules : public ::testing::TestWithParam<ReadingCase> {};

TEST_P(ReadingRules, BooleanAndIntegerMeaning) {
    const auto& c = GetParam();
    std::optional<Dictionary> prefs = Dictionary{};
    if (c.value) (*prefs)["k"] = *c.value;
    EXPECT_EQ(readBool(prefs, "k"), c.asBool);
    EXPECT_EQ(readInteger(prefs, "k"), c.asInteger);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadingRules,
    ::testing::Values(ReadingCase{"absent", std::nullopt, false, 0}, ReadingCase{"true", Value(true), true, 1},
                      ReadingCase{"false", Value(false), false, 0}, ReadingCase{"zero", Value(0), false, 0},
                      ReadingCase{"five", Value(5), true, 5}, ReadingCase{"negative", Value(-2), true, -2},
                      ReadingCase{"half", Value(0.5), true, 0}, ReadingCase{"real", Value(3.9), true, 3},
                      ReadingCase{"yes", Value("YES"), true, 0}, ReadingCase{"lower_t", Value("true"), true, 0},
                      ReadingCase{"no", Value("NO"), false, 0}, ReadingCase{"digits", Value("42abc"), true, 42},
                      ReadingCase{"zeros", Value("  -0003"), true, -3}, ReadingCase{"zero_text", Value("0"), false, 0},
                      ReadingCase{"empty", Value(""), false, 0}, ReadingCase{"array", Value(Array{1}), false, 0},
                      ReadingCase{"dict", Value(Dictionary{{"a", 1}}), false, 0}, ReadingCase{"data", Value(Data{{1}}), false, 0},
                      ReadingCase{"date", Value(Date{5}), false, 0},
                      // Reals outside int64 clamp, towards zero inside it; NaN is no number at all.
                      ReadingCase{"negative_real", Value(-3.9), true, -3},
                      ReadingCase{"two_to_63", Value(9223372036854775808.0), true, INT64_MAX},
                      ReadingCase{"huge", Value(1e300), true, INT64_MAX},
                      ReadingCase{"huge_negative", Value(-1e300), true, INT64_MIN},
                      ReadingCase{"infinity", Value(HUGE_VAL), true, INT64_MAX},
                      ReadingCase{"negative_infinity", Value(-HUGE_VAL), true, INT64_MIN},
                      ReadingCase{"nan", Value(std::nan("")), true, 0},
                      // Texts: every blank skipped, either sign, Y/y/T/t or a first non-zero digit
                      // is true; digits past int64 clamp by sign.
                      ReadingCase{"blanks", Value("\t\n\r\f\v 7"), true, 7}, ReadingCase{"plus", Value("+12"), true, 12},
                      ReadingCase{"lower_y", Value("y"), true, 0}, ReadingCase{"upper_t", Value("TRUE"), true, 0},
                      ReadingCase{"nine", Value("009"), true, 9}, ReadingCase{"sign_only", Value("-"), false, 0},
                      ReadingCase{"letter", Value("x1"), false, 0}, ReadingCase{"two_signs", Value("--1"), false, 0},
                      ReadingCase{"past_int64", Value("99999999999999999999"), true, INT64_MAX},
                      ReadingCase{"past_int64_negative", Value("-99999999999999999999"), true, INT64_MIN}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsTest, StringsAreReadAsStoredOnly) {
    std::optional<Dictionary> prefs = Dictionary{{"s", "x"}, {"n", 3}};
    EXPECT_EQ(readString(prefs, "s"), std::optional<std::string>("x"));
    EXPECT_FALSE(readString(prefs, "n"));
    EXPECT_FALSE(readString(prefs, "missing"));
    EXPECT_FALSE(readString(std::nullopt, "s"));
}

TEST_F(SettingsTest, ReadForUpdateFallsBackToTheFileDefaults) {
    EXPECT_FALSE(readPreferences(PreferenceFile::DataFaker));
    EXPECT_EQ(readPreferencesForUpdate(PreferenceFile::DataFaker), defaultPreferences(PreferenceFile::DataFaker));
    ASSERT_TRUE(writePreferences(PreferenceFile::DataFaker, {{"datatype", 3}}));
    EXPECT_EQ(readPreferencesForUpdate(PreferenceFile::DataFaker), (Dictionary{{"datatype", 3}}));
}

TEST_F(SettingsTest, FilesWeWriteAreReadByPlistlibAndTheOtherWayRound) {
    Dictionary d = defaultPreferences(PreferenceFile::Main);
    d["carrierText"] = "Carrier ♫ 'quoted' 😀";
    d["clockformat"] = 5;
    d["negative"] = -7;
    ASSERT_TRUE(writePreferences(PreferenceFile::Main, d));
    std::string path = preferencePath(PreferenceFile::Main);
    std::string out = runPython(
        "import plistlib,sys\n"
        "raw=open('" +
        path +
        "','rb').read()\n"
        "assert raw.startswith(b'bplist00')\n"
        "d=plistlib.loads(raw)\n"
        "assert len(d)==45, len(d)\n"
        "assert d['carrierText']=='Carrier \\u266b \\'quoted\\' \\U0001F600', repr(d['carrierText'])\n"
        "assert d['clockformat']==5 and d['negative']==-7 and d['hideall'] is False and d['activatorenabled'] is True\n"
        "for fmt,name in ((plistlib.FMT_BINARY,'bin'),(plistlib.FMT_XML,'xml')):\n"
        "    open('" +
        home_ +
        "/'+name+'.plist','wb').write(plistlib.dumps({'a':True,'n':-5,'big':2**40,'huge':2**64-5,'s':'\\u00e9t\\u00e9 "
        "\\U0001F600','r':1.5,'l':[1,'x'],'d':{'k':False}}, fmt=fmt))\n"
        "print('OK')\n");
    ASSERT_NE(out.find("OK"), std::string::npos) << out;
    Dictionary expected{{"a", true},    {"n", -5},  {"big", 1LL << 40},   {"huge", Value::unsignedInteger(~uint64_t{0} - 4)},
                        {"s", "été 😀"}, {"r", 1.5}, {"l", Array{1, "x"}}, {"d", Dictionary{{"k", false}}}};
    for (const char* name : {"bin", "xml"}) {
        auto read = platform::readDictionaryFile(home_ + "/" + name + ".plist");
        ASSERT_TRUE(read) << name;
        EXPECT_EQ(*read, expected) << name;
    }
    // A key the system does not own survives a read-modify-write as the same unsigned value.
    ASSERT_TRUE(writePreferences(PreferenceFile::Main, expected));
    ASSERT_TRUE(updatePreferences(PreferenceFile::Main, [](Dictionary& d) { d["clockformat"] = 2; }));
    out = runPython(
        "import plistlib\n"
        "d=plistlib.loads(open('" +
        path +
        "','rb').read())\n"
        "assert d['huge']==2**64-5 and d['n']==-5 and d['clockformat']==2, d\n"
        "print('OK')\n");
    EXPECT_NE(out.find("OK"), std::string::npos) << out;
}

TEST_F(SettingsTest, MalformedFilesReadAsNoDictionary) {
    std::string path = preferencePath(PreferenceFile::Main);
    platform::createDirectories(home_ + "/Library/Preferences");
    auto good = *platform::serializeBinaryPropertyList(Value(defaultPreferences(PreferenceFile::Main)));
    std::vector<std::string> corpus = {"", std::string(good.begin(), good.begin() + 40), "\x01\x02\xff random",
                                       "<?xml version=\"1.0\"?><plist><dict><key>a</key></plist>",
                                       "<plist><array><true/></array></plist>"};
    for (const auto& bytes : corpus) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        EXPECT_FALSE(readPreferences(PreferenceFile::Main)) << bytes.size();
        EXPECT_FALSE(readBool(readPreferences(PreferenceFile::Main), "hideall"));
    }
}

TEST_F(SettingsTest, FailedWriteKeepsTheOldFileWhole) {
    ASSERT_TRUE(writePreferences(PreferenceFile::Main, {{"hideall", true}}));
    std::string dir = home_ + "/Library/Preferences";
    // A folder in the temporary file's way is not enough to break the write, a read-only
    // folder is (except for root, which ignores permissions).
    if (geteuid() != 0) {
        chmod(dir.c_str(), 0500);
        EXPECT_FALSE(writePreferences(PreferenceFile::Main, {{"hideall", false}}));
        chmod(dir.c_str(), 0700);
    }
    platform::setHomeDirectory(home_ + "/missing\x01");
    EXPECT_FALSE(platform::writeDictionaryFile(home_ + "/no/such/dir/x.plist", {{"a", 1}}));
    platform::setHomeDirectory(home_);
    EXPECT_EQ(readPreferences(PreferenceFile::Main), (Dictionary{{"hideall", true}}));
}

// A lock that cannot be had (a link planted at its name, a peer holding it past the wait)
// refuses the write, says why, and leaves the file as it was.
TEST_F(SettingsTest, NoLockNoWrite) {
    ASSERT_TRUE(writePreferences(PreferenceFile::Main, {{"hideall", true}}));
    const std::string path = preferencePath(PreferenceFile::Main);
    const std::string lockPath = path.substr(0, path.rfind('/') + 1) + "." + path.substr(path.rfind('/') + 1) + ".lock";
    int peer = ::open(lockPath.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(peer, 0);
    ASSERT_EQ(::flock(peer, LOCK_EX), 0);
    auto held = writePreferences(PreferenceFile::Main, {{"hideall", false}});
    ::close(peer);
    ASSERT_FALSE(held);
    EXPECT_NE(held.failure.find("another writer has held its lock"), std::string::npos) << held.failure;

    ASSERT_EQ(::unlink(lockPath.c_str()), 0);
    ASSERT_EQ(::symlink((home_ + "/elsewhere").c_str(), lockPath.c_str()), 0);
    auto linked = writePreferences(PreferenceFile::Main, {{"hideall", false}});
    ASSERT_FALSE(linked);
    EXPECT_NE(linked.failure.find("its lock cannot be opened"), std::string::npos) << linked.failure;
    EXPECT_EQ(readPreferences(PreferenceFile::Main), (Dictionary{{"hideall", true}}));
}

TEST(Notifications, PostHelpersCarryTheirCodes) {
    platform::ManualRunLoop loop;
    platform::InProcessNotificationCenter center;
    platform::RunLoop::setMain(&loop);
    platform::NotificationCenter::setDistributed(&center);
    static std::vector<std::pair<std::string, std::optional<int32_t>>> seen;
    seen.clear();
    auto record = [](CFNotificationCenterRef, void*, const std::string& name, const void*, const Dictionary* info) {
        const char* key = name == kSettingsChangedNotification ? kItemToggledKey : kAnimationFlagKey;
        seen.emplace_back(name, info ? platform::readInt32(platform::lookup(*info, key)) : std::nullopt);
    };
    subscribe(kSettingsChangedNotification, record);
    subscribe(kAnimationChangedNotification, record);
    postSettingsChanged(ItemCode::AllItems);
    postAnimationChanged(1);
    EXPECT_TRUE(seen.empty());  // never inside the posting call
    loop.runPending();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(std::string("vantrel.SettingsChanged"), std::optional<int32_t>(99)));
    EXPECT_EQ(seen[1], std::make_pair(std::string("vantrel.AnimationChanged"), std::optional<int32_t>(1)));
    platform::RunLoop::setMain(nullptr);
    platform::NotificationCenter::setDistributed(nullptr);
}

// Two processes updating different keys of one file under its lock: neither loses a value.
TEST_F(SettingsTest, LockedUpdatesFromTwoProcessesLoseNothing) {
    constexpr int kEach = 200;
    ASSERT_TRUE(writePreferences(PreferenceFile::Main, {{"a", 0}, {"b", 0}}));
    auto count = [](const char* key) {
        for (int i = 0; i < kEach; ++i)
            updatePreferences(PreferenceFile::Main, [key](Dictionary& d) {
                d[key] = Value(static_cast<long long>(integerValue(platform::lookup(d, key)) + 1));
            });
    };
    fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(60);  // reaper
        count("b");
        _exit(0);
    }
    count("a");
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    auto prefs = readPreferences(PreferenceFile::Main);
    EXPECT_EQ(readInteger(prefs, "a"), kEach);
    EXPECT_EQ(readInteger(prefs, "b"), kEach);
}
