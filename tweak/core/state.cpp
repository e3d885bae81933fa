#include "tweak/core/state.h"

#include "shared/settings.h"

namespace vantrel::tweak {

// The loader runs start-up from the library's constructor, which may come before this file's
// dynamic initialisers; those would then reset what start-up has just cached. So everything is
// constant-initialised, and the three texts are initialised ahead of every constructor.
constinit std::optional<std::string> carrierText;
std::string timeText __attribute__((init_priority(101))) = kDefaultTimeText;
std::string reverseText __attribute__((init_priority(101))) = kDefaultReverseText;
std::u16string customTime __attribute__((init_priority(101))) = kDefaultCustomTime;

bool isAnimatingText = false;
bool isReverse = false;
bool syncStatusState = false;
bool didPrepareForUnlock = false;
bool LSHideIcons = false;
bool showArtist = false;

constinit std::vector<std::string> types;
constinit std::vector<int> letters;
constinit std::vector<std::u16string> myStr;
constinit std::vector<std::u16string> strCopy;

constinit std::optional<platform::Dictionary> prefs;
constinit std::optional<platform::Dictionary> icontesterprefs;
constinit std::optional<platform::Dictionary> datafakerprefs;

constinit std::shared_ptr<platform::Timer> clockRefreshTimer;
constinit std::shared_ptr<platform::Timer> nowPlayingTimer;

bool mainSwitch(MainKey key) {
    prefs = readPreferenceKeys(PreferenceFile::Main, {keyName(key)});
    bool on = readBool(prefs, keyName(key));
    prefs.reset();
    return on;
}

void clearAnimationLists() {
    types.clear();
    letters.clear();
    myStr.clear();
    strCopy.clear();
}

void resetState() {
    carrierText.reset();
    timeText = kDefaultTimeText;
    reverseText = kDefaultReverseText;
    customTime = kDefaultCustomTime;
    isAnimatingText = isReverse = syncStatusState = didPrepareForUnlock = LSHideIcons = showArtist = false;
    clearAnimationLists();
    prefs.reset();
    icontesterprefs.reset();
    datafakerprefs.reset();
    if (clockRefreshTimer) clockRefreshTimer->invalidate();
    clockRefreshTimer.reset();
    if (nowPlayingTimer) nowPlayingTimer->invalidate();
    nowPlayingTimer.reset();
}

}  // namespace vantrel::tweak
