// Device folders someone else could have prepared, and one device per folder: a hostile folder
// is refused before anything of it runs, a planted library or bundle is never loaded, three
// starts at once give one launchd that stop ends with its children, and an install under a
// running SpringBoard leaves it running. Each case has folders of its own under /tmp; the only
// processes ended here are the ones whose command line names those folders.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/file.h"
#include "platform/foundation/plist.h"
#include "tests/e2e/process.h"
#include "tests/scratch.h"

namespace {

namespace fs = std::filesystem;
using namespace vantrel::test;

constexpr uid_t kNobody = 65534;

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Standard output and error together, as a person at the terminal sees them.
Result runShown(const std::vector<std::string>& argv) {
    std::vector<std::string> shell{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1"};
    shell.insert(shell.end(), argv.begin(), argv.end());
    return run(shell);
}

// The words that run a program of this build as another user (root only), from where that user
// can start it: the build's own when the user can reach it, else a copy of it and of the build's
// libraries it loads in `scratch` (made 0755), since a checkout may sit in a folder only its owner
// can enter. Empty, with the reason in *why, when the user can start neither: a program that
// never started must not pass for one that refused.
std::vector<std::string> runnableAs(uid_t uid, const std::string& program, const std::string& scratch, std::string* why) {
    const std::vector<std::string> as{"/usr/bin/setpriv", "--reuid=" + std::to_string(uid), "--regid=" + std::to_string(uid),
                                      "--clear-groups"};
    auto starts = [&](std::vector<std::string>& words) {
        words.insert(words.begin(), as.begin(), as.end());
        words.push_back("--version");
        Result r = runShown(words);
        words.pop_back();
        *why = r.code == 0 ? "" : r.out;
        return r.code == 0;
    };
    std::vector<std::string> words{bin(program)};
    if (starts(words)) return words;
    std::error_code ec;
    fs::create_directories(scratch + "/bin", ec);
    fs::create_directories(scratch + "/lib", ec);
    for (const auto& d : {scratch, scratch + "/bin", scratch + "/lib"}) ::chmod(d.c_str(), 0755);
    fs::copy_file(bin(program), scratch + "/bin/" + program, fs::copy_options::overwrite_existing, ec);
    // ldd's "name => path (address)" lines: the libraries of this build the program loads.
    std::istringstream libraries(run({"/usr/bin/ldd", bin(program)}).out);
    for (std::string line; std::getline(libraries, line);) {
        const size_t from = line.find(" => " VANTREL_BINARY_DIR "/"), to = line.rfind(" (");
        if (from == std::string::npos || to == std::string::npos || to < from) continue;
        const fs::path path = line.substr(from + 4, to - from - 4);
        fs::copy_file(path, scratch + "/lib/" + path.filename().string(), fs::copy_options::overwrite_existing, ec);
    }
    words = {"/usr/bin/env", "LD_LIBRARY_PATH=" + scratch + "/lib", scratch + "/bin/" + program};
    if (starts(words)) return words;
    *why = "uid " + std::to_string(uid) + " cannot start " + program + ", not even a copy in " + scratch + ": " + *why;
    return {};
}

// The processes whose command line names the folder: the device's programs started here.
std::vector<pid_t> processesOf(const std::string& folder, const std::string& alsoNaming = "") {
    std::vector<pid_t> found;
    for (const auto& e : fs::directory_iterator("/proc")) {
        std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string cmdline = readText(e.path().string() + "/cmdline");
        for (char& c : cmdline)
            if (c == '\0') c = ' ';
        if (cmdline.find(folder + " ") != std::string::npos || cmdline.find(folder + "/") != std::string::npos)
            if (alsoNaming.empty() || cmdline.find(alsoNaming) != std::string::npos) found.push_back(std::stoi(name));
    }
    return found;
}

class Folder : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = scratchFolder("vantrel-folder");
        folder_ = base_ + "/device";
        mark_ = base_ + "/planted-ran";
        ::setenv("VANTREL_PLANTED_MARK", mark_.c_str(), 1);
    }
    void TearDown() override {
        for (pid_t pid : processesOf(base_)) ::kill(pid, SIGKILL);
        fs::remove_all(base_);
    }
    Result device(const std::string& folder, std::vector<std::string> words) {
        words.insert(words.begin(), {bin("vantrel-device"), "--device", folder});
        return runShown(words);
    }
    std::string base_, folder_, mark_;
};

