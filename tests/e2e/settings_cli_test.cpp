// The command line of vantrel-settings against a device of the suite's own: bad command lines
// change no file and post nothing, accepted spellings store what the page stores, --help and
// read-only commands start nothing, and get, reset and keys say what the files hold. Every
// program started here is ended by its pid; every wait has a reaper timeout.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/foundation/dbus_notifications.h"
#include "platform/foundation/file.h"
#include "platform/foundation/sdevent_runloop.h"
#include "tests/e2e/process.h"
#include "tests/scratch.h"

namespace {

using namespace vantrel::test;
namespace fs = std::filesystem;

constexpr const char* kFiles[] = {"com.quennick.vantrel.plist", "com.quennick.vantrel-datafaker.plist",
                                  "com.quennick.vantrel-icontester.plist"};

class SettingsCli : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        folder_ = scratchFolder("vantrel-e2e-cli");
        ASSERT_EQ(run({bin("vantrel-device"), "--device", folder_, "start", "--fresh"}).code, 0) << "the device did not start";
    }
    static void TearDownTestSuite() {
        run({bin("vantrel-device"), "--device", folder_, "stop"});
        fs::remove_all(folder_);
    }

protected:
    void SetUp() override {
        // A folder that never ran a device: nothing may start or install it.
        cold_ = scratchFolder("vantrel-e2e-cold");
        address_ = busAddressOf(folder_);
        ASSERT_FALSE(address_.empty());
        center_ = std::make_unique<platform::DBusNotificationCenter>(address_, loop_);
        ASSERT_TRUE(center_->isConnected());
        center_->addObserver(
            "vantrel.SettingsChanged",
            [this](const platform::Dictionary* info) {
                const platform::Value* code = info ? platform::lookup(*info, "itemToggled") : nullptr;
                codes_.push_back(code && code->integer() ? *code->integer() : -1);
            },
            loop_);
        loop_.runUntil([] { return false; }, 0.2);  // the match rule is in place
    }
    void TearDown() override {
        center_.reset();
        fs::remove_all(cold_);
    }

    static Captured settings(std::vector<std::string> words, const std::string& folder = folder_, const std::string& input = "") {
        words.insert(words.begin(), {bin("vantrel-settings"), "--device", folder});
        return runCaptured(words, input);
    }
    static std::optional<std::string> file(const std::string& name) {
        auto bytes = platform::readWholeFile(folder_ + "/var/mobile/Library/Preferences/" + name, 1 << 20);
        return bytes ? std::optional<std::string>(std::string(bytes->begin(), bytes->end())) : std::nullopt;
    }
    // The codes posted up to and including `sentinel`'s, which a command run now posts.
    std::vector<int64_t> codesUntil(int64_t sentinel, const std::vector<std::string>& sentinelCommand) {
        EXPECT_EQ(settings(sentinelCommand).code, 0);
        EXPECT_TRUE(loop_.runUntil([&] { return std::find(codes_.begin(), codes_.end(), sentinel) != codes_.end(); }, kReaper));
        return std::exchange(codes_, {});
    }
    nlohmann::json get(const std::string& page, const std::string& key) {
        return parseJson(settings({page, "get", key, "--json"}).out);
    }
    nlohmann::json showRow(const std::string& page, const std::string& key) {
        for (const auto& row : jsonAt(parseJson(settings({page, "show", "--json"}).out), "/rows"))
            if (row.value("key", "") == key) return row;
        return nullptr;
    }
    bool coldFolderUntouched() { return fs::is_empty(cold_) && busAddressOf(cold_).empty(); }

    static inline std::string folder_;
    std::string cold_, address_;
    platform::SdEventRunLoop loop_;
    std::unique_ptr<platform::DBusNotificationCenter> center_;
    std::vector<int64_t> codes_;
};

struct BadLine {
    const char* name;
    std::vector<std::string> words;
    int code;
    std::string said;   // on standard error
    bool cold = false;  // against a device that is not running
};
void PrintTo(const BadLine& b, std::ostream* os) { *os << b.name; }

const std::string kLong(120 * 1024, 'x');

