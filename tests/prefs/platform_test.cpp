#include "platform/system/audio.h"

#include <fstream>

#include "tests/prefs/fixture.h"

using namespace vantrel::test;

TEST_F(PrefsTest, AudioPlayerOpensOnlyUsableAudio) {
    std::string error;
    EXPECT_FALSE(platform::AVAudioPlayer::initWithContentsOfURL("file:///Library/none.m4a", &error));
    EXPECT_FALSE(error.empty());
    std::string junk = device_ + "/junk.m4a";
    std::ofstream(junk) << "not audio at all";
    EXPECT_FALSE(platform::AVAudioPlayer::initWithContentsOfURL(junk));
    // A box that claims more bytes than the file has.
    std::ofstream(junk, std::ios::binary) << std::string(
        "\0\0\0\x40"
        "ftypM4A ",
        12);
    EXPECT_FALSE(platform::AVAudioPlayer::initWithContentsOfURL(junk));

    installMusic();
    auto player = platform::AVAudioPlayer::initWithContentsOfURL("file:///Library/PreferenceBundles/Vantrel.bundle/chiptune.m4a");
    ASSERT_TRUE(player);
    EXPECT_GT(player->duration(), 2.0);
    EXPECT_LT(player->duration(), 15.0);
    player->play();
    loop().advance(player->duration() + 1);
    EXPECT_FALSE(player->isPlaying());  // no loops: it ends
    EXPECT_DOUBLE_EQ(player->currentTime(), 0.0);
}

TEST_F(PrefsTest, ShellRecordsAndOnlyRestartsSpringBoard) {
    EXPECT_EQ(platform::system("killall -9 lsd"), 0);
    EXPECT_EQ(restarts_, 0);
    EXPECT_EQ(platform::system("killall backboardd"), 0);
    EXPECT_EQ(restarts_, 1);
    platform::setSpringBoardRestartHandler(nullptr);
    EXPECT_NE(platform::system("killall SpringBoard"), 0);
    EXPECT_EQ(platform::shellCommands(),
              (std::vector<std::string>{"killall -9 lsd", "killall backboardd", "killall SpringBoard"}));
}

TEST_F(PrefsTest, OpenURLAnswersFromTheInstalledApps) {
    auto& app = platform::UIApplication::sharedApplication();
    EXPECT_TRUE(app.openURL("https://quennick.example/"));
    EXPECT_FALSE(app.openURL("twitter://"));
    EXPECT_FALSE(app.openURL("nosuchscheme://x"));
    EXPECT_FALSE(app.openURL(""));
    platform::deviceState().installedApps = {"Twitter"};
    EXPECT_TRUE(app.openURL("TWITTER://user?screen_name=x"));
    EXPECT_EQ(app.openedURLs().size(), 5u);
}