struct Hostile {
    const char* name;
    // Prepares the folder (installed, not running) and gives the one to start.
    std::function<std::string(const std::string& base, const std::string& folder)> plant;
    bool refused;
    const char* said;  // in the output when refused, else in the device log
    bool settingsOpens = true;
};

void PrintTo(const Hostile& row, std::ostream* os) { *os << row.name; }

void chownTo(const std::string& path, uid_t uid) { ASSERT_EQ(::lchown(path.c_str(), uid, uid), 0) << path; }

void plantLibrary(const std::string& path) { fs::copy_file(VANTREL_PLANTED_LIBRARY, path, fs::copy_options::overwrite_existing); }

const Hostile kHostile[] = {
    {"ForeignOwner",
     [](auto&, auto& f) {
         chownTo(f, kNobody);
         return f;
     },
     true, "is owned by nobody (uid 65534)"},
    {"GroupWritable",
     [](auto&, auto& f) {
         ::chmod(f.c_str(), 0770);
         return f;
     },
     true, "writable by group or others"},
    {"ForeignLibraryFolder",
     [](auto&, auto& f) {
         chownTo(f + "/Library/MobileSubstrate/DynamicLibraries", kNobody);
         return f;
     },
     true, "DynamicLibraries is owned by nobody"},
    {"WritableParent",
     [](auto& b, auto& f) {
         ::chmod(b.c_str(), 0777);
         return f;
     },
     true, "writable by group or others"},
    {"SymlinkedLog",
     [](auto& b, auto& f) {
         std::ofstream(b + "/root-only") << "secret\n";
         ::chmod((b + "/root-only").c_str(), 0600);
         fs::remove(f + "/var/log/syslog");
         fs::create_symlink(b + "/root-only", f + "/var/log/syslog");
         return f;
     },
     true, "syslog is a symbolic link"},
    {"SocketPathTooLong", [](auto&, auto& f) { return f + "/" + std::string(100, 'd'); }, true, "too long"},
    {"PlantedLibrary",
     [](auto&, auto& f) {
         const std::string libs = f + "/Library/MobileSubstrate/DynamicLibraries";
         plantLibrary(libs + "/evil.dylib");
         fs::copy_file(libs + "/Vantrel.plist", libs + "/evil.plist");
         return f;
     },
     false, "evil.dylib was not injected: "},
    {"PlantedBundle",
     [](auto&, auto& f) {
         plantLibrary(f + "/Library/PreferenceBundles/Vantrel.bundle/Vantrel");
         return f;
     },
     false, "does not match what install recorded", false},
    {"KeyWithNewline",
     [](auto&, auto& f) {
         platform::writeDictionaryFile(f + "/device.plist",
                                       platform::Dictionary{{"x\nlaunchd: forged ssh-ed25519 AAAA", platform::Value(1)}});
         return f;
     },
     false, "key x\\nlaunchd: forged"},
};

class HostileFolder : public Folder, public ::testing::WithParamInterface<Hostile> {};