const BadLine kBadLines[] = {
    {"SwitchWord", {"set", "hideall", "maybe"}, 1, "hideall does not take \"maybe\"; it takes true or false"},
    {"ListOutOfRange", {"set", "clockformat", "9"}, 1, "\"9\" (out of range); it takes 0-5 or a title (0: Time"},
    {"ListNoNumber", {"set", "clockformat", "abc"}, 1, "clockformat does not take \"abc\""},
    {"HugeNumber", {"set", "1224", "99999999999999999999"}, 1, "1224 does not take"},
    {"DataFakerList", {"datafaker", "set", "datatype", "abc"}, 1, "8: Personal Hotspot"},
    {"HugeSwitchValue", {"set", "hideall", kLong}, 1, "(122880 bytes)"},
    {"HugeText", {"set", "carrierText", kLong}, 1, "a dialog takes at most 4096"},
    {"HugeDialogText", {"press", "carrierText", "--text", kLong, "--button", "Save"}, 1, "a dialog takes at most 4096"},
    {"UnknownKey", {"set", "nosuchkey", "1"}, 1, "the page main has no setting \"nosuchkey\""},
    {"MistypedKey", {"set", "hidal", "1"}, 1, "did you mean hideall?)\nits keys: "},
    {"KeysListedTenAtMost", {"set", "hidal", "1"}, 1, " more; see `" + bin("vantrel-settings") + " keys`"},
    {"AnswerWithoutDialog", {"answer"}, 1, "vantrel-settings: answer: no dialog is open"},
    {"NoControl", {"set", "intromessageshown", "true"}, 1, "no control of it changes the key"},
    {"ExtraWord", {"show", "--json", "bogus"}, 2, "bogus"},
    {"MistypedOption", {"--devcie", "D", "show"}, 2, "vantrel-settings: unknown option --devcie; did you mean --device?"},
    {"MistypedCommand", {"shwo"}, 2, "did you mean show?"},
    {"MissingValue", {"set", "hideall"}, 2, "VALUE"},
    {"DialogLeftOpen",
     {"press", "timeText", "--text", "hello"},
     1,
     "the dialog is still open; nothing was saved (give --button TITLE)"},
    {"ReadOnlyNotRunning", {"show"}, 1, "not running: ", true},
    {"ActingNotRunning", {"set", "hideall", "true"}, 1, "not running: ", true},
};

class BadSettingsLine : public SettingsCli, public ::testing::WithParamInterface<BadLine> {};

TEST_P(BadSettingsLine, FailsWithItsReasonChangesNoFileAndPostsNothing) {
    const BadLine& row = GetParam();
    std::vector<std::optional<std::string>> before;
    for (const char* f : kFiles) before.push_back(file(f));
    Captured r = settings(row.words, row.cold ? cold_ : folder_);
    EXPECT_EQ(r.code, row.code) << r.err;
    EXPECT_NE(r.err.find(row.said), std::string::npos) << r.err;
    if (row.code == 2) {
        // Spelled as it was run: by its path.
        EXPECT_NE(r.err.find("\nRun '" + bin("vantrel-settings") + " --help' for the usage.\n"), std::string::npos) << r.err;
    }
    for (size_t i = 0; i < std::size(kFiles); ++i) EXPECT_EQ(file(kFiles[i]), before[i]) << kFiles[i] << " changed";
    // hidetethering posts 40: whatever the bad line posted arrives before it.
    EXPECT_EQ(codesUntil(40, {"set", "hidetethering", "false"}), std::vector<int64_t>{40});
    EXPECT_TRUE(coldFolderUntouched()) << "the device of " << cold_ << " was started or installed";
}

INSTANTIATE_TEST_SUITE_P(Table, BadSettingsLine, ::testing::ValuesIn(kBadLines),
                         [](const auto& info) { return info.param.name; });

struct Spelling {
    const char* name;
    std::vector<std::string> words;  // PAGE set KEY VALUE
    const char* before;              // set first, so the row's own value is a change
    nlohmann::json stored;
};
void PrintTo(const Spelling& s, std::ostream* os) { *os << s.name; }

const Spelling kSpellings[] = {
    {"On", {"main", "set", "hideall", "on"}, "false", true},
    {"UpperNo", {"main", "set", "hideall", "NO"}, "true", false},
    {"One", {"main", "set", "lockclock", "1"}, "false", true},
    {"YesForANumberSwitch", {"main", "set", "1224", "yes"}, "false", true},
    {"ListValue", {"main", "set", "clockformat", "3"}, "0", 3},
    {"ListTitleAnyCase", {"main", "set", "clockformat", "custom text"}, "0", 5},
    {"DataFakerTitle", {"datafaker", "set", "datatype", "Wi-Fi"}, "0", 7},
    {"IconTesterSwitch", {"icontester", "set", "clock0", "on"}, "off", true},
    {"TextThroughItsDialog", {"main", "set", "timeText", "'HH' mm"}, "x", "'HH' mm"},
    {"NegatedSwitch", {"main", "set", "ncstatus", "true"}, "false", false},
};

class AcceptedSpelling : public SettingsCli, public ::testing::WithParamInterface<Spelling> {};

