#include <dlfcn.h>

#include <set>

#include "tests/prefs/fixture.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

std::set<std::string> knownKeys(PreferenceFile file) {
    std::set<std::string> keys;
    for (const KeySchema& row : schemaRows(file)) keys.insert(row.key);
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
            // The command line checks values against the table: it must say the control the page has.
            if (const KeySchema* key = findKey(GetParam().file, row.key)) {
                EXPECT_EQ(key->control, row.cell == "PSSwitchCell" ? Control::Switch : Control::List) << row.key;
                EXPECT_EQ(key->negate, boolValue(row.specifier->propertyForKey("negate"))) << row.key;
            }
        }
        if (row.cell == "PSLinkListCell") {
            EXPECT_EQ(row.validValues.size(), row.validTitles.size()) << row.key;
        }
        if (row.cell == "PSButtonCell") {
            EXPECT_TRUE(class_respondsToSelector(object_getClass(page), sel_registerName(row.action.c_str()))) << row.action;
            for (const KeySchema& key : schemaRows(GetParam().file))
                if (key.dialog && row.action == key.dialog) controlled.insert(key.key);
        }
        if (row.cell == "PSLinkCell") {
            EXPECT_TRUE(objc_getClass(row.detail.c_str())) << row.detail;
        }
    }
    // Every key a user sets has its control (the texts their dialog buttons); the others none.
    for (const KeySchema& key : schemaRows(GetParam().file))
        EXPECT_EQ(controlled.count(key.key) == 1, key.control != Control::None) << "control of " << key.key;
}

INSTANTIATE_TEST_SUITE_P(ThreePages, SpecifierFileTest,
                         ::testing::Values(PageFile{"main", PreferenceFile::Main},
                                           PageFile{"icontester", PreferenceFile::IconTester},
                                           PageFile{"datafaker", PreferenceFile::DataFaker}),
                         [](const auto& info) { return std::string(info.param.page); });

TEST_F(PrefsTest, ListsMatchTheKeyTableAndTheSimulatedDataTypes) {
    std::set<std::string> lists;
    for (const PageFile& p : {PageFile{"main", PreferenceFile::Main}, PageFile{"datafaker", PreferenceFile::DataFaker}}) {
        for (const auto& row : platform::controllerRows(open(p.page))) {
            if (row.cell != "PSLinkListCell") continue;
            lists.insert(row.key);
            const KeySchema* key = findKey(p.file, row.key);
            ASSERT_TRUE(key) << row.key;
            ASSERT_EQ(static_cast<int64_t>(row.validValues.size()), key->valid.max - key->valid.min + 1) << row.key;
            ASSERT_EQ(row.validTitles.size(), key->valid.titles.size()) << row.key;
            for (size_t i = 0; i < row.validValues.size(); ++i) {
                EXPECT_EQ(row.validValues[i], platform::Value(static_cast<long long>(key->valid.min + static_cast<int64_t>(i))));
                EXPECT_EQ(row.validTitles[i], key->valid.titles[i]);
            }
        }
    }
    EXPECT_EQ(lists, (std::set<std::string>{"clockformat", "datatype"}));
    const auto& types = keySchema(DataFakerKey::datatype).valid;
    for (int64_t type = types.min; type <= types.max; ++type)
        EXPECT_STREQ(types.titles[static_cast<size_t>(type)], platform::dataNetworkLabel(static_cast<int>(type)));
    id main = open("main");
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
