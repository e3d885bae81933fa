#include "tests/prefs/fixture.h"

using namespace vantrel;
using namespace vantrel::test;
using platform::Value;
using Alert = std::shared_ptr<platform::UIAlertView>;

namespace {

struct DialogCase {
    const char* action;
    long tag;
    const char* title;
    const char* key;
    std::optional<int> code;
    const char* getter;  // the property that keeps the dialog
    const char* setter;
};
void PrintTo(const DialogCase& d, std::ostream* os) { *os << d.action; }

const DialogCase kDialogs[] = {
    {"carrierText:", 1, "Change Carrier Name", "carrierText", 29, "carrierAlertView", "setCarrierAlertView:"},
    {"timeText:", 2, "Custom Time String", "timeText", 26, "timeAlertView", "setTimeAlertView:"},
    {"reverseString:", 5, "Change Second Animted Clock String", "reverseString", std::nullopt, "reverseStringView",
     "setReverseStringView:"},
};

const Value* mainValue(const char* key) {
    static std::optional<Dictionary> file;
    file = readPreferences(PreferenceFile::Main);
    return file ? platform::lookup(*file, key) : nullptr;
}

}  // namespace

class DialogTest : public PrefsTest, public ::testing::WithParamInterface<DialogCase> {};

TEST_P(DialogTest, SaveSaveEmptyCancelAndReopen) {
    const auto& d = GetParam();
    id page = open("main");
    send(page, d.action);
    auto alert = topAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(msgSend<Alert>(page, sel_registerName(d.getter)), alert);
    EXPECT_EQ(alert->tag(), d.tag);
    EXPECT_EQ(alert->title(), d.title);
    EXPECT_EQ(alert->message(), "");
    EXPECT_EQ(alert->buttonTitles(), (std::vector<std::string>{"Cancel", "Save"}));
    ASSERT_TRUE(alert->textField());
    EXPECT_EQ(alert->textField()->text, *defaultPreferences(PreferenceFile::Main)[d.key].string());
    EXPECT_TRUE(alert->textField()->isFirstResponder);

    alert->textField()->text = "'Quennick' HH:mm";
    alert->dismissWithClickedButtonIndex(1);
    ASSERT_TRUE(mainValue(d.key));
    EXPECT_EQ(*mainValue(d.key), Value("'Quennick' HH:mm"));
    EXPECT_EQ(center().codes(), d.code ? std::vector<int>{*d.code} : std::vector<int>{});

    // Saving empty removes the key so readers use their defaults; the code still goes out.
    center().posts.clear();
    send(page, d.action);
    EXPECT_EQ(topAlert(), alert);  // the same dialog, reused
    alert->textField()->text = "";
    alert->dismissWithClickedButtonIndex(1);
    EXPECT_FALSE(mainValue(d.key));
    EXPECT_EQ(center().codes(), d.code ? std::vector<int>{*d.code} : std::vector<int>{});

    // Cancel posts nothing, but the settings are saved (the vanished file comes back).
    center().posts.clear();
    send(page, d.action);
    alert->textField()->text = "typed then cancelled";
    std::filesystem::remove(preferencePath(PreferenceFile::Main));
    alert->dismissWithClickedButtonIndex(0);
    EXPECT_TRUE(center().posts.empty());
    EXPECT_TRUE(readPreferences(PreferenceFile::Main));

    // Reopening shows what is stored, not what was typed.
    set(page, specifier(d.key), Value("stored"));
    send(page, d.action);
    EXPECT_EQ(alert->textField()->text, "stored");

    // A dialog dropped through its property is made anew.
    msgSend<void>(page, sel_registerName(d.setter), Alert{});
    EXPECT_FALSE(msgSend<Alert>(page, sel_registerName(d.getter)));
    send(page, d.action);
    ASSERT_TRUE(topAlert());
    EXPECT_NE(topAlert(), alert);
    EXPECT_EQ(msgSend<Alert>(page, sel_registerName(d.getter)), topAlert());
    EXPECT_EQ(topAlert()->title(), d.title);
}

INSTANTIATE_TEST_SUITE_P(TextDialogs, DialogTest, ::testing::ValuesIn(kDialogs),
                         [](const auto& info) { return std::string(info.param.key); });

