#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/file.h"
#include "tests/tweak/fixture.h"
#include "tests/tweak/recording.h"
#include "tweak/carrier/carrier.h"

using namespace vantrel;
using namespace vantrel::test;
using tweak::Text;

namespace {

class CarrierTest : public TweakTest {
protected:
    void SetUp() override {
        TweakTest::SetUp();
        recordHook<&tweak::SBStatusBarStateAggregator__sbCarrierNameForOperator_>();
        recordHook<&tweak::SBStatusBarStateAggregator__displayStringForSIMStatus_>();
        recordHook<&tweak::SBStatusBarStateAggregator_operatorName_>();
        recordHook<&tweak::SBStatusBarStateAggregator__shouldShowEmergencyOnlyStatus>();
        recordHook<&tweak::SBTelephonyManager_dataConnectionType>();
        recordHook<&tweak::SBTelephonyManager_isNetworkTethering>();
        recordHook<&tweak::SBTelephonyManager_numberOfNetworkTetheredDevices>();
        clearPreviousCalls();
        watchPostedCodes(center(), loop());
    }

    Dictionary mainWith(std::initializer_list<std::pair<const std::string, Value>> changes) {
        Dictionary d = defaultPreferences(PreferenceFile::Main);
        for (const auto& [k, v] : changes) d[k] = v;
        return d;
    }
    static id telephony() { return platform::sharedInstance("SBTelephonyManager"); }
};

// ---- The three carrier text methods

struct CarrierTextRow {
    const char* selector;
    IMP* slot;
};
void PrintTo(const CarrierTextRow& row, std::ostream* os) { *os << row.selector; }

class CarrierTextTest : public CarrierTest, public ::testing::WithParamInterface<CarrierTextRow> {
protected:
    Text ask(const Text& argument) { return msgSend<Text>(aggregator(), sel_registerName(GetParam().selector), argument); }
    Text springBoardAnswer(const Text& argument) {
        return callImp<Text>(originalPrevious(GetParam().slot), aggregator(), sel_registerName(GetParam().selector), argument);
    }
};

const Text kArguments[] = {Text("Vantrel Mobile"), Text("kCTSIMSupportSIMStatusNotInserted"), Text(""), std::nullopt};

TEST_P(CarrierTextTest, SwitchOnAnswersTheCarrierTextWithoutCallingOn) {
    writeMain(mainWith({{"customcarrier", true}, {"carrierText", "Quennick Tel"}}));
    tweak::carrierText = "Quennick Tel";
    for (const auto& argument : kArguments) EXPECT_EQ(ask(argument), Text("Quennick Tel"));
    EXPECT_EQ(previousCalls(GetParam().slot), 0);
}

TEST_P(CarrierTextTest, SwitchOnWithoutATextAnswersAbsent) {
    Dictionary d = mainWith({{"customcarrier", true}});
    d.erase("carrierText");
    writeMain(d);
    tweak::initializeSettings();
    ASSERT_FALSE(tweak::carrierText);
    EXPECT_EQ(ask(Text("Vantrel Mobile")), std::nullopt);
    EXPECT_EQ(previousCalls(GetParam().slot), 0);
}

TEST_P(CarrierTextTest, SwitchOffOrUnreadableGivesExactlyWhatSpringBoardAnswers) {
    tweak::carrierText = "Quennick Tel";
    const std::string path = preferencePath(PreferenceFile::Main);
    struct Setting {
        const char* name;
        std::function<void()> apply;
    } settings[] = {
        {"false",
         [&] {
             writeMain(mainWith({{"customcarrier", false}}));
         }},
        {"absent",
         [&] {
             writeMain({{"carrierText", "Quennick Tel"}});
         }},
        {"missing file", [&] { std::remove(path.c_str()); }},
        {"unreadable file",
         [&] {
             platform::writeFileAtomically(path, std::vector<uint8_t>{'n', 'o', 'p', 'e'});
         }},
    };
    for (const auto& setting : settings) {
        SCOPED_TRACE(setting.name);
        setting.apply();
        for (const auto& argument : kArguments) {
            clearPreviousCalls();
            EXPECT_EQ(ask(argument), springBoardAnswer(argument));
            EXPECT_EQ(previousCalls(GetParam().slot), 1);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, CarrierTextTest,
                         ::testing::Values(CarrierTextRow{"_sbCarrierNameForOperator:",
                                                          slotOf<&tweak::SBStatusBarStateAggregator__sbCarrierNameForOperator_>},
                                           CarrierTextRow{"_displayStringForSIMStatus:",
                                                          slotOf<&tweak::SBStatusBarStateAggregator__displayStringForSIMStatus_>},
                                           CarrierTextRow{"operatorName:",
                                                          slotOf<&tweak::SBStatusBarStateAggregator_operatorName_>}),
                         [](const auto& info) {
                             std::string name;
                             for (char c : std::string(info.param.selector))
                                 if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                             return name;
                         });

// ---- Emergency-only status

TEST_F(CarrierTest, SosForcesEmergencyOnlyAndOffGivesTheRealStatus) {
    SEL s = sel_registerName("_shouldShowEmergencyOnlyStatus");
    const IMP* slot = slotOf<&tweak::SBStatusBarStateAggregator__shouldShowEmergencyOnlyStatus>;
    for (bool deviceEmergencyOnly : {false, true}) {
        platform::deviceState().emergencyOnly = deviceEmergencyOnly;

        writeMain(mainWith({{"sos", true}}));
        clearPreviousCalls();
        EXPECT_TRUE(msgSend<bool>(aggregator(), s));
        EXPECT_EQ(previousCalls(slot), 0);

        for (auto off : {mainWith({{"sos", false}}), Dictionary{}}) {
            writeMain(off);
            clearPreviousCalls();
            EXPECT_EQ(msgSend<bool>(aggregator(), s), deviceEmergencyOnly);
            EXPECT_EQ(previousCalls(slot), 1);
        }
    }
}

// ---- The service item as SpringBoard builds it

TEST_F(CarrierTest, ServiceItemShowsTheCustomTextAndFollowsTheSwitchAtOnce) {
    writeMain(mainWith({{"customcarrier", true}, {"carrierText", "Quennick Tel"}, {"sos", true}}));
    tweak::initializeSettings();
    msgSend<void>(aggregator(), sel_registerName("_updateServiceItem"));
    EXPECT_EQ(platform::statusBarAggregator()->serviceText, Text("Quennick Tel"));
    EXPECT_TRUE(platform::statusBarAggregator()->emergencyOnly);

    // No SIM: the status text is replaced too.
    platform::deviceState().simInserted = false;
    msgSend<void>(aggregator(), sel_registerName("_updateServiceItem"));
    EXPECT_EQ(platform::statusBarAggregator()->serviceText, Text("Quennick Tel"));

    // The switches are read at every question; the file vanishing hands everything back.
    platform::deviceState().simInserted = true;
    std::remove(preferencePath(PreferenceFile::Main).c_str());
    msgSend<void>(aggregator(), sel_registerName("_updateServiceItem"));
    EXPECT_EQ(platform::statusBarAggregator()->serviceText, Text("Vantrel Mobile"));
    EXPECT_FALSE(platform::statusBarAggregator()->emergencyOnly);
}

// Code 29 refills the cached text; an edit without it keeps showing the old one.
TEST_F(CarrierTest, Code29RefillsTheCarrierText) {
    writeMain(mainWith({{"customcarrier", true}, {"carrierText", "First"}}));
    tweak::initializeSettings();
    std::vector<int> changedItems;
    platform::setStatusBarObserver([&](int item) { changedItems.push_back(item); });
    platform::finishLaunching();
    loop().runPending();
    EXPECT_EQ(platform::statusBarAggregator()->serviceText, Text("First"));

    writeMain(mainWith({{"customcarrier", true}, {"carrierText", "Second"}}));
    platform::updateAllItems();
    EXPECT_EQ(platform::statusBarAggregator()->serviceText, Text("First"));
    EXPECT_EQ(tweak::carrierText, Text("First"));

    changedItems.clear();
    postSettingsChanged(ItemCode::Carrier);
    loop().runPending();
    EXPECT_EQ(tweak::carrierText, Text("Second"));
    EXPECT_EQ(platform::statusBarAggregator()->serviceText, Text("Second"));
    EXPECT_NE(std::find(changedItems.begin(), changedItems.end(), 4), changedItems.end());

    // A refill from a file without the text leaves the replacement nothing to show.
    Dictionary d = mainWith({{"customcarrier", true}});
    d.erase("carrierText");
    writeMain(d);
    postSettingsChanged(ItemCode::Carrier);
    loop().runPending();
    EXPECT_EQ(tweak::carrierText, std::nullopt);
    EXPECT_EQ(platform::statusBarAggregator()->serviceText, std::nullopt);
    platform::setStatusBarObserver(nullptr);
}

// ---- Data network faker and tethering

// nullopt: the previous implementation's answer, called exactly once.
struct TelephonyRow {
    const char* name;
    std::optional<Dictionary> main;   // nullopt: no file; an empty "bad" marker below
    std::optional<Dictionary> faker;  // nullopt: no file
    bool unreadableMain, unreadableFaker;
    std::optional<int> dataConnectionType;
    std::optional<bool> isNetworkTethering;
    std::optional<int> numberOfNetworkTetheredDevices;
    bool readsFaker;
};
void PrintTo(const TelephonyRow& row, std::ostream* os) { *os << row.name; }

class TelephonyTest : public CarrierTest, public ::testing::WithParamInterface<TelephonyRow> {};

TEST_P(TelephonyTest, AnswersInPrecedenceOrder) {
    const auto& row = GetParam();
    // A real network distinct from every faked value: cellular type 3, tethering 3 devices.
    auto& device = platform::deviceState();
    device.wifiNetwork = std::nullopt;
    device.cellularDataType = 3;
    device.tethering = true;
    device.tetheredDevices = 3;

    const std::string mainPath = preferencePath(PreferenceFile::Main);
    const std::string fakerPath = preferencePath(PreferenceFile::DataFaker);
    std::remove(mainPath.c_str());
    if (row.main) writeMain(*row.main);
    if (row.unreadableMain) platform::writeFileAtomically(mainPath, std::vector<uint8_t>{'<', 'x'});
    if (row.faker) writeFaker(*row.faker);
    if (row.unreadableFaker) platform::writeFileAtomically(fakerPath, std::vector<uint8_t>{'b', 'p', 'l'});

    auto check = [&](const char* selector, const IMP* slot, auto expected, auto real) {
        SCOPED_TRACE(selector);
        using R = decltype(real);
        clearPreviousCalls();
        tweak::datafakerprefs.reset();
        R answer = msgSend<R>(telephony(), sel_registerName(selector));
        if (expected) {
            EXPECT_EQ(answer, *expected);
            EXPECT_EQ(previousCalls(slot), 0);
        } else {
            EXPECT_EQ(answer, real);
            EXPECT_EQ(previousCalls(slot), 1);
        }
        // The faker file is read only past "hidetethering", and kept in datafakerprefs.
        if (row.readsFaker)
            EXPECT_EQ(tweak::datafakerprefs, readPreferences(PreferenceFile::DataFaker));
        else
            EXPECT_FALSE(tweak::datafakerprefs);
    };
    check("dataConnectionType", slotOf<&tweak::SBTelephonyManager_dataConnectionType>, row.dataConnectionType, 3);
    check("isNetworkTethering", slotOf<&tweak::SBTelephonyManager_isNetworkTethering>, row.isNetworkTethering, true);
    check("numberOfNetworkTetheredDevices", slotOf<&tweak::SBTelephonyManager_numberOfNetworkTetheredDevices>,
          row.numberOfNetworkTetheredDevices, 3);
}

Dictionary mainDefaultsWith(bool hideTethering) {
    Dictionary d = defaultPreferences(PreferenceFile::Main);
    d["hidetethering"] = hideTethering;
    return d;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TelephonyTest,
    ::testing::Values(
        TelephonyRow{"NothingSet", mainDefaultsWith(false), std::nullopt, false, false, {}, {}, {}, true},
        TelephonyRow{"FakerDefaults",
                     mainDefaultsWith(false),
                     Dictionary{{"enablefaker", false}, {"datatype", 6}},
                     false,
                     false,
                     {},
                     {},
                     {},
                     true},
        TelephonyRow{"FakerOn",
                     mainDefaultsWith(false),
                     Dictionary{{"enablefaker", true}, {"datatype", 6}},
                     false,
                     false,
                     6,
                     {},
                     {},
                     true},
        TelephonyRow{
            "FakerOnWithoutType", mainDefaultsWith(false), Dictionary{{"enablefaker", true}}, false, false, 0, {}, {}, true},
        TelephonyRow{"FakerOnWithUnlistedType",
                     mainDefaultsWith(false),
                     Dictionary{{"enablefaker", true}, {"datatype", 77}},
                     false,
                     false,
                     77,
                     {},
                     {},
                     true},
        TelephonyRow{"FakerOnWithTypeOutOfRange",
                     mainDefaultsWith(false),
                     Dictionary{{"enablefaker", true}, {"datatype", 1LL << 40}},
                     false,
                     false,
                     2147483647,
                     {},
                     {},
                     true},
        TelephonyRow{"FakerAndTethering", mainDefaultsWith(false),
                     Dictionary{{"enablefaker", true}, {"datatype", 6}, {"enabletethering", true}}, false, false, 6, true, 42,
                     true},
        TelephonyRow{"TetheringOnly", mainDefaultsWith(false), Dictionary{{"enabletethering", true}}, false, false, 8, true, 42,
                     true},
        TelephonyRow{"HideTetheringBeatsEverything",
                     mainDefaultsWith(true),
                     Dictionary{{"enablefaker", true}, {"datatype", 6}, {"enabletethering", true}},
                     false,
                     false,
                     {},
                     {},
                     0,
                     false},
        TelephonyRow{"HideTetheringWithoutFakerFile", mainDefaultsWith(true), std::nullopt, false, false, {}, {}, 0, false},
        TelephonyRow{"NoMainFileFakerDecides", std::nullopt, Dictionary{{"enabletethering", true}}, false, false, 8, true, 42,
                     true},
        TelephonyRow{"UnreadableMainFakerDecides", std::nullopt, Dictionary{{"enabletethering", true}}, true, false, 8, true, 42,
                     true},
        TelephonyRow{"UnreadableFaker", mainDefaultsWith(false), std::nullopt, false, true, {}, {}, {}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CarrierTest, StatusBarShowsTheFakedNetworkAndTethering) {
    platform::deviceState().wifiNetwork = std::nullopt;
    platform::deviceState().cellularDataType = 3;
    writeFaker({{"enablefaker", true}, {"datatype", 6}, {"enabletethering", true}});
    platform::updateAllItems();
    const auto* a = platform::statusBarAggregator();
    EXPECT_EQ(a->dataNetworkType, 6);
    EXPECT_TRUE(a->tethering);
    EXPECT_EQ(a->tetheredDevices, 42);
}

}  // namespace
