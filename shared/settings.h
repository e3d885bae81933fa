// The settings model both deliverables compile in: the three preference files (paths, read,
// read for update, atomic binary write, defaults), the reading rules every reader uses with
// the typed reads of the key table (shared/schema.h), and the two notifications.
// Holds no state. Files are read whole at each call and never cached; nothing throws: an
// absent or unreadable file reads as no dictionary. A file is only ever written under its lock;
// a write that did not happen (lock not had, disk full, read-only folder) is logged and comes
// back as a WriteResult naming the file and the reason.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/notifications.h"
#include "platform/foundation/value.h"
#include "shared/schema.h"

namespace vantrel {

using platform::Dictionary;
using platform::Value;

inline constexpr char kBundleIdentifier[] = "com.quennick.vantrel";

// Home directory + "/Library/Preferences/" + bundle identifier + suffix.
std::string preferencePath(PreferenceFile file);

// Read: the file's dictionary, or nullopt when it is absent or unreadable.
std::optional<Dictionary> readPreferences(PreferenceFile file);
// Read, keeping only the named keys: the same answers for those keys as a full read, at a
// fraction of the cost. For readers that look up a few keys on a hot path.
std::optional<Dictionary> readPreferenceKeys(PreferenceFile file, const std::vector<std::string_view>& keys);
// Read for update: the file's dictionary, or the file's defaults when it cannot be read.
Dictionary readPreferencesForUpdate(PreferenceFile file);
// What a write did: ok, or why the file was left as it was ("<path>: <reason>").
struct WriteResult {
    std::string failure;  // empty when the file was replaced
    bool ok() const { return failure.empty(); }
    explicit operator bool() const { return ok(); }
};

class PreferenceLock;
// Write: the whole dictionary as a binary property list, replacing the file atomically, under
// the lock the caller holds. Nothing is written when the lock is not held.
WriteResult writePreferences(const PreferenceLock& lock, const Dictionary& dict);
// The same for a caller that holds no lock: takes it for this one write.
WriteResult writePreferences(PreferenceFile file, const Dictionary& dict);
// The defaults: the keys of the file's table (shared/schema.h) that have one, with it.
Dictionary defaultPreferences(PreferenceFile file);

// How long a writer waits for a peer's lock: far beyond a healthy write (a few ms, an fsync on
// a slow disk), short enough that a stopped peer delays the gesture only briefly.
inline constexpr int kPreferenceLockWaitMilliseconds = 4000;

// Holds the file's advisory lock (flock on a ".lock" file beside it) for one read-modify-write,
// so two processes that both update the file never revert each other's values. Readers take no
// lock: writes are atomic. Waits at most kPreferenceLockWaitMilliseconds; when the lock is not
// had by then (a peer stopped while holding it) held() is false, failure() says why, and no
// write may happen. A peer that dies releases the lock with its descriptor. Released when destroyed.
class PreferenceLock {
public:
    explicit PreferenceLock(PreferenceFile file);
    ~PreferenceLock();
    PreferenceLock(const PreferenceLock&) = delete;
    PreferenceLock& operator=(const PreferenceLock&) = delete;
    bool held() const { return fd_ >= 0; }
    PreferenceFile file() const { return file_; }
    const std::string& failure() const { return failure_; }  // "<path>: <reason>" when not held

private:
    PreferenceFile file_;
    int fd_ = -1;
    std::string failure_;
};

// Read for update, change, write, under the file's lock: what every writer of a single key
// does. When the lock is not had, nothing is read or written.
WriteResult updatePreferences(PreferenceFile file, const std::function<void(Dictionary&)>& change);

// Reading rules. A value is true when it is a true boolean or a non-zero number, or a string
// that starts (after blanks, a sign and zeros) with Y, y, T, t or a digit 1-9. An integer
// comes from a number (truncated), a boolean (0 or 1) or a string's leading digits. Anything
// else (absent, array, dictionary, data, date) reads as false or 0.
bool boolValue(const Value* value);
int64_t integerValue(const Value* value);
bool readBool(const std::optional<Dictionary>& prefs, const std::string& key);
int64_t readInteger(const std::optional<Dictionary>& prefs, const std::string& key);
// A string value as stored; nullopt when absent or not a string.
std::optional<std::string> readString(const std::optional<Dictionary>& prefs, const std::string& key);

// A key read by its type in the key table: a switch as bool, an integer or a number read as
// one as int64_t, a text as stored (nullopt when absent) or, where an absent text means the
// default, as that text: `readKey<MainKey::clockformat>(prefs)`.
template <auto K>
auto readKey(const std::optional<Dictionary>& prefs) {
    constexpr const KeySchema& row = keySchema(K);
    if constexpr (row.type == KeyType::Bool)
        return readBool(prefs, row.key);
    else if constexpr (row.type == KeyType::Integer || row.type == KeyType::NumberAsInteger)
        return readInteger(prefs, row.key);
    else if constexpr (row.type == KeyType::String && row.defaultValue.absentReadsDefault)
        return readString(prefs, row.key).value_or(row.defaultValue.text);
    else if constexpr (row.type == KeyType::String)
        return readString(prefs, row.key);
    else
        static_assert(row.type != KeyType::Any, "a key of any type has no typed read");
}

// Notifications and their userInfo keys.
inline constexpr char kSettingsChangedNotification[] = "vantrel.SettingsChanged";
inline constexpr char kAnimationChangedNotification[] = "vantrel.AnimationChanged";
inline constexpr char kItemToggledKey[] = "itemToggled";
inline constexpr char kAnimationFlagKey[] = "animationFlag";

// Posts on the distributed centre, no object, delivered immediately.
void postNotification(const char* name, const Dictionary& userInfo);
// {"itemToggled": code} as "vantrel.SettingsChanged".
void postSettingsChanged(int code);
// {"animationFlag": flag} as "vantrel.AnimationChanged".
void postAnimationChanged(int flag);
// CFNotificationCenterAddObserver on the distributed centre: no observer, no object, value 0.
void subscribe(const char* name, CFNotificationCallback callback);

}  // namespace vantrel
