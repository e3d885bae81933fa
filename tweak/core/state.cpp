#include "tweak/core/state.h"

#include "shared/settings.h"

namespace vantrel::tweak {

std::optional<std::string> carrierText;
std::string timeText = kDefaultTimeText;
std::string reverseText = kDefaultReverseText;
std::u16string customTime = u"'_Quennick_'";

bool isAnimatingText = false;
bool isReverse = false;
bool syncStatusState = false;
bool didPrepareForUnlock = false;
bool LSHideIcons = false;
bool showArtist = false;

std::vector<std::string> types;
std::vector<int> letters;
std::vector<std::u16string> myStr;
std::vector<std::u16string> strCopy;

std::optional<platform::Dictionary> prefs;
std::optional<platform::Dictionary> icontesterprefs;
std::optional<platform::Dictionary> datafakerprefs;

std::shared_ptr<platform::Timer> clockRefreshTimer;
std::shared_ptr<platform::Timer> nowPlayingTimer;

bool mainSwitch(const char* key) {
    prefs = readPreferenceKeys(PreferenceFile::Main, {key});
    bool on = readBool(prefs, key);
    prefs.reset();
    return on;
}

void resetState() {
    carrierText.reset();
    timeText = kDefaultTimeText;
    reverseText = kDefaultReverseText;
    customTime = u"'_Quennick_'";
    isAnimatingText = isReverse = syncStatusState = didPrepareForUnlock = LSHideIcons = showArtist = false;
    types.clear();
    letters.clear();
    myStr.clear();
    strCopy.clear();
    prefs.reset();
    icontesterprefs.reset();
    datafakerprefs.reset();
    if (clockRefreshTimer) clockRefreshTimer->invalidate();
    clockRefreshTimer.reset();
    if (nowPlayingTimer) nowPlayingTimer->invalidate();
    nowPlayingTimer.reset();
}

}  // namespace vantrel::tweak