TEST_P(AcceptedSpelling, StoresWhatThePageStores) {
    const Spelling& row = GetParam();
    std::vector<std::string> before = row.words;
    before[3] = row.before;
    ASSERT_EQ(settings(before).code, 0);
    ASSERT_NE(jsonAt(get(row.words[0], row.words[2]), "/stored"), row.stored);
    Captured r = settings(row.words);
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string& page = row.words[0];
    const std::string& key = row.words[2];
    EXPECT_EQ(jsonAt(get(page, key), "/stored"), row.stored) << r.out;
    if (key == "ncstatus") {
        auto shown = showRow(page, key);
        EXPECT_EQ(jsonAt(shown, "/control"), true) << shown;  // the switch shows on
        EXPECT_EQ(jsonAt(shown, "/stored"), false) << shown;
        EXPECT_EQ(jsonAt(shown, "/negate"), true) << shown;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, AcceptedSpelling, ::testing::ValuesIn(kSpellings),
                         [](const auto& info) { return info.param.name; });

TEST_F(SettingsCli, HelpOfEveryCommandStartsAndInstallsNothing) {
    const std::string absent = cold_ + "/device";
    for (std::vector<std::string> words : std::vector<std::vector<std::string>>{{"--help"},
                                                                                {"-h"},
                                                                                {"--version"},
                                                                                {"help"},
                                                                                {"show", "-h"},
                                                                                {"get", "--help"},
                                                                                {"set", "-h"},
                                                                                {"reset", "-h"},
                                                                                {"press", "-h"},
                                                                                {"keys", "-h"},
                                                                                {"list", "-h"},
                                                                                {"alerts", "-h"},
                                                                                {"answer", "-h"},
                                                                                {"suspend", "-h"},
                                                                                {"leave", "-h"},
                                                                                {"main", "set", "--help"},
                                                                                {"datafaker", "-h"},
                                                                                {"--start", "set", "hideall", "true", "-h"}}) {
        Captured r = settings(words, absent);
        EXPECT_EQ(r.code, 0) << words[0] << " " << r.err;
        EXPECT_FALSE(r.out.empty()) << words[0];
        EXPECT_FALSE(fs::exists(absent)) << words[0] << " made the device folder";
    }
    EXPECT_TRUE(coldFolderUntouched());
}

TEST_F(SettingsCli, SetSaysWhatItDidAndWarnsOfADatePattern) {
    Captured r = settings({"set", "timeText", "Good morning"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("main: set timeText to Good morning\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("timeText: it is a date pattern"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the bar shows \"AD\"\nto show it as typed, quote it: 'Good morning'"), std::string::npos) << r.err;
    r = settings({"get", "timeText"});
    EXPECT_EQ(r.out, "Good morning\n");
    EXPECT_NE(r.err.find("the bar shows \"AD\""), std::string::npos) << r.err;
    r = settings({"set", "timeText", "'Good morning'", "--quiet"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
}

TEST_F(SettingsCli, GetResetAndTheKeyTable) {
    ASSERT_EQ(settings({"set", "clockformat", "Free Memory"}).code, 0);
    EXPECT_EQ(settings({"get", "clockformat"}).out, "4\n");
    codesUntil(40, {"set", "hidetethering", "false"});
    Captured reset = settings({"reset", "clockformat"});
    ASSERT_EQ(reset.code, 0) << reset.err;
    // The page posts the key's code, as after any change of it.
    EXPECT_EQ(codesUntil(40, {"set", "hidetethering", "false"}), (std::vector<int64_t>{26, 40}));
    EXPECT_EQ(get("main", "clockformat"),
              parseJson(R"({"page":"main","key":"clockformat","stored":null,"default":0,"type":"integer"})"));
    EXPECT_EQ(settings({"get", "clockformat"}).out, "(default) 0\n");

    // Every row's cells start where the header's do, however long a cell.
    std::istringstream table(settings({"keys"}, cold_).out);
    std::string header;
    ASSERT_TRUE(std::getline(table, header));
    size_t rows = 0;
    for (std::string line; std::getline(table, line); ++rows)
        for (const char* column : {"KEY", "TYPE", "DEFAULT", "CONTROL", "CODE", "VALUES"}) {
            size_t at = header.find(column);
            ASSERT_NE(at, std::string::npos) << header;
            EXPECT_TRUE(line.size() > at && line.substr(at - 2, 2) == "  ") << column << " of\n" << line;
        }
    EXPECT_GT(rows, 40u);

    // The key table needs no device: the cold folder answers it.
    auto keys = parseJson(settings({"keys", "--json"}, cold_).out);
    ASSERT_TRUE(keys.contains("keys")) << keys;
    std::map<std::string, nlohmann::json> byKey;
    for (const auto& k : keys["keys"]) byKey[k.value("file", "") + "/" + k.value("key", "")] = k;
    EXPECT_EQ(byKey.size(), keys["keys"].size()) << "a key twice";
    EXPECT_EQ(jsonAt(byKey["main/ncstatus"], "/negate"), true);
    EXPECT_EQ(jsonAt(byKey["main/carrierText"], "/code"), 29);
    EXPECT_EQ(jsonAt(byKey["main/carrierText"], "/control"), "text dialog");
    EXPECT_EQ(jsonAt(byKey["datafaker/datatype"], "/validTitles/6"), "LTE");
    EXPECT_EQ(jsonAt(byKey["icontester/clock0"], "/code"), 100);
    EXPECT_TRUE(coldFolderUntouched());

    // A piped session goes on after a failed command, and says so in its exit code.
    Captured session = settings({"--session"}, folder_, "set hideall maybe\nget hideall\n");
    EXPECT_EQ(session.code, 1) << session.out;
    EXPECT_NE(session.out.find("error\n"), std::string::npos) << session.out;
    EXPECT_NE(session.out.find("ok\n"), std::string::npos) << session.out;
}

}  // namespace
