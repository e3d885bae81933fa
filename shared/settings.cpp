#include "shared/settings.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <limits>

#include "platform/foundation/error_text.h"
#include "platform/foundation/file.h"
#include "platform/foundation/home.h"
#include "platform/foundation/log.h"

namespace vantrel {

std::string preferencePath(PreferenceFile file) {
    const char* suffix = file == PreferenceFile::Main        ? ".plist"
                         : file == PreferenceFile::DataFaker ? "-datafaker.plist"
                                                             : "-icontester.plist";
    return NSHomeDirectory() + "/Library/Preferences/" + kBundleIdentifier + suffix;
}

std::optional<Dictionary> readPreferences(PreferenceFile file) { return platform::readDictionaryFile(preferencePath(file)); }

std::optional<Dictionary> readPreferenceKeys(PreferenceFile file, const std::vector<std::string_view>& keys) {
    return platform::readDictionaryFileKeys(preferencePath(file), keys);
}

Dictionary readPreferencesForUpdate(PreferenceFile file) {
    auto prefs = readPreferences(file);
    return prefs ? std::move(*prefs) : defaultPreferences(file);
}

WriteResult writePreferences(const PreferenceLock& lock, const Dictionary& dict) {
    if (!lock.held()) return {lock.failure()};
    std::string path = preferencePath(lock.file());
    errno = 0;
    if (platform::writeDictionaryFile(path, dict)) return {};
    return {path + ": " + (errno ? platform::errorText(errno) : "could not be written")};
}

WriteResult writePreferences(PreferenceFile file, const Dictionary& dict) {
    PreferenceLock lock(file);
    return writePreferences(lock, dict);
}

PreferenceLock::PreferenceLock(PreferenceFile file) : file_(file) {
    std::string path = preferencePath(file);
    std::string dir = path.substr(0, path.rfind('/'));
    platform::createDirectories(dir);
    std::string lockPath = dir + "/." + path.substr(path.rfind('/') + 1) + ".lock";
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) {
        failure_ = path + ": its lock cannot be opened: " + platform::errorText(errno);
        NSLog("Not writing %s", failure_.c_str());
        return;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPreferenceLockWaitMilliseconds);
    auto pause = std::chrono::microseconds(200);  // a healthy peer is done within a few of these
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        bool late = std::chrono::steady_clock::now() >= deadline;
        if ((err != EWOULDBLOCK && err != EINTR) || late) {
            // Writing without the lock could put a stale copy over a peer's newer file; the
            // caller reports the failure instead.
            failure_ = path + (late ? ": another writer has held its lock for " +
                                          std::to_string(kPreferenceLockWaitMilliseconds / 1000) + " s"
                                    : ": its lock cannot be taken: " + std::string(platform::errorText(err)));
            NSLog("Not writing %s", failure_.c_str());
            ::close(fd_);
            fd_ = -1;
            return;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(2000));
    }
}

PreferenceLock::~PreferenceLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

WriteResult updatePreferences(PreferenceFile file, const std::function<void(Dictionary&)>& change) {
    PreferenceLock lock(file);
    if (!lock.held()) return {lock.failure()};
    Dictionary dict = readPreferencesForUpdate(file);
    change(dict);
    return writePreferences(lock, dict);
}

Dictionary defaultPreferences(PreferenceFile file) {
    Dictionary d;
    for (const KeySchema& row : schemaRows(file))
        if (auto value = defaultValue(row)) d[row.key] = std::move(*value);
    return d;
}

namespace {

// The part of a string that NSString's boolValue and integer readers look at: after leading
// blanks, an optional sign.
size_t skipBlanks(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r' || s[i] == '\f' || s[i] == '\v')) ++i;
    return i;
}

int64_t clampToInt64(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9.2233720368547758e18) return std::numeric_limits<int64_t>::max();
    if (d <= -9.2233720368547758e18) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d);
}

}  // namespace

bool boolValue(const Value* value) {
    if (!value) return false;
    if (auto b = value->boolean()) return *b;
    if (auto i = value->integer()) return *i != 0;
    if (auto r = value->real()) return *r != 0;
    if (auto s = value->string()) {
        size_t i = skipBlanks(*s);
        if (i < s->size() && (s->at(i) == '+' || s->at(i) == '-')) ++i;
        while (i < s->size() && s->at(i) == '0') ++i;
        if (i >= s->size()) return false;
        char c = s->at(i);
        return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
    }
    return false;
}

int64_t integerValue(const Value* value) {
    if (!value) return 0;
    if (auto b = value->boolean()) return *b ? 1 : 0;
    if (auto i = value->integer()) return *i;
    if (auto r = value->real()) return clampToInt64(*r);
    if (auto s = value->string()) {
        size_t i = skipBlanks(*s);
        bool negative = false;
        if (i < s->size() && (s->at(i) == '+' || s->at(i) == '-')) negative = s->at(i++) == '-';
        int64_t v = 0;
        for (; i < s->size() && s->at(i) >= '0' && s->at(i) <= '9'; ++i) {
            int digit = s->at(i) - '0';
            if (v > (std::numeric_limits<int64_t>::max() - digit) / 10)
                return negative ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
            v = v * 10 + digit;
        }
        return negative ? -v : v;
    }
    return 0;
}

bool readBool(const std::optional<Dictionary>& prefs, const std::string& key) {
    return prefs && boolValue(platform::lookup(*prefs, key));
}

int64_t readInteger(const std::optional<Dictionary>& prefs, const std::string& key) {
    return prefs ? integerValue(platform::lookup(*prefs, key)) : 0;
}

std::optional<std::string> readString(const std::optional<Dictionary>& prefs, const std::string& key) {
    if (!prefs) return std::nullopt;
    const Value* v = platform::lookup(*prefs, key);
    if (!v || !v->string()) return std::nullopt;
    return *v->string();
}

void postNotification(const char* name, const Dictionary& userInfo) {
    CFNotificationCenterPostNotification(CFNotificationCenterGetDistributedCenter(), name, nullptr, &userInfo, true);
}

void postSettingsChanged(int code) { postNotification(kSettingsChangedNotification, {{kItemToggledKey, code}}); }

void postAnimationChanged(int flag) { postNotification(kAnimationChangedNotification, {{kAnimationFlagKey, flag}}); }

void subscribe(const char* name, CFNotificationCallback callback) {
    CFNotificationCenterAddObserver(CFNotificationCenterGetDistributedCenter(), nullptr, callback, name, nullptr, 0);
}

}  // namespace vantrel
