// Writes that cannot happen, on a running device: every writer (the Settings pages, the clock
// mode gesture, the first unlock) facing a preference file whose lock a stopped peer holds, a
// read-only folder or a full disk. Nothing is written, the failure is said (the Settings app
// exits non-zero naming the file, SpringBoard logs it), and no success line is logged. Then
// SpringBoard and the Settings app stopped and killed at random around writes: no change whose
// command exited 0 is ever reverted.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e_reliability/chaos.h"
#include "tests/e2e_reliability/running_device.h"
#include "tests/shared/lock_holder.h"

namespace {

using namespace vantrel::test;

// A tmpfs mounted over the preference folder with its files copied in, unmounted when this goes
// away (before the device folder is removed).
class PreferencesMount {
public:
    PreferencesMount(const std::string& dir, const char* options) : dir_(dir) {
        std::string saved = dir + ".saved";
        fs::rename(dir, saved);
        fs::create_directory(dir);
        fs::permissions(dir, fs::perms::owner_all);
        if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, options) != 0) {
            error_ = std::strerror(errno);
            fs::remove(dir);
            fs::rename(saved, dir);
            return;
        }
        mounted_ = true;
        for (const auto& e : fs::directory_iterator(saved)) fs::copy(e.path(), dir + "/" + e.path().filename().string());
    }
    ~PreferencesMount() {
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    }
    const std::string& error() const { return error_; }
    bool mounted() const { return mounted_; }
    bool remountReadOnly() { return ::mount("tmpfs", dir_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0; }
    // Fills the rest of the filesystem, so the next file written finds no room.
    void fill() {
        std::ofstream pad(dir_ + "/pad", std::ios::binary);
        std::string block(4096, 'x');
        while (pad.write(block.data(), static_cast<std::streamsize>(block.size()))) {}
    }

private:
    std::string dir_, error_;
    bool mounted_ = false;
};

enum class Obstacle { StoppedLockHolder, ReadOnlyFolder, FullDisk };

