#include <dlfcn.h>

#include <set>

#include "tests/prefs/fixture.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

std::set<std::string> knownKeys(PreferenceFile file) {
    std::set<std::string> keys;
    for (const auto& [k, v] : defaultPreferences(file)) keys.insert(k);
    if (file == PreferenceFile::Main) keys.insert({"intromessageshown", "enabled"});
    if (file == PreferenceFile::DataFaker) keys.insert("enabletethering");
    if (file == PreferenceFile::IconTester)
        keys.insert({"sync", "clock0", "dnd1", "airplane2", "signal3", "carrier4", "wifi5", "unknown6", "battery7",
                     "batterypercent8", "bluetoothbatterypercent9", "bluetoothbattery10", "bluetooth11", "tty12",
                     "alarm13", "unknown14", "unknown15", "location16", "portrait17", "unknown18", "airplay19",
                     "siri20", "vpn21", "callforwarding22", "activity23", "unknow24", "unknown25"});
    return keys;
}

struct PageFile {
    const char* page;
    PreferenceFile file;
};
void PrintTo(const PageFile& p, std::ostream* os) { *os << p.page; }

}  // namespace

class SpecifierFileTest : public PrefsTest, public ::testing::WithParamInterface<PageFile> {};

TEST_P(SpecifierFileTest, EveryControlHasAKnownKeyAndEveryActionAMethod) {
    id page = open(GetParam().page);
    ASSERT_TRUE(page);
    auto rows = platform::controllerRows(page);
    ASSERT_FALSE(rows.empty());
    auto known = knownKeys(GetParam().file);
    std::set<std::string> controlled;
    for (const auto& row : rows) {
        EXPECT_FALSE(row.cell.empty()) << row.label;
        if (row.cell == "PSSwitchCell" || row.cell == "PSLinkListCell") {
            EXPECT_TRUE(known.count(row.key)) << "unknown key " << row.key;
            EXPECT_TRUE(row.value) << row.key;  // every control shows something
            controlled.insert(row.key);
        }
        if (row.cell == "PSLinkListCell") {
            EXPECT_EQ(row.validValues.size(), row.validTitles.size()) << row.key;
        }
        if (row.cell == "PSButtonCell") {
            EXPECT_TRUE(class_respondsToSelector(object_getClass(page), sel_registerName(row.action.c_str()))) << row.action;
        }
        if (row.cell == "PSLinkCell") {
            EXPECT_TRUE(objc_getClass(row.detail.c_str())) << row.detail;
        }
    }
    // Every key a user sets has its control; the three texts have their dialogs instead.
    const std::set<std::string> notSwitches = {"intromessageshown", "enabled", "carrierText", "timeText", "reverseString"};
    for (const auto& key : known) {
        if (notSwitches.count(key)) continue;
        EXPECT_TRUE(controlled.count(key)) << "no control for " << key;
    }
}

INSTANTIATE_TEST_SUITE_P(ThreePages, SpecifierFileTest,
                         ::testing::Values(PageFile{"main", PreferenceFile::Main}, PageFile{"icontester", PreferenceFile::IconTester},
                                           PageFile{"datafaker", PreferenceFile::DataFaker}),
                         [](const auto& info) { return std::string(info.param.page); });

TEST_F(PrefsTest, ListsMatchClockModesAndTheSimulatedDataTypes) {
    id faker = open("datafaker");
    for (const auto& row : platform::controllerRows(faker)) {
        if (row.key != "datatype") continue;
        ASSERT_FALSE(row.validValues.empty());
        for (size_t i = 0; i < row.validValues.size(); ++i)
            EXPECT_EQ(row.validTitles[i], platform::dataNetworkLabel(static_cast<int>(*row.validValues[i].integer())));
    }
    id main = open("main");
    bool found = false;
    for (const auto& row : platform::controllerRows(main))
        if (row.key == "clockformat") {
            found = true;
            ASSERT_EQ(row.validValues.size(), 6u);
            for (int mode = 0; mode < 6; ++mode) EXPECT_EQ(row.validValues[mode], platform::Value(mode));
        }
    EXPECT_TRUE(found);
    auto buttons = std::set<std::string>{};
    for (const auto& row : platform::controllerRows(main))
        if (!row.action.empty()) buttons.insert(row.action);
    EXPECT_EQ(buttons, (std::set<std::string>{"carrierText:", "timeText:", "reverseString:", "Quennick:", "donate:",
                                              "sendFeedback:", "visitTwitter:", "visitFacebook:"}));
}

TEST_F(PrefsTest, BundleNamesItsPrincipalClassAndTheSettingsEntryOpensIt) {
    auto info = platform::readDictionaryFile(VANTREL_SOURCE_DIR "/prefs/resources/Info.plist");
    ASSERT_TRUE(info);
    EXPECT_EQ(*platform::lookup(*info, "NSPrincipalClass"), platform::Value(prefs::kMainPageClass));
    EXPECT_EQ(*platform::lookup(*info, "CFBundleExecutable"), platform::Value("Vantrel"));
    auto entry = platform::readDictionaryFile(VANTREL_SOURCE_DIR "/prefs/entry/Vantrel.plist");
    ASSERT_TRUE(entry && platform::lookup(*entry, "entry"));
    const auto& e = *platform::lookup(*entry, "entry")->dictionary();
    EXPECT_EQ(*platform::lookup(e, "bundle"), platform::Value("Vantrel"));
    EXPECT_EQ(*platform::lookup(e, "detail"), platform::Value(prefs::kMainPageClass));
}

// The Settings host's way: load the built bundle, whose classes then find their files beside it.
TEST_F(PrefsTest, LoadedBundleRegistersItsPagesWithItsOwnFolder) {
    void* handle = dlopen(VANTREL_PREFS_BUNDLE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(handle) << dlerror();
    std::string folder = std::filesystem::path(VANTREL_PREFS_BUNDLE).parent_path();
    EXPECT_EQ(platform::bundlePathForClass(objc_getClass(prefs::kMainPageClass)), folder);
    id page = open("main");
    EXPECT_FALSE(platform::controllerRows(page).empty());
    EXPECT_TRUE(std::filesystem::exists(folder + "/chiptune.m4a"));
}

TEST_F(PrefsTest, UnknownPageAndMissingSpecifierFileFailCleanly) {
    EXPECT_EQ(prefs::openPage("nosuchpage"), nullptr);
    EXPECT_EQ(platform::openController("NoSuchController"), nullptr);
    prefs::registerPageClasses(device_ + "/nowhere");
    id page = open("main");
    ASSERT_TRUE(page);
    EXPECT_TRUE(platform::controllerRows(page).empty());
    EXPECT_FALSE(platform::performAction(page, nullptr));
}