TEST_F(PrefsTest, AnimationRunningRefusesOnlyTheTwoClockTexts) {
    id page = open("main");
    prefs::isAnimationRunning = true;
    send(page, "timeText:");
    send(page, "reverseString:");
    send(page, "carrierText:");
    auto alerts = platform::visibleAlerts();
    ASSERT_EQ(alerts.size(), 3u);
    EXPECT_EQ(alerts[0]->title(), "Warning!");
    EXPECT_EQ(alerts[0]->message(),
              "You cannot change this setting until 'Animated Custom Text' has been Disabled AND it has finished it's last "
              "animation loop.");
    EXPECT_EQ(alerts[0]->buttonTitles(), std::vector<std::string>{"OK"});
    EXPECT_EQ(alerts[0]->delegate(), nullptr);
    EXPECT_EQ(alerts[1]->message(),
              "You cannot change this setting until 'Animated Custom Text' has been Enabled AND it has finished it's last "
              "animation loop.");
    EXPECT_EQ(alerts[2]->tag(), 1);
    EXPECT_EQ(alerts[2]->title(), "Change Carrier Name");
}

// The prompt compares with "ncstatus" as the file had it when the page was created.
class NcstatusStartTest : public PrefsTest, public ::testing::WithParamInterface<bool> {};

TEST_P(NcstatusStartTest, RespringPromptFollowsTheStartValueOfNcstatus) {
    const bool start = GetParam();
    if (start) {
        auto stored = defaultPreferences(PreferenceFile::Main);
        stored["ncstatus"] = true;
        ASSERT_TRUE(writePreferences(PreferenceFile::Main, stored));
    }
    id page = open("main");
    auto nc = specifier("ncstatus");
    set(page, nc, Value(!start));
    auto prompt = topAlert();
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->tag(), 3);
    EXPECT_EQ(prompt->title(), "Restart SpringBoard?");
    EXPECT_EQ(prompt->message(), "SpringBoard needs to be restarted in order to apply your change.");
    EXPECT_EQ(prompt->buttonTitles(), (std::vector<std::string>{"Respring Later", "Respring Now"}));
    EXPECT_EQ(msgSend<Alert>(page, sel_registerName("respringAlertView")), prompt);
    EXPECT_TRUE(center().posts.empty());
    prompt->dismissWithClickedButtonIndex(0);
    EXPECT_TRUE(platform::shellCommands().empty());

    set(page, nc, Value(start));
    EXPECT_TRUE(platform::visibleAlerts().empty());
    platform::suspendController(page);
    EXPECT_TRUE(platform::visibleAlerts().empty());

    set(page, nc, Value(!start));
    platform::clearAlerts();
    platform::suspendController(page);
    ASSERT_TRUE(topAlert());
    EXPECT_EQ(topAlert(), prompt);  // created once, shown again
}

INSTANTIATE_TEST_SUITE_P(StoredOrDefault, NcstatusStartTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "StoredOn" : "DefaultOff"; });

class RespringTest : public PrefsTest, public ::testing::WithParamInterface<std::pair<double, const char*>> {};

TEST_P(RespringTest, RespringNowKillsLsdThenTheRightProcess) {
    platform::setCoreFoundationVersionNumber(GetParam().first);
    id page = open("main");
    set(page, specifier("ncstatus"), Value(true));
    topAlert()->dismissWithClickedButtonIndex(1);
    EXPECT_EQ(platform::shellCommands(), (std::vector<std::string>{"killall -9 lsd", GetParam().second}));
    EXPECT_EQ(restarts_, 1);
}

INSTANTIATE_TEST_SUITE_P(CoreFoundationVersions, RespringTest,
                         ::testing::Values(std::make_pair(700.0, "killall SpringBoard"),
                                           std::make_pair(700.01, "killall backboardd"),
                                           std::make_pair(847.20, "killall backboardd"),
                                           std::make_pair(675.0, "killall SpringBoard")));