TEST_P(HostileFolder, IsRefusedOrRunsWithoutWhatWasPlanted) {
    const Hostile& row = GetParam();
    if (::geteuid() != 0 && std::string(row.said).find("nobody") != std::string::npos) GTEST_SKIP() << "needs root to chown";
    ASSERT_EQ(device(folder_, {"install"}).code, 0);
    const std::string folder = row.plant(base_, folder_);
    Result started = device(folder, {"start"});
    if (row.refused) {
        EXPECT_NE(started.code, 0) << started.out;
        EXPECT_NE(started.out.find(row.said), std::string::npos) << started.out;
        EXPECT_TRUE(processesOf(base_).empty()) << "something of the folder runs";
        if (fs::exists(base_ + "/root-only")) {
            EXPECT_EQ(readText(base_ + "/root-only"), "secret\n");
        }
        if (folder != folder_) {
            EXPECT_FALSE(fs::exists(folder)) << "the refused folder was made";
        }
    } else {
        ASSERT_EQ(started.code, 0) << started.out;
        Result settings = runShown({bin("vantrel-settings"), "--device", folder, "show"});
        EXPECT_EQ(settings.code == 0, row.settingsOpens) << settings.out;
        const std::string log = readText(folder + "/var/log/syslog");
        EXPECT_NE(log.find(row.said), std::string::npos) << log;
        EXPECT_EQ(log.find("\nlaunchd: forged"), std::string::npos) << "a device.plist key forged a log line";
        EXPECT_EQ(device(folder, {"stop"}).code, 0);
    }
    EXPECT_FALSE(fs::exists(mark_)) << "the planted library ran";
}

INSTANTIATE_TEST_SUITE_P(, HostileFolder, ::testing::ValuesIn(kHostile),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Folder, ThreeStartsAtOnceMakeOneDeviceThatStopEndsWhole) {
    std::vector<Result> starts(3);
    std::vector<std::thread> threads;
    for (auto& r : starts) threads.emplace_back([&] { r = device(folder_, {"start"}); });
    for (auto& t : threads) t.join();
    for (const auto& r : starts) EXPECT_EQ(r.code, 0) << r.out;
    auto launchds = processesOf(folder_, " launchd");
    ASSERT_EQ(launchds.size(), 1u);
    EXPECT_EQ(processesOf(folder_).size(), 3u) << "launchd, its dbus-daemon and SpringBoard";
    const std::string pid = std::to_string(launchds[0]);
    EXPECT_EQ(count(starts[0].out + starts[1].out + starts[2].out, "(pid " + pid + ")"), 3u);

    std::string cannot;      // why the other user's part could not run: skipped, once the rest is checked
    if (::geteuid() == 0) {  // another user may neither stop it nor be told it is not running
        ::chmod(base_.c_str(), 0755);
        std::vector<std::string> words = runnableAs(kNobody, "vantrel-device", base_ + "/programs", &cannot);
        if (!words.empty()) {
            words.insert(words.end(), {"--device", folder_, "stop"});
            Result other = runShown(words);
            EXPECT_NE(other.code, 0) << other.out;
            EXPECT_NE(other.out.find("not by you"), std::string::npos) << other.out;
            EXPECT_EQ(processesOf(folder_).size(), 3u);
        }
    }
    Result stopped = device(folder_, {"stop"});
    EXPECT_EQ(stopped.code, 0);
    EXPECT_NE(stopped.out.find("stopped (pid " + pid + ")"), std::string::npos) << stopped.out;
    EXPECT_TRUE(processesOf(folder_).empty()) << "stop left children behind";
    Result again = device(folder_, {"stop"});
    EXPECT_EQ(again.code, 0);
    EXPECT_NE(again.out.find("not running: " + folder_), std::string::npos) << again.out;
    if (!cannot.empty()) GTEST_SKIP() << cannot;
}

TEST_F(Folder, InstallUnderARunningSpringBoardLeavesItRunning) {
    ASSERT_EQ(device(folder_, {"start"}).code, 0);
    auto springBoard = [&] { return jsonAt(parseJson(device(folder_, {"status", "--json"}).out), "/springboardPid"); };
    const auto before = springBoard();
    ASSERT_TRUE(before.is_number());
    Result installed = device(folder_, {"install"});
    EXPECT_EQ(installed.code, 0);
    EXPECT_NE(installed.out.find("respring"), std::string::npos) << installed.out;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(device(folder_, {"tap"}).code, 0);
    EXPECT_EQ(springBoard(), before) << readText(folder_ + "/var/log/syslog");
    EXPECT_EQ(device(folder_, {"stop"}).code, 0);
}