struct FailureCase {
    const char* name;
    Obstacle obstacle;
    const char* file;                // the preference file's suffix after the bundle identifier
    std::vector<std::string> steps;  // "settings ..." or "device ..." commands, run in turn
    const char* key;                 // the key the last step tries to change
    const char* reported;            // the line SpringBoard logs, or "" when the Settings app exits non-zero
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class WriteFailures : public RunningDevice, public ::testing::WithParamInterface<FailureCase> {
protected:
    std::string preferences() { return folder_ + "/var/mobile/Library/Preferences"; }
    Result step(const std::string& line) {
        std::vector<std::string> words;
        for (size_t at = 0; at < line.size();) {
            size_t end = line.find(' ', at);
            if (end == std::string::npos) end = line.size();
            words.push_back(line.substr(at, end - at));
            at = end + 1;
        }
        std::string program = bin(words[0] == "settings" ? "vantrel-settings" : "vantrel-device");
        words.erase(words.begin());
        // stderr too: the Settings app says there why nothing was saved.
        std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", program, "--device", folder_};
        argv.insert(argv.end(), words.begin(), words.end());
        return run(argv, 4 * kReaper);
    }
    std::string log() { return device({"log", "-n", "100000"}).out; }
};

TEST_P(WriteFailures, NothingIsWrittenTheFailureIsSaidNoSuccessIsLogged) {
    const FailureCase& c = GetParam();
    std::string path = preferences() + "/com.quennick.vantrel" + c.file;
    ASSERT_EQ(step("settings icontester show").code, 0);  // every file exists before
    std::optional<PreferencesMount> mount;
    std::optional<StoppedLockHolder> holder;
    switch (c.obstacle) {
    case Obstacle::StoppedLockHolder:
        holder.emplace(preferences() + "/.com.quennick.vantrel" + c.file + ".lock");
        ASSERT_TRUE(holder->held());
        break;
    case Obstacle::ReadOnlyFolder:
    case Obstacle::FullDisk:
        if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
        mount.emplace(preferences(), "size=200k,mode=0700");
        if (!mount->mounted()) GTEST_SKIP() << "a tmpfs cannot be mounted here: " << mount->error();
        if (c.obstacle == Obstacle::ReadOnlyFolder)
            ASSERT_TRUE(mount->remountReadOnly());
        else
            mount->fill();
        break;
    }
    auto before = platform::readWholeFile(path, 1 << 20);
    ASSERT_TRUE(before);
    const std::string logBefore = log();
    Result last;
    for (const auto& s : c.steps) last = step(s);

    if (*c.reported) {
        EXPECT_TRUE(waitFor([&] { return log().find(c.reported) != std::string::npos; }, 15.0)) << log();
    } else {
        EXPECT_NE(last.code, 0) << last.out;
        EXPECT_NE(last.out.find("not saved: " + path), std::string::npos) << last.out;
    }
    EXPECT_EQ(platform::readWholeFile(path, 1 << 20), before) << c.key << " was written";
    // Opening the page may log its own save (the file already held it); after the first failed
    // write nothing may claim a save until the page is left, where it has nothing of its own left
    // to write (the change the user was told of is dropped) and only takes the file in.
    std::string since = log().substr(logBefore.size());
    size_t failedAt = std::min(since.find("Not writing "), since.find("Could not write "));
    ASSERT_NE(failedAt, std::string::npos) << since;
    const std::string untilLeft = since.substr(0, since.find("viewWillDisappear", failedAt));
    for (const char* success : {"Icon Tester - Settings Updated!", "Icon Tester - Defaults Saved!"})
        EXPECT_EQ(untilLeft.find(success, failedAt), std::string::npos) << since;
}

INSTANTIATE_TEST_SUITE_P(
    EveryWriter, WriteFailures,
    ::testing::Values(
        FailureCase{"page_set", Obstacle::StoppedLockHolder, ".plist", {"settings main set hideall true"}, "hideall", ""},
        FailureCase{"sub_page_set",
                    Obstacle::StoppedLockHolder,
                    "-icontester.plist",
                    {"settings icontester set enabletester true"},
                    "enabletester",
                    ""},
        FailureCase{"dialog_save",
                    Obstacle::StoppedLockHolder,
                    ".plist",
                    {"settings main press carrierText: --text Held --button Save"},
                    "carrierText",
                    ""},
        FailureCase{
            "gesture", Obstacle::StoppedLockHolder, ".plist", {"device tap"}, "clockformat", "Clock mode gesture dropped"},
        FailureCase{"first_unlock",
                    Obstacle::StoppedLockHolder,
                    ".plist",
                    {"device lock", "device unlock"},
                    "intromessageshown",
                    "First-run notice not recorded"},
        FailureCase{"read_only_folder", Obstacle::ReadOnlyFolder, ".plist", {"settings main set hideall true"}, "hideall", ""},
        FailureCase{"read_only_folder_gesture",
                    Obstacle::ReadOnlyFolder,
                    ".plist",
                    {"device tap"},
                    "clockformat",
                    "Clock mode gesture dropped"},
        FailureCase{"full_disk", Obstacle::FullDisk, ".plist", {"settings main set hideall true"}, "hideall", ""},
        FailureCase{"full_disk_sub_page",
                    Obstacle::FullDisk,
                    "-icontester.plist",
                    {"settings icontester set enabletester true"},
                    "enabletester",
                    ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A one-shot change the Settings app said was not saved stays unsaved, even when the lock comes
// free while the app is still leaving the page (which saves what is pending).
class RefusedChange : public WriteFailures {};

TEST_F(RefusedChange, IsNeverWrittenAfterTheCommandSaidSo) {
    const std::string path = preferences() + "/com.quennick.vantrel.plist";
    ASSERT_EQ(step("settings main set hideall false").code, 0);
    auto before = platform::readWholeFile(path, 1 << 20);
    ASSERT_TRUE(before);
    std::optional<StoppedLockHolder> holder(std::in_place, preferences() + "/.com.quennick.vantrel.plist.lock");
    ASSERT_TRUE(holder->held());
    const size_t logBefore = log().size();
    Result refused;
    std::thread command([&] { refused = step("settings main set hideall true"); });
    // Freed right after the failed save, while the page is being left.
    EXPECT_TRUE(waitFor([&] { return log().find("Not writing ", logBefore) != std::string::npos; }, 20.0));
    holder.reset();
    command.join();
    EXPECT_NE(refused.code, 0) << refused.out;
    EXPECT_NE(refused.out.find("not saved: " + path), std::string::npos) << refused.out;
    EXPECT_EQ(platform::readWholeFile(path, 1 << 20), before) << "the refused change was written later";
}

// SpringBoard and the Settings app stopped and killed at random around writes (a few rounds
// here; tests/e2e_reliability/chaos.sh runs hundreds).
TEST_F(RunningDevice, StoppedAndKilledHostsLoseNoAcknowledgedChange) {
    auto tally = vantrel::chaos::runRounds(std::string(VANTREL_BINARY_DIR) + "/bin", folder_, 6, 7);
    std::string losses;
    for (const auto& l : tally.losses) losses += l + "\n";
    RecordProperty("acknowledged", tally.acknowledged);
    RecordProperty("refused", tally.refused);
    EXPECT_EQ(tally.lost, 0) << losses;
    EXPECT_GT(tally.acknowledged, 0);
}

}  // namespace