TEST_F(PrefsTest, ThankYouDialogPlaysTheTuneFromTheStartEachTime) {
    installMusic();
    id page = open("main");
    auto* player = prefs::mainPage(page)->audioPlayer.get();
    ASSERT_TRUE(player);
    EXPECT_EQ(player->numberOfLoops(), -1);
    for (int round = 0; round < 2; ++round) {
        send(page, "Quennick:");
        auto thanks = topAlert();
        ASSERT_TRUE(thanks);
        EXPECT_EQ(thanks->tag(), 4);
        EXPECT_EQ(thanks->title(), "Thanks!");
        EXPECT_EQ(thanks->message().rfind("Thank you for purchasing this tweak and supporting me.\n\n", 0), 0u);
        EXPECT_NE(thanks->message().find("\n\nAudio: '"), std::string::npos);
        EXPECT_TRUE(player->isPlaying());
        EXPECT_DOUBLE_EQ(player->currentTime(), 0.0);
        loop().advance(player->duration() + 1.5);  // loops on past the end
        EXPECT_TRUE(player->isPlaying());
        EXPECT_NEAR(player->currentTime(), 1.5, 1e-6);
        thanks->dismissWithClickedButtonIndex(0);
        EXPECT_FALSE(player->isPlaying());
        EXPECT_DOUBLE_EQ(player->currentTime(), 0.0);
    }
}

TEST_F(PrefsTest, ThankYouDialogWithoutMusicStillShows) {
    id page = open("main");
    EXPECT_FALSE(prefs::mainPage(page)->audioPlayer);
    send(page, "Quennick:");
    ASSERT_TRUE(topAlert());
    topAlert()->dismissWithClickedButtonIndex(0);
    EXPECT_TRUE(platform::visibleAlerts().empty());
}

TEST_F(PrefsTest, LinksOpenTheirAddressesAndTwitterTakesBothWays) {
    id page = open("main");
    auto& app = platform::UIApplication::sharedApplication();
    send(page, "visitTwitter:");
    platform::deviceState().installedApps = {"Twitter"};
    send(page, "visitTwitter:");
    auto opened = app.openedURLs();
    ASSERT_EQ(opened.size(), 4u);
    EXPECT_EQ(opened[0].url, "twitter://");
    EXPECT_FALSE(opened[0].opened);
    EXPECT_EQ(opened[1].url.rfind("https://", 0), 0u);
    EXPECT_TRUE(opened[1].opened);
    EXPECT_EQ(opened[2].url, "twitter://");
    EXPECT_TRUE(opened[2].opened);
    EXPECT_EQ(opened[3].url.rfind("twitter://user?screen_name=", 0), 0u);
    EXPECT_TRUE(opened[3].opened);

    // Each web link opens its own page: the action's kind is in the address.
    const std::pair<const char*, const char*> kLinks[] = {
        {"donate:", "donate"}, {"sendFeedback:", "feedback"}, {"visitFacebook:", "facebook"}};
    for (const auto& [action, kind] : kLinks) {
        app.clearOpenedURLs();
        send(page, action);
        opened = app.openedURLs();
        ASSERT_EQ(opened.size(), 1u) << action;
        EXPECT_TRUE(opened[0].opened) << opened[0].url;
        EXPECT_EQ(opened[0].url.rfind("https://", 0), 0u) << opened[0].url;
        EXPECT_NE(opened[0].url.find("quennick.example"), std::string::npos) << opened[0].url;
        EXPECT_NE(opened[0].url.find(kind), std::string::npos) << action << " opened " << opened[0].url;
    }
    EXPECT_TRUE(center().posts.empty());
}

TEST_F(PrefsTest, LeavingTheIconTesterWarnsWhileItIsOn) {
    id tester = open("icontester");
    leave(tester);
    EXPECT_TRUE(platform::visibleAlerts().empty());
    tester = open("icontester");
    set(tester, platform::specifierForKey(tester, "enabletester"), Value(true));
    leave(tester);
    auto warning = topAlert();
    ASSERT_TRUE(warning);
    EXPECT_EQ(warning->title(), "Warning:");
    EXPECT_EQ(warning->message(),
              "Icon Tester is still Enabled.  Whilst this mode is active, the hiding of icons will not work.");
    EXPECT_EQ(warning->buttonTitles(), std::vector<std::string>{"OK"});
    EXPECT_EQ(warning->delegate(), nullptr);
    EXPECT_EQ(*platform::lookup(*readPreferences(PreferenceFile::IconTester), "enabletester"), Value(true));
}

TEST_F(PrefsTest, AlertOutlivingItsPageReachesNobody) {
    id page = open("main");
    send(page, "carrierText:");
    auto alert = topAlert();
    leave(page);
    alert->dismissWithClickedButtonIndex(1);  // must not reach the freed page
    EXPECT_TRUE(center().posts.empty());
}