// --fresh empties only what it proves is a device folder of the caller's, entry by entry: never a
// folder reached through someone else's link, never a folder that is no device, and a link
// inside the device goes as a link, whatever it points at.
TEST_F(Folder, FreshEmptiesOnlyADeviceOfYoursAndNothingBeyondIt) {
    const std::string outside = base_ + "/outside";
    fs::create_directories(outside);
    std::ofstream(outside + "/keep") << "keep\n";
    struct Case {
        std::string folder;
        bool emptied;
        std::string said;
    };
    std::vector<Case> cases;
    if (::geteuid() == 0) {
        const std::string shared = base_ + "/shared";
        fs::create_directories(shared);
        ::chmod(shared.c_str(), 01777);
        fs::create_symlink(outside, shared + "/devx");
        chownTo(shared + "/devx", kNobody);
        cases.push_back({shared + "/devx", false, "devx is a symbolic link owned by nobody"});
    }
    const std::string notADevice = base_ + "/documents";
    fs::create_directories(notADevice);
    std::ofstream(notADevice + "/notes") << "notes\n";
    cases.push_back({notADevice, false, "holds no device.plist: nothing was removed"});
    ASSERT_EQ(device(folder_, {"install"}).code, 0);
    std::ofstream(folder_ + "/extra") << "x\n";
    fs::create_symlink(outside, folder_ + "/var/mobile/Library/out");
    cases.push_back({folder_, true, "installed " + folder_});

    for (const auto& c : cases) {
        Result fresh = device(c.folder, {"install", "--fresh"});
        EXPECT_EQ(fresh.code == 0, c.emptied) << c.folder << ": " << fresh.out;
        EXPECT_NE(fresh.out.find(c.said), std::string::npos) << fresh.out;
        EXPECT_EQ(readText(outside + "/keep"), "keep\n") << c.folder;
        EXPECT_FALSE(fs::exists(outside + "/run")) << "the refused folder was written: " << c.folder;
    }
    EXPECT_EQ(readText(notADevice + "/notes"), "notes\n");
    EXPECT_FALSE(fs::exists(notADevice + "/run")) << "the refused folder was written";
    EXPECT_FALSE(fs::exists(folder_ + "/extra"));
    EXPECT_FALSE(fs::is_symlink(folder_ + "/var/mobile/Library/out"));
    EXPECT_TRUE(fs::exists(folder_ + "/device.plist"));
}

// A program of the build on a terminal of its own (non-blocking on our side): its pid.
pid_t onTerminal(const std::string& program, const std::vector<std::string>& args, int& terminal) {
    pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    if (pid > 0) ::fcntl(terminal, F_SETFL, O_NONBLOCK);
    return pid;
}

