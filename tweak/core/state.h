// The tweak's process-wide state, declared once with the system's names and start values.
// Every item is touched on SpringBoard's main thread only, so nothing is locked. Owners:
// carrierText (carrier, refilled by the forced update), timeText/reverseText/customTime and the
// animation lists (timetext), the flags as named, the dictionary handles (each reader holds
// the dictionary it has just read there for the length of one operation).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/runloop.h"
#include "platform/foundation/value.h"
#include "shared/schema.h"

namespace vantrel::tweak {

extern std::optional<std::string> carrierText;  // may be absent
extern std::string timeText;                    // a date-format pattern
extern std::string reverseText;
extern std::u16string customTime;  // the last pattern of mode 5 or of an animation frame
inline constexpr char16_t kDefaultCustomTime[] = u"'_Quennick_'";

extern bool isAnimatingText;
extern bool isReverse;
extern bool syncStatusState;
extern bool didPrepareForUnlock;
extern bool LSHideIcons;
extern bool showArtist;

// Animation state: one entry per UTF-16 code unit of the text being animated.
extern std::vector<std::string> types;
extern std::vector<int> letters;
extern std::vector<std::u16string> myStr;
extern std::vector<std::u16string> strCopy;

extern std::optional<platform::Dictionary> prefs;
extern std::optional<platform::Dictionary> icontesterprefs;
extern std::optional<platform::Dictionary> datafakerprefs;

// Timer references: cleared only after the timer is invalidated.
extern std::shared_ptr<platform::Timer> clockRefreshTimer;
extern std::shared_ptr<platform::Timer> nowPlayingTimer;

inline constexpr const char* kDefaultTimeText = keySchema(MainKey::timeText).defaultValue.text;
inline constexpr const char* kDefaultReverseText = keySchema(MainKey::reverseString).defaultValue.text;

// One switch of the main preference file, read afresh into `prefs` and released before
// returning: what every replacement that answers by a single key does.
bool mainSwitch(MainKey key);

// Empties the four animation lists (when an animation ends, and on reset).
void clearAnimationLists();

// Puts every item above back to its value at load (tests begin each case here).
void resetState();

}  // namespace vantrel::tweak
