#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shared/settings.h"

using namespace vantrel;
using platform::Value;

namespace {

// The documented key tables, written out here and not taken from the code they check.
struct DocumentedKey {
    std::string key;
    KeyType type;
    std::optional<Value> inDefaults;  // nullopt: not in the file's defaults
    std::optional<int> code;          // posted by the page after a change
    int item = -1;                    // the item it hides or shows
};

std::vector<DocumentedKey> documented(PreferenceFile file) {
    using enum KeyType;
    const std::optional<int> none;
    if (file == PreferenceFile::DataFaker)
        return {{"enablefaker", Bool, false, 9991}, {"datatype", Integer, 6, 9991}, {"enabletethering", Bool, {}, 9992}};
    std::vector<DocumentedKey> keys;
    if (file == PreferenceFile::IconTester) {
        const char* items[] = {"clock0",
                               "dnd1",
                               "airplane2",
                               "signal3",
                               "carrier4",
                               "wifi5",
                               "unknown6",
                               "battery7",
                               "batterypercent8",
                               "bluetoothbatterypercent9",
                               "bluetoothbattery10",
                               "bluetooth11",
                               "tty12",
                               "alarm13",
                               "unknown14",
                               "unknown15",
                               "location16",
                               "portrait17",
                               "unknown18",
                               "airplay19",
                               "siri20",
                               "vpn21",
                               "callforwarding22",
                               "activity23",
                               "unknow24",
                               "unknown25"};
        for (int i = 0; i < 26; ++i) keys.push_back({items[i], Bool, {}, 100, i});
        keys.push_back({"enabletester", Bool, false, 99});
        keys.push_back({"sync", Bool, {}, 126});
        return keys;
    }
    const char* items[] = {
        "clock",    "donotdisturb",    "airplane",        "signalbars",    "carrierlogo", "wifi",    "unknown1",
        "battery",  "batterypercent1", "batterypercent2", "smallbattery1", "bluetooth",   "tty",     "alarm",
        "unknown2", "unknown3",        "location",        "portraitlock",  "unknown4",    "airplay", "assistant",
        "vpn",      "callforwarding",  "activity",        "music",         "unknown5"};
    for (int i = 0; i < 26; ++i) keys.push_back({items[i], Bool, false, i, i});
    keys.insert(keys.end(), {
                                {"clockformat", Integer, 0, 26, 26},
                                {"1224", NumberAsInteger, 0, 26},
                                {"timeandram", Bool, false, none},
                                {"hideall", Bool, false, 99},
                                {"sos", Bool, false, 27, 27},
                                {"ncstatus", Bool, false, none},
                                {"carrierText", String, "CustomText", none},
                                {"timeText", String, "'_Quennick_'", none},
                                {"lockclock", Bool, false, none},
                                {"nowplaying", Bool, false, 26},
                                {"samelockstatusbar", Bool, false, none},
                                {"customcarrier", Bool, false, 29, 29},
                                {"activatorenabled", Bool, true, none},
                                {"ramtime", Bool, false, none},
                                {"hideallls", Bool, false, none},
                                {"animatedcustomtime", Bool, false, 26},
                                {"reverseString", String, "'Vantrel'", none},
                                {"hidetethering", Bool, false, 40},
                                {"intromessageshown", Bool, {}, none},
                                {"enabled", Any, {}, none},
                            });
    return keys;
}

}  // namespace

TEST(SchemaTest, TablesHoldTheDocumentedKeysDefaultsAndCodes) {
    for (PreferenceFile file : kPreferenceFiles) {
        SCOPED_TRACE(fileName(file));
        auto expected = documented(file);
        auto rows = schemaRows(file);
        ASSERT_EQ(rows.size(), expected.size());
        Dictionary defaults;
        for (size_t i = 0; i < rows.size(); ++i) {
            const auto& want = expected[i];
            EXPECT_EQ(rows[i].key, want.key);
            EXPECT_EQ(rows[i].type, want.type) << want.key;
            EXPECT_EQ(defaultValue(rows[i]), want.inDefaults) << want.key;
            EXPECT_EQ(rows[i].item, want.item) << want.key;
            EXPECT_EQ(itemCodeForKey(file, want.key), want.code) << want.key;
            EXPECT_NE(std::string(rows[i].description), "") << want.key;
            if (want.inDefaults) defaults[want.key] = *want.inDefaults;
        }
        EXPECT_EQ(defaultPreferences(file), defaults);
    }
    EXPECT_EQ(defaultPreferences(PreferenceFile::Main).size(), 44u);
    EXPECT_EQ(defaultPreferences(PreferenceFile::DataFaker), (Dictionary{{"enablefaker", false}, {"datatype", 6}}));
    EXPECT_EQ(defaultPreferences(PreferenceFile::IconTester), (Dictionary{{"enabletester", false}}));

    // The control column of `settings keys`: one key of each kind.
    const std::pair<const char*, const char*> kControls[] = {
        {"hideall", "switch"}, {"clockformat", "list"}, {"carrierText", "text dialog"}, {"enabled", "none"}};
    for (const auto& [key, control] : kControls) {
        ASSERT_TRUE(findKey(PreferenceFile::Main, key)) << key;
        EXPECT_STREQ(controlName(findKey(PreferenceFile::Main, key)->control), control) << key;
    }
    // ...and its type column: one key of each type.
    const std::pair<const char*, const char*> kTypes[] = {{"hideall", "bool"},
                                                          {"clockformat", "integer"},
                                                          {"1224", "number read as integer"},
                                                          {"carrierText", "string"},
                                                          {"enabled", "any"}};
    for (const auto& [key, type] : kTypes) EXPECT_STREQ(typeName(findKey(PreferenceFile::Main, key)->type), type) << key;

    // Keys the tables do not know: compared exactly, and only the icon tester page posts for them.
    EXPECT_EQ(itemCodeForKey(PreferenceFile::Main, "Clock"), std::nullopt);
    EXPECT_EQ(itemCodeForKey(PreferenceFile::IconTester, "EnableTester"), 100);
    EXPECT_EQ(itemCodeForKey(PreferenceFile::DataFaker, "somethingelse"), std::nullopt);

    // Absent keys: switches false, integers 0, the two pattern texts their defaults, no carrier text.
    const std::optional<Dictionary> itemKeysOnly = Dictionary{{"clock", true}};
    EXPECT_EQ(readKey<MainKey::timeText>(itemKeysOnly), "'_Quennick_'");
    EXPECT_EQ(readKey<MainKey::reverseString>(itemKeysOnly), "'Vantrel'");
    EXPECT_EQ(readKey<MainKey::carrierText>(itemKeysOnly), std::nullopt);
    EXPECT_EQ(readKey<MainKey::clockformat>(itemKeysOnly), 0);
    EXPECT_FALSE(readKey<MainKey::activatorenabled>(itemKeysOnly));
    EXPECT_EQ(readKey<DataFakerKey::datatype>(std::nullopt), 0);
    EXPECT_TRUE(readKey<MainKey::clock>(itemKeysOnly));
}