// Reads the terminal into screen until text shows (10 s at most).
bool readUntil(int terminal, std::string& screen, const std::string& text) {
    for (int i = 0; i < 200 && screen.find(text) == std::string::npos; ++i) {
        char buf[4096];
        for (ssize_t n; (n = ::read(terminal, buf, sizeof buf)) > 0;) screen.append(buf, static_cast<size_t>(n));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return screen.find(text) != std::string::npos;
}

// The terminal SpringBoard on a terminal nobody reads any more: drawing never blocks the device,
// so every change and tap is still answered (each frame here is larger than a pty holds a few of).
TEST_F(Folder, ATerminalThatStopsReadingNeverStallsTheDevice) {
    int terminal = -1;
    pid_t pid = onTerminal(bin("vantrel-device"), {"--device", folder_, "springboard", "--fresh"}, terminal);
    ASSERT_GE(pid, 0);
    bool up = false;
    for (int i = 0; i < 200 && !up; ++i) {  // read until SpringBoard answers, then never again
        char buf[4096];
        while (::read(terminal, buf, sizeof buf) > 0) {}
        up = device(folder_, {"ping"}).code == 0;
        if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(up);
    int answered = 0;
    for (int i = 0; i < 10; ++i) {
        answered += device(folder_, {"set", "carrier=" + std::string(4000, 'x') + std::to_string(i)}).code == 0;
        answered += device(folder_, {"tap"}).code == 0;
    }
    EXPECT_EQ(answered, 20);
    EXPECT_EQ(device(folder_, {"stop"}).code, 0);
    ::close(terminal);
    ::waitpid(pid, nullptr, 0);
}

// Keys of the terminal SpringBoard: one it does not know is said, with the keys; Ctrl-C ends the
// device (launchd and its bus too, the bus by its SIGTERM).
TEST_F(Folder, TheTerminalSaysAnUnknownKeyAndCtrlCEndsTheDevice) {
    int terminal = -1;
    pid_t pid = onTerminal(bin("vantrel-device"), {"--device", folder_, "springboard", "--fresh"}, terminal);
    ASSERT_GE(pid, 0);
    std::string screen;
    ASSERT_TRUE(readUntil(terminal, screen, "keys: t tap")) << screen.substr(0, 2000);
    ASSERT_EQ(::write(terminal, "x", 1), 1);
    EXPECT_TRUE(readUntil(terminal, screen, "x is no key here"))
        << screen.substr(screen.size() > 2000 ? screen.size() - 2000 : 0);
    ASSERT_EQ(::write(terminal, "7", 1), 1);
    EXPECT_TRUE(readUntil(terminal, screen, "no alert to answer"));
    ASSERT_EQ(::write(terminal, "\x03", 1), 1);
    int status = -1;
    pid_t ended = 0;
    for (int i = 0; i < 200 && (ended = ::waitpid(pid, &status, WNOHANG)) == 0; ++i) {
        char buf[4096];
        while (::read(terminal, buf, sizeof buf) > 0) {}
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (ended == 0) (void)device(folder_, {"stop"});  // the reaper
    EXPECT_EQ(ended, pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(device(folder_, {"ping"}).code, 0) << "the device runs on after Ctrl-C";
    ::close(terminal);
    if (ended == 0) ::waitpid(pid, nullptr, 0);
}

// Tab at the Settings app's prompt completes commands and keys from the same tables as the
// command line's --complete.
TEST_F(Folder, TabCompletesAtTheSettingsPrompt) {
    ASSERT_EQ(device(folder_, {"start", "--fresh"}).code, 0);
    int terminal = -1;
    pid_t pid = onTerminal(bin("vantrel-settings"), {"--device", folder_}, terminal);
    ASSERT_GE(pid, 0);
    std::string screen;
    ASSERT_TRUE(readUntil(terminal, screen, "settings> "));
    ASSERT_EQ(::write(terminal, "main se\t", 8), 8);
    EXPECT_TRUE(readUntil(terminal, screen, "main set ")) << screen;
    ASSERT_EQ(::write(terminal, "hidet\t", 6), 6);
    EXPECT_TRUE(readUntil(terminal, screen, "hidetethering")) << screen;
    ASSERT_EQ(::write(terminal, "\x15quit\n", 6), 6);
    for (int i = 0; i < 200 && ::waitpid(pid, nullptr, WNOHANG) == 0; ++i) {
        char buf[4096];
        while (::read(terminal, buf, sizeof buf) > 0) {}
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (::waitpid(pid, nullptr, WNOHANG) == 0) {  // the reaper: ours, by its pid
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    ::close(terminal);
    EXPECT_EQ(device(folder_, {"stop"}).code, 0);
}

}  // namespace
